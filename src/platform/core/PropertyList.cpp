#include "platform/core/PropertyList.h"

namespace vornakel::PropertyList {

Result<QByteArray> toBinary(const QVariant&) { return Error(errorDomain(), UnsupportedValue); }
Result<QVariant> fromData(const QByteArray&) { return Error(errorDomain(), CorruptData); }
Result<QVariant> readFile(const QString&) { return Error(errorDomain(), CorruptData); }
std::optional<Error> writeBinaryFile(const QVariant&, const QString&) { return Error(errorDomain(), WriteFailed); }

} // namespace vornakel::PropertyList
