#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace vornakel::HeifImage {

// Larger than any camera's image: a file whose image, canvas or tile is larger is refused before anything is
// allocated for it.
inline constexpr qint64 kMaxPixels = 200LL * 1000 * 1000;

// A decoded image, or why there is none.
struct Decoded {
    std::optional<QImage> image;
    QString error; // empty when there is an image

    explicit operator bool() const { return image.has_value(); }
    const QImage& operator*() const { return *image; }
    const QImage* operator->() const { return &*image; }
};

// Whether the data starts like a HEIF file (an "ftyp" box naming a HEIF brand).
bool looksLikeHeif(const QByteArray& data);

// The primary image, turned upright as the file says; no image when the data is not a HEIF file libheif decodes
// or the image is larger than kMaxPixels (measured on the canvas and tiles it is built from, not on the size the
// file claims for it). With `maxPixelSize` > 0 the result is scaled to fit a square of that side.
Decoded decodePrimary(const QByteArray& data, int maxPixelSize = 0);
// The primary image's first embedded thumbnail, upright and cut to the picture the primary image shows (an
// encoder's padding left out); no image when there is none or it does not decode.
Decoded decodeThumbnail(const QByteArray& data);
// Whether the primary image carries its own rotation or mirroring ('irot', 'imir'), which the images decoded
// here already have applied. Needs only the start of the file, where the item descriptions are.
bool primaryHasOwnTransform(const QByteArray& head);
// The primary image's size as it is shown (after its own rotation); none when libheif does not read the file.
std::optional<QSize> primarySize(const QByteArray& data);
// The primary image's EXIF block as TIFF data (from its byte-order mark on), for an EXIF reader; none when the
// file has none. exiv2 finds EXIF only in some layouts of a HEIF file's item locations; libheif reads them all.
std::optional<QByteArray> exifTiff(const QByteArray& data);

} // namespace vornakel::HeifImage
