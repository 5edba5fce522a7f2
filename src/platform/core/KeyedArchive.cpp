#include "platform/core/KeyedArchive.h"

namespace vornakel::KeyedArchive {

PropertyList::Result<QByteArray> archive(const QVariant&) { return Error(errorDomain(), UnsupportedValue); }
PropertyList::Result<QVariant> unarchive(const QByteArray&) { return Error(errorDomain(), NotAnArchive); }

} // namespace vornakel::KeyedArchive
