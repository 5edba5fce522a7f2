#include "samplecamera/HeifFileBuilder.h"

#include "platform/imaging/HeifStructure.h"
#include "samplecamera/TiffWriter.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vornakel::tools {
namespace {

QByteArray be16(uint32_t value)
{
    const char bytes[] = {char(value >> 8), char(value)};
    return QByteArray(bytes, 2);
}
QByteArray be32(uint32_t value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}
QByteArray box(const char* type, const QByteArray& payload)
{
    return be32(uint32_t(8 + payload.size())) + QByteArray(type, 4) + payload;
}
QByteArray fullBox(const char* type, int version, const QByteArray& payload)
{
    return box(type, be32(uint32_t(version) << 24) + payload);
}

heif_error appendTo(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// The meta box with every item's data placed at `dataStart` onwards, in item order.
QByteArray metaBox(uint32_t primaryItem, const std::vector<HeifItem>& items, uint32_t dataStart)
{
    QByteArray infos;
    for (const HeifItem& item : items)
        infos += fullBox("infe", 2, be16(item.id) + be16(0) + item.type + QByteArray(1, '\0'));
    QByteArray references;
    for (const HeifItem& item : items) {
        if (!item.derivedFrom.empty()) {
            QByteArray to;
            for (const uint32_t id : item.derivedFrom)
                to += be16(id);
            references += box("dimg", be16(item.id) + be16(uint32_t(item.derivedFrom.size())) + to);
        }
        if (item.thumbnailOf)
            references += box("thmb", be16(item.id) + be16(1) + be16(*item.thumbnailOf));
        if (item.describes)
            references += box("cdsc", be16(item.id) + be16(1) + be16(*item.describes));
    }
    QByteArray properties;
    QByteArray associations;
    int propertyCount = 0;
    for (const HeifItem& item : items) {
        QList<int> indexes;
        const auto add = [&](const QByteArray& property) {
            properties += property;
            indexes << ++propertyCount;
        };
        if (!item.hevcConfiguration.isEmpty())
            add(box("hvcC", item.hevcConfiguration));
        if (item.spatialExtent)
            add(fullBox("ispe", 0, be32(uint32_t(item.spatialExtent->width())) + be32(uint32_t(item.spatialExtent->height()))));
        if (!item.iccProfile.isEmpty())
            add(box("colr", QByteArrayLiteral("prof") + item.iccProfile));
        if (item.cleanAperture) {
            QByteArray fields;
            for (const uint32_t field : *item.cleanAperture)
                fields += be32(field);
            add(box("clap", fields));
        }
        if (item.rotation)
            add(box("irot", QByteArray(1, char((item.rotation / 90) & 3))));
        if (indexes.isEmpty())
            continue;
        associations += be16(item.id) + QByteArray(1, char(indexes.size()));
        for (const int index : indexes)
            associations += QByteArray(1, char(0x80 | index));
    }
    const int associated = int(std::count_if(items.begin(), items.end(), [](const HeifItem& item) {
        return !item.hevcConfiguration.isEmpty() || item.spatialExtent || !item.iccProfile.isEmpty()
               || item.cleanAperture || item.rotation;
    }));
    QByteArray locations = QByteArray(1, char(0x44)) + QByteArray(1, '\0') + be16(uint32_t(items.size()));
    QByteArray itemData;
    uint32_t offset = dataStart;
    for (const HeifItem& item : items) {
        const uint32_t at = item.inItemData ? uint32_t(itemData.size()) : offset;
        locations += be16(item.id) + be16(item.inItemData ? 1 : 0) + be16(0) + be16(1) + be32(at)
                     + be32(uint32_t(item.data.size()));
        if (item.inItemData)
            itemData += item.data;
        else
            offset += uint32_t(item.data.size());
    }
    QByteArray children = fullBox("hdlr", 0, be32(0) + QByteArrayLiteral("pict") + QByteArray(13, '\0'))
                          + fullBox("pitm", 0, be16(primaryItem))
                          + fullBox("iinf", 0, be16(uint32_t(items.size())) + infos);
    if (!references.isEmpty())
        children += fullBox("iref", 0, references);
    children += box("iprp", box("ipco", properties) + fullBox("ipma", 0, be32(uint32_t(associated)) + associations))
                + fullBox("iloc", 1, locations);
    if (!itemData.isEmpty())
        children += box("idat", itemData);
    return fullBox("meta", 0, children);
}

} // namespace

std::optional<HevcPicture> encodeHevc(const QImage& source)
{
    heif_init(nullptr);
    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok)
        return std::nullopt;
    const std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_image* rawImage = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage).code
        != heif_error_Ok)
        return std::nullopt;
    const std::unique_ptr<heif_image, void (*)(const heif_image*)> image(rawImage, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, nullptr).code != heif_error_Ok)
        return std::nullopt;
    QByteArray bytes;
    heif_writer writer{1, &appendTo};
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok)
        return std::nullopt;
    const std::optional<HeifStructure::File> file = HeifStructure::read(bytes);
    const HeifStructure::Item* primary = file ? file->item(file->primaryItem) : nullptr;
    if (!primary || primary->type != "hvc1")
        return std::nullopt;
    const std::optional<QByteArray> data = file->dataOf(*primary, bytes, bytes.size());
    if (!data)
        return std::nullopt;
    return HevcPicture{primary->hevcConfiguration, *data};
}

QByteArray buildHeif(uint32_t primaryItem, const std::vector<HeifItem>& items)
{
    const QByteArray ftyp = box("ftyp", QByteArrayLiteral("heic") + be32(0) + QByteArrayLiteral("mif1heic"));
    // The meta box's size does not depend on the offsets, so one pass finds where 'mdat' starts.
    const qsizetype metaSize = metaBox(primaryItem, items, 0).size();
    const uint32_t dataStart = uint32_t(ftyp.size() + metaSize + 8);
    QByteArray mdat;
    for (const HeifItem& item : items)
        if (!item.inItemData)
            mdat += item.data;
    return ftyp + metaBox(primaryItem, items, dataStart) + box("mdat", mdat);
}

QByteArray overlayDescription(QSize canvas, int layers)
{
    QByteArray data = QByteArray(1, '\0') + QByteArray(1, '\1') + QByteArray(8, '\0') + be32(uint32_t(canvas.width()))
                      + be32(uint32_t(canvas.height()));
    for (int i = 0; i < layers; ++i)
        data += be32(0) + be32(0);
    return data;
}

QByteArray exifItemData(const HeifExif& exif)
{
    enum : uint16_t {
        Orientation = 0x0112, ExifIFD = 0x8769, ExposureTime = 0x829a, FNumber = 0x829d, ISOSpeedRatings = 0x8827,
        DateTimeOriginal = 0x9003, FocalLength = 0x920a,
    };
    TiffWriter tiff;
    const int ifd0 = tiff.addDirectory();
    const int tags = tiff.addDirectory();
    tiff.addAscii(ifd0, 0x010f, QByteArrayLiteral("Vornakel"));
    tiff.addShorts(ifd0, Orientation, {uint16_t(exif.orientation)});
    tiff.addDirectoryOffset(ifd0, ExifIFD, tags);
    tiff.addRational(tags, ExposureTime, 1, exif.exposureDenominator);
    tiff.addRational(tags, FNumber, exif.fNumberTenths, 10);
    tiff.addShorts(tags, ISOSpeedRatings, {exif.iso});
    if (!exif.dateTimeOriginal.isEmpty())
        tiff.addAscii(tags, DateTimeOriginal, exif.dateTimeOriginal);
    tiff.addRational(tags, FocalLength, exif.focalLength, 1);
    return be32(0) + tiff.build();
}

QByteArray overlayCanvasBomb()
{
    QImage layer(64, 64, QImage::Format_RGB888);
    layer.fill(Qt::darkCyan);
    const std::optional<HevcPicture> coded = encodeHevc(layer);
    if (!coded)
        return {};
    HeifItem overlay;
    overlay.id = 1;
    overlay.type = QByteArrayLiteral("iovl");
    overlay.data = overlayDescription(QSize(50000, 50000), 1);
    overlay.inItemData = true;
    overlay.spatialExtent = QSize(64, 64);
    overlay.derivedFrom = {2};
    HeifItem tile;
    tile.id = 2;
    tile.data = coded->data;
    tile.hevcConfiguration = coded->configuration;
    tile.spatialExtent = QSize(64, 64);
    return buildHeif(1, {overlay, tile});
}

} // namespace vornakel::tools
