#include "platform/core/KeyedArchive.h"

#include "platform/core/VariantNumbers.h"

#include <QHash>
#include <QMap>
#include <QSet>

namespace vornakel::KeyedArchive {
namespace {

const QString kArchiverKey = QStringLiteral("$archiver");
const QString kArchiverName = QStringLiteral("NSKeyedArchiver");
const QString kVersionKey = QStringLiteral("$version");
constexpr qint64 kVersion = 100000;
const QString kTopKey = QStringLiteral("$top");
const QString kRootKey = QStringLiteral("root");
const QString kObjectsKey = QStringLiteral("$objects");
const QString kNull = QStringLiteral("$null");
const QString kClassKey = QStringLiteral("$class");
const QString kClassNameKey = QStringLiteral("$classname");
const QString kClassesKey = QStringLiteral("$classes");
const QString kObjectsField = QStringLiteral("NS.objects");
const QString kKeysField = QStringLiteral("NS.keys");
const QString kStringField = QStringLiteral("NS.string");
const QString kDataField = QStringLiteral("NS.data");

// Object graphs nested deeper than this are refused; presets nest four levels.
constexpr int kMaxDepth = 100;

Error corrupt(const QString& why) { return Error(errorDomain(), CorruptArchive, why); }
Error unsupported(const QString& why) { return Error(errorDomain(), UnsupportedValue, why); }

// Numbers, booleans included, are stored inline rather than as objects of their own.
bool isInlineNumber(const QVariant& value) { return isNumericType(value, {.booleans = true}); }

class Archiver {
public:
    Archiver() { m_objects.append(kNull); }

    std::optional<Error> encode(const QVariant& value, int depth, PlistUid* uid)
    {
        if (depth > kMaxDepth)
            return unsupported(QStringLiteral("The object graph is nested too deeply."));
        if (!value.isValid()) {
            *uid = PlistUid{0};
            return std::nullopt;
        }
        if (value.metaType() == QMetaType::fromType<ArchivedObjectPtr>())
            return encodeObject(value.value<ArchivedObjectPtr>(), depth, uid);
        if (value.typeId() == QMetaType::QString && value.toString() == kNull) {
            // Stored plainly, this text would read back as nil; as a string object it keeps its value.
            *uid = append(QVariant());
            QVariantMap text{{kStringField, kNull}};
            text.insert(kClassKey, QVariant::fromValue(classUid({QStringLiteral("NSString"), QStringLiteral("NSObject")})));
            m_objects[qsizetype(uid->value)] = text;
            return std::nullopt;
        }
        if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray || isInlineNumber(value)) {
            *uid = append(value);
            return std::nullopt;
        }
        if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList) {
            const QVariantList list = value.toList();
            const void* identity = list.isEmpty() ? nullptr : static_cast<const void*>(list.constData());
            if (auto done = m_sharedValues.constFind(identity); identity && done != m_sharedValues.cend()) {
                *uid = *done;
                return std::nullopt;
            }
            *uid = append(QVariant());
            remember(identity, value, *uid);
            QVariantList references;
            for (const QVariant& element : list) {
                PlistUid reference;
                if (auto error = encode(element, depth + 1, &reference))
                    return error;
                references.append(QVariant::fromValue(reference));
            }
            QVariantMap array{{kObjectsField, references}};
            array.insert(kClassKey, QVariant::fromValue(classUid({QStringLiteral("NSArray"), QStringLiteral("NSObject")})));
            m_objects[qsizetype(uid->value)] = array;
            return std::nullopt;
        }
        if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantHash) {
            const QVariantMap map = value.toMap();
            const void* identity = map.isEmpty() ? nullptr : static_cast<const void*>(&*map.cbegin());
            if (auto done = m_sharedValues.constFind(identity); identity && done != m_sharedValues.cend()) {
                *uid = *done;
                return std::nullopt;
            }
            *uid = append(QVariant());
            remember(identity, value, *uid);
            QVariantList keys;
            QVariantList objects;
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                PlistUid key;
                PlistUid object;
                if (auto error = encode(it.key(), depth + 1, &key))
                    return error;
                if (auto error = encode(it.value(), depth + 1, &object))
                    return error;
                keys.append(QVariant::fromValue(key));
                objects.append(QVariant::fromValue(object));
            }
            QVariantMap dictionary{{kKeysField, keys}, {kObjectsField, objects}};
            dictionary.insert(kClassKey,
                              QVariant::fromValue(classUid({QStringLiteral("NSDictionary"), QStringLiteral("NSObject")})));
            m_objects[qsizetype(uid->value)] = dictionary;
            return std::nullopt;
        }
        return unsupported(QStringLiteral("Values of type %1 cannot be archived.")
                               .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "invalid")));
    }

    QVariantMap archive(PlistUid root) const
    {
        return {
            {kArchiverKey, kArchiverName},
            {kVersionKey, kVersion},
            {kTopKey, QVariantMap{{kRootKey, QVariant::fromValue(root)}}},
            {kObjectsKey, m_objects},
        };
    }

private:
    // Lists and dictionaries are implicitly shared: copies of one value point at the same elements. Writing such a
    // value once keeps a graph with shared parts from being expanded into a tree, which can grow exponentially.
    // The value is kept alive so its address cannot be reused by another value while archiving.
    void remember(const void* identity, const QVariant& value, PlistUid uid)
    {
        if (!identity)
            return;
        m_sharedValues.insert(identity, uid);
        m_keptAlive.append(value);
    }

    PlistUid append(const QVariant& value)
    {
        m_objects.append(value);
        return PlistUid{quint64(m_objects.size() - 1)};
    }

    PlistUid classUid(const QStringList& classes)
    {
        auto found = m_classes.constFind(classes);
        if (found != m_classes.cend())
            return *found;
        const PlistUid uid = append(QVariantMap{{kClassNameKey, classes.first()}, {kClassesKey, classes}});
        m_classes.insert(classes, uid);
        return uid;
    }

    std::optional<Error> encodeObject(const ArchivedObjectPtr& object, int depth, PlistUid* uid)
    {
        if (!object) {
            *uid = PlistUid{0};
            return std::nullopt;
        }
        if (auto done = m_encoded.constFind(object.get()); done != m_encoded.cend()) {
            *uid = *done;
            return std::nullopt;
        }
        // An object inside itself could be written but never read back, so it is refused here.
        if (m_inProgress.contains(object.get()))
            return unsupported(QStringLiteral("An object that contains itself cannot be archived."));
        if (object->classes.isEmpty() || object->className().isEmpty())
            return unsupported(QStringLiteral("An archived object needs a class name."));
        m_inProgress.insert(object.get());
        *uid = append(QVariant());
        QVariantMap encoded;
        for (auto it = object->fields.cbegin(); it != object->fields.cend(); ++it) {
            if (it.key().startsWith(QLatin1Char('$')))
                return unsupported(QStringLiteral("Field names must not start with \"$\"."));
            if (isInlineNumber(it.value())) {
                encoded.insert(it.key(), it.value());
                continue;
            }
            PlistUid reference;
            if (auto error = encode(it.value(), depth + 1, &reference))
                return error;
            encoded.insert(it.key(), QVariant::fromValue(reference));
        }
        encoded.insert(kClassKey, QVariant::fromValue(classUid(object->classes)));
        m_objects[qsizetype(uid->value)] = encoded;
        m_inProgress.remove(object.get());
        m_encoded.insert(object.get(), *uid);
        return std::nullopt;
    }

    QVariantList m_objects;
    QMap<QStringList, PlistUid> m_classes;
    QHash<const ArchivedObject*, PlistUid> m_encoded;
    QSet<const ArchivedObject*> m_inProgress;
    QHash<const void*, PlistUid> m_sharedValues;
    QVariantList m_keptAlive;
};

class Unarchiver {
public:
    Unarchiver(QVariantList objects, const ClassFilter& allowedClass)
        : m_objects(std::move(objects)), m_allowedClass(allowedClass) {}

    Result<QVariant> decode(const QVariant& reference, int depth)
    {
        if (reference.metaType() != QMetaType::fromType<PlistUid>())
            return corrupt(QStringLiteral("Expected an object reference."));
        const quint64 uid = reference.value<PlistUid>().value;
        if (uid >= quint64(m_objects.size()))
            return corrupt(QStringLiteral("An object reference points past the archive's objects."));
        if (depth > kMaxDepth)
            return corrupt(QStringLiteral("The archive is nested too deeply."));
        if (auto done = m_decoded.constFind(uid); done != m_decoded.cend())
            return *done;
        if (m_inProgress.contains(uid))
            return corrupt(QStringLiteral("An archived object contains itself."));
        m_inProgress.insert(uid);
        auto result = decodeObject(m_objects.at(qsizetype(uid)), depth);
        m_inProgress.remove(uid);
        if (result)
            m_decoded.insert(uid, *result);
        return result;
    }

private:
    Result<QVariant> decodeObject(const QVariant& stored, int depth)
    {
        switch (stored.typeId()) {
        case QMetaType::QString:
            return stored.toString() == kNull ? QVariant() : stored;
        case QMetaType::QByteArray:
        case QMetaType::Bool:
        case QMetaType::LongLong:
        case QMetaType::Double:
            return stored;
        case QMetaType::QVariantMap:
            break;
        default:
            return corrupt(QStringLiteral("The archive holds an object of an unexpected kind."));
        }
        const QVariantMap object = stored.toMap();
        auto classes = classChain(object.value(kClassKey));
        if (!classes)
            return classes.error();
        const QStringList& chain = *classes;
        const QString& name = chain.first();
        if (m_allowedClass && !m_allowedClass(name))
            return Error(errorDomain(), UnknownClass, QStringLiteral("The archive holds an unknown class: %1").arg(name),
                         {{QStringLiteral("className"), name}});
        if (name == QLatin1String("NSArray") || name == QLatin1String("NSMutableArray"))
            return decodeList(object.value(kObjectsField), depth);
        if (name == QLatin1String("NSDictionary") || name == QLatin1String("NSMutableDictionary"))
            return decodeDictionary(object, depth);
        if (name == QLatin1String("NSString") || name == QLatin1String("NSMutableString")) {
            const QVariant text = object.value(kStringField);
            if (text.typeId() != QMetaType::QString)
                return corrupt(QStringLiteral("A string object has no text."));
            return text;
        }
        if (name == QLatin1String("NSData") || name == QLatin1String("NSMutableData")) {
            const QVariant bytes = object.value(kDataField);
            if (bytes.typeId() != QMetaType::QByteArray)
                return corrupt(QStringLiteral("A data object has no bytes."));
            return bytes;
        }

        auto decoded = std::make_shared<ArchivedObject>();
        decoded->classes = chain;
        for (auto it = object.cbegin(); it != object.cend(); ++it) {
            if (it.key() == kClassKey)
                continue;
            const QVariant& field = it.value();
            if (field.metaType() == QMetaType::fromType<PlistUid>()) {
                auto value = decode(field, depth + 1);
                if (!value)
                    return value.error();
                decoded->fields.insert(it.key(), std::move(value).value());
            } else if (isInlineNumber(field) || field.typeId() == QMetaType::QByteArray) {
                // Numbers and raw bytes (encodeBytes:length:) are stored in place.
                decoded->fields.insert(it.key(), field);
            } else {
                return corrupt(QStringLiteral("The field \"%1\" holds an unexpected kind of value.").arg(it.key()));
            }
        }
        return QVariant::fromValue(decoded);
    }

    Result<QStringList> classChain(const QVariant& reference)
    {
        if (reference.metaType() != QMetaType::fromType<PlistUid>())
            return corrupt(QStringLiteral("An archived object names no class."));
        const quint64 uid = reference.value<PlistUid>().value;
        if (uid >= quint64(m_objects.size()))
            return corrupt(QStringLiteral("A class reference points past the archive's objects."));
        const QVariantMap description = m_objects.at(qsizetype(uid)).toMap();
        const QVariant name = description.value(kClassNameKey);
        if (m_objects.at(qsizetype(uid)).typeId() != QMetaType::QVariantMap || name.typeId() != QMetaType::QString
            || name.toString().isEmpty())
            return corrupt(QStringLiteral("A class description is malformed."));
        QStringList chain{name.toString()};
        const QVariant classes = description.value(kClassesKey);
        if (classes.typeId() == QMetaType::QVariantList) {
            chain.clear();
            for (const QVariant& element : classes.toList()) {
                if (element.typeId() != QMetaType::QString)
                    return corrupt(QStringLiteral("A class description is malformed."));
                chain.append(element.toString());
            }
            if (chain.value(0) != name.toString())
                chain.prepend(name.toString());
        }
        return chain;
    }

    Result<QVariant> decodeList(const QVariant& references, int depth)
    {
        if (references.typeId() != QMetaType::QVariantList)
            return corrupt(QStringLiteral("An array object has no elements."));
        QVariantList list;
        for (const QVariant& reference : references.toList()) {
            auto element = decode(reference, depth + 1);
            if (!element)
                return element.error();
            list.append(std::move(element).value());
        }
        return QVariant(list);
    }

    Result<QVariant> decodeDictionary(const QVariantMap& object, int depth)
    {
        const QVariant keys = object.value(kKeysField);
        const QVariant values = object.value(kObjectsField);
        if (keys.typeId() != QMetaType::QVariantList || values.typeId() != QMetaType::QVariantList
            || keys.toList().size() != values.toList().size())
            return corrupt(QStringLiteral("A dictionary object is malformed."));
        const QVariantList keyList = keys.toList();
        const QVariantList valueList = values.toList();
        QVariantMap map;
        for (qsizetype i = 0; i < keyList.size(); ++i) {
            auto key = decode(keyList.at(i), depth + 1);
            if (!key)
                return key.error();
            if (key->typeId() != QMetaType::QString)
                return corrupt(QStringLiteral("A dictionary key is not a string."));
            auto value = decode(valueList.at(i), depth + 1);
            if (!value)
                return value.error();
            map.insert(key->toString(), std::move(value).value());
        }
        return QVariant(map);
    }

    QVariantList m_objects;
    const ClassFilter& m_allowedClass;
    QHash<quint64, QVariant> m_decoded;
    QSet<quint64> m_inProgress;
};

} // namespace

Result<QByteArray> archive(const QVariant& root)
{
    Archiver archiver;
    PlistUid rootUid;
    if (auto error = archiver.encode(root, 0, &rootUid))
        return *error;
    auto encoded = PropertyList::toBinary(archiver.archive(rootUid));
    if (!encoded)
        return unsupported(encoded.error().message);
    return encoded;
}

Result<QVariant> unarchive(const QByteArray& data, const ClassFilter& allowedClass)
{
    auto parsed = PropertyList::fromData(data);
    if (!parsed)
        return Error(errorDomain(), NotAnArchive, parsed.error().message);
    const QVariant& plist = *parsed;
    const QVariantMap archive = plist.toMap();
    if (plist.typeId() != QMetaType::QVariantMap || archive.value(kArchiverKey).toString() != kArchiverName)
        return Error(errorDomain(), NotAnArchive, QStringLiteral("The data is not a keyed archive."));
    const QVariant objects = archive.value(kObjectsKey);
    if (objects.typeId() != QMetaType::QVariantList || objects.toList().isEmpty())
        return corrupt(QStringLiteral("The archive has no objects."));
    const QVariant top = archive.value(kTopKey);
    if (top.typeId() != QMetaType::QVariantMap || !top.toMap().contains(kRootKey))
        return corrupt(QStringLiteral("The archive has no root object."));
    Unarchiver unarchiver(objects.toList(), allowedClass);
    return unarchiver.decode(top.toMap().value(kRootKey), 0);
}

} // namespace vornakel::KeyedArchive
