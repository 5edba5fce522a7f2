// What one copy owes to the files it writes and the folders it writes into: two camera files that come to one
// name are both kept (or the later one skipped), a camera that stops sending fails only its file, and the
// temporaries of copies that died go whenever a copy targets their folder.
#include "CopyTestSupport.h"

#include "copying/FileNames.h"
#include "copying/StagedFileFlusher.h"
#include "platform/core/Deferred.h"
#include "sorting/PhotoSortingToken.h"
#include "sorting/UserDefinedPhotoSorting.h"
#include "sorting/UserDefinedSortingStep.h"

#include <atomic>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;
using Kind = PhotoVariantCopyOperation::State::Kind;

namespace {

// A camera file whose bytes are its own text, in a folder of the card.
PhotoVariantPtr cameraFile(const std::shared_ptr<InProcessFolder>& folder, const QString& name, const QByteArray& content)
{
    InProcessFile::Stream stream;
    stream.content = content;
    auto item = folder->addFile(name);
    item->setStream(stream);
    return PhotoVariant::create(item);
}

} // namespace

TEST(CopySession, FilesOfOneCopyThatComeToOneNameNeverReplaceEachOther)
{
    using R = FileNameConflictResolution;
    struct Case {
        const char* name;
        R answer;
        bool remember;
        bool fileThereBefore;
        bool rawAndJpegWithoutExtension; // one photo's two files under a preset that drops the extension
        // "name: content" afterwards; "old" is the file that was there before.
        QStringList expected;
        bool secondWritten;
        bool secondNameTakenByThisCopy;
    };
    const std::vector<Case> cases = {
        {"overwrite, remembered", R::overwrite, true, false, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        {"overwrite, asked each time", R::overwrite, false, false, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        // The file from before is replaced; the one this copy wrote in its place is not.
        {"overwrite, a file there before", R::overwrite, true, true, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        {"unique name, a file there before", R::useUniqueName, true, true, false,
         {"IMG_0001 2.JPG: first", "IMG_0001 3.JPG: second", "IMG_0001.JPG: old"}, true, false},
        {"skip", R::skip, true, false, false, {"IMG_0001.JPG: first"}, false, true},
        {"RAW and JPEG without extension, overwrite", R::overwrite, true, false, true,
         {"IMG_0001: first", "IMG_0001 2: second"}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFixture fixture;
        if (c.fileThereBefore)
            CopyFixture::write(fixture.outFile("IMG_0001.JPG"), "old");
        auto destination = fixture.flatDestination();
        std::vector<PhotoPtr> photos;
        const auto first = fixture.root()->addFolder(QStringLiteral("100CANON"));
        if (c.rawAndJpegWithoutExtension) {
            photos.push_back(Photo::create(cameraFile(first, "IMG_0001.ARW", "first"),
                                           cameraFile(first, "IMG_0001.JPG", "second")));
            destination->setSorting(UserDefinedPhotoSorting::create(
                QStringLiteral("Names only"), QStringLiteral("test.names-only"),
                UserDefinedSortingStep::create({tokenObject(PhotoSortingToken::originalDisplayName)}), {}));
        } else {
            photos.push_back(Photo::create(cameraFile(first, "IMG_0001.JPG", "first")));
            const auto second = fixture.root()->addFolder(QStringLiteral("101CANON"));
            photos.push_back(Photo::create(cameraFile(second, "IMG_0001.JPG", "second")));
        }
        auto queue = PhotoCopyQueue::create(photos, {destination, FileGroupBehaviour::copyAll});
        const auto record = fixture.run(queue, ConflictAnswer{c.answer, c.remember});

        EXPECT_EQ(fixture.contents(), c.expected);
        ASSERT_EQ(record->files.size(), 2u);
        const auto& second = record->files[1];
        EXPECT_EQ(second.state().kind, Kind::copiedSuccessfully) << stateName(second.state().kind);
        EXPECT_EQ(second.finalDestination().has_value(), c.secondWritten);
        // What the summary tells apart: a file renamed or skipped for another file of this copy.
        EXPECT_EQ(second.targetTakenByThisCopy(), c.secondNameTakenByThisCopy);
        EXPECT_FALSE(record->files[0].targetTakenByThisCopy());
        EXPECT_TRUE(queue->wroteFile(*record->files[0].finalDestination()));
    }
}

TEST(CopySession, TheNextFileGetsReadyWhileOneStreamsAndACancelLeavesNothingOfEither)
{
    // While the first file streams, the second settles its name and makes its temporary, but asks the camera for
    // nothing and is not announced; a cancel then ends both, and neither leaves a temporary or a name.
    CopyFixture fixture;
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 100;
    auto stalled = fixture.file(QStringLiteral("FIRST.JPG"), 1000, std::nullopt, stall);
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(stalled)), fixture.photo(QStringLiteral("NEXT.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
    ASSERT_TRUE(runUntil([&] { return stalled->isStalled(); }));
    ASSERT_TRUE(runUntil([&] { return CopyFixture::temporaries(fixture.entries()).size() == 2; }));
    EXPECT_EQ(fixture.entries().size(), 2);
    EXPECT_EQ(record->count(QStringLiteral("itemStarted:NEXT.JPG")), 0);

    queue->cancel();
    // The camera goes on after the stop, as one would; what it sends is refused.
    EXPECT_TRUE(stalled->resumeStream());
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
    EXPECT_EQ(fixture.entries(), QStringList());
    ASSERT_EQ(record->files.size(), 2u);
    EXPECT_EQ(record->files[1].state().kind, Kind::cancelled) << stateName(record->files[1].state().kind);
}

TEST(CopySession, ANameGivenBackByAFileThatFailsIsFreeForTheNextFile)
{
    // The second IMG_0001.JPG gets ready while the first still streams and finds the name taken; it waits for
    // that stream rather than asking. The first then fails and gives the name back, so the second takes it
    // without a question.
    CopyFixture fixture;
    InProcessFile::Stream failing;
    failing.content = QByteArray(1000, 'f');
    failing.chunkSize = 100;
    failing.stallAfterBytes = 100;
    failing.errorAfterBytes = 200;
    auto firstItem = fixture.root()->addFolder(QStringLiteral("100CANON"))->addFile(QStringLiteral("IMG_0001.JPG"));
    firstItem->setStream(failing);
    const std::vector<PhotoPtr> photos = {
        Photo::create(PhotoVariant::create(firstItem)),
        Photo::create(cameraFile(fixture.root()->addFolder(QStringLiteral("101CANON")), "IMG_0001.JPG", "second"))};
    auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::useUniqueName, true});
    ASSERT_TRUE(runUntil([&] { return firstItem->isStalled(); }));
    runFor(100ms); // time for the second file to come to its name; it must not settle it yet
    EXPECT_EQ(record->count(QStringLiteral("conflict:IMG_0001.JPG")), 0);
    EXPECT_TRUE(firstItem->resumeStream());
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));

    EXPECT_EQ(record->count(QStringLiteral("conflict:IMG_0001.JPG")), 0);
    ASSERT_EQ(record->files.size(), 2u);
    EXPECT_EQ(record->files[0].state().kind, Kind::failed) << stateName(record->files[0].state().kind);
    // The failed file is what the queue keeps of it.
    ASSERT_EQ(queue->tally().failed.size(), 1u);
    EXPECT_EQ(queue->tally().failed.front().index(), 0u);
    EXPECT_EQ(queue->tally().written, 1u);
    EXPECT_EQ(fixture.contents(), QStringList{QStringLiteral("IMG_0001.JPG: second")});
}

TEST(CopySession, AStalledStreamFailsItsFileAndTheCopyGoesOn)
{
    CopyFixture fixture;
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 300;
    auto delivered = std::make_shared<std::atomic<qint64>>(0);
    stall.onChunkDelivered = [delivered](qint64 bytes) { *delivered = bytes; };
    auto stalled = fixture.file(QStringLiteral("STALL.JPG"), 1000, std::nullopt, stall);
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(stalled)), fixture.photo(QStringLiteral("NEXT.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    // Long enough that the next file, which streams at once, never comes near it on a loaded machine.
    queue->setStalledStreamTimeout(1s);
    const auto record = fixture.run(queue);

    ASSERT_EQ(record->files.size(), 2u);
    const auto state = record->files[0].state();
    EXPECT_EQ(state.kind, Kind::failed) << stateName(state.kind);
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->domain, PhotoVariantCopyOperation::errorDomain());
    EXPECT_EQ(state.error->code, int(PhotoVariantCopyOperation::streamStalled));
    EXPECT_TRUE(state.error->description().contains(QStringLiteral("the camera stopped sending")))
        << state.error->description().toStdString();
    EXPECT_EQ(record->files[1].state().kind, Kind::copiedSuccessfully);
    EXPECT_EQ(fixture.entries(), QStringList{QStringLiteral("NEXT.JPG")}) << "no temporary, no partial file";

    // The camera sending again later changes nothing.
    EXPECT_TRUE(stalled->resumeStream());
    ASSERT_TRUE(runUntil([&] { return *delivered > 300; }));
    EXPECT_EQ(fixture.entries(), QStringList{QStringLiteral("NEXT.JPG")});
}

TEST(CopySession, TheStalledStreamBoundIsAUserDefaultInSeconds)
{
    struct Case {
        QVariant stored;
        std::chrono::milliseconds expected;
    };
    const std::vector<Case> cases = {
        {QVariant(), 30s},
        {QVariant(5), 5s},
        {QVariant(0.25), 250ms},
        {QVariant(0), 30s},
        {QVariant(-3), 30s},
        {QVariant(QStringLiteral("soon")), 30s},
        {QVariant(1e12), 86400s},
    };
    CopyFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        if (c.stored.isValid())
            fixture.defaults().setValue(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(), c.stored);
        else
            fixture.defaults().removeObject(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey());
        EXPECT_EQ(PhotoCopyQueue::stalledStreamTimeout(fixture.defaults()), c.expected);
    }
    EXPECT_EQ(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(), QStringLiteral("StalledStreamTimeout"));
}

TEST(CopySession, StaleTemporariesGoWheneverACopyTargetsTheirFolder)
{
    struct Case {
        const char* name;
        std::chrono::hours clockAhead;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"a day and more old", 25h, true},
        {"under a day old: may be another copy's", 23h, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFixture fixture;
        // Every file of the copy is there already and skipped, so nothing is written into the folder.
        CopyFixture::write(fixture.outFile("IMG_0001.JPG"), "old");
        const QString leftover = fixture.outFile(StagedFile::temporaryPrefix() + QStringLiteral("crashed"));
        CopyFixture::write(leftover, "part of a file");
        auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("IMG_0001.JPG"))},
                                            {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        const auto ahead = c.clockAhead;
        queue->setLeftoverClock([ahead] { return std::chrono::system_clock::now() + ahead; });
        const auto record = fixture.run(queue, ConflictAnswer{FileNameConflictResolution::skip});
        ASSERT_EQ(record->files.size(), 1u);
        EXPECT_FALSE(record->files.front().finalDestination().has_value());
        EXPECT_EQ(QFileInfo::exists(leftover), !c.removed);
        EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001.JPG")), QByteArray("old"));
    }
}

namespace {

// A disk whose flushes wait until the test lets them go; it counts the files flushed and any that had its final
// name before its flush.
struct HeldDisk {
    Deferred<bool> goes;
    std::shared_ptr<std::atomic<int>> namedBeforeFlush = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> flushed = std::make_shared<std::atomic<int>>(0);

    std::shared_ptr<StagedFileFlusher> flusher() const
    {
        return std::make_shared<StagedFileFlusher>(
            [goes = goes, named = namedBeforeFlush, flushed = flushed](const std::vector<StagedFile*>& files) {
                for (StagedFile* file : files)
                    *named += fileEntryExists(file->finalPath()) ? 1 : 0;
                goes.waitForever();
                *flushed += int(files.size());
                return StagedFile::flushTogether(files);
            });
    }
    // A test that fails early must not leave the flusher's thread waiting.
    ~HeldDisk() { goes.fill(true); }
};

// The streams watched for a stall and the timers waiting to look at them, asked on the copy queue.
std::pair<size_t, size_t> stallWatchCounts()
{
    auto answered = std::make_shared<std::atomic<bool>>(false);
    auto counts = std::make_shared<std::pair<size_t, size_t>>();
    PhotoVariantCopyOperation::stallWatchCounts([answered, counts](size_t streams, size_t timers) {
        *counts = {streams, timers};
        *answered = true;
    });
    EXPECT_TRUE(runUntil([&] { return answered->load(); }));
    return *counts;
}

} // namespace

TEST(CopySession, AFileGetsItsNameOnlyAfterItsFlushWhileTheNextFilesStream)
{
    CopyFixture fixture;
    std::vector<PhotoPtr> photos;
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"})
        photos.push_back(Photo::create(cameraFile(fixture.root(), QString::fromLatin1(name), name)));
    HeldDisk disk;
    auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    queue->setFlusher(disk.flusher());
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::skip});

    // Every file streams while the first one's flush is held, and none has its final name yet.
    ASSERT_TRUE(runUntil([&] { return record->count(QStringLiteral("itemStarted:IMG_0003.JPG")) == 1; }));
    EXPECT_EQ(record->count(QStringLiteral("itemFinished")), 0);
    // One look at the folder: the last file may still be creating its temporary meanwhile.
    const QStringList whileHeld = fixture.entries();
    EXPECT_EQ(CopyFixture::temporaries(whileHeld), whileHeld);
    EXPECT_EQ(queue->runningOperations().size(), 3u);
    for (const auto& operation : queue->runningOperations())
        EXPECT_EQ(operation->state().kind, Kind::copying);

    disk.goes.fill(true);
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
    EXPECT_EQ(*disk.namedBeforeFlush, 0);
    EXPECT_EQ(*disk.flushed, 3);
    EXPECT_EQ(fixture.contents(), QStringList({"IMG_0001.JPG: IMG_0001.JPG", "IMG_0002.JPG: IMG_0002.JPG",
                                               "IMG_0003.JPG: IMG_0003.JPG"}));
    ASSERT_EQ(record->files.size(), 3u);
    for (const auto& file : record->files)
        EXPECT_EQ(file.state().kind, Kind::copiedSuccessfully);
}

TEST(CopySession, OperationsAreBuiltABoundedNumberAheadOfThoseDone)
{
    CopyFixture fixture;
    const size_t count = PhotoCopyQueue::kOperationsBuiltAhead + 100;
    std::vector<PhotoPtr> photos;
    for (size_t i = 0; i < count; ++i)
        photos.push_back(Photo::create(cameraFile(fixture.root(), QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')), "x")));
    HeldDisk disk;
    const size_t timersBefore = stallWatchCounts().second;
    auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    queue->setFlusher(disk.flusher());
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
    ASSERT_TRUE(runUntil([&] { return record->startedAnswer.has_value(); }));
    // Nothing is done while the disk is held, so no more than the bound exists; the file count is known all the same.
    EXPECT_EQ(queue->runningOperations().size(), PhotoCopyQueue::kOperationsBuiltAhead);
    EXPECT_EQ(queue->fileCount(), PhotoCopyQueue::kOperationsBuiltAhead);
    EXPECT_EQ(queue->progress()->fileTotalCount(), qint64(count));
    std::vector<std::weak_ptr<PhotoVariantCopyOperation>> built(queue->runningOperations().begin(),
                                                               queue->runningOperations().end());
    std::vector<std::weak_ptr<Progress>> builtProgresses;
    for (const auto& operation : queue->runningOperations())
        builtProgresses.push_back(operation->progress());

    disk.goes.fill(true);
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(queue->fileCount(), count);
    EXPECT_EQ(queue->completedFileCount(), count);
    // What a copy keeps does not grow with its files: a file that is done leaves a count and nothing else,
    // neither its operation (with its callbacks, conflict question and stream) nor its progress nor a record.
    EXPECT_EQ(queue->tally().written, count);
    EXPECT_TRUE(queue->tally().failed.empty());
    EXPECT_TRUE(queue->runningOperations().empty());
    EXPECT_TRUE(queue->progress()->children().empty());
    EXPECT_TRUE(queue->progress()->isFinished());
    record->itemProgresses.clear(); // the test's own record of the files' progress
    EXPECT_TRUE(runUntil([&] {
        return std::all_of(built.begin(), built.end(), [](const auto& each) { return each.expired(); })
            && std::all_of(builtProgresses.begin(), builtProgresses.end(), [](const auto& each) { return each.expired(); });
    })) << "the queue is alive, and still the operations of files that are done are kept";
    // Nor does a file that is done leave a check of its stream waiting out the stall bound.
    const auto [watchedAfter, timersAfter] = stallWatchCounts();
    EXPECT_EQ(watchedAfter, 0u);
    EXPECT_LE(timersAfter, timersBefore + 1) << "a timer for each file that was copied";
    ASSERT_EQ(record->files.size(), count);
    for (const auto& file : record->files) {
        EXPECT_TRUE(file.isDone());
        EXPECT_EQ(file.state().kind, Kind::copiedSuccessfully);
        EXPECT_EQ(file.finalDestination(), fixture.outFile(file.photoVariant()->fileName()));
    }
    EXPECT_EQ(*disk.namedBeforeFlush, 0);
    EXPECT_EQ(fixture.entries().size(), qsizetype(count));
}

TEST(CopySession, ANameWaitingForItsFlushIsTakenForTheNextFiles)
{
    using R = FileNameConflictResolution;
    // The first IMG_0001.JPG is still waiting for the disk when the second comes to the same name.
    for (const auto& [answer, expected] : std::vector<std::pair<R, QStringList>>{
             {R::skip, {"IMG_0001.JPG: first"}},
             {R::overwrite, {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}},
             {R::useUniqueName, {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}}}) {
        SCOPED_TRACE(int(answer));
        CopyFixture fixture;
        const std::vector<PhotoPtr> photos = {
            Photo::create(cameraFile(fixture.root()->addFolder(QStringLiteral("100CANON")), "IMG_0001.JPG", "first")),
            Photo::create(cameraFile(fixture.root()->addFolder(QStringLiteral("101CANON")), "IMG_0001.JPG", "second"))};
        HeldDisk disk;
        auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        queue->setFlusher(disk.flusher());
        auto record = fixture.start(queue, ConflictAnswer{answer, true});
        ASSERT_TRUE(runUntil([&] { return record->count(QStringLiteral("conflict:IMG_0001.JPG")) == 1; }));
        EXPECT_TRUE(queue->wroteFile(fixture.outFile("IMG_0001.JPG")));
        disk.goes.fill(true);
        ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
        EXPECT_EQ(fixture.contents(), expected);
        EXPECT_EQ(*disk.namedBeforeFlush, 0);
    }
}
