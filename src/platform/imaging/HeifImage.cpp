#include "platform/imaging/HeifImage.h"

#include "platform/imaging/HeifStructure.h"

#include <libheif/heif.h>

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace vornakel::HeifImage {
namespace {

// No side of a camera image comes near this; libheif refuses items that claim more before reading them.
constexpr int kMaxSide = 65535;

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
    heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
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

// Grid and overlay descriptions are a few dozen bytes.
constexpr qint64 kMaxDerivationBytes = 4096;

QString pixelSizeText(const QSize& size)
{
    return QStringLiteral("%1 × %2 pixels").arg(size.width()).arg(size.height());
}

// Why an image of that size is not decoded; empty when it may be.
QString sizeRefusal(const QSize& size, const char* what)
{
    if (size.width() <= 0 || size.height() <= 0)
        return QStringLiteral("The HEIF %1 has no size.").arg(QLatin1String(what));
    if (qint64(size.width()) * size.height() > kMaxPixels || size.width() > kMaxSide || size.height() > kMaxSide)
        return QStringLiteral("The HEIF %1 is too large to decode (%2; at most %3 megapixels).")
            .arg(QLatin1String(what), pixelSizeText(size))
            .arg(kMaxPixels / 1000000);
    return {};
}

// The coded image types cameras write and libheif decodes; derived images are built from these.
bool isCodedImageType(const QByteArray& type) { return type == "hvc1" || type == "av01"; }

// Checks what decoding the item really allocates, before libheif allocates it: a grid's or an overlay's canvas
// (which may be far larger than the size the item claims) and every tile or layer it is built from.
QString decodingRefusal(const HeifStructure::File& file, const QByteArray& data, uint32_t id)
{
    const HeifStructure::Item* item = file.item(id);
    if (!item)
        return QStringLiteral("The HEIF file does not list the image.");
    if (file.damagedReferences)
        return QStringLiteral("The HEIF file's item references are damaged.");
    if (!isCodedImageType(item->type) && item->derivedFrom.empty())
        return QStringLiteral("The HEIF image does not say what it is built from.");
    if (item->type == "grid" || item->type == "iovl") {
        const std::optional<QByteArray> description = file.dataOf(*item, data, kMaxDerivationBytes);
        const std::optional<QSize> canvas =
            description ? HeifStructure::derivedCanvasSize(item->type, *description) : std::nullopt;
        if (!canvas)
            return QStringLiteral("The HEIF image's canvas is not described.");
        if (QString refusal = sizeRefusal(*canvas, "image's canvas"); !refusal.isEmpty())
            return refusal;
        for (const uint32_t tileId : item->derivedFrom) {
            const HeifStructure::Item* tile = file.item(tileId);
            // libheif stops the program on a part that is no coded image (a missing item, an unknown type, a
            // grid of grids), so only coded tiles are handed to it.
            if (!tile || !isCodedImageType(tile->type))
                return QStringLiteral("A tile of the HEIF image is not an image.");
            if (!tile->spatialExtent)
                return QStringLiteral("A tile of the HEIF image has no size.");
            if (QString refusal = sizeRefusal(*tile->spatialExtent, "image's tile"); !refusal.isEmpty())
                return refusal;
        }
        return {};
    }
    if (!isCodedImageType(item->type)
        && std::any_of(item->derivedFrom.begin(), item->derivedFrom.end(), [&](uint32_t from) {
               const HeifStructure::Item* source = file.item(from);
               return !source || !isCodedImageType(source->type);
           }))
        return QStringLiteral("The HEIF image is derived from a part that is not an image.");
    if (!item->spatialExtent)
        return QStringLiteral("The HEIF image has no size.");
    return sizeRefusal(*item->spatialExtent, "image");
}

QString libheifError(const heif_error& error)
{
    return QStringLiteral("libheif could not decode the image: %1").arg(QString::fromUtf8(error.message));
}

struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

// Decodes to 8-bit RGB; with the file's rotation, mirroring and crop applied unless `asCoded`.
Decoded decode(const HeifStructure::File& file, const QByteArray& data, uint32_t id, const heif_image_handle* handle,
               bool asCoded)
{
    Decoded result;
    result.error = decodingRefusal(file, data, id);
    if (result.error.isEmpty())
        result.error = sizeRefusal(QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)),
                                   "image");
    if (!result.error.isEmpty())
        return result;
    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    options->ignore_transformations = asCoded ? 1 : 0;
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options.get());
    const Image image(decoded);
    if (error.code != heif_error_Ok || !image) {
        result.error = libheifError(error);
        return result;
    }
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!pixels || width <= 0 || height <= 0 || stride < width * 3) {
        result.error = QStringLiteral("libheif gave no pixels for the image.");
        return result;
    }
    // The copy owns its pixels, so the image outlives libheif's buffer.
    result.image = QImage(pixels, width, height, stride, QImage::Format_RGB888).copy();
    result.error.clear();
    return result;
}

// The picture an item shows before it is turned: its clean aperture when it has one, else all of it.
std::optional<QSizeF> cleanSize(const HeifStructure::Item& item)
{
    if (item.cleanAperture && item.cleanAperture->width > 0 && item.cleanAperture->height > 0)
        return QSizeF(item.cleanAperture->width, item.cleanAperture->height);
    if (item.spatialExtent && !item.spatialExtent->isEmpty())
        return QSizeF(*item.spatialExtent);
    return std::nullopt;
}

// The item's own rotation (anticlockwise) and mirroring, as libheif would apply them.
QImage transformed(const QImage& image, const HeifStructure::Item& item)
{
    QImage result = item.rotation ? image.transformed(QTransform().rotate(-item.rotation)) : image;
    if (item.mirrorAxis)
        result = *item.mirrorAxis == 0 ? result.mirrored(true, false) : result.mirrored(false, true);
    return result;
}

// A thumbnail coded larger than the picture it shows (encoders pad it on the right and at the bottom to whole
// blocks) and without a crop of its own is cut to the primary image's clean shape, then turned as it says.
Decoded decodeThumbnailItem(const HeifStructure::File& file, const QByteArray& data, uint32_t id,
                            const heif_image_handle* handle)
{
    const HeifStructure::Item* thumbnail = file.item(id);
    const HeifStructure::Item* primary = file.item(file.primaryItem);
    const std::optional<QSizeF> shape = primary ? cleanSize(*primary) : std::nullopt;
    if (!thumbnail || thumbnail->cleanAperture || !shape)
        return decode(file, data, id, handle, false);
    Decoded coded = decode(file, data, id, handle, true);
    if (!coded)
        return coded;
    QImage& image = *coded.image;
    const double aspect = shape->width() / shape->height();
    const int fittingHeight = std::max(1, int(std::lround(image.width() / aspect)));
    const int fittingWidth = std::max(1, int(std::lround(image.height() * aspect)));
    if (fittingHeight < image.height())
        image = image.copy(0, 0, image.width(), fittingHeight);
    else if (fittingWidth < image.width())
        image = image.copy(0, 0, fittingWidth, image.height());
    image = transformed(image, *thumbnail);
    return coded;
}

Decoded failure(const QString& error) { return Decoded{std::nullopt, error}; }

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

Decoded decodePrimary(const QByteArray& data, int maxPixelSize)
{
    const Context context = openContext(data);
    const std::optional<HeifStructure::File> file = context ? HeifStructure::read(data) : std::nullopt;
    if (!file)
        return failure(QStringLiteral("The data is not a HEIF file libheif reads."));
    const Handle handle = primaryHandle(context.get());
    if (!handle)
        return failure(QStringLiteral("The HEIF file has no primary image."));
    heif_item_id id = 0;
    if (heif_context_get_primary_image_ID(context.get(), &id).code != heif_error_Ok)
        return failure(QStringLiteral("The HEIF file has no primary image."));
    Decoded image = decode(*file, data, id, handle.get(), false);
    if (image && maxPixelSize > 0 && (image->width() > maxPixelSize || image->height() > maxPixelSize))
        image.image = image->scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

Decoded decodeThumbnail(const QByteArray& data)
{
    const Context context = openContext(data);
    const std::optional<HeifStructure::File> file = context ? HeifStructure::read(data) : std::nullopt;
    if (!file)
        return failure(QStringLiteral("The data is not a HEIF file libheif reads."));
    const Handle primary = primaryHandle(context.get());
    if (!primary || heif_image_handle_get_number_of_thumbnails(primary.get()) < 1)
        return failure(QStringLiteral("The HEIF file has no thumbnail."));
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) != 1)
        return failure(QStringLiteral("The HEIF file has no thumbnail."));
    heif_image_handle* thumbnail = nullptr;
    if (const heif_error error = heif_image_handle_get_thumbnail(primary.get(), id, &thumbnail);
        error.code != heif_error_Ok)
        return failure(libheifError(error));
    return decodeThumbnailItem(*file, data, id, Handle(thumbnail).get());
}

bool primaryHasOwnTransform(const QByteArray& head)
{
    if (!looksLikeHeif(head))
        return false;
    const std::optional<HeifStructure::File> file = HeifStructure::read(head);
    const HeifStructure::Item* primary = file ? file->item(file->primaryItem) : nullptr;
    return primary && (primary->rotation != 0 || primary->mirrorAxis);
}

std::optional<QSize> primarySize(const QByteArray& data)
{
    const Context context = openContext(data);
    const Handle handle = context ? primaryHandle(context.get()) : nullptr;
    if (!handle)
        return std::nullopt;
    const QSize size(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    return size.isEmpty() ? std::nullopt : std::optional<QSize>(size);
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
