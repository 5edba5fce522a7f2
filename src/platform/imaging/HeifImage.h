#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace vornakel::HeifImage {

// Whether the data starts like a HEIF file (an "ftyp" box naming a HEIF brand).
bool looksLikeHeif(const QByteArray& data);

// The primary image, turned upright as the file says; none when the data is not a HEIF file libheif decodes.
// With `maxPixelSize` > 0 the result is scaled to fit a square of that side.
std::optional<QImage> decodePrimary(const QByteArray& data, int maxPixelSize = 0);
// The primary image's first embedded thumbnail, upright; none when there is none or it does not decode.
std::optional<QImage> decodeThumbnail(const QByteArray& data);
// The primary image's EXIF block as TIFF data (from its byte-order mark on), for an EXIF reader; none when the
// file has none. exiv2 finds EXIF only in some layouts of a HEIF file's item locations; libheif reads them all.
std::optional<QByteArray> exifTiff(const QByteArray& data);

} // namespace vornakel::HeifImage
