#pragma once

#include "platform/camera/VKLCamera.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <limits>
#include <memory>
#include <optional>

namespace vornakel {

// jpeg: the camera's processed image (JPEG or HEIF); raw: its RAW file.
enum class PhotoFormatFamily { jpeg, raw };
enum class PhotoVariantType { original, preview };

class Photo;

// One file on the camera, read once from the camera's file item.
//
// Ownership: a Photo owns its variants, and a variant refers back to its photo weakly. The pointers a Photo
// hands out (`Photo::primaryVariant()`, `variants()`) are aliasing shared_ptrs on the Photo's own control
// block, so whoever holds a variant obtained from a photo keeps that photo (and its other variant) alive and
// `photo()` stays usable; nothing forms a cycle. Variants compare by identity (pointer equality; std::hash of
// the shared_ptr follows the object).
class PhotoVariant {
public:
    // None when the item has no name.
    static std::shared_ptr<PhotoVariant> create(std::shared_ptr<VKLFileSystemItem> file);

    // The photo this file belongs to; none before grouping (or when the photo is gone and this pointer did not
    // come from the photo).
    std::shared_ptr<Photo> photo() const { return m_photo.lock(); }
    PhotoVariantType type() const { return m_type; }
    PhotoFormatFamily formatFamily() const { return m_formatFamily; }
    const std::shared_ptr<VKLFileSystemItem>& remoteItem() const { return m_remoteItem; }
    std::optional<qint64> size() const { return m_size; }
    std::optional<QDateTime> dateCreated() const { return m_dateCreated; }
    // The EXIF orientation (1-8) the camera reported for the file, when it did.
    std::optional<int> orientation() const { return m_orientation; }
    // The shooting settings the camera reported with the file's metadata, when it did.
    const std::optional<VKLShootingData>& shootingData() const { return m_shootingData; }
    const QString& fileName() const { return m_fileName; }
    const QString& displayName() const { return m_displayName; }
    // The folder on the camera the scan found this file in ("/DCIM/100KESTR"), when it was recorded.
    const std::optional<QString>& remoteFolderPath() const { return m_remoteFolderPath; }
    QString uti() const;
    QString description() const;

    // The family of a file name: "jpg"/"jpeg" and the HEIF types ("heic", "heif", "hif") in any case are jpeg,
    // the processed image; anything else (or no extension) raw.
    static PhotoFormatFamily formatFamilyForFileName(const QString& fileName);
    // The name without its last extension ("IMG_0001.CR2" → "IMG_0001", "README" → "README").
    static QString deletingPathExtension(const QString& fileName);
    // The last extension without the dot, or empty.
    static QString pathExtension(const QString& fileName);

    PhotoVariant(const PhotoVariant&) = delete;
    PhotoVariant& operator=(const PhotoVariant&) = delete;

private:
    friend class Photo;
    PhotoVariant() = default;

    std::weak_ptr<Photo> m_photo;
    PhotoVariantType m_type = PhotoVariantType::original;
    PhotoFormatFamily m_formatFamily = PhotoFormatFamily::raw;
    std::shared_ptr<VKLFileSystemItem> m_remoteItem;
    std::optional<qint64> m_size;
    std::optional<QDateTime> m_dateCreated;
    std::optional<int> m_orientation;
    std::optional<VKLShootingData> m_shootingData;
    QString m_fileName;
    QString m_displayName;
    std::optional<QString> m_remoteFolderPath;
};

using PhotoVariantPtr = std::shared_ptr<PhotoVariant>;

} // namespace vornakel
