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

ExifFacts exifFacts(const QByteArray& head)
{
    ExifFacts facts;
    try {
        auto image = Exiv2Library::openData(head);
        if (!image.get())
            return facts;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
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
    } catch (const std::exception&) {
        // A start of a file that exiv2 cannot read carries no facts.
    }
    return facts;
}

} // namespace vornakel::CameraFileHead
