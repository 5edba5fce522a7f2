#pragma once

#include "platform/core/PropertyList.h"

#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

namespace vornakel {

// One archived object of a class of ours: its class chain (most derived first, e.g.
// {"Vornakel_Transfer.UserDefinedPhotoSorting", "NSObject"}) and its keyed fields.
// Field values: qint64/int/bool/double are stored inline (as encodeInteger:/encodeBool:/encodeDouble: do);
// QString, QByteArray, QVariantList (NSArray), QVariantMap (NSDictionary) and ArchivedObjectPtr are stored as
// objects in "$objects" and referenced by UID. An absent key is simply not in `fields`.
struct ArchivedObject {
    QStringList classes;
    QVariantMap fields;

    QString className() const { return classes.value(0); }
};
using ArchivedObjectPtr = std::shared_ptr<ArchivedObject>;

// The standard keyed-archive structure ("$archiver" "NSKeyedArchiver", "$version" 100000, "$top" {"root": UID},
// "$objects" with "$null" first, "$class" references to {"$classname", "$classes"}), as a binary plist.
namespace KeyedArchive {

inline QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".keyed-archive"); }
enum ErrorCode { NotAnArchive = 1, CorruptArchive = 2, UnsupportedValue = 3, UnknownClass = 4 };

// Answers whether objects of the class (the most derived name of its chain) may be decoded.
using ClassFilter = std::function<bool(const QString& className)>;

// Archives a root value (usually a QVariantList of ArchivedObjectPtr, or one ArchivedObjectPtr). A list, dictionary
// or object that appears in several places is written once and referenced from each.
[[nodiscard]] Result<QByteArray> archive(const QVariant& root);
// Decodes an archive back into the same value tree: NSString → QString, NSNumber → qint64/double/bool,
// NSData → QByteArray, NSArray/NSMutableArray → QVariantList, NSDictionary/NSMutableDictionary → QVariantMap,
// "$null" → invalid QVariant, any other class → ArchivedObjectPtr. Shared references decode to the same
// object; cycles, dangling UIDs and malformed structures are errors, never crashes. Each archived object is decoded
// once however often it is referenced, so the work grows with the archive's size, not with its expansion. An object
// whose class the filter refuses is an UnknownClass error naming the class in userInfo["className"].
[[nodiscard]] Result<QVariant> unarchive(const QByteArray& data, const ClassFilter& allowedClass = {});

} // namespace KeyedArchive
} // namespace vornakel

Q_DECLARE_METATYPE(vornakel::ArchivedObjectPtr)
