#include "CopyTestSupport.h"

#include "copying/destinations/PhotosCopyDestination.h"
#include "platform/core/Strings.h"
#include "support/FakePhotoLibrary.h"

#include <QCoreApplication>
#include <QDirIterator>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

QDateTime march(int day) { return QDateTime(QDate(2026, 3, day), QTime(10, 0)); }

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

class PhotosDestinationTest : public ::testing::Test {
protected:
    PhotosDestinationTest()
    {
        library = std::make_shared<FakePhotoLibrary>();
        destination = PhotosCopyDestination::create(library, copy.defaults(), copy.presets(), cache.path());
    }

    // A photo whose RAW fails half-way while its JPEG copies.
    PhotoPtr photoWithFailingRaw(const QString& base)
    {
        InProcessFile::Stream failing;
        failing.chunkSize = 500;
        failing.errorAfterBytes = 700;
        auto raw = PhotoVariant::create(copy.file(base + QStringLiteral(".CR2"), 2000, march(2), failing));
        auto jpeg = PhotoVariant::create(copy.file(base + QStringLiteral(".JPG"), 1000, march(2)));
        return Photo::create(raw, jpeg);
    }

    std::shared_ptr<CopyRecord> copyPhotos(const std::vector<PhotoPtr>& photos)
    {
        auto queue = PhotoCopyQueue::create(photos, destination->copyQueueOptions());
        auto record = copy.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
        EXPECT_TRUE(runUntil([&] { return record->startedAnswer.has_value(); }));
        if (record->startedAnswer == true) {
            EXPECT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
        }
        lastQueue = queue;
        return record;
    }

    std::vector<QString> targets(const CopyRecord& record) const
    {
        std::vector<QString> paths;
        for (const auto& target : record.itemTargets)
            paths.push_back(target.value_or(QString()));
        return paths;
    }

    CopyFixture copy;
    QTemporaryDir cache;
    std::shared_ptr<FakePhotoLibrary> library;
    PhotosCopyDestination::Ptr destination;
    PhotoCopyQueue::Ptr lastQueue;
};

TEST_F(PhotosDestinationTest, ImportsRawAndJpegTogetherIntoTheAlbumMadeOncePerSessionAndClearsTheSessionFolder)
{
    const auto record = copyPhotos({copy.photo(QStringLiteral("IMG_0001.CR2"), 1000, march(2), QStringLiteral("IMG_0001.JPG")),
                                    copy.photo(QStringLiteral("IMG_0002.JPG"), 1000, march(3))});
    ASSERT_EQ(record->startedAnswer, true);
    const std::vector<QString> written = targets(*record);
    ASSERT_EQ(written.size(), 3u);
    // The session folder lies in the cache folder and is named by year/month/day below it.
    EXPECT_TRUE(written[0].startsWith(cache.path() + u'/')) << written[0].toStdString();
    EXPECT_TRUE(written[0].endsWith(QStringLiteral("/2026/03/02/IMG_0001.CR2"))) << written[0].toStdString();

    std::lock_guard lock(library->mutex);
    ASSERT_EQ(library->imports.size(), 2u);
    EXPECT_EQ(library->imports[0].files, (std::vector<QString>{written[0], written[1]}));
    EXPECT_EQ(library->imports[1].files, (std::vector<QString>{written[2]}));
    const QString albumName = GeneralUI::text(QStringLiteral("PhotosImportAlbumName"));
    EXPECT_EQ(library->albumRequests, std::vector<QString>{albumName});
    ASSERT_TRUE(library->imports[0].album);
    EXPECT_EQ(library->imports[0].album->name, albumName);
    EXPECT_EQ(library->imports[1].album, library->imports[0].album);
    // The library confirmed copies of its own, so nothing of the session is left.
    const QString sessionFolder = QFileInfo(written[0]).path().section(u'/', 0, -4);
    EXPECT_FALSE(QFileInfo::exists(sessionFolder)) << sessionFolder.toStdString();
    EXPECT_EQ(destination->lastSessionReport().notTakenIn, 0);
    EXPECT_TRUE(destination->lastSessionReport().message.isEmpty());
}

TEST_F(PhotosDestinationTest, TheAlbumIsLookedUpAgainInTheNextSessionButMadeOnlyOnce)
{
    copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2))});
    copyPhotos({copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    std::lock_guard lock(library->mutex);
    EXPECT_EQ(library->albumRequests.size(), 2u);
    EXPECT_EQ(library->albumsMade.size(), 1u);
}

TEST_F(PhotosDestinationTest, APhotoWithAFailedFileIsNotImportedItsGoodFileIsKeptAndReported)
{
    const auto record = copyPhotos({photoWithFailingRaw(QStringLiteral("IMG_0001")),
                                    copy.photo(QStringLiteral("IMG_0002.JPG"), 1000, march(2))});
    const std::vector<QString> written = targets(*record);
    ASSERT_EQ(written.size(), 3u);
    {
        std::lock_guard lock(library->mutex);
        ASSERT_EQ(library->imports.size(), 1u);
        EXPECT_EQ(library->imports[0].files, std::vector<QString>{written[2]});
    }
    const CopySessionReport& report = destination->lastSessionReport();
    EXPECT_EQ(report.notTakenIn, 1);
    ASSERT_TRUE(report.keptIn);
    EXPECT_TRUE(report.message.contains(*report.keptIn)) << report.message.toStdString();
    // The good JPEG of the failed photo is still there; the imported photo's copy went.
    EXPECT_EQ(filesUnder(*report.keptIn), QStringList{written[1]});
}

TEST_F(PhotosDestinationTest, ASessionFolderIsKeptUnlessTheLibraryIsKnownToKeepItsOwnCopies)
{
    const struct {
        const char* name;
        ReferencedImportSetting setting;
    } cases[] = {
        {"unreadable", Error(PhotoLibrary::errorDomain(), PhotoLibrary::SettingUnreadable)},
        {"missing", Error(PhotoLibrary::errorDomain(), PhotoLibrary::SettingMissing)},
    };
    int index = 0;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        {
            std::lock_guard lock(library->mutex);
            library->setting = each.setting;
        }
        const QString name = QStringLiteral("IMG_%1.JPG").arg(++index);
        const auto record = copyPhotos({copy.photo(name, 1000, march(2))});
        ASSERT_EQ(record->startedAnswer, true);
        const QString written = targets(*record).at(0);
        // The library may be one that refers to the file where it is: it must stay.
        EXPECT_TRUE(QFileInfo::exists(written)) << written.toStdString();
        EXPECT_TRUE(destination->lastSessionReport().keptIn);
        EXPECT_FALSE(destination->lastSessionReport().message.isEmpty());
        std::lock_guard lock(library->mutex);
        EXPECT_EQ(int(library->imports.size()), index);
    }
}

TEST_F(PhotosDestinationTest, ReferencedImportCopiesIntoTheChosenFolderAndRefusesWithoutOne)
{
    {
        std::lock_guard lock(library->mutex);
        library->setting = true;
    }
    destination->refreshReferencedImportSetting();
    ASSERT_TRUE(runUntil([&] { return destination->photosUsesReferencedImport(); }));
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());

    auto refused = copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2))});
    EXPECT_EQ(refused->startedAnswer, false);
    EXPECT_EQ(destination->refusalMessage(), GeneralUI::text(QStringLiteral("PhotosReferencedImportNeedsFolderMessage")));
    {
        std::lock_guard lock(library->mutex);
        EXPECT_TRUE(library->importRequests.empty());
    }

    destination->setReferencedImportCopyDestination(QUrl::fromLocalFile(copy.outPath()));
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    const auto record = copyPhotos({copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    const QString written = targets(*record).at(0);
    EXPECT_EQ(written, copy.outFile(QStringLiteral("2026/03/02/B.JPG")));
    // A folder the user chose is never cleaned up.
    EXPECT_TRUE(QFileInfo::exists(written));
    std::lock_guard lock(library->mutex);
    ASSERT_EQ(library->imports.size(), 1u);
    EXPECT_EQ(library->imports[0].files, std::vector<QString>{written});
}

TEST_F(PhotosDestinationTest, ALibraryThatRefusesAnImportOrTheAlbumLeavesFilesAndCountsOnlyRefusedPhotos)
{
    {
        std::lock_guard lock(library->mutex);
        library->albumError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::TimedOut);
        library->importError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::ImportFailed);
    }
    const auto record = copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2)),
                                    copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    {
        std::lock_guard lock(library->mutex);
        ASSERT_EQ(library->importRequests.size(), 2u);
        // No album could be had: the photos are offered without one.
        EXPECT_FALSE(library->importRequests[0].album);
    }
    EXPECT_EQ(destination->lastSessionReport().notTakenIn, 2);
    for (const auto& target : record->itemTargets)
        EXPECT_TRUE(QFileInfo::exists(*target));
}

TEST_F(PhotosDestinationTest, AllFilesSkippedImportsNothing)
{
    const auto photo = copy.photo(QStringLiteral("A.JPG"), 1000, march(2));
    copyPhotos({photo});
    // The same photo again, into a session folder of its own: nothing clashes, so skip needs the reference mode.
    {
        std::lock_guard lock(library->mutex);
        library->setting = true;
    }
    destination->setReferencedImportCopyDestination(QUrl::fromLocalFile(copy.outPath()));
    CopyFixture::write(copy.outFile(QStringLiteral("2026/03/02/A.JPG")), "already there");
    copyPhotos({photo});
    std::lock_guard lock(library->mutex);
    EXPECT_EQ(library->imports.size(), 1u);
}

// A library that takes requests and never answers them.
class SilentLibrary : public FakePhotoLibrary {
public:
    void findOrMakeAlbum(const QString& name, AlbumCompletion completion) override
    {
        albumRequests.push_back(name);
        pendingAlbums.push_back(std::move(completion));
    }
    void importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album, ImportCompletion completion) override
    {
        if (silentImports) {
            importRequests.push_back(Import{files, album});
            pendingImports.push_back(std::move(completion));
            return;
        }
        FakePhotoLibrary::importPhoto(files, album, std::move(completion));
    }
    bool silentImports = false;
    std::vector<AlbumCompletion> pendingAlbums;
    std::vector<ImportCompletion> pendingImports;
};

TEST_F(PhotosDestinationTest, ASilentLibraryHoldsTheCopyOnlyUntilItsTimeOut)
{
    for (const bool silentImports : {false, true}) {
        SCOPED_TRACE(silentImports ? "album and imports silent" : "album silent");
        auto silent = std::make_shared<SilentLibrary>();
        silent->silentImports = silentImports;
        destination = PhotosCopyDestination::create(silent, copy.defaults(), copy.presets(), cache.path());
        destination->setLibraryTimeout(200ms);
        const auto record = copyPhotos({copy.photo(QStringLiteral("A%1.JPG").arg(silentImports), 1000, march(2)),
                                        copy.photo(QStringLiteral("B%1.JPG").arg(silentImports), 1000, march(2))});
        ASSERT_EQ(record->queueFinished, 1);
        EXPECT_EQ(silent->albumRequests.size(), 1u);
        const auto& asked = silentImports ? silent->importRequests : silent->imports;
        ASSERT_EQ(asked.size(), 2u);
        // No album came in time: the photos went in without one.
        EXPECT_FALSE(asked[0].album);
        EXPECT_EQ(destination->lastSessionReport().notTakenIn, silentImports ? 2 : 0);
        // A late answer changes nothing.
        for (auto& completion : silent->pendingAlbums)
            completion(PhotoAlbum{QStringLiteral("late"), QStringLiteral("/late")});
    }
}

} // namespace

namespace {

TEST_F(PhotosDestinationTest, EveryPhotoGoesIntoTheAlbumWhenTheAlbumLookupAnswersLate)
{
    library->holdAlbumAnswers = true;
    const std::vector<PhotoPtr> photos{copy.photo(QStringLiteral("IMG_0001.CR2"), 1000, march(2), QStringLiteral("IMG_0001.JPG")),
                                       copy.photo(QStringLiteral("IMG_0002.JPG"), 1000, march(2)),
                                       copy.photo(QStringLiteral("IMG_0003.JPG"), 1000, march(3))};
    auto queue = PhotoCopyQueue::create(photos, destination->copyQueueOptions());
    auto record = copy.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
    ASSERT_TRUE(runUntil([&] { return record->startedAnswer == true; }));
    // Every file is copied while the album is still being looked up; their post-copy steps then run.
    // A file is done once its post-copy step answered (its operation is let go then); the others still wait.
    ASSERT_TRUE(runUntil([&] {
        const auto& running = queue->runningOperations();
        return queue->fileCount() == 4u && queue->completedFileCount() + running.size() == 4u
            && std::all_of(running.begin(), running.end(), [](const auto& each) { return each->isFinished(); });
    }));
    QCoreApplication::processEvents();
    {
        std::lock_guard lock(library->mutex);
        EXPECT_TRUE(library->importRequests.empty()) << "no photo goes in before the album is known";
    }
    library->releaseAlbumAnswers();
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
    {
        std::lock_guard lock(library->mutex);
        EXPECT_EQ(library->albumRequests.size(), 1u);
        ASSERT_EQ(library->imports.size(), 3u);
        for (const auto& import : library->imports) {
            ASSERT_TRUE(import.album) << import.files.front().toStdString();
            EXPECT_EQ(import.album->name, GeneralUI::text(QStringLiteral("PhotosImportAlbumName")));
        }
        EXPECT_EQ(library->imports[0].files.size(), 2u) << "RAW and JPEG together";
    }
    EXPECT_EQ(destination->lastSessionReport().notTakenIn, 0);
    EXPECT_TRUE(destination->sessionSummary().isEmpty()) << destination->sessionSummary().toStdString();
}

TEST_F(PhotosDestinationTest, APhotoIsImportedOnceWhenAllItsFilesFinishedBeforeTheirPostCopySteps)
{
    auto queue = PhotoCopyQueue::create({copy.photo(QStringLiteral("IMG_0001.CR2"), 1000, march(2), QStringLiteral("IMG_0001.JPG"))},
                                        destination->copyQueueOptions());
    auto record = std::make_shared<CopyRecord>();
    // The copy lets go of an operation once it is done; the test keeps the photo's two to replay their steps.
    std::vector<PhotoVariantCopyOperationPtr> operations;
    queue->start(recordingCallbacks(record, ConflictAnswer{FileNameConflictResolution::skip}), [&](bool started) {
        record->startedAnswer = started;
        operations = queue->runningOperations();
    });
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
    ASSERT_EQ(operations.size(), 2u);
    {
        std::lock_guard lock(library->mutex);
        library->importRequests.clear();
    }
    // A second session whose two steps both find every file of the photo done, as happens under load.
    std::optional<bool> started;
    destination->copySessionShouldStart({}, [&](bool answer) { started = answer; });
    ASSERT_TRUE(runUntil([&] { return started.has_value(); }));
    ASSERT_EQ(started, true);
    int answered = 0;
    for (const auto& operation : operations)
        destination->performPostCopyOperation(operation, operations, [&](bool) { ++answered; });
    ASSERT_TRUE(runUntil([&] { return answered == 2; }));
    destination->copySessionDidEnd();
    std::lock_guard lock(library->mutex);
    EXPECT_EQ(library->importRequests.size(), 1u) << "imported twice";
}

TEST_F(PhotosDestinationTest, EachFileNotImportedIsNamedWithItsReason)
{
    {
        std::lock_guard lock(library->mutex);
        library->importError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::ImportFailed, QStringLiteral("The library is read-only."));
    }
    copyPhotos({photoWithFailingRaw(QStringLiteral("IMG_0001")), copy.photo(QStringLiteral("IMG_0002.JPG"), 1000, march(2))});
    const std::vector<CopyFileProblem> expected{
        {QStringLiteral("IMG_0001.JPG"), QStringLiteral("Not imported: another file of this photo was not copied.")},
        {QStringLiteral("IMG_0002.JPG"), QStringLiteral("Not imported into the library: The library is read-only.")},
    };
    EXPECT_EQ(destination->sessionProblems(), expected);
    const CopySessionReport& report = destination->lastSessionReport();
    ASSERT_TRUE(report.keptIn);
    EXPECT_TRUE(QFileInfo(*report.keptIn).isDir()) << "only a folder that is there is named";
    EXPECT_EQ(destination->sessionFolderToShow(), report.keptIn) << "Show Folder shows where the copies are kept";
}

} // namespace
