#include "model/Photo.h"

#include "model/ImageCache.h"
#include "platform/core/ConfinedFile.h"
#include "platform/core/PropertyList.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageReader>

namespace vornakel {
namespace {

struct CacheRootState {
    std::mutex mutex;
    bool overridden = false;
    std::optional<std::optional<QString>> root; // outer: computed yet
    std::function<QDateTime()> clock;
};

CacheRootState& cacheState()
{
    static CacheRootState state;
    return state;
}

// Which photo folder belongs to which camera file, for this process. Two photos that would get the same folder
// name (same display name and second, or both undated) are told apart by the file each was made from.
struct FolderClaims {
    std::mutex mutex;
    QHash<QString, QString> ownerByFolder;
};

FolderClaims& folderClaims()
{
    static FolderClaims claims;
    return claims;
}

QString sourceFileName() { return QStringLiteral("Source.txt"); }
// A source record names one camera file; anything longer is not ours.
constexpr qint64 kMaxSourceFileSize = 64 * 1024;
// Far more than any camera's thumbnail or preview.
constexpr qint64 kMaxCachedImageSize = 256ll * 1024 * 1024;

// The folder below which nothing of a cache file's path is followed if it is a link: the image cache's root for
// a location inside it, else (a location assigned from outside) the location's own folder.
QString trustedRootFor(const QString& location)
{
    if (const Photo::Location root = Photo::imageCachesDirectory()) {
        const QString cleanRoot = QDir::cleanPath(*root);
        if (QDir::cleanPath(location).startsWith(cleanRoot + QLatin1Char('/')))
            return cleanRoot;
    }
    return QFileInfo(location).absolutePath();
}

bool isCacheFile(const QString& location)
{
    return ConfinedFile::isRegularFile(trustedRootFor(location), location);
}

std::optional<QByteArray> readCacheFile(const QString& location, qint64 maxBytes)
{
    return ConfinedFile::read(trustedRootFor(location), location, maxBytes);
}

// Creates a photo's cache folder; a link among its folders below the cache's root fails it.
bool makeCacheFolder(const QString& folder)
{
    const QString root = trustedRootFor(folder + QStringLiteral("/_"));
    return QDir().mkpath(root) && !ConfinedFile::makeFolder(root, folder);
}

// Claims `folder` for `identity`, unless this process or an earlier run (recorded in the folder's source file)
// gave it to another file. The decision for a folder never changes once made, so the cache keeps hitting.
bool claimFolder(const QString& folder, const QString& identity)
{
    FolderClaims& claims = folderClaims();
    std::lock_guard lock(claims.mutex);
    const auto known = claims.ownerByFolder.constFind(folder);
    if (known != claims.ownerByFolder.constEnd())
        return *known == identity;
    QString owner = identity;
    // Only a regular file counts: a FIFO put there would block this read for ever.
    if (const auto recorded = readCacheFile(folder + QLatin1Char('/') + sourceFileName(), kMaxSourceFileSize))
        owner = QString::fromUtf8(*recorded);
    claims.ownerByFolder.insert(folder, owner);
    return owner == identity;
}

// The cache can be rebuilt from the camera at any time, so a write waits for no disk flush; the rename still makes
// each file appear whole or not at all, and replaces a link put in its place instead of writing through it.
std::optional<Error> writeCacheFileAt(const QString& location, const QByteArray& data)
{
    if (const std::optional<Error> error = ConfinedFile::replace(trustedRootFor(location), location, data,
                                                                 ConfinedFile::Durability::disposable))
        return Error(imageCacheErrorDomain(), ImageCacheErrorWriteFailed, error->message,
                     {{QStringLiteral("errno"), error->code}});
    return std::nullopt;
}

// What goes into "Thumbnail.jpg" and "Preview.jpg": JPEG data as delivered; data in another image format (an
// EXIF thumbnail kept as TIFF strips, say) converted to JPEG, since the cache would otherwise hold a file that
// never decodes and is never fetched again. Data in another format that does not decode is not stored (none).
std::optional<QByteArray> cacheableImageData(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    if (format.isEmpty() || format == "jpeg" || data.startsWith("\xff\xd8\xff"))
        return data;
    const QImage image = QImage::fromData(data, format.constData());
    if (image.isNull())
        return std::nullopt;
    QByteArray jpeg;
    QBuffer output(&jpeg);
    output.open(QIODevice::WriteOnly);
    if (!image.save(&output, "JPEG", 90))
        return std::nullopt;
    return jpeg;
}

bool isReachable(const Photo::Location& location)
{
    return location && isCacheFile(*location);
}

} // namespace

std::optional<QByteArray> ImageReference::data() const
{
    return ConfinedFile::read(m_cacheRoot, m_fileLocation, kMaxCachedImageSize);
}

QImage ImageReference::image() const
{
    std::call_once(m_decodeOnce, [this] {
        if (const std::optional<QByteArray> bytes = data())
            m_image = QImage::fromData(*bytes);
    });
    return m_image;
}

// ---- Creation and variants ----------------------------------------------------------------------------------

std::shared_ptr<Photo> Photo::create(std::shared_ptr<PhotoVariant> primary, std::shared_ptr<PhotoVariant> preview)
{
    if (!primary)
        return nullptr;
    std::shared_ptr<Photo> photo(new Photo());
    primary->m_type = PhotoVariantType::original;
    if (preview)
        preview->m_type = PhotoVariantType::preview;
    photo->m_primary = std::move(primary);
    photo->m_preview = std::move(preview);
    photo->m_primary->m_photo = photo;
    if (photo->m_preview)
        photo->m_preview->m_photo = photo;
    return photo;
}

Photo::~Photo() = default;

std::shared_ptr<PhotoVariant> Photo::alias(PhotoVariant* variant) const
{
    if (!variant)
        return nullptr;
    // Shares the photo's control block: holding the variant keeps the photo alive.
    return std::shared_ptr<PhotoVariant>(shared_from_this(), variant);
}

std::shared_ptr<PhotoVariant> Photo::primaryVariant() const { return alias(m_primary.get()); }
std::shared_ptr<PhotoVariant> Photo::previewVariant() const { return alias(m_preview.get()); }

std::vector<std::shared_ptr<PhotoVariant>> Photo::variants() const
{
    std::vector<std::shared_ptr<PhotoVariant>> result{primaryVariant()};
    if (m_preview)
        result.push_back(previewVariant());
    return result;
}

const QString& Photo::displayName() const { return m_primary->displayName(); }

int Photo::orientation() const
{
    if (const std::optional<int> primary = m_primary->orientation())
        return *primary;
    if (m_preview)
        if (const std::optional<int> preview = m_preview->orientation())
            return *preview;
    return 1;
}

int Photo::previewOrientation() const
{
    if (const std::shared_ptr<PhotoVariant> source = bestVariantForRemotePreview())
        if (const std::optional<int> orientation = source->orientation())
            return *orientation;
    return orientation();
}

std::optional<VKLShootingData> Photo::shootingData() const
{
    if (const std::shared_ptr<PhotoVariant> source = bestVariantForRemotePreview(); source && source->shootingData())
        return source->shootingData();
    for (const std::shared_ptr<PhotoVariant>& variant : variants())
        if (variant->shootingData())
            return variant->shootingData();
    return std::nullopt;
}

QString Photo::description() const
{
    QString text = QStringLiteral("Primary variant: ") + m_primary->fileName();
    if (m_preview)
        text += QStringLiteral(", preview variant: ") + m_preview->fileName();
    return text;
}

std::shared_ptr<PhotoVariant> Photo::bestVariantForRemotePreview() const
{
    if (!m_preview)
        return primaryVariant();
    if (PhotoVariant::pathExtension(m_primary->fileName()).compare(QLatin1String("cr2"), Qt::CaseInsensitive) == 0) {
        // Some cameras hand out a full-size JPEG as a CR2's companion; a small one is the quicker preview.
        const std::optional<qint64> size = m_preview->size();
        return !size || *size <= 1572864 ? previewVariant() : primaryVariant();
    }
    return previewVariant();
}

// ---- Class-level constants ----------------------------------------------------------------------------------

QString Photo::cacheMetadataFileName() { return QStringLiteral("Metadata.plist"); }
QString Photo::cacheMetadataLastSeenKey() { return QStringLiteral("LastSeen"); }
QString Photo::cacheDirectorySuffix() { return QStringLiteral("cached"); }
QString Photo::thumbnailFileName() { return QStringLiteral("Thumbnail.jpg"); }
QString Photo::previewFileName() { return QStringLiteral("Preview.jpg"); }

Photo::Location Photo::imageCachesDirectory()
{
    CacheRootState& state = cacheState();
    std::lock_guard lock(state.mutex);
    if (!state.root)
        state.root = ImageCache::standardRoot();
    return *state.root;
}

void Photo::setImageCachesDirectory(Location location)
{
    CacheRootState& state = cacheState();
    std::lock_guard lock(state.mutex);
    state.root = std::move(location);
}

void Photo::forgetCacheFolderClaims()
{
    FolderClaims& claims = folderClaims();
    std::lock_guard lock(claims.mutex);
    claims.ownerByFolder.clear();
}

void Photo::setClock(std::function<QDateTime()> clock)
{
    CacheRootState& state = cacheState();
    std::lock_guard lock(state.mutex);
    state.clock = std::move(clock);
}

QDateTime Photo::now()
{
    std::function<QDateTime()> clock;
    {
        CacheRootState& state = cacheState();
        std::lock_guard lock(state.mutex);
        clock = state.clock;
    }
    return clock ? clock() : QDateTime::currentDateTimeUtc();
}

// ---- Cache locations ----------------------------------------------------------------------------------------

Photo::Location Photo::computeCacheDirectory() const
{
    const Location root = imageCachesDirectory();
    if (!root)
        return std::nullopt;
    const std::shared_ptr<VKLFileSystemItem>& item = m_primary->remoteItem();
    std::optional<QString> cameraIdentifier;
    if (const std::shared_ptr<VKLFileStorage> storage = item->storage())
        if (const std::shared_ptr<VKLCamera> camera = storage->camera())
            cameraIdentifier = camera->friendlyIdentifier();
    const QString unknownCamera = QStringLiteral("Unknown Camera");
    const QString cameraFolder = *root + QLatin1Char('/') +
                                 ImageCache::folderNameComponent(cameraIdentifier.value_or(unknownCamera), unknownCamera);

    const std::optional<QDateTime> date = item->dateCreated();
    const QString name = ImageCache::folderNameComponent(m_primary->displayName(), QStringLiteral("_"));
    const QString folder = cameraFolder + QLatin1Char('/') + ImageCache::photoFolderName(name, date);

    // The camera file this photo stands for; stable across runs for the same file on the same camera.
    const QString identity = QStringLiteral("%1/%2\n%3\n%4")
                                 .arg(m_primary->remoteFolderPath().value_or(QString()), m_primary->fileName())
                                 .arg(m_primary->size().value_or(0))
                                 .arg(date ? date->toMSecsSinceEpoch() : -1);
    if (claimFolder(folder, identity))
        return folder;
    // The documented name belongs to another file: this one gets a suffix derived from its own identity, so it
    // lands in the same folder on every run.
    const QString distinguisher =
        QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    const QString distinct = cameraFolder + QLatin1Char('/') + ImageCache::photoFolderName(name, date, distinguisher);
    claimFolder(distinct, identity);
    return distinct;
}

namespace {

// The stored location, or the one `compute` makes, kept unless another thread stored one meanwhile. Computing
// runs outside the lock: it may take the lock itself and may touch the disk.
template <typename Compute>
Photo::Location storedOrComputed(std::mutex& mutex, std::optional<Photo::Location>& stored, Compute compute)
{
    {
        std::lock_guard lock(mutex);
        if (stored)
            return *stored;
    }
    const Photo::Location computed = compute();
    std::lock_guard lock(mutex);
    if (!stored)
        stored = computed;
    return *stored;
}

Photo::Location fileIn(const Photo::Location& directory, const QString& fileName)
{
    return directory ? Photo::Location(*directory + QLatin1Char('/') + fileName) : std::nullopt;
}

} // namespace

Photo::Location Photo::cacheDirectory()
{
    return storedOrComputed(m_mutex, m_cacheDirectory, [this] { return computeCacheDirectory(); });
}

Photo::Location Photo::cachedPreviewImageLocation()
{
    return storedOrComputed(m_mutex, m_cachedPreviewImageLocation,
                            [this] { return fileIn(cacheDirectory(), previewFileName()); });
}

Photo::Location Photo::cachedThumbnailLocation()
{
    return storedOrComputed(m_mutex, m_cachedThumbnailLocation,
                            [this] { return fileIn(cacheDirectory(), thumbnailFileName()); });
}

void Photo::setCacheDirectory(Location location)
{
    std::lock_guard lock(m_mutex);
    m_cacheDirectory = std::move(location);
}

void Photo::setCachedPreviewImageLocation(Location location)
{
    std::lock_guard lock(m_mutex);
    m_cachedPreviewImageLocation = std::move(location);
}

void Photo::setCachedThumbnailLocation(Location location)
{
    std::lock_guard lock(m_mutex);
    m_cachedThumbnailLocation = std::move(location);
}

// ---- Cache contents -----------------------------------------------------------------------------------------

bool Photo::thumbnailIsAvailable() { return isReachable(cachedThumbnailLocation()); }
bool Photo::previewIsAvailable() { return isReachable(cachedPreviewImageLocation()); }

std::optional<QByteArray> Photo::cachedPreviewData()
{
    const Location location = cachedPreviewImageLocation();
    return location ? readCacheFile(*location, kMaxCachedImageSize) : std::nullopt;
}

void Photo::updateLastSeen(bool onlyIfExists)
{
    const Location directory = cacheDirectory();
    if (!directory)
        return;
    const QString record = *directory + QLatin1Char('/') + cacheMetadataFileName();
    if (onlyIfExists && !isCacheFile(record))
        return;
    const QVariantMap contents{{cacheMetadataLastSeenKey(), now()}};
    const Result<QByteArray> data = PropertyList::toBinary(contents);
    if (!data || !makeCacheFolder(*directory))
        return;
    // A record that cannot be written only shortens the folder's life; the cache can be rebuilt.
    [[maybe_unused]] const std::optional<Error> ignored = writeCacheFileAt(record, *data);
}

std::shared_ptr<const ImageReference> Photo::thumbnail()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_cachedThumbnail)
            return m_cachedThumbnail;
    }
    const Location location = cachedThumbnailLocation();
    if (!isReachable(location))
        return nullptr;
    std::shared_ptr<const ImageReference> image;
    {
        std::lock_guard lock(m_mutex);
        if (m_cachedThumbnail)
            return m_cachedThumbnail;
        m_cachedThumbnail = std::make_shared<ImageReference>(trustedRootFor(*location), *location);
        image = m_cachedThumbnail;
    }
    updateLastSeen(false);
    return image;
}

void Photo::loadThumbnail(Preflight preflight, Completion completion, Preflight keep)
{
    const std::shared_ptr<Photo> self = shared_from_this();
    const std::weak_ptr<Photo> weakSelf = self;
    m_primary->remoteItem()->fetchThumbnail(
        [self, preflight = std::move(preflight)](const VKLFileSystemItem::ItemPtr&) {
            return preflight ? preflight(self) : true;
        },
        [weakSelf, completion = std::move(completion), keep = std::move(keep)](
            const VKLFileSystemItem::ItemPtr&, std::optional<Error> error, std::optional<QByteArray> data) {
            if (const std::shared_ptr<Photo> photo = weakSelf.lock())
                photo->writeCacheFile(CacheFile::thumbnail, error, data, completion, keep);
        });
}

void Photo::loadPreview(Preflight preflight, Completion completion)
{
    const std::shared_ptr<Photo> self = shared_from_this();
    if (previewIsAvailable()) {
        if (completion)
            completion(LoadResult{self, std::nullopt});
        return;
    }
    const std::weak_ptr<Photo> weakSelf = self;
    bestVariantForRemotePreview()->remoteItem()->fetchPreview(
        [self, preflight = std::move(preflight)](const VKLFileSystemItem::ItemPtr&) {
            return preflight ? preflight(self) : true;
        },
        [weakSelf, completion = std::move(completion)](const VKLFileSystemItem::ItemPtr&, std::optional<Error> error,
                                                       std::optional<QByteArray> data) {
            if (const std::shared_ptr<Photo> photo = weakSelf.lock())
                photo->writeCacheFile(CacheFile::preview, error, data, completion);
        });
}

void Photo::storePreviewData(const std::optional<Error>& error, const std::optional<QByteArray>& data,
                             const Completion& completion)
{
    writeCacheFile(CacheFile::preview, error, data, completion);
}

void Photo::writeCacheFile(CacheFile which, const std::optional<Error>& error, const std::optional<QByteArray>& data,
                           const Completion& completion, const Preflight& keep)
{
    const std::shared_ptr<Photo> self = shared_from_this();
    const auto finish = [&](std::optional<Error> failure) {
        if (completion)
            completion(LoadResult{self, std::move(failure)});
    };
    // A failed or empty delivery is not an image; storing it would count as a cache hit from then on.
    if (error) {
        finish(error);
        return;
    }
    if (!data || data->isEmpty()) {
        finish(Error(imageCacheErrorDomain(), ImageCacheErrorEmptyDelivery,
                     QStringLiteral("The camera delivered no image for %1.").arg(displayName())));
        return;
    }
    if (keep && !keep(self)) {
        finish(Error(imageCacheErrorDomain(), ImageCacheErrorNoLongerWanted,
                     QStringLiteral("The image for %1 was no longer wanted when it arrived.").arg(displayName())));
        return;
    }
    const Location location = which == CacheFile::thumbnail ? cachedThumbnailLocation() : cachedPreviewImageLocation();
    // Without a cache folder nothing is stored, and nothing failed.
    if (!location) {
        finish(std::nullopt);
        return;
    }
    const std::optional<QByteArray> image = cacheableImageData(*data);
    const QString directory = QFileInfo(*location).path();
    if (!image) {
        finish(Error(imageCacheErrorDomain(), ImageCacheErrorUndecodable,
                     QStringLiteral("The camera delivered an image for %1 that does not decode.").arg(displayName())));
        return;
    }
    if (!makeCacheFolder(directory)) {
        finish(Error(imageCacheErrorDomain(), ImageCacheErrorFolderNotCreated,
                     QStringLiteral("Could not create the cache folder %1.").arg(directory)));
        return;
    }
    const std::optional<Error> written = writeCacheFileAt(*location, *image);
    if (!written) {
        const QString source = directory + QLatin1Char('/') + sourceFileName();
        if (!isCacheFile(source)) {
            FolderClaims& claims = folderClaims();
            QString owner;
            {
                std::lock_guard lock(claims.mutex);
                owner = claims.ownerByFolder.value(directory);
            }
            // Without the record a later run may give the folder to another file; the image is still right.
            if (!owner.isEmpty()) {
                [[maybe_unused]] const std::optional<Error> ignored = writeCacheFileAt(source, owner.toUtf8());
            }
        }
        updateLastSeen(false);
    }
    finish(written);
}

} // namespace vornakel
