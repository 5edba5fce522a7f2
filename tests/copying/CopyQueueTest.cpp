#include "CopyTestSupport.h"

#include <algorithm>
#include <atomic>

using namespace vornakel;
using namespace vornakel::test;
using Kind = PhotoVariantCopyOperation::State::Kind;

namespace {

// A destination that records the session calls and copies flat into a folder.
class RecordingDestination : public CopyDestination {
public:
    explicit RecordingDestination(QString folder) : m_folder(std::move(folder)) {}
    QStringList calls;
    std::vector<std::vector<QString>> postCopyLists; // the file names of each post-copy step's list
    bool answer = true;
    QStringList withoutTarget; // file names that get no target

    QString name() const override { return QStringLiteral("Recording"); }
    QString iconName() const override { return {}; }
    QString identifier() const override { return QStringLiteral("recording"); }
    QString helpBookAnchor() const override { return {}; }
    PhotoCopyQueueOptions copyQueueOptions() override { return {}; }
    void copyDestinationInstanceWillNotBeUsed() override { calls << QStringLiteral("willNotBeUsed"); }
    void copySessionShouldStart(const Variants& variants, std::function<void(bool)> handler) override
    {
        calls << QStringLiteral("shouldStart:%1").arg(variants.size());
        handler(answer);
    }
    void copySessionWillStart(const Variants& variants) override
    {
        calls << QStringLiteral("willStart:%1").arg(variants.size());
    }
    std::optional<QString> destinationFor(const PhotoVariant& variant) override
    {
        calls << QStringLiteral("destinationFor:") + variant.fileName();
        if (withoutTarget.contains(variant.fileName()))
            return std::nullopt;
        return QDir(m_folder).filePath(variant.fileName());
    }
    void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                  const Operations& all, std::function<void(bool)> handler) override
    {
        calls << QStringLiteral("postCopy:") + operation->photoVariant()->fileName();
        std::vector<QString> names;
        for (const auto& each : all)
            names.push_back(each->photoVariant()->fileName());
        postCopyLists.push_back(names);
        // Answered from another thread, as a library import would.
        std::thread([handler] { handler(true); }).detach();
    }
    void copySessionDidEnd() override { calls << QStringLiteral("didEnd"); }

private:
    QString m_folder;
};

// The queue starts once, announces every file in order, finishes each (a post-copy step may still run while the
// next file starts) and finishes last, once.
void expectOneRun(const CopyRecord& record, const QStringList& files)
{
    QStringList started;
    for (const QString& event : record.events)
        if (event.startsWith(QLatin1String("itemStarted:")))
            started << event.mid(12);
    EXPECT_EQ(started, files);
    EXPECT_EQ(record.events.first(), QStringLiteral("queueStarted"));
    EXPECT_EQ(record.events.last(), QStringLiteral("queueFinished"));
    EXPECT_EQ(record.count(QStringLiteral("itemFinished")), files.size());
    EXPECT_EQ(record.queueFinished, 1);
    EXPECT_EQ(record.count(QStringLiteral("queueStarted")), 1);
}

QStringList names(const std::vector<PhotoVariantPtr>& variants)
{
    QStringList result;
    for (const auto& variant : variants)
        result << variant->fileName();
    return result;
}

} // namespace

TEST(PhotoCopyQueue, GroupingChoosesTheVariantsAndTheirOrder)
{
    CopyFixture fixture;
    const PhotoPtr single = fixture.photo(QStringLiteral("A.JPG"));
    const PhotoPtr pair = fixture.photo(QStringLiteral("B.ARW"), 1000, std::nullopt, QStringLiteral("B.JPG"));
    struct Case {
        std::vector<PhotoPtr> photos;
        FileGroupBehaviour behaviour;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {{single}, FileGroupBehaviour::copyAll, {"A.JPG"}},
        {{single}, FileGroupBehaviour::preferOriginal, {"A.JPG"}},
        {{single}, FileGroupBehaviour::preferPreview, {"A.JPG"}},
        {{pair}, FileGroupBehaviour::copyAll, {"B.ARW", "B.JPG"}},
        {{pair}, FileGroupBehaviour::preferOriginal, {"B.ARW"}},
        {{pair}, FileGroupBehaviour::preferPreview, {"B.JPG"}},
        {{pair, single}, FileGroupBehaviour::copyAll, {"B.ARW", "B.JPG", "A.JPG"}},
        {{}, FileGroupBehaviour::copyAll, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(names(PhotoCopyQueue::variantsToCopy(c.photos, c.behaviour)), c.expected) << int(c.behaviour);

    // Raw values outside 0…2 are no grouping.
    EXPECT_EQ(fileGroupBehaviourFromRawValue(1), FileGroupBehaviour::preferOriginal);
    EXPECT_EQ(fileGroupBehaviourFromRawValue(3), std::nullopt);
    EXPECT_EQ(fileGroupBehaviourFromRawValue(-1), std::nullopt);
}

TEST(PhotoCopyQueue, CallsTheDestinationInOrderAndHandsEachPostCopyStepItsPhotosOperations)
{
    CopyFixture fixture;
    auto destination = std::make_shared<RecordingDestination>(fixture.outPath());
    destination->withoutTarget << QStringLiteral("C.JPG");
    const PhotoPtr pair = fixture.photo(QStringLiteral("B.ARW"), 1000, std::nullopt, QStringLiteral("B.JPG"));
    const PhotoPtr skipped = fixture.photo(QStringLiteral("C.JPG"));
    const PhotoPtr single = fixture.photo(QStringLiteral("A.JPG"), 500);
    auto queue = PhotoCopyQueue::create({pair, skipped, single}, {destination, FileGroupBehaviour::copyAll});

    auto record = fixture.run(queue);
    EXPECT_EQ(record->startedAnswer, true);
    EXPECT_EQ(destination->calls,
              QStringList({"shouldStart:4", "willStart:4", "destinationFor:B.ARW", "destinationFor:B.JPG",
                           "destinationFor:C.JPG", "destinationFor:A.JPG", "postCopy:B.ARW", "postCopy:B.JPG",
                           "postCopy:A.JPG", "didEnd"}));
    const std::vector<std::vector<QString>> expectedLists = {{"B.ARW", "B.JPG"}, {"B.ARW", "B.JPG"}, {"A.JPG"}};
    EXPECT_EQ(destination->postCopyLists, expectedLists);
    expectOneRun(*record, {"B.ARW", "B.JPG", "A.JPG"});
    EXPECT_EQ(fixture.entries(), QStringList({"A.JPG", "B.ARW", "B.JPG"}));
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), CopyFixture::pattern(500));

    // The whole copy's progress: one unit per file, all counted, files counted, bytes all gone.
    EXPECT_EQ(queue->progress()->totalUnitCount(), 3);
    EXPECT_EQ(queue->progress()->completedUnitCount(), 3);
    EXPECT_EQ(queue->progress()->fileTotalCount(), 3);
    EXPECT_EQ(queue->progress()->fileCompletedCount(), 3);
    EXPECT_EQ(queue->totalBytesToCopy(), 2500);
    EXPECT_EQ(queue->bytesRemaining(), 0);
    EXPECT_FALSE(queue->isRunning());
    EXPECT_EQ(queue->currentItemVariant(), nullptr);
    ASSERT_EQ(record->files.size(), 3u);
    for (const auto& file : record->files)
        EXPECT_EQ(file.state().kind, Kind::copiedSuccessfully);
    // What the queue keeps of them: counts and the folder that holds them.
    EXPECT_EQ(queue->fileCount(), 3u);
    EXPECT_EQ(queue->tally().written, 3u);
    EXPECT_EQ(queue->tally().notWritten + queue->tally().cancelled + queue->tally().failed.size(), 0u);
    EXPECT_EQ(queue->tally().folder, QDir::cleanPath(fixture.outPath()));

    // A queue copies once.
    std::optional<bool> again;
    queue->start({}, [&](bool started) { again = started; });
    EXPECT_EQ(again, false);
    EXPECT_EQ(destination->calls.count(QStringLiteral("shouldStart:4")), 1);
}

TEST(PhotoCopyQueue, ARefusedSessionBuildsNothing)
{
    CopyFixture fixture;
    auto destination = std::make_shared<RecordingDestination>(fixture.outPath());
    destination->answer = false;
    auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("A.JPG"))}, {destination, FileGroupBehaviour::copyAll});
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
    EXPECT_EQ(record->startedAnswer, false);
    runFor(std::chrono::milliseconds(20));
    EXPECT_EQ(destination->calls, QStringList({"shouldStart:1"}));
    EXPECT_TRUE(record->events.isEmpty());
    EXPECT_EQ(queue->fileCount(), 0u);
    EXPECT_TRUE(queue->runningOperations().empty());
}

TEST(PhotoCopyQueue, NothingToCopyStillEndsTheSessionAndFinishesOnce)
{
    CopyFixture fixture;
    struct Case {
        const char* name;
        bool withPhoto;
    };
    for (const Case c : {Case{"no photos", false}, Case{"no targets", true}}) {
        SCOPED_TRACE(c.name);
        auto destination = std::make_shared<RecordingDestination>(fixture.outPath());
        destination->withoutTarget << QStringLiteral("A.JPG");
        std::vector<PhotoPtr> photos;
        if (c.withPhoto)
            photos.push_back(fixture.photo(QStringLiteral("A.JPG")));
        auto queue = PhotoCopyQueue::create(photos, {destination, FileGroupBehaviour::copyAll});
        auto record = fixture.run(queue);
        runFor(std::chrono::milliseconds(20));
        EXPECT_EQ(record->startedAnswer, true);
        EXPECT_EQ(record->events, QStringList({"queueFinished"}));
        EXPECT_EQ(destination->calls.count(QStringLiteral("didEnd")), 1);
        EXPECT_FALSE(queue->isRunning());
        EXPECT_EQ(queue->progress()->totalUnitCount(), 0);
        EXPECT_EQ(queue->progress()->fileTotalCount(), 0);
    }
}

TEST(PhotoCopyQueue, ConflictAnswersDecideWhatEndsUpOnDisk)
{
    const QByteArray original("the user's own file");
    struct Case {
        bool targetExists;
        FileNameConflictResolution answer;
        QByteArray expectedTarget;       // empty: no file
        bool expectUniqueCopy;           // "IMG_0001 2.JPG" holds the new copy
        Kind expectedState;
        bool expectFinalDestination;
    };
    const QByteArray copy = CopyFixture::pattern(3000);
    const std::vector<Case> cases = {
        {false, FileNameConflictResolution::skip, copy, false, Kind::copiedSuccessfully, true},
        {false, FileNameConflictResolution::overwrite, copy, false, Kind::copiedSuccessfully, true},
        {false, FileNameConflictResolution::useUniqueName, copy, false, Kind::copiedSuccessfully, true},
        {false, FileNameConflictResolution::cancel, copy, false, Kind::copiedSuccessfully, true},
        {true, FileNameConflictResolution::skip, original, false, Kind::copiedSuccessfully, false},
        {true, FileNameConflictResolution::overwrite, copy, false, Kind::copiedSuccessfully, true},
        {true, FileNameConflictResolution::useUniqueName, original, true, Kind::copiedSuccessfully, true},
        {true, FileNameConflictResolution::cancel, original, false, Kind::cancelled, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "exists " << c.targetExists << " answer " << int(c.answer));
        CopyFixture fixture;
        if (c.targetExists)
            CopyFixture::write(fixture.outFile("IMG_0001.JPG"), original);
        auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("IMG_0001.JPG"), 3000)},
                                            {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        auto record = fixture.run(queue, ConflictAnswer{c.answer});
        EXPECT_EQ(record->count(QStringLiteral("conflict:IMG_0001.JPG")), c.targetExists ? 1 : 0);
        EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001.JPG")), c.expectedTarget);
        EXPECT_EQ(QFileInfo::exists(fixture.outFile("IMG_0001 2.JPG")), c.expectUniqueCopy);
        if (c.expectUniqueCopy) {
            EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001 2.JPG")), copy);
        }
        EXPECT_TRUE(CopyFixture::temporaries(fixture.entries()).isEmpty());
        ASSERT_EQ(record->files.size(), 1u);
        const auto& file = record->files.front();
        EXPECT_EQ(file.state().kind, c.expectedState) << stateName(file.state().kind);
        EXPECT_EQ(file.finalDestination().has_value(), c.expectFinalDestination);
        // Skipped and cancelled files show a full progress too.
        ASSERT_EQ(record->itemProgresses.size(), 1u);
        EXPECT_TRUE(record->itemProgresses.front()->isFinished());
        EXPECT_EQ(record->count(QStringLiteral("itemFinished")), 1);
        EXPECT_EQ(record->queueFinished, 1);
    }
}

TEST(PhotoCopyQueue, ARememberedSkipAnswersLaterConflictsSilently)
{
    CopyFixture fixture;
    std::vector<PhotoPtr> photos;
    for (const char* name : {"A.JPG", "B.JPG", "C.JPG"}) {
        CopyFixture::write(fixture.outFile(QString::fromLatin1(name)), "mine");
        photos.push_back(fixture.photo(QString::fromLatin1(name)));
    }
    auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.run(queue, ConflictAnswer{FileNameConflictResolution::skip, true});
    EXPECT_EQ(record->events.filter(QStringLiteral("conflict:")), QStringList({"conflict:A.JPG"}));
    EXPECT_EQ(queue->savedFileConflictResolution(), FileNameConflictResolution::skip);
    for (const char* name : {"A.JPG", "B.JPG", "C.JPG"})
        EXPECT_EQ(CopyFixture::read(fixture.outFile(QString::fromLatin1(name))), "mine");
    EXPECT_EQ(record->count(QStringLiteral("itemFinished")), 3);
    ASSERT_EQ(record->files.size(), 3u);
    for (const auto& file : record->files) {
        EXPECT_EQ(file.state().kind, Kind::copiedSuccessfully);
        EXPECT_FALSE(file.finalDestination());
    }
    // Skipped files are announced without a file.
    for (const auto& target : record->itemTargets)
        EXPECT_FALSE(target);
}

TEST(PhotoCopyQueue, WithoutAConflictCallbackTheExistingFileIsKept)
{
    CopyFixture fixture;
    CopyFixture::write(fixture.outFile("A.JPG"), "mine");
    auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("A.JPG")), fixture.photo(QStringLiteral("B.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.run(queue, std::nullopt);
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), "mine");
    EXPECT_EQ(CopyFixture::read(fixture.outFile("B.JPG")), CopyFixture::pattern(1000));
}

TEST(PhotoCopyQueue, CancelMidCopyEndsEveryOperationAndFinishesOnce)
{
    // However the copy is cancelled: the queue itself, the whole copy's progress, or one file's progress.
    const std::vector<std::pair<const char*, std::function<void(PhotoCopyQueue&)>>> ways = {
        {"queue", [](PhotoCopyQueue& queue) { queue.cancel(); }},
        {"copy progress", [](PhotoCopyQueue& queue) { queue.progress()->cancel(); }},
        {"file progress", [](PhotoCopyQueue& queue) { queue.progress()->children().back()->cancel(); }},
    };
    for (const auto& [way, cancel] : ways) {
        SCOPED_TRACE(way);
        CopyFixture fixture;
        std::weak_ptr<PhotoCopyQueue> weakQueue;
        InProcessFile::Stream stream;
        stream.chunkSize = 1000;
        // Cancelled from the copy thread while the first file is half written.
        stream.onChunkDelivered = [&weakQueue, cancel = cancel](qint64 delivered) {
            if (delivered == 2000)
                if (auto queue = weakQueue.lock())
                    cancel(*queue);
        };
        auto first = PhotoVariant::create(fixture.file(QStringLiteral("A.JPG"), 5000, std::nullopt, stream));
        std::vector<PhotoPtr> photos = {Photo::create(first), fixture.photo(QStringLiteral("B.JPG")),
                                        fixture.photo(QStringLiteral("C.JPG"))};
        auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        weakQueue = queue;
        auto record = fixture.run(queue);
        runFor(std::chrono::milliseconds(200)); // past the watchdog: nothing more may come
        expectOneRun(*record, {"A.JPG", "B.JPG", "C.JPG"});
        ASSERT_EQ(record->files.size(), 3u);
        for (const auto& file : record->files)
            EXPECT_EQ(file.state().kind, Kind::cancelled)
                << file.photoVariant()->fileName().toStdString() << " " << stateName(file.state().kind);
        EXPECT_TRUE(fixture.entries().isEmpty()) << fixture.entries().join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(queue->progress()->isCancelled());
        EXPECT_EQ(queue->progress()->completedUnitCount(), 3);
    }
}

TEST(PhotoCopyQueue, CancelReleasesAnOpenConflictQuestionAndALateAnswerDoesNothing)
{
    CopyFixture fixture;
    CopyFixture::write(fixture.outFile("A.JPG"), "mine");
    auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("A.JPG")), fixture.photo(QStringLiteral("B.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    // The question stays open, as when the user has not answered yet.
    auto record = fixture.start(queue, ConflictAnswer{std::nullopt});
    ASSERT_TRUE(runUntil([&] { return record->openResolution.has_value(); }));
    queue->cancel();
    ASSERT_TRUE(runUntil([&] { return record->queueFinished == 1; }));
    // The sheet answers after all: nothing happens to the file.
    record->openResolution->fill(FileNameConflictResolution::overwrite);
    record->openRemember->fill(true);
    runFor(std::chrono::milliseconds(50));
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), "mine");
    EXPECT_FALSE(QFileInfo::exists(fixture.outFile("B.JPG")));
    EXPECT_EQ(record->count(QStringLiteral("itemFinished")), 2);
    ASSERT_EQ(record->files.size(), 2u);
    for (const auto& file : record->files)
        EXPECT_EQ(file.state().kind, Kind::cancelled);
    EXPECT_FALSE(queue->savedFileConflictResolution());
}

TEST(PhotoCopyQueue, ADroppedQueueEndsItsOperationsAndReleasesAWaitingThread)
{
    CopyFixture fixture;
    CopyFixture::write(fixture.outFile("A.JPG"), "mine");
    auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("A.JPG")), fixture.photo(QStringLiteral("B.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.start(queue, ConflictAnswer{std::nullopt});
    ASSERT_TRUE(runUntil([&] { return record->openResolution.has_value(); }));
    const std::vector<PhotoVariantCopyOperationPtr> operations = queue->runningOperations();
    ASSERT_EQ(operations.size(), 2u);
    queue.reset();
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(operations.begin(), operations.end(), [](const auto& each) { return each->isFinished(); });
    }));
    for (const auto& operation : operations)
        EXPECT_EQ(operation->state().kind, Kind::cancelled) << stateName(operation->state().kind);
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), "mine");
    EXPECT_FALSE(QFileInfo::exists(fixture.outFile("B.JPG")));
}

TEST(PhotoCopyQueue, AStalledStreamIsGivenUpAfterACancelAndItsLateEndTouchesNoLaterCopy)
{
    CopyFixture fixture;
    InProcessFile::Stream stalling;
    stalling.chunkSize = 1000;
    stalling.stallAfterBytes = 1000;
    auto stalled = fixture.file(QStringLiteral("A.JPG"), 4000, std::nullopt, stalling);
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(stalled))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.start(queue, ConflictAnswer{FileNameConflictResolution::skip});
    ASSERT_TRUE(runUntil([&] { return queue->progress()->children().front()->completedUnitCount() == 1000; }));
    queue->cancel();
    ASSERT_TRUE(runUntil([&] { return record->queueFinished == 1; }));
    ASSERT_EQ(record->files.size(), 1u);
    EXPECT_EQ(record->files.front().state().kind, Kind::cancelled);
    // The temporary goes on the copy queue, right after the watchdog gave up.
    EXPECT_TRUE(runUntil([&] { return fixture.entries().isEmpty(); }))
        << fixture.entries().join(QLatin1Char(' ')).toStdString();

    // A second copy writes the same name; then the first stream wakes up and ends.
    auto again = PhotoCopyQueue::create({fixture.photo(QStringLiteral("A.JPG"), 4000)},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    const auto againRecord = fixture.run(again);
    ASSERT_EQ(againRecord->files.size(), 1u);
    ASSERT_EQ(againRecord->files.front().state().kind, Kind::copiedSuccessfully);
    EXPECT_TRUE(stalled->resumeStream());
    runFor(std::chrono::milliseconds(50));
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), CopyFixture::pattern(4000));
    EXPECT_EQ(fixture.entries(), QStringList({"A.JPG"}));
}
