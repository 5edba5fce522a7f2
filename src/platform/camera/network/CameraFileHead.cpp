#include "platform/camera/network/CameraFileHead.h"

#include "platform/exiv2/Exiv2Library.h"

#include <exiv2/exiv2.hpp>

namespace vornakel::CameraFileHead {

std::optional<QByteArray> largestEmbeddedJpeg(const QByteArray& head)
{
    try {
        auto image = Exiv2Library::openData(head);
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        Exiv2::PreviewManager previews(*image);
        std::optional<QByteArray> best;
        for (const auto& properties : previews.getPreviewProperties()) {
            if (properties.mimeType_ != "image/jpeg")
                continue;
            const Exiv2::PreviewImage preview = previews.getPreviewImage(properties);
            if (preview.size() > 0 && (!best || qsizetype(preview.size()) > best->size()))
                best = QByteArray(reinterpret_cast<const char*>(preview.pData()), qsizetype(preview.size()));
        }
        return best;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

namespace {

ExifFacts factsOf(const Exiv2::ExifData& exif)
{
    ExifFacts facts;
    const auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0 && orientation->toLong(0) >= 1 && orientation->toLong(0) <= 8)
        facts.orientation = int(orientation->toLong(0));
    VKLShootingData shooting;
    shooting.exposureTime = Exiv2Library::exifNumber(exif, "Exif.Photo.ExposureTime");
    shooting.fNumber = Exiv2Library::exifNumber(exif, "Exif.Photo.FNumber");
    shooting.focalLength = Exiv2Library::exifNumber(exif, "Exif.Photo.FocalLength");
    shooting.iso = Exiv2Library::isoSetting(exif);
    if (!shooting.isEmpty())
        facts.shooting = shooting;
    return facts;
}

// The TIFF structure of a JPEG's Exif APP1 segment, as far as the bytes reach; none when there is none.
std::optional<QByteArray> jpegExifTiff(const QByteArray& head)
{
    qsizetype position = 2;
    while (position + 4 <= head.size()) {
        if (uint8_t(head[position]) != 0xFF)
            return std::nullopt;
        const uint8_t marker = uint8_t(head[position + 1]);
        if (marker == 0xFF) { // fill byte
            ++position;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // image data or end: no Exif segment before it
            return std::nullopt;
        const qsizetype length = (uint8_t(head[position + 2]) << 8) | uint8_t(head[position + 3]);
        if (length < 2)
            return std::nullopt;
        if (marker == 0xE1 && head.mid(position + 4, 6) == QByteArray("Exif\0\0", 6))
            return head.mid(position + 10, length - 8);
        position += 2 + length;
    }
    return std::nullopt;
}

} // namespace

// A JPEG's or TIFF's directories are decoded even where the read cut them short (exiv2 leaves out what lies past
// the end, where its file reader would give up on the whole segment); other formats go through exiv2's own
// reader, keeping what it read before the end stopped it.
ExifFacts exifFacts(const QByteArray& head)
{
    Exiv2Library::initialize();
    try {
        const bool jpeg = head.startsWith("\xFF\xD8");
        const bool tiff = head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4));
        if (jpeg || tiff) {
            const std::optional<QByteArray> bytes = jpeg ? jpegExifTiff(head) : std::optional(head);
            if (!bytes || bytes->isEmpty())
                return {};
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(bytes->constData()), uint32_t(bytes->size()));
            return factsOf(exif);
        }
        auto image = Exiv2Library::openData(head);
        if (!image.get())
            return {};
        try {
            image->readMetadata();
        } catch (const std::exception&) {
            // Cut short: what was read before the end stays.
        }
        return factsOf(image->exifData());
    } catch (const std::exception&) {
        // A start of a file that exiv2 cannot read carries no facts.
        return {};
    }
}

} // namespace vornakel::CameraFileHead
