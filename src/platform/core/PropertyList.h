#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QVariant>

#include <optional>

namespace vornakel {

// A keyed archive's object reference (a CF$UID in the property list).
struct PlistUid {
    quint64 value = 0;
    bool operator==(const PlistUid& other) const { return value == other.value; }
};

// Property lists as QVariant trees: QString, qint64 (or any integer type), double, bool, QDateTime, QByteArray,
// QVariantList, QVariantMap (string keys) and PlistUid. Binary form through libplist; dates count seconds from
// 2001-01-01 00:00:00 UTC as the format does.
namespace PropertyList {

inline QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".property-list"); }
enum ErrorCode { CorruptData = 1, UnsupportedValue = 2, WriteFailed = 3 };

// Binary ("bplist00") encoding; a value outside the types above is an UnsupportedValue error.
[[nodiscard]] Result<QByteArray> toBinary(const QVariant& value);
// Reads binary or XML property lists; anything else, or a damaged file, is a CorruptData error.
[[nodiscard]] Result<QVariant> fromData(const QByteArray& data);

// Reads and writes files; writing goes through a temporary file in the same folder renamed into place.
[[nodiscard]] Result<QVariant> readFile(const QString& path);
[[nodiscard]] std::optional<Error> writeBinaryFile(const QVariant& value, const QString& path);

} // namespace PropertyList
} // namespace vornakel

Q_DECLARE_METATYPE(vornakel::PlistUid)
