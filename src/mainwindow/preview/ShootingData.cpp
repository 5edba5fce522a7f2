#include "mainwindow/preview/ShootingData.h"

#include "model/ImageMetadataHelper.h"

#include <QStringList>

namespace vornakel {

std::optional<QString> shootingDataLine(const std::optional<QVariantMap>& properties)
{
    if (!properties)
        return std::nullopt;
    const QVariant exifValue = properties->value(ImageMetadataHelper::exifDictionaryKey());
    if (exifValue.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap exif = exifValue.toMap();
    const std::optional<QString> parts[] = {
        ImageMetadataHelper::localizedStringForExifShutterSpeed(exif.value(ImageMetadataHelper::exposureTimeKey()),
                                                                std::nullopt),
        ImageMetadataHelper::localizedStringForExifAperture(exif.value(ImageMetadataHelper::fNumberKey()),
                                                            std::nullopt),
        ImageMetadataHelper::localizedStringForExifISO(exif.value(ImageMetadataHelper::isoSpeedRatingsKey()),
                                                       std::nullopt),
        ImageMetadataHelper::localizedStringForExifFocalLength(exif.value(ImageMetadataHelper::focalLengthKey()),
                                                               std::nullopt),
    };
    QStringList shown;
    for (const std::optional<QString>& part : parts)
        if (part && !part->isEmpty())
            shown << *part;
    if (shown.isEmpty())
        return std::nullopt;
    return shown.join(shootingDataSeparator());
}

std::optional<QString> shootingDataLine(const VKLShootingData& data)
{
    QVariantMap exif;
    if (data.exposureTime)
        exif.insert(ImageMetadataHelper::exposureTimeKey(), *data.exposureTime);
    if (data.fNumber)
        exif.insert(ImageMetadataHelper::fNumberKey(), *data.fNumber);
    if (data.iso)
        exif.insert(ImageMetadataHelper::isoSpeedRatingsKey(), QVariantList{*data.iso});
    if (data.focalLength)
        exif.insert(ImageMetadataHelper::focalLengthKey(), *data.focalLength);
    return shootingDataLine(QVariantMap{{ImageMetadataHelper::exifDictionaryKey(), exif}});
}

} // namespace vornakel
