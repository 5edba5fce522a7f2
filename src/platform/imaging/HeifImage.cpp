#include "platform/imaging/HeifImage.h"

#include <libheif/heif.h>

#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace vornakel::HeifImage {
namespace {

// libheif loads its codec plug-ins on initialisation; once per process is enough.
void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;
using Image = std::unique_ptr<heif_image, ImageDeleter>;

// The data must outlive the context: it is read in place.
Context openContext(const QByteArray& data)
{
    if (!looksLikeHeif(data))
        return nullptr;
    initialise();
    Context context(heif_context_alloc());
    if (!context)
        return nullptr;
    if (heif_context_read_from_memory_without_copy(context.get(), data.constData(), size_t(data.size()), nullptr).code
        != heif_error_Ok)
        return nullptr;
    return context;
}

Handle primaryHandle(heif_context* context)
{
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok)
        return nullptr;
    return Handle(handle);
}

// Larger than any camera's image; a file claiming more is refused before anything is allocated for it.
constexpr qint64 kMaxPixels = 200LL * 1000 * 1000;

// Decodes to 8-bit RGB with the file's rotation and mirroring applied (libheif's default).
std::optional<QImage> decode(const heif_image_handle* handle)
{
    const qint64 claimedWidth = heif_image_handle_get_width(handle);
    const qint64 claimedHeight = heif_image_handle_get_height(handle);
    if (claimedWidth <= 0 || claimedHeight <= 0 || claimedWidth * claimedHeight > kMaxPixels)
        return std::nullopt;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code
        != heif_error_Ok)
        return std::nullopt;
    const Image image(decoded);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!pixels || width <= 0 || height <= 0 || stride < width * 3)
        return std::nullopt;
    // The copy owns its pixels, so the image outlives libheif's buffer.
    return QImage(pixels, width, height, stride, QImage::Format_RGB888).copy();
}

} // namespace

bool looksLikeHeif(const QByteArray& data)
{
    if (data.size() < 12 || std::memcmp(data.constData() + 4, "ftyp", 4) != 0)
        return false;
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "heif"};
    const QByteArray brand = data.mid(8, 4);
    for (const char* known : kBrands) {
        if (brand == known)
            return true;
    }
    return false;
}

std::optional<QImage> decodePrimary(const QByteArray& data, int maxPixelSize)
{
    const Context context = openContext(data);
    if (!context)
        return std::nullopt;
    const Handle handle = primaryHandle(context.get());
    if (!handle)
        return std::nullopt;
    std::optional<QImage> image = decode(handle.get());
    if (image && maxPixelSize > 0 && (image->width() > maxPixelSize || image->height() > maxPixelSize))
        image = image->scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

std::optional<QImage> decodeThumbnail(const QByteArray& data)
{
    const Context context = openContext(data);
    if (!context)
        return std::nullopt;
    const Handle primary = primaryHandle(context.get());
    if (!primary || heif_image_handle_get_number_of_thumbnails(primary.get()) < 1)
        return std::nullopt;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) != 1)
        return std::nullopt;
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(primary.get(), id, &thumbnail).code != heif_error_Ok)
        return std::nullopt;
    return decode(Handle(thumbnail).get());
}

std::optional<QByteArray> exifTiff(const QByteArray& data)
{
    const Context context = openContext(data);
    if (!context)
        return std::nullopt;
    const Handle primary = primaryHandle(context.get());
    heif_item_id id = 0;
    if (!primary || heif_image_handle_get_list_of_metadata_block_IDs(primary.get(), "Exif", &id, 1) != 1)
        return std::nullopt;
    const size_t size = heif_image_handle_get_metadata_size(primary.get(), id);
    // The block starts with the offset of the TIFF header behind those four bytes.
    if (size <= 4 || size > size_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(primary.get(), id, block.data()).code != heif_error_Ok)
        return std::nullopt;
    const quint32 offset = (quint32(uchar(block[0])) << 24) | (quint32(uchar(block[1])) << 16)
                           | (quint32(uchar(block[2])) << 8) | quint32(uchar(block[3]));
    if (offset >= size - 4)
        return std::nullopt;
    return block.mid(qsizetype(4 + offset));
}

} // namespace vornakel::HeifImage
