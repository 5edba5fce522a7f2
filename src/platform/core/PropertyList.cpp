#include "platform/core/PropertyList.h"

#include "platform/core/ConfinedFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace vornakel::PropertyList {
namespace {

// Nesting deeper than this is refused in both directions; no property list of ours comes close.
constexpr int kMaxDepth = 128;
// A binary property list may reference one object from many places, which libplist expands into copies;
// this caps the expanded size so a small hostile file cannot exhaust memory.
constexpr quint64 kMaxExpandedObjects = 1u << 18;
// Files larger than this are not property lists we write or expect.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
// Milliseconds between 1970-01-01 and 2001-01-01, the format's reference date.
constexpr qint64 kReferenceDateMSecs = 978307200000LL;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

Error corrupt(const QString& why) { return Error(errorDomain(), CorruptData, why); }
Error unsupported(const QString& why) { return Error(errorDomain(), UnsupportedValue, why); }

quint64 readBigEndian(const uchar* bytes, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Walks a binary property list the way libplist will, refusing anything it might mishandle: offsets or sizes
// outside the file, references to missing objects, cycles, excessive nesting or expansion, non-string keys.
class BinaryValidator {
public:
    explicit BinaryValidator(const QByteArray& data)
        : m_bytes(reinterpret_cast<const uchar*>(data.constData())), m_size(static_cast<quint64>(data.size())) {}

    std::optional<Error> validate()
    {
        constexpr quint64 kHeaderSize = 8;
        constexpr quint64 kTrailerSize = 32;
        if (m_size < kHeaderSize + kTrailerSize + 1)
            return corrupt(QStringLiteral("The binary property list is truncated."));
        if (std::memcmp(m_bytes, "bplist00", kHeaderSize) != 0)
            return corrupt(QStringLiteral("Unknown binary property list version."));
        const uchar* trailer = m_bytes + m_size - kTrailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_objectCount = readBigEndian(trailer + 8, 8);
        const quint64 top = readBigEndian(trailer + 16, 8);
        m_tableOffset = readBigEndian(trailer + 24, 8);
        const auto validWidth = [](quint8 width) { return width == 1 || width == 2 || width == 4 || width == 8; };
        if (!validWidth(m_offsetSize) || !validWidth(m_refSize))
            return corrupt(QStringLiteral("The binary property list's trailer is damaged."));
        const quint64 tableEnd = m_size - kTrailerSize;
        if (m_tableOffset < kHeaderSize + 1 || m_tableOffset >= tableEnd || m_objectCount == 0
            || m_objectCount > (tableEnd - m_tableOffset) / m_offsetSize || top >= m_objectCount)
            return corrupt(QStringLiteral("The binary property list's offset table is damaged."));
        if (m_refSize < 8 && m_objectCount > (quint64(1) << (8 * m_refSize)))
            return corrupt(QStringLiteral("The binary property list's object references are too narrow."));
        for (quint64 i = 0; i < m_objectCount; ++i) {
            const quint64 offset = objectOffset(i);
            if (offset < kHeaderSize || offset >= m_tableOffset)
                return corrupt(QStringLiteral("The binary property list's offset table points outside its objects."));
        }
        m_onPath.assign(m_objectCount, false);
        if (!visit(top, 0))
            return corrupt(m_problem);
        return std::nullopt;
    }

private:
    quint64 objectOffset(quint64 index) const
    {
        return readBigEndian(m_bytes + m_tableOffset + index * m_offsetSize, m_offsetSize);
    }

    bool fail(const QString& problem)
    {
        m_problem = problem;
        return false;
    }

    // Reads an object's element count: the marker's low nibble, or an integer object that follows it.
    bool readCount(quint64 offset, quint64* count, quint64* headerSize)
    {
        const quint8 info = m_bytes[offset] & 0x0F;
        if (info != 0x0F) {
            *count = info;
            *headerSize = 1;
            return true;
        }
        if (offset + 2 > m_tableOffset)
            return fail(QStringLiteral("An object's length is truncated."));
        const quint8 intMarker = m_bytes[offset + 1];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3)
            return fail(QStringLiteral("An object's length is malformed."));
        const quint64 width = quint64(1) << (intMarker & 0x0F);
        if (offset + 2 + width > m_tableOffset)
            return fail(QStringLiteral("An object's length is truncated."));
        *count = readBigEndian(m_bytes + offset + 2, static_cast<int>(width));
        *headerSize = 2 + width;
        return true;
    }

    bool fits(quint64 offset, quint64 headerSize, quint64 payload) const
    {
        const quint64 available = m_tableOffset - offset;
        return headerSize <= available && payload <= available - headerSize;
    }

    // Dictionary keys must be strings; libplist aborts on a key with a NUL character in it.
    bool isUsableKey(quint64 ref)
    {
        const quint64 offset = objectOffset(ref);
        const quint8 type = m_bytes[offset] & 0xF0;
        if (type != 0x50 && type != 0x60)
            return false;
        quint64 count = 0;
        quint64 headerSize = 1;
        const quint64 unit = type == 0x60 ? 2 : 1;
        if (!readCount(offset, &count, &headerSize) || count > (m_tableOffset - offset) / unit
            || !fits(offset, headerSize, count * unit))
            return false;
        const uchar* text = m_bytes + offset + headerSize;
        for (quint64 i = 0; i < count; ++i) {
            if (unit == 1 ? text[i] == 0 : (text[2 * i] == 0 && text[2 * i + 1] == 0))
                return false;
        }
        return true;
    }

    bool visit(quint64 ref, int depth)
    {
        if (ref >= m_objectCount)
            return fail(QStringLiteral("An object reference points past the object table."));
        if (depth > kMaxDepth)
            return fail(QStringLiteral("The property list is nested too deeply."));
        if (++m_expanded > kMaxExpandedObjects)
            return fail(QStringLiteral("The property list expands to too many objects."));
        if (m_onPath[ref])
            return fail(QStringLiteral("The property list contains itself."));

        const quint64 offset = objectOffset(ref);
        const quint8 marker = m_bytes[offset];
        const quint8 info = marker & 0x0F;
        quint64 count = 0;
        quint64 headerSize = 1;
        switch (marker & 0xF0) {
        case 0x00:
            if (marker != 0x08 && marker != 0x09)
                return fail(QStringLiteral("Unsupported object marker."));
            return true;
        case 0x10: {
            if (info > 4 || !fits(offset, 1, quint64(1) << info))
                return fail(QStringLiteral("An integer is malformed or truncated."));
            // 16-byte integers are only acceptable while they fit the signed 64-bit values we hand out.
            if (info == 4 && (readBigEndian(m_bytes + offset + 1, 8) != 0 || (m_bytes[offset + 9] & 0x80)))
                return fail(QStringLiteral("An integer is too large."));
            return true;
        }
        case 0x20:
            if ((info != 2 && info != 3) || !fits(offset, 1, quint64(1) << info))
                return fail(QStringLiteral("A real number is malformed or truncated."));
            return true;
        case 0x30: {
            if (info != 3 || !fits(offset, 1, 8))
                return fail(QStringLiteral("A date is malformed or truncated."));
            const quint64 bits = readBigEndian(m_bytes + offset + 1, 8);
            double seconds = 0;
            std::memcpy(&seconds, &bits, sizeof seconds);
            // libplist hands dates out as 32-bit seconds; anything beyond would come back as garbage.
            if (!std::isfinite(seconds) || std::fabs(seconds) >= 2147483647.0)
                return fail(QStringLiteral("A date is out of range."));
            return true;
        }
        case 0x40:
        case 0x50:
            if (!readCount(offset, &count, &headerSize) || !fits(offset, headerSize, count))
                return fail(QStringLiteral("A string or data object is truncated."));
            return true;
        case 0x60:
            if (!readCount(offset, &count, &headerSize) || count > std::numeric_limits<quint64>::max() / 2
                || !fits(offset, headerSize, count * 2))
                return fail(QStringLiteral("A string object is truncated."));
            return true;
        case 0x80: {
            const quint64 width = quint64(info) + 1;
            if ((width != 1 && width != 2 && width != 4 && width != 8) || !fits(offset, 1, width))
                return fail(QStringLiteral("A reference is malformed or truncated."));
            return true;
        }
        case 0xA0:
        case 0xD0: {
            const bool isDictionary = (marker & 0xF0) == 0xD0;
            if (!readCount(offset, &count, &headerSize))
                return false;
            const quint64 refs = isDictionary ? 2 : 1;
            if (count > (m_tableOffset - offset) / (refs * m_refSize) || !fits(offset, headerSize, count * refs * m_refSize))
                return fail(QStringLiteral("A collection is truncated."));
            const uchar* refBytes = m_bytes + offset + headerSize;
            m_onPath[ref] = true;
            for (quint64 i = 0; i < count * refs; ++i) {
                const quint64 child = readBigEndian(refBytes + i * m_refSize, m_refSize);
                if (isDictionary && i < count && child < m_objectCount && !isUsableKey(child))
                    return fail(QStringLiteral("A dictionary key is not a string or holds a NUL character."));
                if (!visit(child, depth + 1))
                    return false;
            }
            m_onPath[ref] = false;
            return true;
        }
        default:
            return fail(QStringLiteral("Unsupported object marker."));
        }
    }

    const uchar* m_bytes;
    quint64 m_size;
    quint8 m_offsetSize = 0;
    quint8 m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_tableOffset = 0;
    quint64 m_expanded = 0;
    std::vector<bool> m_onPath;
    QString m_problem;
};

// libplist's XML reader recurses per level; a quick count of open containers keeps hostile nesting out.
bool xmlNestingWithinLimit(const QByteArray& data)
{
    int depth = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] != '<')
            continue;
        const QByteArray rest = QByteArray::fromRawData(data.constData() + i + 1, data.size() - i - 1);
        const bool closing = rest.startsWith('/');
        const QByteArray name = QByteArray::fromRawData(rest.constData() + (closing ? 1 : 0), rest.size() - (closing ? 1 : 0));
        if (!name.startsWith("array") && !name.startsWith("dict"))
            continue;
        // Container tags are short; looking further would make hostile input quadratic.
        const qsizetype end = rest.left(32).indexOf('>');
        const bool selfClosing = end > 0 && rest[end - 1] == '/';
        // Stray closing tags must not buy credit for deeper nesting later on.
        if (closing)
            depth = std::max(0, depth - 1);
        else if (!selfClosing && ++depth > kMaxDepth)
            return false;
    }
    return true;
}

using Converted = Result<QVariant>;

Converted toVariant(plist_t node, int depth, bool fromXml)
{
    if (depth > kMaxDepth)
        return corrupt(QStringLiteral("The property list is nested too deeply."));
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // The format's integers are signed 64-bit; libplist keeps them as their two's complement bits.
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(text, static_cast<qsizetype>(length)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QVariant(QByteArray(bytes, static_cast<qsizetype>(length)));
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        // Negative times come back with a positive microsecond part that counts away from zero. libplist truncates
        // the stored double to whole microseconds, so rounding to milliseconds keeps a written time from drifting.
        const qint64 fraction = (qint64(microseconds) + 500) / 1000;
        const qint64 msecs = qint64(seconds) * 1000 + (seconds < 0 ? -fraction : fraction);
        return QVariant(QDateTime::fromMSecsSinceEpoch(kReferenceDateMSecs + msecs, QTimeZone::utc()));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant::fromValue(PlistUid{value});
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        list.reserve(size);
        for (uint32_t i = 0; i < size; ++i) {
            Converted element = toVariant(plist_array_get_item(node, i), depth + 1, fromXml);
            if (!element)
                return element.error();
            list.append(std::move(element).value());
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        // XML has no UID element; keyed archives written as XML spell a UID as the dictionary {"CF$UID": n}.
        if (fromXml && plist_dict_get_size(node) == 1) {
            plist_t uid = plist_dict_get_item(node, "CF$UID");
            if (uid && plist_get_node_type(uid) == PLIST_UINT) {
                uint64_t value = 0;
                plist_get_uint_val(uid, &value);
                return QVariant::fromValue(PlistUid{value});
            }
        }
        QVariantMap map;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        std::unique_ptr<void, decltype(&std::free)> iteratorGuard(iterator, &std::free);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iterator, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            const QString keyText = QString::fromUtf8(key ? key : "");
            std::free(key);
            Converted element = toVariant(value, depth + 1, fromXml);
            if (!element)
                return element.error();
            map.insert(keyText, std::move(element).value());
        }
        return QVariant(map);
    }
    default:
        return corrupt(QStringLiteral("The property list holds a value of an unknown kind."));
    }
}

Result<PlistPtr> toNode(const QVariant& value, int depth);

Result<PlistPtr> stringNode(const QString& text)
{
    // libplist takes C strings, so an embedded NUL would silently cut the text short.
    if (text.contains(QChar(0)))
        return unsupported(QStringLiteral("Strings with NUL characters cannot be stored."));
    return PlistPtr(plist_new_string(text.toUtf8().constData()));
}

Result<PlistPtr> toNode(const QVariant& value, int depth)
{
    if (depth > kMaxDepth)
        return unsupported(QStringLiteral("The value is nested too deeply."));
    if (value.metaType() == QMetaType::fromType<PlistUid>())
        return PlistPtr(plist_new_uid(value.value<PlistUid>().value));
    switch (value.typeId()) {
    case QMetaType::Bool:
        return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 number = value.toULongLong();
        // Such a value would be read back as a negative number.
        if (number > quint64(std::numeric_limits<qint64>::max()))
            return unsupported(QStringLiteral("Integers above 2^63-1 cannot be stored."));
        return PlistPtr(plist_new_uint(number));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return PlistPtr(plist_new_real(value.toDouble()));
    case QMetaType::QString:
        return stringNode(value.toString());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistPtr(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return unsupported(QStringLiteral("Invalid dates cannot be stored."));
        const qint64 msecs = date.toMSecsSinceEpoch() - kReferenceDateMSecs;
        qint64 seconds = msecs / 1000;
        qint64 remainder = msecs % 1000;
        if (remainder < 0) {
            seconds -= 1;
            remainder += 1000;
        }
        if (seconds <= std::numeric_limits<int32_t>::min() || seconds >= std::numeric_limits<int32_t>::max())
            return unsupported(QStringLiteral("Dates further than 68 years from 2001 cannot be stored."));
        return PlistPtr(plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(remainder * 1000)));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        PlistPtr array(plist_new_array());
        for (const QVariant& element : value.toList()) {
            auto node = toNode(element, depth + 1);
            if (!node)
                return node.error();
            plist_array_append_item(array.get(), node->release());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dictionary(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (it.key().contains(QChar(0)))
                return unsupported(QStringLiteral("Keys with NUL characters cannot be stored."));
            auto node = toNode(it.value(), depth + 1);
            if (!node)
                return node.error();
            plist_dict_set_item(dictionary.get(), it.key().toUtf8().constData(), node->release());
        }
        return dictionary;
    }
    default:
        return unsupported(QStringLiteral("Values of type %1 cannot be stored in a property list.")
                               .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "invalid")));
    }
}

} // namespace

Result<QByteArray> toBinary(const QVariant& value)
{
    auto node = toNode(value, 0);
    if (!node)
        return node.error();
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node->get(), &bytes, &length);
    if (!bytes)
        return unsupported(QStringLiteral("The value could not be encoded."));
    QByteArray result(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    return result;
}

Result<QVariant> fromData(const QByteArray& data)
{
    if (data.size() > kMaxFileSize)
        return corrupt(QStringLiteral("The property list is too large."));
    plist_t root = nullptr;
    const bool binary = data.startsWith("bplist");
    if (binary) {
        if (auto problem = BinaryValidator(data).validate())
            return *problem;
        plist_from_bin(data.constData(), static_cast<uint32_t>(data.size()), &root);
    } else {
        const QByteArray start = data.left(1024).trimmed();
        if (!start.startsWith("<?xml") && !start.startsWith("<plist") && !start.startsWith("<!DOCTYPE"))
            return corrupt(QStringLiteral("The data is not a property list."));
        if (!xmlNestingWithinLimit(data))
            return corrupt(QStringLiteral("The property list is nested too deeply."));
        plist_from_xml(data.constData(), static_cast<uint32_t>(data.size()), &root);
    }
    if (!root)
        return corrupt(QStringLiteral("The property list is damaged."));
    PlistPtr owner(root);
    return toVariant(root, 0, !binary);
}

Result<QVariant> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return corrupt(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxFileSize)
        return corrupt(QStringLiteral("%1 is too large to be a property list.").arg(path));
    return fromData(file.readAll());
}

std::optional<Error> writeBinaryFile(const QVariant& value, const QString& path)
{
    auto encoded = toBinary(value);
    if (!encoded)
        return encoded.error();
    // Replaces a link at the path instead of writing to where it points.
    const QFileInfo file(path);
    if (auto error = ConfinedFile::replace(file.absolutePath(), file.absoluteFilePath(), *encoded,
                                           ConfinedFile::Durability::durable))
        return Error(errorDomain(), WriteFailed, QStringLiteral("Cannot write %1: %2").arg(path, error->message),
                     {{QStringLiteral("errno"), error->code}});
    return std::nullopt;
}

} // namespace vornakel::PropertyList
