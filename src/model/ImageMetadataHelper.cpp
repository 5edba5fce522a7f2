#include "model/ImageMetadataHelper.h"

#include "platform/camera/VKLCamera.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/RegularFile.h"
#include "platform/core/Strings.h"
#include "platform/core/VariantNumbers.h"
#include "platform/exiv2/Exiv2Library.h"
#include "platform/imaging/HeifImage.h"
#include "platform/imaging/ImageFileTypes.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vornakel {
namespace {

// Beyond these a value is damaged, not a setting; shown as if absent rather than as a huge number.
constexpr double kLargestIso = 10'000'000;
constexpr double kLongestFocalLength = 100'000; // millimetres
// Files are read whole for their metadata and HEIF images; nothing a camera writes comes close to these.
constexpr qint64 kMaxImageFileSize = 1024LL * 1024 * 1024;
constexpr qint64 kMaxHeifFileSize = 512LL * 1024 * 1024;

QImage boundedImage(const QImage& image)
{
    if (image.width() <= ImageMetadataHelper::kThumbnailMaxPixelSize &&
        image.height() <= ImageMetadataHelper::kThumbnailMaxPixelSize)
        return image;
    return image.scaled(ImageMetadataHelper::kThumbnailMaxPixelSize, ImageMetadataHelper::kThumbnailMaxPixelSize,
                        Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

std::optional<long> exifLong(const Exiv2::ExifData& exif, const char* key, long index = 0)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end() || found->count() <= index)
        return std::nullopt;
    return found->toLong(index);
}

std::optional<QString> exifText(const Exiv2::ExifData& exif, const char* key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end())
        return std::nullopt;
    return QString::fromStdString(found->toString()).trimmed();
}

// The largest embedded preview of a RAW file (Qt cannot decode the RAW data itself), made upright.
std::optional<QImage> embeddedPreview(const QString& path)
{
    try {
        auto image = Exiv2Library::open(path);
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        Exiv2::PreviewManager previews(*image);
        const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        // The list is sorted by size; try the largest first.
        for (auto properties = list.rbegin(); properties != list.rend(); ++properties) {
            const Exiv2::PreviewImage preview = previews.getPreviewImage(*properties);
            const QImage decoded = QImage::fromData(preview.pData(), int(preview.size()));
            if (decoded.isNull())
                continue;
            const long orientation = exifLong(image->exifData(), "Exif.Image.Orientation").value_or(1);
            return boundedImage(ImageMetadataHelper::uprightImage(decoded, int(orientation)));
        }
    } catch (...) {
        // exiv2 reports unreadable files by throwing; to us that is just "no image".
    }
    return std::nullopt;
}

// "1/350" below a second when the time is a whole fraction, otherwise seconds with at most one decimal
// ("0.3", "2", "2.5"); the unit comes from the format.
std::optional<QString> exposureTimeText(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        return std::nullopt;
    if (seconds < 1) {
        const double denominator = 1 / seconds;
        const double whole = std::round(denominator);
        if (whole >= 2 && std::abs(denominator - whole) <= 0.02 * whole)
            return QStringLiteral("1/") + QString::number(qint64(whole));
    }
    return QString::number(std::round(seconds * 10) / 10, 'f', 1).remove(QRegularExpression(QStringLiteral("\\.0$")));
}

// "f/6.7", "f/8": the f-number to one decimal.
std::optional<QString> fNumberText(double fNumber)
{
    if (!std::isfinite(fNumber) || fNumber < 0.5 || fNumber > 128)
        return std::nullopt;
    return QStringLiteral("f/") +
           QString::number(std::round(fNumber * 10) / 10, 'f', 1).remove(QRegularExpression(QStringLiteral("\\.0$")));
}

// The number's integer part as text, when it is a plausible count: never a wrapped negative or a huge value.
std::optional<QString> unsignedText(double number, double largest)
{
    if (!std::isfinite(number) || number < 0 || number > largest)
        return std::nullopt;
    return QString::number(qulonglong(std::trunc(number)));
}

std::optional<QString> formattedDisplayValue(const QVariant& value, const std::optional<QString>& fallback,
                                             const QString& formatKey,
                                             const std::function<std::optional<QString>(double)>& displayValue)
{
    const std::optional<double> number = doubleValue(value);
    if (!number)
        return fallback;
    std::optional<QString> text = displayValue(*number);
    if (!text)
        text = fallback;
    if (!text)
        return std::nullopt;
    return GeneralUI::format(formatKey, {*text});
}

} // namespace

// ---- Images -------------------------------------------------------------------------------------------------

QImage ImageMetadataHelper::uprightImage(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.transformed(QTransform().rotate(180));
    case 4: return image.mirrored(false, true);
    case 5: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

namespace {

QImage decodeUprightFrom(QImageReader& reader, const QSize& box, int orientationWhenNone)
{
    const bool ownOrientation = reader.transformation() != QImageIOHandler::TransformationNone;
    reader.setAutoTransform(ownOrientation);
    const int orientation = ownOrientation ? 1 : orientationWhenNone;
    const QSize stored = reader.size();
    if (stored.isValid() && box.isValid()) {
        // The box is for the upright image; the reader scales the image as stored.
        const bool quarterTurn = ownOrientation ? (reader.transformation() & QImageIOHandler::TransformationRotate90)
                                                : orientation >= 5 && orientation <= 8;
        const QSize storedBox = quarterTurn ? box.transposed() : box;
        if (stored.width() > storedBox.width() || stored.height() > storedBox.height())
            reader.setScaledSize(stored.scaled(storedBox, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return ImageMetadataHelper::uprightImage(image, orientation);
}

} // namespace

QImage ImageMetadataHelper::decodeUpright(const QString& path, const QSize& box, int orientationWhenNone)
{
    QImageReader reader(path);
    return decodeUprightFrom(reader, box, orientationWhenNone);
}

QImage ImageMetadataHelper::decodeUpright(const QByteArray& data, const QSize& box, int orientationWhenNone)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return decodeUprightFrom(reader, box, orientationWhenNone);
}

std::optional<QImage> ImageMetadataHelper::thumbnailFromImageFile(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (reader.canRead()) {
        const QSize size = reader.size();
        // Scaling the box is symmetric, so it may happen before the orientation is applied.
        if (size.isValid() && (size.width() > kThumbnailMaxPixelSize || size.height() > kThumbnailMaxPixelSize))
            reader.setScaledSize(size.scaled(kThumbnailMaxPixelSize, kThumbnailMaxPixelSize, Qt::KeepAspectRatio));
        const QImage image = reader.read();
        if (!image.isNull())
            return boundedImage(image);
    }
    // Qt has no HEIF reader; libheif decodes the file's own thumbnail when it is large enough, else the image.
    if (ImageFileTypes::kindOfFileName(path) == ImageFileTypes::Kind::heif) {
        if (const auto data = readRegularFile(path, kMaxHeifFileSize)) {
            HeifImage::Decoded image = HeifImage::decodeThumbnail(*data);
            if (!image || std::max(image->width(), image->height()) < kThumbnailMaxPixelSize)
                image = HeifImage::decodePrimary(*data, kThumbnailMaxPixelSize);
            if (image)
                return boundedImage(*image);
        }
        return std::nullopt;
    }
    return embeddedPreview(path);
}

std::optional<QVariantMap> ImageMetadataHelper::propertiesFromData(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    const bool heif = HeifImage::looksLikeHeif(data);
    Exiv2::ExifData exifData;
    int width = 0;
    int height = 0;
    bool recognised = false;
    try {
        auto image = Exiv2Library::openData(data);
        if (image.get()) {
            recognised = true;
            image->readMetadata();
            exifData = image->exifData();
            width = image->pixelWidth();
            height = image->pixelHeight();
        }
    } catch (...) {
        // exiv2 throws for data it does not recognise as an image, and gives up on a whole HEIF file over a
        // part it rejects (a colour profile); libheif still finds that file's EXIF below.
        if (!heif)
            return std::nullopt;
    }
    if (!recognised && !heif)
        return std::nullopt;
    if (exifData.empty() && heif) {
        if (const auto tiff = HeifImage::exifTiff(data)) {
            try {
                Exiv2::ExifParser::decode(exifData, reinterpret_cast<const Exiv2::byte*>(tiff->constData()),
                                          uint32_t(tiff->size()));
            } catch (...) {
                exifData.clear();
            }
        }
    }
    QVariantMap properties;
    try {
        if ((width <= 0 || height <= 0) && heif) {
            const QSize size = HeifImage::primarySize(data).value_or(QSize());
            width = size.width();
            height = size.height();
        }
        if (width <= 0 || height <= 0) {
            QBuffer buffer;
            buffer.setData(data);
            const QSize size = QImageReader(&buffer).size();
            width = size.width();
            height = size.height();
        }
        if (width > 0 && height > 0) {
            properties.insert(QStringLiteral("PixelWidth"), qint64(width));
            properties.insert(QStringLiteral("PixelHeight"), qint64(height));
        }
        const Exiv2::ExifData& exif = exifData;
        QVariantMap tiff;
        if (const std::optional<long> orientation = exifLong(exif, "Exif.Image.Orientation")) {
            properties.insert(QStringLiteral("Orientation"), qint64(*orientation));
            tiff.insert(QStringLiteral("Orientation"), qint64(*orientation));
        }
        if (const std::optional<QString> make = exifText(exif, "Exif.Image.Make"))
            tiff.insert(QStringLiteral("Make"), *make);
        if (const std::optional<QString> model = exifText(exif, "Exif.Image.Model"))
            tiff.insert(QStringLiteral("Model"), *model);
        if (!tiff.isEmpty())
            properties.insert(tiffDictionaryKey(), tiff);

        QVariantMap exifProperties;
        const auto iso = exif.findKey(Exiv2::ExifKey("Exif.Photo.ISOSpeedRatings"));
        if (iso != exif.end() && iso->count() > 0) {
            QVariantList ratings;
            for (long i = 0; i < iso->count(); ++i)
                ratings.append(qint64(iso->toLong(i)));
            exifProperties.insert(isoSpeedRatingsKey(), ratings);
        } else if (const std::optional<qint64> fromMakerNotes = Exiv2Library::isoSetting(exif)) {
            exifProperties.insert(isoSpeedRatingsKey(), QVariantList{*fromMakerNotes});
        }
        if (const std::optional<double> fNumber = Exiv2Library::exifNumber(exif, "Exif.Photo.FNumber"))
            exifProperties.insert(fNumberKey(), *fNumber);
        if (const std::optional<double> exposure = Exiv2Library::exifNumber(exif, "Exif.Photo.ExposureTime"))
            exifProperties.insert(exposureTimeKey(), *exposure);
        if (const std::optional<double> focalLength = Exiv2Library::exifNumber(exif, "Exif.Photo.FocalLength"))
            exifProperties.insert(focalLengthKey(), *focalLength);
        if (const std::optional<QString> date = exifText(exif, "Exif.Photo.DateTimeOriginal"))
            exifProperties.insert(dateTimeOriginalKey(), *date);
        if (!exifProperties.isEmpty())
            properties.insert(exifDictionaryKey(), exifProperties);
    } catch (...) {
        // A value exiv2 cannot convert ends the reading.
        return std::nullopt;
    }
    return properties;
}

void ImageMetadataHelper::loadThumbnailFromImage(const QString& path, ThumbnailCallback callback)
{
    DispatchQueue::global(DispatchQueue::QoS::UserInteractive)->async([path, callback = std::move(callback)] {
        std::optional<QImage> image = thumbnailFromImageFile(path);
        DispatchQueue::main()->async([image = std::move(image), callback] {
            if (callback)
                callback(image);
        });
    });
}

void ImageMetadataHelper::loadMetadataFromImage(const QString& path, PropertiesCallback callback)
{
    DispatchQueue::global(DispatchQueue::QoS::UserInteractive)->async([path, callback = std::move(callback)] {
        std::optional<QVariantMap> properties;
        if (const auto data = readRegularFile(path, kMaxImageFileSize))
            properties = propertiesFromData(*data);
        if (callback)
            DispatchQueue::main()->async([properties = std::move(properties), callback] { callback(properties); });
    });
}

void ImageMetadataHelper::loadMetadataFrom(std::optional<QByteArray> data, PropertiesCallback callback)
{
    DispatchQueue::global(DispatchQueue::QoS::UserInteractive)->async(
        [data = std::move(data), callback = std::move(callback)] {
            std::optional<QVariantMap> properties = data ? propertiesFromData(*data) : std::nullopt;
            if (callback)
                DispatchQueue::main()->async([properties = std::move(properties), callback] { callback(properties); });
        });
}

// ---- Display texts ------------------------------------------------------------------------------------------

std::optional<QString> ImageMetadataHelper::localizedStringForExifISO(const QVariant& value,
                                                                      const std::optional<QString>& fallback)
{
    if (value.typeId() != QMetaType::QVariantList)
        return fallback;
    const QVariantList list = value.toList();
    if (list.isEmpty())
        return fallback;
    const std::optional<double> first = doubleValue(list.first());
    const std::optional<QString> text = first ? unsignedText(*first, kLargestIso) : std::nullopt;
    if (!text)
        return fallback;
    return GeneralUI::format(QStringLiteral("ISOMetadataFormatter"), {*text});
}

std::optional<QString> ImageMetadataHelper::localizedStringForExifFocalLength(const QVariant& value,
                                                                              const std::optional<QString>& fallback)
{
    const std::optional<double> number = doubleValue(value);
    const std::optional<QString> text = number ? unsignedText(*number, kLongestFocalLength) : std::nullopt;
    if (!text)
        return fallback;
    return GeneralUI::format(QStringLiteral("FocalLengthFormatter"), {*text});
}

std::optional<QString> ImageMetadataHelper::localizedStringForExifShutterSpeed(const QVariant& value,
                                                                               const std::optional<QString>& fallback)
{
    return formattedDisplayValue(value, fallback, QStringLiteral("ShutterSpeedMetadataFormatter"),
                                 exposureTimeText);
}

std::optional<QString> ImageMetadataHelper::localizedStringForExifAperture(const QVariant& value,
                                                                           const std::optional<QString>& fallback)
{
    return formattedDisplayValue(value, fallback, QStringLiteral("ApertureMetadataFormatter"),
                                 fNumberText);
}

} // namespace vornakel
