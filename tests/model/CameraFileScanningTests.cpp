#include "model/CameraFileScanning.h"
#include "model/CameraPhotoLoad.h"
#include "support/InProcessCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <set>

namespace vornakel {
namespace {

using Items = CameraFileScanning::Items;

QDateTime at(int seconds) { return QDateTime(QDate(2018, 3, 4), QTime(5, 6, 7), QTimeZone::utc()).addSecs(seconds); }

QStringList namesOf(const Items& items)
{
    QStringList names;
    for (const auto& item : items)
        names << item->name().value_or(QStringLiteral("<none>"));
    return names;
}

struct ScanResult {
    bool called = false;
    std::optional<Items> items;
    std::optional<CameraFileScanning::ScanError> error;
};

// ---- Scan ---------------------------------------------------------------------------------------------------

class ScanTest : public ::testing::TestWithParam<bool> {
protected:
    std::shared_ptr<InProcessCameraOptions> options = std::make_shared<InProcessCameraOptions>();
    std::shared_ptr<InProcessCamera> camera = std::make_shared<InProcessCamera>();

    void SetUp() override { options->synchronous = GetParam(); }

    std::shared_ptr<InProcessFolder> addStorage(const QString& rootName)
    {
        auto root = std::make_shared<InProcessFolder>(rootName, options);
        camera->addStorage(std::make_shared<InProcessStorage>(root));
        return root;
    }

    ScanResult scan(CameraFileScanning& scanner, CameraFileScanning::Filter filter = {})
    {
        auto result = std::make_shared<ScanResult>();
        scanner.scan(camera, std::move(filter), [result](std::optional<Items> items, std::optional<CameraFileScanning::ScanError> error) {
            EXPECT_FALSE(result->called) << "completion called twice";
            result->called = true;
            result->items = std::move(items);
            result->error = std::move(error);
        });
        EXPECT_TRUE(test::runUntil([&] { return result->called; }));
        return *result;
    }
};

TEST_P(ScanTest, WalksDepthFirstOneRequestAtATimeWithFilesBeforeSubfolders)
{
    auto first = addStorage(QStringLiteral("rootA"));
    auto dcim = first->addFolder(QStringLiteral("DCIM"));
    first->addFile(QStringLiteral("top.JPG"));
    auto a = dcim->addFolder(QStringLiteral("100A"));
    dcim->addFile(QStringLiteral("d1.JPG"));
    auto b = dcim->addFolder(QStringLiteral("101B"));
    a->addFile(QStringLiteral("a1.JPG"));
    a->addFolder(QStringLiteral("deep"))->addFile(QStringLiteral("deep1.JPG"));
    a->addFile(QStringLiteral("a2.CR2"));
    b->addFile(QStringLiteral("b1.JPG"));
    auto second = addStorage(QStringLiteral("rootB"));
    second->addFile(QStringLiteral("s1.JPG"));

    CameraFileScanning scanner;
    const ScanResult result = scan(scanner);
    ASSERT_TRUE(result.items);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(namesOf(*result.items), (QStringList{"top.JPG", "d1.JPG", "a1.JPG", "a2.CR2", "deep1.JPG", "b1.JPG", "s1.JPG"}));
    EXPECT_EQ(options->log->requests,
              (QStringList{"list:rootA", "list:DCIM", "list:100A", "list:deep", "list:101B", "list:rootB"}));
    EXPECT_EQ(options->log->maxOutstanding, 1);
}

TEST_P(ScanTest, FilterSeesOnlyFilesAndMayRejectAll)
{
    auto root = addStorage(QStringLiteral("root"));
    root->addFile(QStringLiteral("a.JPG"));
    root->addFolder(QStringLiteral("sub"))->addFile(QStringLiteral("b.MOV"));
    root->addFolder(QStringLiteral("absent"))->setChildrenAbsent(true);

    CameraFileScanning scanner;
    QStringList asked;
    ScanResult result = scan(scanner, [&](const CameraFileScanning::ItemPtr& item) {
        asked << *item->name();
        return item->name()->endsWith(QLatin1String(".JPG"));
    });
    ASSERT_TRUE(result.items);
    EXPECT_EQ(namesOf(*result.items), QStringList{"a.JPG"});
    EXPECT_EQ(asked, (QStringList{"a.JPG", "b.MOV"}));

    CameraFileScanning rejecting;
    result = scan(rejecting, [](const CameraFileScanning::ItemPtr&) { return false; });
    ASSERT_TRUE(result.items);
    EXPECT_TRUE(result.items->empty());
    EXPECT_FALSE(result.error);
}

TEST_P(ScanTest, ListingErrorDiscardsEverythingAndStopsTheWalk)
{
    auto root = addStorage(QStringLiteral("root"));
    root->addFile(QStringLiteral("a.JPG"));
    root->addFolder(QStringLiteral("bad"))->setListingError(true);
    root->addFolder(QStringLiteral("after"));
    addStorage(QStringLiteral("second"));

    CameraFileScanning scanner;
    const ScanResult result = scan(scanner);
    EXPECT_FALSE(result.items);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->kind, CameraFileScanning::ScanError::Kind::cameraError);
    ASSERT_TRUE(result.error->cameraError);
    EXPECT_EQ(result.error->cameraError->code, int(VKLErrorListingFailed));
    EXPECT_EQ(options->log->requests, (QStringList{"list:root", "list:bad"}));
}

// A load that walks the camera itself shows each folder's photos before the next folder is listed, newest
// folder first, so a large card's first photos (and their thumbnails) do not wait for the whole walk; a folder
// that cannot be listed ends the load with the photos found before it.
TEST_P(ScanTest, AWalkingLoadShowsEachFolderBeforeTheNextIsListed)
{
    for (const bool secondFails : {false, true}) {
        SCOPED_TRACE(secondFails ? "the second folder cannot be listed" : "both folders listed");
        camera = std::make_shared<InProcessCamera>();
        auto dcim = addStorage(QStringLiteral("card"))->addFolder(QStringLiteral("DCIM"));
        const QDateTime day(QDate(2026, 3, 1), QTime(10, 0));
        auto second = dcim->addFolder(QStringLiteral("100TEST"));
        auto first = dcim->addFolder(QStringLiteral("101TEST"));
        // The newest folder's files need their metadata loaded; the camera answers one request at a time.
        for (int i = 1; i <= 4; ++i)
            (i <= 2 ? second : first)->addFile(QStringLiteral("IMG_%1.JPG").arg(i), day.addSecs(i))->setLoaded(i <= 2);
        second->setListingError(secondFails);

        const auto load = CameraPhotoLoad::createWalking(camera);
        size_t shown = 0;
        std::optional<size_t> shownWhenSecondListed;
        options->log->onRequest = [&](const QString& request) {
            if (request == QLatin1String("list:100TEST"))
                shownWhenSecondListed = shown;
        };
        std::optional<bool> completed;
        QObject::connect(load.get(), &CameraPhotoLoad::photosChanged,
                         [&](const PhotoGrouping::Update& update) { shown += update.added.size() - update.removed.size(); });
        QObject::connect(load.get(), &CameraPhotoLoad::completed, [&](bool finished) { completed = finished; });
        load->start();
        ASSERT_TRUE(test::runUntil([&] { return completed.has_value(); }));
        ASSERT_TRUE(shownWhenSecondListed);
        EXPECT_EQ(*shownWhenSecondListed, 2u);
        const QStringList& requests = options->log->requests;
        EXPECT_LT(requests.lastIndexOf(QStringLiteral("meta:IMG_4.JPG")), requests.lastIndexOf(QStringLiteral("list:100TEST")))
            << "the shown folder's metadata does not wait behind the rest of the walk";
        EXPECT_LT(requests.indexOf(QStringLiteral("meta:IMG_4.JPG")), requests.indexOf(QStringLiteral("meta:IMG_3.JPG")))
            << "a folder's last (newest) file first, so its photos land below those shown before";
        EXPECT_EQ(shown, secondFails ? 2u : 4u);
        EXPECT_EQ(*completed, !secondFails);
        EXPECT_EQ(load->photoCount(), shown);
        options->log->onRequest = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(PostedAndSynchronous, ScanTest, ::testing::Bool());

TEST(ScanEarlyFailures, NoStorageListOrNoRootsFailAtOnceWithoutRequests)
{
    CameraFileScanning scanner;
    for (const bool absent : {true, false}) {
        auto camera = std::make_shared<InProcessCamera>();
        if (absent)
            camera->setStorageDevices(std::nullopt);
        std::optional<CameraFileScanning::ScanError> error;
        bool called = false;
        scanner.scan(camera, {}, [&](std::optional<Items> items, std::optional<CameraFileScanning::ScanError> e) {
            called = true;
            EXPECT_FALSE(items);
            error = e;
        });
        ASSERT_TRUE(called) << "reported before scan returns";
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, absent ? CameraFileScanning::ScanError::Kind::noStorageDevices
                                      : CameraFileScanning::ScanError::Kind::noRootFolders);
    }
}

TEST(ScanLifetime, ScannerDestroyedWhileListingOutstandingNeverCompletes)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    auto camera = std::make_shared<InProcessCamera>();
    auto root = std::make_shared<InProcessFolder>(QStringLiteral("root"), options);
    root->addFolder(QStringLiteral("sub"));
    camera->addStorage(std::make_shared<InProcessStorage>(root));
    bool called = false;
    auto scanner = std::make_unique<CameraFileScanning>();
    scanner->scan(camera, {}, [&](std::optional<Items>, std::optional<CameraFileScanning::ScanError>) { called = true; });
    scanner.reset();
    test::runUntil([&] { return options->log->outstanding == 0; });
    test::runFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(called);
    EXPECT_EQ(options->log->requests, QStringList{"list:root"});
}

// A camera answering inside the request, with a chain of 1,000 folders and 100,000 files in one folder, must
// not grow the call stack with the tree.
TEST(ScanScale, DeepChainAndHugeFolderWithSynchronousAnswers)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    options->synchronous = true;
    auto camera = std::make_shared<InProcessCamera>();
    auto root = std::make_shared<InProcessFolder>(QStringLiteral("root"), options);
    camera->addStorage(std::make_shared<InProcessStorage>(root));
    auto folder = root;
    for (int depth = 0; depth < 1000; ++depth)
        folder = folder->addFolder(QStringLiteral("d%1").arg(depth));
    folder->addFile(QStringLiteral("bottom.JPG"));
    auto wide = root->addFolder(QStringLiteral("wide"));
    wide->reserve(100000);
    for (int i = 0; i < 100000; ++i)
        wide->addFile(QStringLiteral("IMG_%1.JPG").arg(i));

    CameraFileScanning scanner;
    std::optional<Items> found;
    scanner.scan(camera, {}, [&](std::optional<Items> items, std::optional<CameraFileScanning::ScanError>) { found = std::move(items); });
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 100001u);
    EXPECT_EQ(*found->front()->name(), QStringLiteral("bottom.JPG"));
    EXPECT_EQ(options->log->requests.size(), 1002);
}

// ---- Grouping -----------------------------------------------------------------------------------------------

struct FileSpec {
    const char* name; // nullptr: an item without a name
    std::optional<int> secondsFromBase;
};

struct GroupingCase {
    const char* title;
    std::vector<FileSpec> files;
    // Each photo as "primary" or "primary+preview", sorted.
    std::vector<QString> photos;
};

Items makeFiles(const std::vector<FileSpec>& specs)
{
    Items items;
    for (const FileSpec& spec : specs) {
        std::optional<QDateTime> date;
        if (spec.secondsFromBase)
            date = at(*spec.secondsFromBase);
        items.push_back(std::make_shared<InProcessFile>(spec.name ? std::optional<QString>(QString::fromUtf8(spec.name)) : std::nullopt, date));
    }
    return items;
}

std::vector<QString> describe(const std::vector<PhotoPtr>& photos)
{
    std::vector<QString> result;
    for (const PhotoPtr& photo : photos) {
        QString text = photo->primaryVariant()->fileName();
        if (photo->previewVariant())
            text += QLatin1Char('+') + photo->previewVariant()->fileName();
        result.push_back(text);
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST(Grouping, TableOfCases)
{
    const std::vector<GroupingCase> cases = {
        {"pair 3 s apart", {{"IMG_0001.CR2", 3}, {"IMG_0001.JPG", 0}}, {"IMG_0001.CR2+IMG_0001.JPG"}},
        {"pair, jpeg listed first", {{"IMG_0001.JPG", 0}, {"IMG_0001.NEF", 9}}, {"IMG_0001.NEF+IMG_0001.JPG"}},
        {"exactly 10 s later", {{"IMG_0001.CR2", 10}, {"IMG_0001.JPG", 0}}, {"IMG_0001.CR2", "IMG_0001.JPG"}},
        {"exactly 10 s earlier", {{"IMG_0001.CR2", 0}, {"IMG_0001.JPG", 10}}, {"IMG_0001.CR2", "IMG_0001.JPG"}},
        {"9.x s is inside", {{"IMG_0001.CR2", -9}, {"IMG_0001.JPG", 0}}, {"IMG_0001.CR2+IMG_0001.JPG"}},
        {"case of names differs", {{"IMG_0001.CR2", 0}, {"img_0001.JPG", 0}}, {"IMG_0001.CR2", "img_0001.JPG"}},
        {"three files of one name", {{"IMG_0001.CR2", 0}, {"IMG_0001.JPG", 0}, {"IMG_0001.XMP", 0}},
         {"IMG_0001.CR2", "IMG_0001.JPG", "IMG_0001.XMP"}},
        {"two jpegs", {{"A.JPG", 0}, {"A.jpeg", 0}}, {"A.JPG", "A.jpeg"}},
        {"two raws", {{"A.CR2", 0}, {"A.NEF", 0}}, {"A.CR2", "A.NEF"}},
        {"raw undated", {{"A.CR2", std::nullopt}, {"A.JPG", 0}}, {"A.CR2", "A.JPG"}},
        {"jpeg undated", {{"A.CR2", 0}, {"A.JPG", std::nullopt}}, {"A.CR2", "A.JPG"}},
        {"nameless file takes no part", {{nullptr, 0}, {"A.CR2", 0}, {"A.JPG", 1}}, {"A.CR2+A.JPG"}},
        {"key drops only the last extension", {{"a.tar.gz", 0}, {"a.tar", 0}}, {"a.tar", "a.tar.gz"}},
    };
    for (const GroupingCase& c : cases) {
        const Items files = makeFiles(c.files);
        const std::vector<PhotoPtr> photos = CameraFileScanning::photos(files);
        EXPECT_EQ(describe(photos), c.photos) << c.title;
        for (const PhotoPtr& photo : photos) {
            EXPECT_EQ(photo->primaryVariant()->photo(), photo) << c.title;
            EXPECT_EQ(photo->primaryVariant()->type(), PhotoVariantType::original) << c.title;
            if (photo->previewVariant()) {
                EXPECT_EQ(photo->previewVariant()->type(), PhotoVariantType::preview) << c.title;
                EXPECT_EQ(photo->primaryVariant()->formatFamily(), PhotoFormatFamily::raw) << c.title;
            }
        }
        // The same files arriving one at a time end in the same photos.
        PhotoGrouping grouping;
        std::set<Photo*> live;
        for (const auto& file : files) {
            const PhotoGrouping::Update update = grouping.add({file});
            for (const PhotoPtr& removed : update.removed)
                EXPECT_EQ(live.erase(removed.get()), 1u) << c.title;
            for (const PhotoPtr& added : update.added)
                live.insert(added.get());
        }
        EXPECT_EQ(describe(grouping.photos()), c.photos) << c.title << " (one at a time)";
        EXPECT_EQ(live.size(), grouping.photoCount()) << c.title;
    }
}

// A RAW+JPEG pair whose files arrive in different chunks still becomes one photo, and the single photo
// shown for the first file is reported as replaced.
TEST(Grouping, PairAcrossChunksReplacesTheEarlierSinglePhoto)
{
    const Items files = makeFiles({{"IMG_1.CR2", 0}, {"IMG_2.JPG", 0}, {"IMG_1.JPG", 1}, {"IMG_1.XMP", 1}});
    PhotoGrouping grouping;
    PhotoGrouping::Update first = grouping.add({files[0], files[1]});
    EXPECT_EQ(describe(first.added), (std::vector<QString>{"IMG_1.CR2", "IMG_2.JPG"}));
    EXPECT_TRUE(first.removed.empty());

    PhotoGrouping::Update second = grouping.add({files[2]});
    EXPECT_EQ(describe(second.added), std::vector<QString>{"IMG_1.CR2+IMG_1.JPG"});
    EXPECT_EQ(describe(second.removed), std::vector<QString>{"IMG_1.CR2"});

    // A third file of the name splits the pair, as grouping the whole list would.
    PhotoGrouping::Update third = grouping.add({files[3]});
    EXPECT_EQ(describe(third.removed), std::vector<QString>{"IMG_1.CR2+IMG_1.JPG"});
    EXPECT_EQ(describe(third.added), (std::vector<QString>{"IMG_1.CR2", "IMG_1.JPG", "IMG_1.XMP"}));
    EXPECT_EQ(describe(grouping.photos()), describe(CameraFileScanning::photos(files)));
}

} // namespace
} // namespace vornakel
