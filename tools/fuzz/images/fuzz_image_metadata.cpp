// Feeds arbitrary bytes to what reads images and their metadata from camera data: exiv2 (with ISO base media
// files such as CR3 and HEIF), libheif's thumbnail and image decoding, and Qt's image readers.
#include "model/ImageMetadataHelper.h"
#include "platform/imaging/HeifImage.h"

#include <QBuffer>
#include <QImageReader>

#include <cstddef>
#include <cstdint>

using namespace vornakel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ImageMetadataHelper::propertiesFromData(bytes);
    if (HeifImage::looksLikeHeif(bytes)) {
        HeifImage::decodeThumbnail(bytes);
        HeifImage::decodePrimary(bytes, 160);
        return 0;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    // Thumbnails and previews are small; a huge claimed size is left to the allocation limit, not decoded here.
    const QSize claimed = reader.size();
    if (claimed.isValid() && qint64(claimed.width()) * claimed.height() <= 4096LL * 4096)
        reader.read();
    return 0;
}
