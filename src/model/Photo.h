#pragma once

#include "model/PhotoVariant.h"
#include "platform/core/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// Why an image delivered by the camera was not stored in the cache.
inline QString imageCacheErrorDomain() { return appIdentifierPrefix() + QStringLiteral(".image-cache"); }
enum ImageCacheErrorCode : int {
    ImageCacheErrorEmptyDelivery = 1,   // the camera answered without error but with no bytes
    ImageCacheErrorFolderNotCreated = 2,
    ImageCacheErrorWriteFailed = 3,
    ImageCacheErrorUndecodable = 4,     // data in a format other than JPEG that does not decode
    ImageCacheErrorNoLongerWanted = 5,  // the caller no longer wanted the image when it arrived
};

// An image that refers to a file in the image cache and decodes it only when first asked for its pixels
// (thread-safe). The file is read without following links below the cache's root.
class ImageReference {
public:
    ImageReference(QString cacheRoot, QString fileLocation)
        : m_cacheRoot(std::move(cacheRoot)), m_fileLocation(std::move(fileLocation)) {}
    const QString& fileLocation() const { return m_fileLocation; }
    // The file's bytes; none when it is gone or is not a regular file of the cache.
    std::optional<QByteArray> data() const;
    // The decoded image; a null QImage when the file cannot be read or decoded.
    QImage image() const;

private:
    QString m_cacheRoot;
    QString m_fileLocation;
    mutable std::once_flag m_decodeOnce;
    mutable QImage m_image;
};

// One shot on the camera: a primary variant and, for a RAW+JPEG pair, the JPEG as preview variant. A photo
// also owns its folder in the on-disk image cache (thumbnail, preview, "Metadata.plist" with "LastSeen").
//
// Photos compare by identity. See PhotoVariant for the ownership scheme: the photo owns its variants and
// hands them out as aliasing pointers that keep the photo alive.
class Photo : public std::enable_shared_from_this<Photo> {
public:
    // How a load or store ended: the photo, and why no image was stored when none was (the camera's error, or
    // the cache's: imageCacheErrorDomain()). It reads as the photo where that is all a caller needs.
    struct LoadResult {
        std::shared_ptr<Photo> photo;
        std::optional<Error> error;
        operator const std::shared_ptr<Photo>&() const { return photo; }
    };
    using Preflight = std::function<bool(const std::shared_ptr<Photo>&)>;
    using Completion = std::function<void(const LoadResult&)>;
    using Location = std::optional<QString>;

    // Sets the variants' type (original / preview) and their back-reference to the new photo. Null when
    // `primary` is null. Pass variants fresh from PhotoVariant::create; the photo then owns them.
    static std::shared_ptr<Photo> create(std::shared_ptr<PhotoVariant> primary,
                                         std::shared_ptr<PhotoVariant> preview = nullptr);

    std::shared_ptr<PhotoVariant> primaryVariant() const;
    std::shared_ptr<PhotoVariant> previewVariant() const;               // none unless RAW+JPEG
    std::vector<std::shared_ptr<PhotoVariant>> variants() const;        // [primary] or [primary, preview]
    const QString& displayName() const;
    QString description() const;
    // How the shot is turned (EXIF 1-8): the primary file's as the camera reported it, else the preview
    // file's, else 1 (upright). Camera thumbnails and previews carry none of their own, so whoever draws them
    // applies this.
    int orientation() const;
    // How the preview is turned: the orientation the camera reported for the file the preview comes from
    // (bestVariantForRemotePreview), else orientation(). A RAW file and its HEIF partner may differ: libheif
    // hands out the HEIF image already turned.
    int previewOrientation() const;
    // The shooting settings of the shot: those of the file the preview comes from, else of any of its files.
    std::optional<VKLShootingData> shootingData() const;

    // ---- Cache locations (computed once on first read; each can be assigned, an assigned none counts) ------
    Location cacheDirectory();
    Location cachedPreviewImageLocation();
    Location cachedThumbnailLocation();
    void setCacheDirectory(Location location);
    void setCachedPreviewImageLocation(Location location);
    void setCachedThumbnailLocation(Location location);

    // The variant whose camera file the preview is fetched from.
    std::shared_ptr<PhotoVariant> bestVariantForRemotePreview() const;

    // Refreshes "LastSeen" in the cache folder's "Metadata.plist"; with `onlyIfExists` only an existing one.
    void updateLastSeen(bool onlyIfExists);

    bool thumbnailIsAvailable();
    bool previewIsAvailable();
    // The cached "Preview.jpg", read without following a link out of the cache; none without one.
    std::optional<QByteArray> cachedPreviewData();

    // The thumbnail held in memory, or one referring to the cached "Thumbnail.jpg" (which is then kept and
    // refreshes "LastSeen"), or none.
    std::shared_ptr<const ImageReference> thumbnail();

    // Ask the camera for the thumbnail / preview; completion runs once per delivery on the camera's delivery
    // queue while the photo exists. `loadPreview` completes at once, on the caller's thread, when the preview
    // is already cached.
    // `keep`, when given, is asked again when the image arrives: one no longer wanted then is not stored (the
    // completion reports ImageCacheErrorNoLongerWanted), so what lands in the cache does not depend on how
    // long the camera took.
    void loadThumbnail(Preflight preflight, Completion completion, Preflight keep = {});
    void loadPreview(Preflight preflight, Completion completion);

    // The store step for a preview the caller fetched itself: writes "Preview.jpg" when the camera delivered
    // data without error, then calls `completion` with the photo.
    void storePreviewData(const std::optional<Error>& error, const std::optional<QByteArray>& data,
                          const Completion& completion);

    // ---- Class-level constants ------------------------------------------------------------------------------
    static QString cacheMetadataFileName();      // "Metadata.plist"
    static QString cacheMetadataLastSeenKey();   // "LastSeen"
    static QString cacheDirectorySuffix();       // "cached"
    static QString thumbnailFileName();          // "Thumbnail.jpg"
    static QString previewFileName();            // "Preview.jpg"
    // <XDG cache>/com.vornakel.zediriri-zir/Cached Images, or none when there is no cache folder.
    static Location imageCachesDirectory();
    // Points the cache elsewhere (a none disables it).
    static void setImageCachesDirectory(Location location);
    // Forgets which file owns which cache folder in this process, as a restart would (tests and tools).
    static void forgetCacheFolderClaims();
    // The clock behind "LastSeen"; empty restores the system clock.
    static void setClock(std::function<QDateTime()> clock);
    static QDateTime now();

    Photo(const Photo&) = delete;
    Photo& operator=(const Photo&) = delete;
    ~Photo();

private:
    Photo() = default;
    enum class CacheFile { thumbnail, preview };
    Location computeCacheDirectory() const;
    void writeCacheFile(CacheFile which, const std::optional<Error>& error, const std::optional<QByteArray>& data,
                        const Completion& completion, const Preflight& keep = {});
    std::shared_ptr<PhotoVariant> alias(PhotoVariant* variant) const;

    std::shared_ptr<PhotoVariant> m_primary;
    std::shared_ptr<PhotoVariant> m_preview;

    // Lazy state may be reached from the camera's delivery queue and the main queue at once.
    mutable std::mutex m_mutex;
    std::optional<Location> m_cacheDirectory;
    std::optional<Location> m_cachedPreviewImageLocation;
    std::optional<Location> m_cachedThumbnailLocation;
    std::shared_ptr<const ImageReference> m_cachedThumbnail;
};

using PhotoPtr = std::shared_ptr<Photo>;

} // namespace vornakel
