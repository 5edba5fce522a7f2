#include "platform/imaging/HeifStructure.h"

#include <limits>

namespace vornakel::HeifStructure {
namespace {

// Far more than any camera file holds; a file listing more is not read further.
constexpr uint32_t kMaxItems = 4096;
constexpr uint32_t kMaxProperties = 4096;
constexpr uint32_t kMaxExtents = 1024;

// Reads big-endian fields from a range of the data; a read past the end marks the reader failed.
class Reader {
public:
    Reader(const QByteArray& data, qsizetype begin, qsizetype end) : m_data(data), m_position(begin), m_end(end) {}

    bool failed() const { return m_failed; }
    bool atEnd() const { return m_position >= m_end; }
    qsizetype position() const { return m_position; }
    qsizetype remaining() const { return m_failed ? 0 : m_end - m_position; }

    uint64_t unsignedField(int bytes)
    {
        if (bytes < 0 || bytes > 8 || remaining() < bytes) {
            m_failed = true;
            return 0;
        }
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | uint8_t(m_data[m_position + i]);
        m_position += bytes;
        return value;
    }
    uint8_t u8() { return uint8_t(unsignedField(1)); }
    uint16_t u16() { return uint16_t(unsignedField(2)); }
    uint32_t u32() { return uint32_t(unsignedField(4)); }
    QByteArray fourCC()
    {
        if (remaining() < 4) {
            m_failed = true;
            return {};
        }
        const QByteArray code = m_data.mid(m_position, 4);
        m_position += 4;
        return code;
    }
    void skip(qsizetype bytes)
    {
        if (bytes < 0 || remaining() < bytes)
            m_failed = true;
        else
            m_position += bytes;
    }

private:
    const QByteArray& m_data;
    qsizetype m_position;
    qsizetype m_end;
    bool m_failed = false;
};

struct Box {
    QByteArray type;
    qsizetype begin = 0; // of the payload
    qsizetype end = 0;
};

// The boxes in [begin, end); stops at the first box whose size does not fit.
std::vector<Box> boxesIn(const QByteArray& data, qsizetype begin, qsizetype end)
{
    std::vector<Box> boxes;
    Reader reader(data, begin, end);
    while (reader.remaining() >= 8 && boxes.size() < kMaxProperties) {
        const qsizetype start = reader.position();
        uint64_t size = reader.u32();
        Box box;
        box.type = reader.fourCC();
        qsizetype header = 8;
        if (size == 1) {
            size = reader.unsignedField(8);
            header = 16;
        } else if (size == 0) {
            size = uint64_t(end - start);
        }
        if (reader.failed() || size < uint64_t(header) || size > uint64_t(end - start))
            break;
        box.begin = start + header;
        box.end = start + qsizetype(size);
        boxes.push_back(box);
        reader.skip(box.end - reader.position());
    }
    return boxes;
}

const Box* find(const std::vector<Box>& boxes, const char* type)
{
    for (const Box& box : boxes)
        if (box.type == type)
            return &box;
    return nullptr;
}

// A full box's payload after its version and flags.
struct FullBox {
    int version = 0;
    uint32_t flags = 0;
    qsizetype begin = 0;
};

std::optional<FullBox> fullBox(const QByteArray& data, const Box& box)
{
    Reader reader(data, box.begin, box.end);
    const uint32_t versionAndFlags = reader.u32();
    if (reader.failed())
        return std::nullopt;
    return FullBox{int(versionAndFlags >> 24), versionAndFlags & 0xffffff, reader.position()};
}

void readItemInfo(const QByteArray& data, const Box& iinf, File& file)
{
    const std::optional<FullBox> header = fullBox(data, iinf);
    if (!header)
        return;
    Reader reader(data, header->begin, iinf.end);
    reader.skip(header->version == 0 ? 2 : 4);
    if (reader.failed())
        return;
    for (const Box& infe : boxesIn(data, reader.position(), iinf.end)) {
        if (infe.type != "infe" || file.items.size() >= kMaxItems)
            continue;
        const std::optional<FullBox> entry = fullBox(data, infe);
        if (!entry || entry->version < 2)
            continue;
        Reader fields(data, entry->begin, infe.end);
        Item item;
        item.id = entry->version == 2 ? fields.u16() : fields.u32();
        fields.u16(); // protection index
        item.type = fields.fourCC();
        if (!fields.failed())
            file.items[item.id] = item;
    }
}

void readReferences(const QByteArray& data, const Box& iref, File& file)
{
    const std::optional<FullBox> header = fullBox(data, iref);
    if (!header)
        return;
    const int idBytes = header->version == 0 ? 2 : 4;
    const std::vector<Box> references = boxesIn(data, header->begin, iref.end);
    if ((references.empty() ? header->begin : references.back().end) != iref.end)
        file.damagedReferences = true;
    for (const Box& reference : references) {
        Reader reader(data, reference.begin, reference.end);
        const uint32_t from = uint32_t(reader.unsignedField(idBytes));
        const uint16_t count = reader.u16();
        auto item = file.items.find(from);
        for (uint16_t i = 0; i < count && !reader.failed(); ++i) {
            const uint32_t to = uint32_t(reader.unsignedField(idBytes));
            if (reader.failed() || item == file.items.end())
                break;
            if (reference.type == "dimg" && item->second.derivedFrom.size() < kMaxItems)
                item->second.derivedFrom.push_back(to);
            else if (reference.type == "thmb")
                item->second.thumbnailOf = to;
            else if (reference.type == "cdsc")
                item->second.describes = to;
        }
    }
}

void applyProperty(const QByteArray& data, const Box& property, Item& item)
{
    Reader reader(data, property.begin, property.end);
    if (property.type == "ispe") {
        reader.u32(); // version and flags
        const uint32_t width = reader.u32();
        const uint32_t height = reader.u32();
        if (!reader.failed() && width <= uint32_t(std::numeric_limits<int>::max())
            && height <= uint32_t(std::numeric_limits<int>::max()))
            item.spatialExtent = QSize(int(width), int(height));
    } else if (property.type == "irot") {
        const uint8_t angle = reader.u8();
        if (!reader.failed())
            item.rotation = (angle & 3) * 90;
    } else if (property.type == "imir") {
        const uint8_t axis = reader.u8();
        if (!reader.failed())
            item.mirrorAxis = axis & 1;
    } else if (property.type == "clap") {
        const auto ratio = [&reader](bool isSigned) {
            const uint32_t numerator = reader.u32();
            const uint32_t denominator = reader.u32();
            if (denominator == 0)
                return std::numeric_limits<double>::quiet_NaN();
            return (isSigned ? double(int32_t(numerator)) : double(numerator)) / double(denominator);
        };
        CleanAperture clap;
        clap.width = ratio(false);
        clap.height = ratio(false);
        clap.horizontalOffset = ratio(true);
        clap.verticalOffset = ratio(true);
        if (!reader.failed() && clap.width == clap.width && clap.height == clap.height
            && clap.horizontalOffset == clap.horizontalOffset && clap.verticalOffset == clap.verticalOffset)
            item.cleanAperture = clap;
    } else if (property.type == "hvcC") {
        item.hevcConfiguration = data.mid(property.begin, property.end - property.begin);
    }
}

void readProperties(const QByteArray& data, const Box& iprp, File& file)
{
    const std::vector<Box> children = boxesIn(data, iprp.begin, iprp.end);
    const Box* ipco = find(children, "ipco");
    if (!ipco)
        return;
    const std::vector<Box> properties = boxesIn(data, ipco->begin, ipco->end);
    for (const Box& ipma : children) {
        if (ipma.type != "ipma")
            continue;
        const std::optional<FullBox> header = fullBox(data, ipma);
        if (!header)
            continue;
        Reader reader(data, header->begin, ipma.end);
        const uint32_t entries = reader.u32();
        for (uint32_t e = 0; e < entries && e < kMaxItems && !reader.failed(); ++e) {
            const uint32_t id = header->version < 1 ? reader.u16() : reader.u32();
            const uint8_t count = reader.u8();
            auto item = file.items.find(id);
            for (uint8_t a = 0; a < count && !reader.failed(); ++a) {
                const uint32_t index = (header->flags & 1) ? (reader.u16() & 0x7fff) : (reader.u8() & 0x7f);
                if (reader.failed() || item == file.items.end() || index == 0 || index > properties.size())
                    continue;
                applyProperty(data, properties[index - 1], item->second);
            }
        }
    }
}

void readLocations(const QByteArray& data, const Box& iloc, File& file)
{
    const std::optional<FullBox> header = fullBox(data, iloc);
    if (!header || header->version > 2)
        return;
    Reader reader(data, header->begin, iloc.end);
    const uint8_t sizes = reader.u8();
    const uint8_t moreSizes = reader.u8();
    const int offsetSize = sizes >> 4;
    const int lengthSize = sizes & 15;
    const int baseOffsetSize = moreSizes >> 4;
    const int indexSize = header->version >= 1 ? (moreSizes & 15) : 0;
    const uint32_t count = header->version < 2 ? reader.u16() : reader.u32();
    for (uint32_t i = 0; i < count && i < kMaxItems && !reader.failed(); ++i) {
        const uint32_t id = header->version < 2 ? reader.u16() : reader.u32();
        int method = 0;
        if (header->version >= 1)
            method = reader.u16() & 15;
        reader.u16(); // data reference index
        const uint64_t base = reader.unsignedField(baseOffsetSize);
        const uint16_t extents = reader.u16();
        std::vector<std::pair<uint64_t, uint64_t>> found;
        for (uint16_t x = 0; x < extents && !reader.failed(); ++x) {
            reader.unsignedField(indexSize);
            const uint64_t offset = reader.unsignedField(offsetSize);
            const uint64_t length = reader.unsignedField(lengthSize);
            if (found.size() < kMaxExtents && offset <= std::numeric_limits<uint64_t>::max() - base)
                found.emplace_back(base + offset, length);
        }
        auto item = file.items.find(id);
        if (reader.failed() || item == file.items.end())
            continue;
        item->second.extents = std::move(found);
        item->second.inItemData = method == 1;
    }
}

} // namespace

const Item* File::item(uint32_t id) const
{
    const auto found = items.find(id);
    return found == items.end() ? nullptr : &found->second;
}

std::optional<QByteArray> File::dataOf(const Item& item, const QByteArray& file, qint64 maxBytes) const
{
    const QByteArray& source = item.inItemData ? itemData : file;
    QByteArray joined;
    for (const auto& [offset, length] : item.extents) {
        if (offset > uint64_t(source.size()) || length > uint64_t(source.size()) - offset
            || qint64(length) > maxBytes - joined.size())
            return std::nullopt;
        joined += source.mid(qsizetype(offset), qsizetype(length));
    }
    return joined;
}

std::optional<File> read(const QByteArray& data)
{
    const std::vector<Box> top = boxesIn(data, 0, data.size());
    const Box* meta = find(top, "meta");
    if (!meta)
        return std::nullopt;
    const std::optional<FullBox> header = fullBox(data, *meta);
    if (!header)
        return std::nullopt;
    const std::vector<Box> children = boxesIn(data, header->begin, meta->end);
    File file;
    if (const Box* pitm = find(children, "pitm")) {
        if (const std::optional<FullBox> fields = fullBox(data, *pitm)) {
            Reader reader(data, fields->begin, pitm->end);
            file.primaryItem = fields->version == 0 ? reader.u16() : reader.u32();
        }
    }
    if (const Box* iinf = find(children, "iinf"))
        readItemInfo(data, *iinf, file);
    if (const Box* iref = find(children, "iref"))
        readReferences(data, *iref, file);
    if (const Box* iprp = find(children, "iprp"))
        readProperties(data, *iprp, file);
    if (const Box* iloc = find(children, "iloc"))
        readLocations(data, *iloc, file);
    if (const Box* idat = find(children, "idat"))
        file.itemData = data.mid(idat->begin, idat->end - idat->begin);
    return file;
}

std::optional<QSize> derivedCanvasSize(const QByteArray& type, const QByteArray& itemData)
{
    Reader reader(itemData, 0, itemData.size());
    reader.u8(); // version
    const uint8_t flags = reader.u8();
    if (type == "grid")
        reader.skip(2); // rows and columns
    else if (type == "iovl")
        reader.skip(8); // the fill colour
    else
        return std::nullopt;
    const int fieldBytes = (flags & 1) ? 4 : 2;
    const uint64_t width = reader.unsignedField(fieldBytes);
    const uint64_t height = reader.unsignedField(fieldBytes);
    if (reader.failed() || width > uint64_t(std::numeric_limits<int>::max())
        || height > uint64_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    return QSize(int(width), int(height));
}

} // namespace vornakel::HeifStructure
