#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace vornakel {

// Reads local image files (JPEG, HEIF and camera RAW including CR3, through exiv2, libheif and Qt's image
// readers) and turns shooting data into display text. Image work runs on a global queue; callbacks always come on the main queue, once.
//
// Image properties use these keys: "PixelWidth", "PixelHeight", "Orientation" at the top, "{TIFF}" with
// "Make", "Model", "Orientation", and "{Exif}" with "ISOSpeedRatings" (a list of integers), "FNumber",
// "ExposureTime", "FocalLength" (numbers) and "DateTimeOriginal" (text, "YYYY:MM:DD HH:MM:SS").
class ImageMetadataHelper {
public:
    using ThumbnailCallback = std::function<void(std::optional<QImage>)>;
    using PropertiesCallback = std::function<void(std::optional<QVariantMap>)>;

    static constexpr int kThumbnailMaxPixelSize = 600;

    static QString exifDictionaryKey() { return QStringLiteral("{Exif}"); }
    static QString tiffDictionaryKey() { return QStringLiteral("{TIFF}"); }
    static QString isoSpeedRatingsKey() { return QStringLiteral("ISOSpeedRatings"); }
    static QString fNumberKey() { return QStringLiteral("FNumber"); }
    static QString exposureTimeKey() { return QStringLiteral("ExposureTime"); }
    static QString focalLengthKey() { return QStringLiteral("FocalLength"); }
    static QString dateTimeOriginalKey() { return QStringLiteral("DateTimeOriginal"); }

    // An upright thumbnail of the file's first image, its longer side at most 600 pixels; none when the file
    // cannot be read as an image.
    static void loadThumbnailFromImage(const QString& path, ThumbnailCallback callback);
    // The image properties of the file / data; none when it is not an image. Without a callback the work is
    // still done.
    static void loadMetadataFromImage(const QString& path, PropertiesCallback callback);
    static void loadMetadataFrom(std::optional<QByteArray> data, PropertiesCallback callback);

    // Decodes the image file scaled to fit `box` (nothing is enlarged) and upright: the file's own EXIF
    // orientation when it has one, else `orientationWhenNone` (what the camera reported for the shot; camera
    // thumbnails and previews carry none). A null image when the file cannot be decoded. Any thread.
    static QImage decodeUpright(const QString& path, const QSize& box, int orientationWhenNone);
    // The same for an image's bytes already read.
    static QImage decodeUpright(const QByteArray& data, const QSize& box, int orientationWhenNone);
    // The image turned as EXIF orientation 1-8 asks; other values leave it unchanged.
    static QImage uprightImage(const QImage& image, int orientation);

    // The same work, synchronously, on the caller's thread.
    static std::optional<QImage> thumbnailFromImageFile(const QString& path);
    static std::optional<QVariantMap> propertiesFromData(const QByteArray& data);

    // Display texts for EXIF values (an invalid QVariant is an absent value), showing the value the file
    // recorded ("1/350 s", "2 s", "f/6.7"), not a nearby standard step. A value of the wrong kind gives the
    // fallback unchanged; shutter speed and aperture put the fallback into their format when the number has no
    // display text.
    static std::optional<QString> localizedStringForExifISO(const QVariant& value, const std::optional<QString>& fallback);
    static std::optional<QString> localizedStringForExifFocalLength(const QVariant& value,
                                                                    const std::optional<QString>& fallback);
    static std::optional<QString> localizedStringForExifShutterSpeed(const QVariant& value,
                                                                     const std::optional<QString>& fallback);
    static std::optional<QString> localizedStringForExifAperture(const QVariant& value,
                                                                 const std::optional<QString>& fallback);

    ImageMetadataHelper() = delete;
};

} // namespace vornakel
