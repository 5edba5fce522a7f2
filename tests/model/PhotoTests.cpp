#include "model/ImageCache.h"
#include "model/Photo.h"
#include "platform/core/DispatchQueue.h"
#include "support/InProcessCamera.h"
#include "support/ScopedImageCache.h"
#include "platform/core/PropertyList.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>
#include <future>
#include <mutex>
#include <unordered_set>

#include <sys/stat.h>

namespace vornakel {
namespace {

std::shared_ptr<InProcessFile> file(const QString& name, std::optional<QDateTime> date = std::nullopt, uint64_t size = 1000)
{
    return std::make_shared<InProcessFile>(name, std::move(date), size);
}

// ---- Variants and photos ------------------------------------------------------------------------------------

TEST(PhotoVariant, ReadsTheItemOnce)
{
    struct Case {
        QString name;
        PhotoFormatFamily family;
        QString displayName;
        QString uti = {};
    };
    const std::vector<Case> cases = {
        {"DSC_0001.JPG", PhotoFormatFamily::jpeg, "DSC_0001"},
        // A HEIF file stands where a JPEG would beside a RAW file.
        {"DSC_0001.HIF", PhotoFormatFamily::jpeg, "DSC_0001", "public.heic"},
        {"IMG_0001.heic", PhotoFormatFamily::jpeg, "IMG_0001", "public.heic"},
        {"IMG_0001.CR3", PhotoFormatFamily::raw, "IMG_0001"},
        {"DSC_0001.Jpeg", PhotoFormatFamily::jpeg, "DSC_0001"},
        {"DSC_0001.NEF", PhotoFormatFamily::raw, "DSC_0001"},
        {"DSC_0001.MOV", PhotoFormatFamily::raw, "DSC_0001"},
        {"README", PhotoFormatFamily::raw, "README"},
        {"a.tar.gz", PhotoFormatFamily::raw, "a.tar"},
        {"photo.jpg.CR2", PhotoFormatFamily::raw, "photo.jpg"},
    };
    for (const Case& c : cases) {
        const auto variant = PhotoVariant::create(file(c.name));
        ASSERT_TRUE(variant) << c.name.toStdString();
        EXPECT_EQ(variant->formatFamily(), c.family) << c.name.toStdString();
        EXPECT_EQ(variant->displayName(), c.displayName) << c.name.toStdString();
        EXPECT_EQ(variant->fileName(), c.name);
        const QString uti = !c.uti.isEmpty()                        ? c.uti
                            : c.family == PhotoFormatFamily::jpeg ? QStringLiteral("public.jpeg")
                                                                  : QStringLiteral("public.camera-raw-image");
        EXPECT_EQ(variant->uti(), uti) << c.name.toStdString();
        EXPECT_EQ(variant->description(), "Variant: " + c.name);
        EXPECT_FALSE(variant->photo());
    }

    EXPECT_FALSE(PhotoVariant::create(std::make_shared<InProcessFile>(std::nullopt)));
    EXPECT_FALSE(PhotoVariant::create(file("zero", std::nullopt, 0))->size());
    EXPECT_EQ(PhotoVariant::create(file("big", std::nullopt, 1ull << 40))->size(), std::optional<qint64>(1ll << 40));
    // Later changes of the item are not followed.
    const QDateTime date = QDateTime::currentDateTimeUtc();
    auto item = file("IMG.JPG", date);
    const auto variant = PhotoVariant::create(item);
    item->setDate(std::nullopt);
    EXPECT_EQ(variant->dateCreated(), std::optional<QDateTime>(date));
}

TEST(Photo, OwnsItsVariantsAndAHeldVariantKeepsItsPhoto)
{
    auto raw = PhotoVariant::create(file("IMG.CR2"));
    auto jpeg = PhotoVariant::create(file("IMG.JPG"));
    Photo::create(jpeg); // an earlier photo of the JPEG; the pair takes over its back-reference
    std::weak_ptr<Photo> weakPhoto;
    std::shared_ptr<PhotoVariant> heldPreview;
    {
        PhotoPtr photo = Photo::create(raw, jpeg);
        raw.reset();
        jpeg.reset();
        ASSERT_EQ(photo->variants().size(), 2u);
        EXPECT_EQ(photo->variants()[0], photo->primaryVariant());
        EXPECT_EQ(photo->variants()[1], photo->previewVariant());
        EXPECT_EQ(photo->previewVariant()->type(), PhotoVariantType::preview);
        EXPECT_EQ(photo->displayName(), "IMG");
        EXPECT_EQ(photo->description(), "Primary variant: IMG.CR2, preview variant: IMG.JPG");
        heldPreview = photo->previewVariant();
        weakPhoto = photo;
    }
    ASSERT_FALSE(weakPhoto.expired()) << "a held variant keeps its photo alive";
    EXPECT_EQ(heldPreview->photo()->primaryVariant()->fileName(), "IMG.CR2");
    heldPreview.reset();
    EXPECT_TRUE(weakPhoto.expired()) << "no cycle keeps the photo once nothing holds it";

    // Identity: equal only to itself, hashed by object.
    PhotoPtr a = Photo::create(PhotoVariant::create(file("A.JPG")));
    PhotoPtr b = Photo::create(PhotoVariant::create(file("A.JPG")));
    std::unordered_set<PhotoPtr> set{a, b, a};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(a->primaryVariant(), a->primaryVariant());
    EXPECT_NE(a->primaryVariant(), b->primaryVariant());
    EXPECT_EQ(Photo::create(nullptr), nullptr);
}

TEST(Photo, BestVariantForRemotePreview)
{
    struct Case {
        QString primary;
        std::optional<uint64_t> previewSize; // none: no preview variant; 0: size unknown
        bool expectPreview;
    };
    const std::vector<Case> cases = {
        {"IMG_1.CR2", 1572864, true},
        {"IMG_1.cr2", 1572865, false},
        {"IMG_1.Cr2", 0, true},
        {"IMG_1.NEF", 50'000'000, true},
        {"IMG_1.CR2", std::nullopt, false},
    };
    for (const Case& c : cases) {
        auto primary = PhotoVariant::create(file(c.primary));
        auto preview = c.previewSize ? PhotoVariant::create(file("IMG_1.JPG", std::nullopt, *c.previewSize)) : nullptr;
        PhotoPtr photo = Photo::create(primary, preview);
        EXPECT_EQ(photo->bestVariantForRemotePreview(), c.expectPreview ? photo->previewVariant() : photo->primaryVariant())
            << c.primary.toStdString() << " " << c.previewSize.value_or(-1);
    }
}

// ---- Cache contents -----------------------------------------------------------------------------------------

class PhotoCacheTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QDateTime clock = QDateTime(QDate(2020, 1, 1), QTime(12, 0), QTimeZone::utc());
    std::shared_ptr<InProcessCamera> camera = std::make_shared<InProcessCamera>(QStringLiteral("CAM"));
    std::shared_ptr<InProcessStorage> storage = std::make_shared<InProcessStorage>(nullptr, camera);

    test::ScopedImageCache cache{root.path(), [this] { return clock; }};

    PhotoPtr photo(const QString& name, std::optional<QDateTime> date = std::nullopt, QString previewName = {})
    {
        auto item = file(name, date);
        item->setStorage(storage);
        std::shared_ptr<PhotoVariant> preview;
        if (!previewName.isEmpty()) {
            auto previewItem = file(previewName, date);
            previewItem->setStorage(storage);
            preview = PhotoVariant::create(previewItem);
        }
        return Photo::create(PhotoVariant::create(item), preview);
    }
    std::shared_ptr<InProcessFile> itemOf(const PhotoPtr& p, bool preview = false)
    {
        return std::static_pointer_cast<InProcessFile>((preview ? p->previewVariant() : p->primaryVariant())->remoteItem());
    }
    std::optional<QDateTime> lastSeen(const PhotoPtr& p)
    {
        const auto contents = PropertyList::readFile(*p->cacheDirectory() + "/Metadata.plist");
        if (!contents.hasValue())
            return std::nullopt;
        const QVariantMap map = contents.value().toMap();
        EXPECT_EQ(map.size(), 1);
        return map.value("LastSeen").toDateTime();
    }
};

TEST_F(PhotoCacheTest, LastSeenIsWrittenOnlyIfAskedOrPresent)
{
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    p->updateLastSeen(true);
    EXPECT_FALSE(QFileInfo::exists(*p->cacheDirectory())) << "only-if-exists on a missing record writes nothing";
    p->updateLastSeen(false);
    EXPECT_EQ(lastSeen(p), std::optional<QDateTime>(clock));
    clock = clock.addDays(3);
    p->updateLastSeen(true);
    EXPECT_EQ(lastSeen(p), std::optional<QDateTime>(clock));
}

TEST_F(PhotoCacheTest, ThumbnailLoadStoresTheDeliveryAndRefreshesLastSeen)
{
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    EXPECT_FALSE(p->thumbnailIsAvailable());
    EXPECT_FALSE(p->thumbnail());
    std::atomic<int> completions = 0;
    PhotoPtr completed;
    std::atomic<bool> storedOnDeliveryQueue = false;
    p->loadThumbnail([](const PhotoPtr&) { return true; }, [&](const PhotoPtr& done) {
        completed = done;
        // The cache file is written where the camera delivers, never on the GUI thread.
        storedOnDeliveryQueue = VKLLibrary::deliveryQueue()->isCurrent() && !DispatchQueue::isMainThread();
        ++completions;
    });
    ASSERT_TRUE(test::runUntil([&] { return completions == 1; }));
    EXPECT_EQ(completed, p);
    EXPECT_TRUE(storedOnDeliveryQueue);
    QFile stored(*p->cachedThumbnailLocation());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), QByteArray("thumbnail"));
    EXPECT_TRUE(p->thumbnailIsAvailable());
    EXPECT_EQ(lastSeen(p), std::optional<QDateTime>(clock));

    // Reading it from disk keeps one image reference and refreshes "LastSeen".
    clock = clock.addSecs(60);
    const auto image = p->thumbnail();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->fileLocation(), *p->cachedThumbnailLocation());
    EXPECT_EQ(p->thumbnail(), image);
    EXPECT_EQ(lastSeen(p), std::optional<QDateTime>(clock));

    // The camera is asked again even though the file exists.
    p->loadThumbnail({}, [&](const PhotoPtr&) { ++completions; });
    ASSERT_TRUE(test::runUntil([&] { return completions == 2; }));
    EXPECT_EQ(itemOf(p)->options()->log->requests, (QStringList{"thumb:IMG_0001.JPG", "thumb:IMG_0001.JPG"}));
}

TEST_F(PhotoCacheTest, PreviewLoadCompletesAtOnceWhenCachedAndUsesTheBestVariant)
{
    PhotoPtr p = photo("IMG_0001.NEF", clock, "IMG_0001.JPG");
    std::atomic<int> completions = 0;
    p->loadPreview({}, [&](const PhotoPtr&) { ++completions; });
    ASSERT_TRUE(test::runUntil([&] { return completions == 1; }));
    EXPECT_TRUE(p->previewIsAvailable());

    EXPECT_EQ(itemOf(p, true)->options()->log->requests, QStringList{"preview:IMG_0001.JPG"});
    p->loadPreview({}, [&](const PhotoPtr&) { ++completions; });
    EXPECT_EQ(completions, 2) << "a cached preview completes before loadPreview returns";
    EXPECT_EQ(itemOf(p, true)->options()->log->requests.size(), 1);
}

// Mended: a failed, empty or missing delivery is never stored, so it cannot become a cache hit.
TEST_F(PhotoCacheTest, OnlyAnErrorFreeDeliveryIsStored)
{
    struct Case {
        const char* title;
        InProcessFile::Delivery delivery;
        bool stored;
        std::optional<int> errorCode; // what the caller is told
    };
    const std::vector<Case> cases = {
        {"error with partial data", {errorWithVKLErrorCode(VKLErrorConnectionLost), QByteArray("partial")}, false,
         VKLErrorConnectionLost},
        {"no data", {std::nullopt, std::nullopt}, false, ImageCacheErrorEmptyDelivery},
        {"empty data", {std::nullopt, QByteArray()}, false, ImageCacheErrorEmptyDelivery},
        {"data", {std::nullopt, QByteArray("jpeg")}, true, std::nullopt},
    };
    int index = 0;
    for (const Case& c : cases) {
        PhotoPtr p = photo(QStringLiteral("IMG_%1.JPG").arg(++index), clock);
        itemOf(p)->setPreview(c.delivery);
        itemOf(p)->setThumbnail(c.delivery);
        std::mutex mutex;
        std::vector<std::optional<int>> errors;
        const auto record = [&](const Photo::LoadResult& result) {
            std::lock_guard lock(mutex);
            errors.push_back(result.error ? std::optional<int>(result.error->code) : std::nullopt);
        };
        p->loadPreview({}, record);
        p->loadThumbnail({}, record);
        ASSERT_TRUE(test::runUntil([&] { std::lock_guard lock(mutex); return errors.size() == 2; })) << c.title;
        EXPECT_EQ(errors, (std::vector<std::optional<int>>{c.errorCode, c.errorCode})) << c.title;
        EXPECT_EQ(p->previewIsAvailable(), c.stored) << c.title;
        EXPECT_EQ(p->thumbnailIsAvailable(), c.stored) << c.title;
        // No temporary file is left behind either way.
        const QStringList leftovers = QDir(*p->cacheDirectory()).entryList(QDir::Files | QDir::Hidden);
        for (const QString& name : leftovers)
            EXPECT_TRUE(name == "Preview.jpg" || name == "Thumbnail.jpg" || name == "Metadata.plist" || name == "Source.txt")
                << c.title << ": " << name.toStdString();
    }

    // The preview sheet's own store step follows the same rule.
    PhotoPtr p = photo("IMG_9.JPG", clock);
    std::atomic<int> completions = 0;
    p->storePreviewData(errorWithVKLErrorCode(VKLErrorReadFailed), QByteArray("x"), [&](const PhotoPtr&) { ++completions; });
    EXPECT_FALSE(p->previewIsAvailable());
    p->storePreviewData(std::nullopt, QByteArray("x"), [&](const PhotoPtr&) { ++completions; });
    EXPECT_TRUE(p->previewIsAvailable());
    EXPECT_EQ(completions, 2);
}

TEST_F(PhotoCacheTest, AFailedCacheWriteIsReportedNotPassedOffAsStored)
{
    // A file stands where the photo's cache folder would go, so neither the folder nor the image can be made.
    QFile blocker(root.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    p->setCacheDirectory(blocker.fileName() + QStringLiteral("/IMG_0001.cached"));

    std::optional<Error> error;
    std::atomic<bool> done = false;
    p->loadThumbnail({}, [&](const Photo::LoadResult& result) {
        EXPECT_EQ(result.photo, p);
        error = result.error;
        done = true;
    });
    ASSERT_TRUE(test::runUntil([&] { return done.load(); }));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, imageCacheErrorDomain());
    EXPECT_EQ(error->code, ImageCacheErrorFolderNotCreated);
    EXPECT_FALSE(p->thumbnailIsAvailable());

    // The folder exists but a folder stands where the image file goes: the write itself fails.
    PhotoPtr q = photo("IMG_0002.JPG", clock);
    ASSERT_TRUE(QDir().mkpath(*q->cachedPreviewImageLocation()));
    std::optional<Error> writeError;
    q->storePreviewData(std::nullopt, QByteArray("jpeg"), [&](const Photo::LoadResult& result) { writeError = result.error; });
    ASSERT_TRUE(writeError);
    EXPECT_EQ(writeError->code, ImageCacheErrorWriteFailed);
}

TEST_F(PhotoCacheTest, PreflightDeclinesAndReleasedPhotosGetNoCompletion)
{
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    const QString location = *p->cachedThumbnailLocation();
    std::atomic<int> completions = 0;
    p->loadThumbnail([](const PhotoPtr&) { return false; }, [&](const PhotoPtr&) { ++completions; });
    test::runFor(std::chrono::milliseconds(20));
    EXPECT_EQ(completions, 0);

    // The delivery holds the photo weakly; with no preflight holding it either, releasing it drops the write.
    // The delivery queue is held until the photo is gone, so the release comes first whatever the timing.
    const QueuePtr deliveries = VKLLibrary::deliveryQueue();
    std::promise<void> release;
    deliveries->async([gate = release.get_future().share()] { gate.wait(); });
    PhotoPtr q = photo("IMG_0002.JPG", clock);
    const QString other = *q->cachedThumbnailLocation();
    q->loadThumbnail({}, [&](const PhotoPtr&) { ++completions; });
    q.reset();
    release.set_value();
    // The request asks its preflight, then posts the delivery behind it: two turns of the queue.
    for (int turn = 0; turn < 2; ++turn) {
        std::atomic<bool> reached = false;
        deliveries->async([&] { reached = true; });
        ASSERT_TRUE(test::runUntil([&] { return reached.load(); }));
    }
    EXPECT_FALSE(QFileInfo::exists(location));
    EXPECT_FALSE(QFileInfo::exists(other));
    EXPECT_EQ(completions, 0);
}

TEST_F(PhotoCacheTest, NoCacheFolderMeansNothingIsWrittenButLoadsComplete)
{
    Photo::setImageCachesDirectory(std::nullopt);
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    EXPECT_FALSE(p->cacheDirectory());
    EXPECT_FALSE(p->cachedThumbnailLocation());
    EXPECT_FALSE(p->cachedPreviewImageLocation());
    EXPECT_FALSE(p->thumbnailIsAvailable());
    EXPECT_FALSE(p->previewIsAvailable());
    EXPECT_FALSE(p->thumbnail());
    p->updateLastSeen(false);
    std::atomic<int> completions = 0;
    p->loadThumbnail({}, [&](const PhotoPtr&) { ++completions; });
    p->loadPreview({}, [&](const PhotoPtr&) { ++completions; });
    ASSERT_TRUE(test::runUntil([&] { return completions == 2; }));
    EXPECT_TRUE(QDir(root.path()).isEmpty());
}

// Mended: a FIFO named like the folder's source record blocked the first look at the folder for ever.
TEST_F(PhotoCacheTest, ASourceRecordThatIsNotARegularFileIsIgnored)
{
    const QString folder = root.filePath("CAM/FIFO_0001-20200101-120000.cached");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/Source.txt").constData(), 0600), 0);
    PhotoPtr p = photo("FIFO_0001.JPG", clock);
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    // Off the test's thread, so a regression fails at the deadline instead of hanging the suite.
    DispatchQueue::global()->async([p, claimed] {
        p->cacheDirectory();
        *claimed = true;
    });
    ASSERT_TRUE(test::runUntil([&] { return claimed->load(); }));
    EXPECT_EQ(p->cacheDirectory(), std::optional<QString>(folder));
}

// Mended: a thumbnail delivered as TIFF was cached as "Thumbnail.jpg", which then never decoded.
TEST_F(PhotoCacheTest, ImagesInOtherFormatsAreCachedAsJpegAndBrokenOnesNotAtAll)
{
    QImage red(24, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    const auto encoded = [&red](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(red.save(&buffer, format)) << format;
        return bytes;
    };
    const QByteArray tiff = encoded("TIFF");
    const struct {
        const char* title;
        QByteArray delivered;
        bool stored;
    } cases[] = {
        {"TIFF", tiff, true},
        {"PNG", encoded("PNG"), true},
        {"JPEG", encoded("JPEG"), true},
        {"TIFF cut short", tiff.left(12), false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        PhotoPtr p = photo(QStringLiteral("CONV_%1.DNG").arg(++index), clock);
        itemOf(p)->setThumbnail({std::nullopt, c.delivered});
        // The delivery and the cache write run on the camera's delivery queue.
        std::atomic<int> completions = 0;
        std::optional<int> errorCode;
        p->loadThumbnail({}, [&](const Photo::LoadResult& result) {
            if (result.error)
                errorCode = result.error->code;
            ++completions;
        });
        ASSERT_TRUE(test::runUntil([&] { return completions == 1; }));
        EXPECT_EQ(p->thumbnailIsAvailable(), c.stored);
        EXPECT_EQ(errorCode, c.stored ? std::nullopt : std::optional<int>(ImageCacheErrorUndecodable));
        if (!c.stored)
            continue;
        QFile stored(*p->cachedThumbnailLocation());
        ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
        const QByteArray bytes = stored.readAll();
        EXPECT_TRUE(bytes.startsWith("\xff\xd8\xff"));
        EXPECT_EQ(QImage::fromData(bytes, "JPEG").size(), QSize(24, 16));
        ASSERT_TRUE(p->thumbnail());
        EXPECT_FALSE(p->thumbnail()->image().isNull());
    }
}

// Mended: a link put in place of a cache file or of a photo's cache folder made the cache write over, and read,
// whatever it pointed to (run as root, /etc/passwd).
TEST_F(PhotoCacheTest, LinksInTheCacheAreNeitherWrittenThroughNorRead)
{
    QImage green(8, 8, QImage::Format_RGB32);
    green.fill(Qt::green);
    QByteArray decoy;
    QBuffer buffer(&decoy);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(green.save(&buffer, "JPEG"));
    const QStringList names{"Metadata.plist", "Thumbnail.jpg", "Preview.jpg", "Source.txt"};

    const struct {
        const char* title;
        QString linked; // a file in the photo's cache folder, or empty for the folder itself
    } cases[] = {
        {"link at the record", "Metadata.plist"},
        {"link at the thumbnail", "Thumbnail.jpg"},
        {"link at the preview", "Preview.jpg"},
        {"link at the source record", "Source.txt"},
        {"link at the photo's folder", {}},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const QString name = QStringLiteral("LINK_%1.JPG").arg(++index);
        const QString folder = *photo(name, clock)->cacheDirectory();
        Photo::forgetCacheFolderClaims();
        QTemporaryDir outside;
        for (const QString& decoyName : names) {
            QFile target(outside.filePath(decoyName));
            ASSERT_TRUE(target.open(QIODevice::WriteOnly));
            target.write(decoy);
        }
        if (c.linked.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).path()));
            ASSERT_TRUE(QFile::link(outside.path(), folder));
        } else {
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_TRUE(QFile::link(outside.filePath(c.linked), folder + QLatin1Char('/') + c.linked));
        }

        PhotoPtr p = photo(name, clock);
        EXPECT_EQ(p->cacheDirectory(), std::optional<QString>(folder)) << "the source record was read through the link";
        EXPECT_FALSE(p->thumbnailIsAvailable());
        EXPECT_FALSE(p->previewIsAvailable());
        EXPECT_FALSE(p->thumbnail());
        EXPECT_FALSE(p->cachedPreviewData());

        std::atomic<int> completions = 0;
        p->loadThumbnail({}, [&](const PhotoPtr&) { ++completions; });
        p->loadPreview({}, [&](const PhotoPtr&) { ++completions; });
        ASSERT_TRUE(test::runUntil([&] { return completions == 2; }));
        p->updateLastSeen(false);

        for (const QString& decoyName : names) {
            QFile target(outside.filePath(decoyName));
            ASSERT_TRUE(target.open(QIODevice::ReadOnly));
            EXPECT_EQ(target.readAll(), decoy) << decoyName.toStdString() << " was written through the link";
        }
        EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden).size(), names.size());
        if (!c.linked.isEmpty()) {
            // The link itself was replaced by the cache's own file.
            const QFileInfo replaced(folder + QLatin1Char('/') + c.linked);
            EXPECT_FALSE(replaced.isSymLink());
            EXPECT_TRUE(replaced.isFile());
            EXPECT_TRUE(p->thumbnailIsAvailable());
        }
    }
}

TEST_F(PhotoCacheTest, AssignedLocationsAreKept)
{
    PhotoPtr p = photo("IMG_0001.JPG", clock);
    p->setCachedPreviewImageLocation(std::nullopt);
    EXPECT_FALSE(p->cachedPreviewImageLocation()) << "an assigned none counts as computed";
    p->setCacheDirectory(root.filePath("elsewhere"));
    EXPECT_EQ(p->cacheDirectory(), std::optional<QString>(root.filePath("elsewhere")));
    EXPECT_EQ(p->cachedThumbnailLocation(), std::optional<QString>(root.filePath("elsewhere/Thumbnail.jpg")));
}

} // namespace
} // namespace vornakel
