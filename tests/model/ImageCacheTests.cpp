#include "model/ImageCache.h"
#include "model/Photo.h"
#include "model/RemoteItemLocations.h"
#include "support/InProcessCamera.h"
#include "support/ScopedImageCache.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/PropertyList.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <ctime>
#include <future>

namespace vornakel {
namespace {

const QDateTime kShot(QDate(2018, 3, 4), QTime(5, 6, 7), QTimeZone::utc());

class ImageCacheTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    std::vector<std::shared_ptr<InProcessCamera>> cameras;

    test::ScopedImageCache cache{root.path()};

    PhotoPtr photo(const QString& name, std::optional<QDateTime> date, std::optional<QString> cameraIdentifier = QStringLiteral("X"),
                   const QString& folder = {})
    {
        auto item = std::make_shared<InProcessFile>(name, date);
        cameras.push_back(std::make_shared<InProcessCamera>(cameraIdentifier));
        auto storage = std::make_shared<InProcessStorage>(nullptr, cameras.back());
        item->setStorage(storage);
        storages.push_back(storage);
        if (!folder.isEmpty())
            RemoteItemLocations::record(item, folder);
        return Photo::create(PhotoVariant::create(item));
    }
    QString relative(const PhotoPtr& p) { return QDir(root.path()).relativeFilePath(*p->cacheDirectory()); }

private:
    std::vector<std::shared_ptr<InProcessStorage>> storages;
};

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had;
};

TEST_F(ImageCacheTest, FolderNamesUseUtcWhateverTheLocalTimeZone)
{
    EXPECT_EQ(*Photo::imageCachesDirectory(), root.path());
    const std::optional<QString> standard = ImageCache::standardRoot();
    ASSERT_TRUE(standard);
    EXPECT_TRUE(standard->endsWith("/com.vornakel.zediriri-zir/Cached Images"));

    for (const char* zone : {"Pacific/Auckland", "America/Los_Angeles"}) {
        ScopedTimeZone scoped(zone);
        // The same instant, expressed in the local zone.
        const QDateTime local = QDateTime::fromSecsSinceEpoch(kShot.toSecsSinceEpoch());
        ASSERT_NE(local.offsetFromUtc(), 0) << zone;
        EXPECT_EQ(relative(photo(QStringLiteral("IMG_0001.CR2"), local)), "X/IMG_0001-20180304-050607.cached") << zone;
    }
    EXPECT_EQ(relative(photo("IMG_0002.JPG", std::nullopt)), "X/IMG_0002.cached");
    EXPECT_EQ(relative(photo("IMG_0003.JPG", QDateTime(QDate(987, 1, 2), QTime(3, 4, 5), QTimeZone::utc()))),
              "X/IMG_0003-9870102-030405.cached");
    EXPECT_EQ(relative(photo("IMG_0004.JPG", kShot, std::nullopt)), "Unknown Camera/IMG_0004-20180304-050607.cached");
    EXPECT_EQ(*photo("IMG_0005.JPG", kShot)->cachedPreviewImageLocation(),
              root.path() + "/X/IMG_0005-20180304-050607.cached/Preview.jpg");
}

// Mended: camera-supplied texts cannot leave the cache folder, hide a folder from the purge, or pass for a
// photo folder.
TEST_F(ImageCacheTest, CameraTextsAreSanitizedIntoOneSafeComponent)
{
    struct Case {
        QString text;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"Kestrel Optics K5", "Kestrel Optics K5"},
        {"IMG_0001", "IMG_0001"},
        {"..", "_"},
        {"../../etc", "_.\u2215..\u2215etc"},
        {"a/b", "a\u2215b"},
        {".hidden", "_hidden"},
        {QString::fromUtf8("nul\0byte", 8), "nul_byte"},
        {"line\nbreak", "line_break"},
        {"Cam.cached", "Cam.cached_"},
        {"", "fallback"},
        {"/", "\u2215"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageCache::folderNameComponent(c.text, "fallback"), c.expected) << c.text.toStdString();
    const QString longName(400, QChar(0x00e9)); // two UTF-8 bytes each
    EXPECT_LE(ImageCache::folderNameComponent(longName, "f").toUtf8().size(), 180);

    for (const QString& identifier : {QStringLiteral(".."), QStringLiteral("../.."), QStringLiteral("/abs"), QStringLiteral(".")}) {
        PhotoPtr p = photo(QStringLiteral("../../../x.JPG"), kShot, identifier);
        const QString path = *p->cacheDirectory();
        EXPECT_TRUE(path.startsWith(root.path() + "/")) << path.toStdString();
        const QStringList parts = relative(p).split('/');
        ASSERT_EQ(parts.size(), 2) << path.toStdString();
        for (const QString& part : parts)
            EXPECT_FALSE(part.startsWith('.')) << path.toStdString();
        EXPECT_TRUE(parts[1].endsWith(".cached"));
        p->updateLastSeen(false);
        EXPECT_TRUE(QFileInfo(path + "/Metadata.plist").isFile());
    }
    EXPECT_EQ(relative(photo("IMG_0001.JPG", kShot, QStringLiteral("Cam.cached"))), "Cam.cached_/IMG_0001-20180304-050607.cached");
}

// Mended: two photos never share a folder; the first keeps the documented name, and which one that is stays
// the same across runs (the folder records its file).
TEST_F(ImageCacheTest, DistinctPhotosNeverShareAFolder)
{
    struct Case {
        const char* title;
        QString firstName, firstFolder;
        QString secondName, secondFolder;
        std::optional<QDateTime> date;
    };
    const std::vector<Case> cases = {
        {"undated, same name, two folders", "IMG_0001.JPG", "/s0/DCIM/100", "IMG_0001.JPG", "/s0/DCIM/101", std::nullopt},
        {"same second, two folders", "IMG_0002.JPG", "/s0/DCIM/100", "IMG_0002.JPG", "/s0/DCIM/101", kShot},
        {"unpaired RAW and JPEG of one second", "IMG_0003.CR2", "/s0/DCIM/100", "IMG_0003.JPG", "/s0/DCIM/100", kShot},
    };
    for (const Case& c : cases) {
        PhotoPtr first = photo(c.firstName, c.date, QStringLiteral("X"), c.firstFolder);
        PhotoPtr second = photo(c.secondName, c.date, QStringLiteral("X"), c.secondFolder);
        EXPECT_EQ(*first->cacheDirectory(),
                  root.path() + "/X/" + ImageCache::photoFolderName(first->displayName(), c.date)) << c.title;
        EXPECT_NE(*first->cacheDirectory(), *second->cacheDirectory()) << c.title;
        // The same file again (a reconnection) finds its folder again.
        EXPECT_EQ(*photo(c.secondName, c.date, QStringLiteral("X"), c.secondFolder)->cacheDirectory(), *second->cacheDirectory())
            << c.title;
    }
}

TEST_F(ImageCacheTest, FolderOwnershipSurvivesARestartInAnyOrder)
{
    const auto store = [](const PhotoPtr& p, const QByteArray& data) {
        p->storePreviewData(std::nullopt, data, {});
    };
    {
        PhotoPtr a = photo("IMG_0001.JPG", std::nullopt, QStringLiteral("Y"), "/s0/100");
        PhotoPtr b = photo("IMG_0001.JPG", std::nullopt, QStringLiteral("Y"), "/s0/101");
        store(a, "a");
        store(b, "b");
    }
    Photo::forgetCacheFolderClaims(); // as after a restart
    PhotoPtr b = photo("IMG_0001.JPG", std::nullopt, QStringLiteral("Y"), "/s0/101");
    PhotoPtr a = photo("IMG_0001.JPG", std::nullopt, QStringLiteral("Y"), "/s0/100");
    ASSERT_TRUE(b->previewIsAvailable());
    QFile bPreview(*b->cachedPreviewImageLocation());
    ASSERT_TRUE(bPreview.open(QIODevice::ReadOnly));
    EXPECT_EQ(bPreview.readAll(), QByteArray("b"));
    EXPECT_EQ(relative(a), "Y/IMG_0001.cached");
}

// ---- Purge --------------------------------------------------------------------------------------------------

class PurgeTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QTemporaryDir outside;
    const QDateTime now = QDateTime(QDate(2024, 6, 1), QTime(12, 0), QTimeZone::utc());

    QString folder(const QString& path)
    {
        const QString full = root.filePath(path);
        QDir().mkpath(full);
        return full;
    }
    QString cacheFolder(const QString& path, const QVariant& record)
    {
        const QString full = folder(path);
        EXPECT_FALSE(PropertyList::writeBinaryFile(record, full + "/Metadata.plist"));
        QFile thumbnail(full + "/Thumbnail.jpg");
        EXPECT_TRUE(thumbnail.open(QIODevice::WriteOnly));
        return full;
    }
    QVariant lastSeen(qint64 secondsAgo) { return QVariantMap{{"LastSeen", now.addSecs(-secondsAgo)}}; }
};

TEST_F(PurgeTest, RemovesOnlyFoldersSeenMoreThanThirtyDaysAgo)
{
    const qint64 limit = ImageCache::kMaximumAgeSeconds;
    struct Case {
        QString path;
        bool removed;
    };
    std::vector<Case> cases;
    const auto add = [&](const QString& path, const QVariant& record, bool removed) {
        cacheFolder(path, record);
        cases.push_back({path, removed});
    };
    add("CAM/old-by-one.cached", lastSeen(limit + 1), true);
    add("CAM/exactly-thirty.cached", lastSeen(limit), false);
    add("CAM/recent.cached", lastSeen(60), false);
    add("CAM/future.cached", lastSeen(-limit * 3), false);
    add("CAM/string-date.cached", QVariantMap{{"LastSeen", QStringLiteral("2001-01-01")}}, false);
    add("CAM/no-key.cached", QVariantMap{{"Other", now.addYears(-3)}}, false);
    add("CAM/array.cached", QVariantList{now.addYears(-3)}, false);
    add("CAM/Upper.Cached/inner.cached", lastSeen(limit * 2), true); // other case: descended into, not judged
    add("CAM/.hidden.cached", lastSeen(limit * 2), false);
    add("CAM/kept.cached/nested.cached", lastSeen(limit * 2), false); // inside a photo folder: never looked at
    cacheFolder("CAM/kept.cached", lastSeen(5));
    add("Other Camera/deeper/level/old.cached", lastSeen(limit * 2), true);
    const QString noRecord = folder("CAM/no-record.cached");
    QFile corrupt(folder("CAM/corrupt.cached") + "/Metadata.plist");
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write("not a property list");
    corrupt.close();

    EXPECT_EQ(ImageCache::purgeOutOfDateThumbnailsAndPreviews(root.path(), now), 3);
    for (const Case& c : cases)
        EXPECT_EQ(QFileInfo::exists(root.filePath(c.path)), !c.removed) << c.path.toStdString();
    EXPECT_TRUE(QFileInfo::exists(noRecord));
    EXPECT_TRUE(QFileInfo::exists(root.filePath("CAM/corrupt.cached")));
    EXPECT_TRUE(QFileInfo::exists(root.filePath("CAM/Upper.Cached")));
    EXPECT_EQ(ImageCache::purgeOutOfDateThumbnailsAndPreviews(std::nullopt, now), 0);
}

// The start-up purge reads every cached photo's record: it runs on a background thread, so the window never
// waits for it, and a quit's stop flag ends it early.
TEST_F(PurgeTest, RunsOffTheGuiThreadAndStopsWhenAsked)
{
    const qint64 old = ImageCache::kMaximumAgeSeconds * 2;
    cacheFolder("CAM/first.cached", lastSeen(old));
    cacheFolder("CAM/second.cached", lastSeen(old));
    struct Outcome {
        int removed = -1;
        bool onMainThread = true;
    };
    const auto purge = [this](const std::shared_ptr<std::atomic<bool>>& stop) {
        auto finished = std::make_shared<std::promise<Outcome>>();
        std::future<Outcome> outcome = finished->get_future();
        ImageCache::purgeOutOfDateThumbnailsAndPreviewsInBackground(root.path(), now, stop, [finished](int removed) {
            finished->set_value({removed, DispatchQueue::isMainThread()});
        });
        // The GUI thread runs no event loop meanwhile: a purge that needed it would never end.
        EXPECT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        return outcome.get();
    };
    const Outcome purged = purge(std::make_shared<std::atomic<bool>>(false));
    EXPECT_EQ(purged.removed, 2);
    EXPECT_FALSE(purged.onMainThread);
    EXPECT_FALSE(QFileInfo::exists(root.filePath("CAM/first.cached")));

    cacheFolder("CAM/third.cached", lastSeen(old));
    const Outcome stopped = purge(std::make_shared<std::atomic<bool>>(true));
    EXPECT_EQ(stopped.removed, 0);
    EXPECT_TRUE(QFileInfo::exists(root.filePath("CAM/third.cached")));
}

// Mended: the purge never follows a link out of the cache and removes nothing outside it.
TEST_F(PurgeTest, NeverFollowsSymbolicLinksOutOfTheRoot)
{
    // An out-of-date "photo folder" outside the cache, reached through links of both kinds.
    const QString victim = outside.filePath("victim.cached");
    QDir().mkpath(victim);
    ASSERT_FALSE(PropertyList::writeBinaryFile(lastSeen(ImageCache::kMaximumAgeSeconds * 2), victim + "/Metadata.plist"));
    QFile precious(outside.filePath("precious.txt"));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();

    folder("CAM");
    ASSERT_TRUE(QFile::link(victim, root.filePath("CAM/link.cached")));
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath("CAM/linked-camera")));
    const QString old = cacheFolder("CAM/old.cached", lastSeen(ImageCache::kMaximumAgeSeconds * 2));
    ASSERT_TRUE(QFile::link(outside.path(), old + "/escape"));

    EXPECT_EQ(ImageCache::purgeOutOfDateThumbnailsAndPreviews(root.path(), now), 1);
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_TRUE(QFileInfo(victim + "/Metadata.plist").isFile());
    EXPECT_TRUE(QFileInfo(outside.filePath("precious.txt")).isFile());
    EXPECT_TRUE(QFileInfo(root.filePath("CAM/link.cached")).isSymLink());
}

// The purge and the cache agree on the layout: what Photo writes, the purge reads.
TEST_F(PurgeTest, PurgesWhatPhotoWrote)
{
    QDateTime clock = now.addSecs(-ImageCache::kMaximumAgeSeconds - 1);
    const test::ScopedImageCache cache(root.path(), [&] { return clock; });
    auto item = std::make_shared<InProcessFile>(QStringLiteral("IMG_0001.JPG"), now);
    PhotoPtr p = Photo::create(PhotoVariant::create(item));
    p->storePreviewData(std::nullopt, QByteArray("jpeg"), {});
    ASSERT_TRUE(p->previewIsAvailable());
    clock = now;
    EXPECT_EQ(ImageCache::purgeOutOfDateThumbnailsAndPreviews(), 1);
    EXPECT_FALSE(p->previewIsAvailable());
}

} // namespace
} // namespace vornakel
