#include "CopyTestSupport.h"

#include "copying/FileNames.h"
#include "copying/StagedFileFlusher.h"
#include "support/StaticFileItem.h"


#include <QFileInfo>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornakel;
using namespace vornakel::test;

TEST(FolderCopyDestination, ReadsItsFolderPresetAndGroupingFromTheDefaults)
{
    CopyFixture fixture;
    const QString grouping = FolderCopyDestination::folderGroupingBehaviourUserDefaultsKey();
    fixture.defaults().registerDefaults({{grouping, 0}});
    {
        auto destination = FolderCopyDestination::create(fixture.defaults(), fixture.presets());
        EXPECT_FALSE(destination->destination());
        EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
        EXPECT_EQ(destination->sorting(), UserDefinedPhotoSorting::byPaddedNumericDate());
        EXPECT_EQ(destination->copyQueueOptions().groupBehaviour, FileGroupBehaviour::copyAll);
        // No folder: no target, rather than a path relative to wherever the program runs.
        EXPECT_EQ(destination->destinationFor(*fixture.photo(QStringLiteral("A.JPG"))->primaryVariant()), std::nullopt);
        EXPECT_EQ(destination->identifier(), QStringLiteral("com.vornakel.zediriri-zir.copy-destination.folder"));
        EXPECT_EQ(destination->helpBookAnchor(), QStringLiteral("Help_CopyFolder"));
        EXPECT_EQ(destination->name(), QStringLiteral("Folder"));
    }

    // Stored, then read by a new store over the same file, as the next start of the program reads it.
    const QString storedFile = fixture.path(QStringLiteral("stored/UserDefaults.plist"));
    {
        UserDefaults writer(storedFile);
        writer.setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(fixture.outPath()));
        writer.setValue(FolderCopyDestination::photoSortingUserDefaultsKey(), UserDefinedPhotoSorting::flatIdentifier());
        writer.setInteger(grouping, 1);
        writer.synchronize();
    }
    UserDefaults reopened(storedFile);
    reopened.registerDefaults({{grouping, 0}});
    auto destination = FolderCopyDestination::create(reopened, fixture.presets());
    EXPECT_EQ(destination->destination(), QUrl::fromLocalFile(fixture.outPath()));
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    EXPECT_EQ(destination->sorting(), UserDefinedPhotoSorting::flat());
    EXPECT_EQ(destination->copyQueueOptions().groupBehaviour, FileGroupBehaviour::preferOriginal);
    EXPECT_EQ(destination->copyQueueOptions().destination, destination);

    // Values that do not fit fall back.
    struct Case {
        QVariant grouping;
        FileGroupBehaviour expected;
    };
    for (const Case& c : {Case{2, FileGroupBehaviour::preferPreview}, Case{3, FileGroupBehaviour::copyAll},
                          Case{QStringLiteral("x"), FileGroupBehaviour::copyAll}, Case{QVariant(), FileGroupBehaviour::copyAll}}) {
        reopened.setValue(grouping, c.grouping);
        EXPECT_EQ(destination->copyQueueOptions().groupBehaviour, c.expected) << c.grouping.toString().toStdString();
    }
}

TEST(FolderCopyDestination, AStoredFolderThatIsGoneOrAFileCountsAsNone)
{
    CopyFixture fixture;
    CopyFixture::write(fixture.path(QStringLiteral("a-file")), "x");
    for (const QString& stored : {fixture.path(QStringLiteral("gone")), fixture.path(QStringLiteral("a-file"))}) {
        fixture.defaults().setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(stored));
        fixture.defaults().setValue(FolderCopyDestination::photoSortingUserDefaultsKey(), QStringLiteral("no-such-preset"));
        auto destination = FolderCopyDestination::create(fixture.defaults(), fixture.presets());
        EXPECT_FALSE(destination->destination()) << stored.toStdString();
        EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
        EXPECT_EQ(destination->sorting(), UserDefinedPhotoSorting::byPaddedNumericDate());
    }
}

TEST(FolderCopyDestination, TheCopyButtonFollowsTheFolderAndTheFlatFormIgnoresThePreset)
{
    CopyFixture fixture;
    auto destination = FolderCopyDestination::create(fixture.defaults(), fixture.presets());
    QList<bool> announced;
    QObject::connect(destination.get(), &CopyDestination::currentConfigurationAllowsCopyToStartChanged,
                     [&](bool allowed) { announced << allowed; });
    destination->setDestination(QUrl::fromLocalFile(fixture.outPath()));
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    destination->setDestination(QUrl(QStringLiteral("https://example.com/photos")));
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
    EXPECT_EQ(destination->destinationFor(*fixture.photo(QStringLiteral("A.JPG"))->primaryVariant()), std::nullopt);
    destination->setDestination(std::nullopt);
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
    EXPECT_EQ(announced, QList<bool>({true, false}));

    const QDateTime captured(QDate(2021, 3, 4), QTime(12, 0), Qt::UTC);
    const PhotoPtr photo = fixture.photo(QStringLiteral("IMG_0001.JPG"), 1000, captured);
    destination->setDestination(QUrl::fromLocalFile(fixture.outPath()));
    EXPECT_EQ(destination->destinationFor(*photo->primaryVariant()), fixture.outFile("2021/03/04/IMG_0001.JPG"));

    fixture.defaults().setValue(FolderCopyDestination::photoSortingUserDefaultsKey(),
                                UserDefinedPhotoSorting::byPaddedNumericDateIdentifier());
    auto flat = fixture.flatDestination();
    EXPECT_EQ(flat->destinationFor(*photo->primaryVariant()), fixture.outFile("IMG_0001.JPG"));
    EXPECT_TRUE(flat->currentConfigurationAllowsCopyToStart());
}

TEST(FolderCopyDestination, DragAndDropGroupingFallsBackToPreferPreview)
{
    CopyFixture fixture;
    const QString key = PhotoCopyQueue::dragAndDropGroupingBehaviourUserDefaultsKey();
    EXPECT_EQ(key, QStringLiteral("DragAndDropGroupingBehaviour"));
    struct Case {
        QVariant stored;
        FileGroupBehaviour expected;
    };
    for (const Case& c : {Case{QVariant(), FileGroupBehaviour::preferPreview}, Case{0, FileGroupBehaviour::copyAll},
                          Case{QStringLiteral("1"), FileGroupBehaviour::preferOriginal}, Case{7, FileGroupBehaviour::preferPreview}}) {
        fixture.defaults().setValue(key, c.stored);
        EXPECT_EQ(PhotoCopyQueue::dragAndDropGroupingBehaviour(fixture.defaults()), c.expected);
        // The flat copy takes it, not the folder destination's own grouping.
        fixture.defaults().setInteger(FolderCopyDestination::folderGroupingBehaviourUserDefaultsKey(), 1);
        const PhotoCopyQueueOptions options = FolderCopyDestination::flatCopyQueueOptions(
            QUrl::fromLocalFile(fixture.outPath()), fixture.defaults(), fixture.presets());
        EXPECT_EQ(options.groupBehaviour, c.expected);
        auto flat = std::dynamic_pointer_cast<FolderCopyDestination>(options.destination);
        ASSERT_TRUE(flat);
        EXPECT_EQ(flat->sorting(), UserDefinedPhotoSorting::flat());
    }
}

TEST(FileNames, TheNextFreeNameNumbersBeforeTheExtension)
{
    CopyFixture fixture;
    for (const char* name : {"DSC01234.JPG", "IMG_0001.JPG", "IMG_0001 2.JPG", "IMG_0001 3.JPG", "archive.tar.gz", "README",
                             ".hidden"})
        CopyFixture::write(fixture.outFile(QString::fromLatin1(name)), "x");
    // A dangling link takes its name too.
    ::symlink("/nonexistent/target", QFile::encodeName(fixture.outFile("LINK.JPG")).constData());
    struct Case {
        const char* name;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"DSC01234.JPG", "DSC01234 2.JPG"}, {"IMG_0001.JPG", "IMG_0001 4.JPG"}, {"archive.tar.gz", "archive.tar 2.gz"},
        {"README", "README 2"}, {".hidden", ".hidden 2"}, {"FREE.JPG", "FREE.JPG"}, {"LINK.JPG", "LINK 2.JPG"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextAvailableFileURL(fixture.outFile(QString::fromLatin1(c.name))), fixture.outFile(QString::fromLatin1(c.expected)));
    EXPECT_EQ(nextAvailableFileURL(QStringLiteral("relative/IMG.JPG")), std::nullopt);
    EXPECT_EQ(nextAvailableFileURL(fixture.outFile("IMG_0001.JPG"), 3), std::nullopt);

    // Another file of the copy is moved into place, and stops counting as taken, while its name is looked at:
    // the name is never answered as free.
    const QString moving = fixture.outFile("MOVING.JPG");
    const auto movedInWhenAsked = [&](const QString& path) {
        if (path == moving && !QFile::exists(path))
            CopyFixture::write(path, "x");
        return false;
    };
    EXPECT_EQ(nextAvailableFileURL(moving, 100000, movedInWhenAsked), fixture.outFile("MOVING 2.JPG"));
}

TEST(StagedFile, WritesWholeFilesUnderTheFinalNameOnlyAndRemovesLeftovers)
{
    CopyFixture fixture;
    CopyFixture::write(fixture.outFile(".vkl-partial-abc"), "left by a crash");
    CopyFixture::write(fixture.outFile("IMG_0001.JPG"), "a photo");
    EXPECT_EQ(StagedFile::removeLeftovers(fixture.outPath(), std::chrono::hours(1)), 0);
    EXPECT_EQ(StagedFile::removeLeftovers(fixture.outPath(), std::chrono::seconds(0)), 1);
    EXPECT_EQ(fixture.entries(), QStringList({"IMG_0001.JPG"}));

    // A staged file that is dropped takes its temporary with it; the final name never appears.
    {
        auto created = StagedFile::create(fixture.outFile("IMG_0002.JPG"));
        ASSERT_TRUE(created.hasValue());
        auto& file = created.value();
        EXPECT_FALSE(file->write("partial"));
        EXPECT_EQ(CopyFixture::temporaries(fixture.entries()).size(), 1);
    }
    EXPECT_EQ(fixture.entries(), QStringList({"IMG_0001.JPG"}));

    // A file larger than a few write-behind windows arrives whole.
    auto created = StagedFile::create(fixture.outFile("BIG.ARW"));
    ASSERT_TRUE(created.hasValue());
    auto& big = created.value();
    const QByteArray content = CopyFixture::pattern(13 * 1024 * 1024 + 17);
    for (qsizetype offset = 0; offset < content.size(); offset += 1024 * 1024)
        ASSERT_FALSE(big->write(content.mid(offset, 1024 * 1024)));
    ASSERT_FALSE(big->commit(std::nullopt, false));
    EXPECT_EQ(CopyFixture::read(fixture.outFile("BIG.ARW")), content);
}

TEST(StagedFile, OnlyAFlushedFileMovesIntoPlace)
{
    CopyFixture fixture;
    std::vector<std::unique_ptr<StagedFile>> files;
    for (const char* name : {"A.JPG", "B.JPG", "C.JPG"}) {
        auto created = StagedFile::create(fixture.outFile(QString::fromLatin1(name)));
        ASSERT_TRUE(created.hasValue());
        files.push_back(std::move(created.value()));
        ASSERT_FALSE(files.back()->write(name));
        files.back()->finishWriting(std::nullopt);
    }
    // Not flushed: the move fails, the temporary goes, and the final name never appears.
    EXPECT_TRUE(files[0]->moveIntoPlace(false, false));
    EXPECT_FALSE(fileEntryExists(fixture.outFile("A.JPG")));
    // Several flushed together, each with its own result; the failed one stays failed.
    const std::vector<std::optional<Error>> results = StagedFile::flushTogether({files[0].get(), files[1].get(), files[2].get()});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(results[0]);
    EXPECT_FALSE(results[1]);
    EXPECT_FALSE(results[2]);
    EXPECT_TRUE(files[0]->moveIntoPlace(false, false));
    EXPECT_FALSE(files[1]->moveIntoPlace(false, false));
    EXPECT_FALSE(files[2]->moveIntoPlace(false, true));
    EXPECT_EQ(fixture.contents(), QStringList({"B.JPG: B.JPG", "C.JPG: C.JPG"}));
}

TEST(StagedFileFlusher, FlushesTheFilesOfAnIntervalTogetherAndAFullBatchAtOnce)
{
    CopyFixture fixture;
    // The disk is stood in for: each flush reports how many files it took, and the files report back in order.
    auto mutex = std::make_shared<std::mutex>();
    auto flushes = std::make_shared<std::vector<size_t>>();
    auto reported = std::make_shared<QStringList>();
    const auto flushedSizes = [&] {
        std::lock_guard lock(*mutex);
        return *flushes;
    };
    constexpr size_t kBatch = 4;
    auto flusher = std::make_shared<StagedFileFlusher>(
        [mutex, flushes](const std::vector<StagedFile*>& files) {
            std::lock_guard lock(*mutex);
            flushes->push_back(files.size());
            return std::vector<std::optional<Error>>(files.size());
        },
        std::chrono::hours(1), kBatch);
    std::vector<std::shared_ptr<StagedFile>> files;
    const auto add = [&](int number) {
        auto created = StagedFile::create(fixture.outFile(QStringLiteral("IMG_%1.JPG").arg(number)));
        ASSERT_TRUE(created.hasValue());
        files.push_back(std::move(created.value()));
        flusher->add(files.back(), [mutex, reported](std::shared_ptr<StagedFile> file, std::optional<Error> error) {
            std::lock_guard lock(*mutex);
            reported->append(QFileInfo(file->finalPath()).fileName() + (error ? QStringLiteral(" failed") : QString()));
        });
    };

    // The first file of a copy waits for nobody.
    add(1);
    ASSERT_TRUE(runUntil([&] { return flushedSizes().size() == 1; }));
    // Those after it wait for the next interval (an hour here) or a full batch, whichever comes first.
    for (int number = 2; number <= int(kBatch); ++number)
        add(number);
    EXPECT_EQ(flushedSizes(), std::vector<size_t>({1}));
    add(int(kBatch) + 1);
    ASSERT_TRUE(runUntil([&] { return flushedSizes().size() == 2; }));
    EXPECT_EQ(flushedSizes(), std::vector<size_t>({1, kBatch}));
    std::lock_guard lock(*mutex);
    EXPECT_EQ(*reported, QStringList({"IMG_1.JPG", "IMG_2.JPG", "IMG_3.JPG", "IMG_4.JPG", "IMG_5.JPG"}));
}

namespace {

// A camera file whose stream is given chunk by chunk (an empty chunk included, which a camera may send).
class ScriptedFile : public StaticFileItem {
public:
    ScriptedFile(QString name, uint64_t statedSize, std::vector<QByteArray> chunks)
        : StaticFileItem(std::move(name), std::nullopt, statedSize), m_chunks(std::move(chunks)) {}
    void streamItem(StreamPreflightBlock preflight, QueuePtr, StreamChunkBlock chunk, QueuePtr queue,
                    StreamCompleteBlock complete, QueuePtr) override
    {
        auto self = shared_from_this();
        queue->async([self, preflight, chunk, complete, chunks = m_chunks] {
            auto context = preflight();
            for (const QByteArray& data : chunks) {
                if (chunk(self, data, context) != 0) {
                    complete(self, errorWithVKLErrorCode(VKLErrorCancelled), context);
                    return;
                }
            }
            complete(self, std::nullopt, context);
        });
    }

private:
    std::vector<QByteArray> m_chunks;
};

} // namespace

TEST(PhotoCopyQueue, ThroughputSkipsEachFilesFirstChunkAndNeverEstimatesFromNothing)
{
    CopyFixture fixture;
    const QByteArray hundred(100, 'x');
    // Stated 400 bytes; the camera sends 500, so the remaining count would go below zero.
    auto file = std::make_shared<ScriptedFile>(QStringLiteral("A.JPG"), 400,
                                               std::vector<QByteArray>{hundred, hundred, hundred, hundred, hundred});
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(file))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    // Each chunk is one second later than the one before.
    auto seconds = std::make_shared<int>(0);
    const auto origin = std::chrono::steady_clock::time_point();
    queue->setClock([seconds, origin] { return origin + std::chrono::seconds((*seconds)++); });
    std::vector<std::pair<std::optional<double>, std::optional<double>>> published;
    QObject::connect(queue->progress().get(), &Progress::changed, [&] {
        const auto now = std::make_pair(queue->progress()->throughput(), queue->progress()->estimatedTimeRemaining());
        if (published.empty() || published.back() != now)
            published.push_back(now);
    });
    fixture.run(queue);
    // Chunk 1 opens the window at 0 s; chunks 2 and 3 (200 bytes) close it at 2 s: 100 B/s, 100 bytes left → 1 s.
    // Chunks 4 and 5 make a window at 4 s with 200 bytes in 2 s, nothing left.
    using Figures = std::pair<std::optional<double>, std::optional<double>>;
    const std::vector<Figures> expected = {{std::nullopt, std::nullopt}, {100.0, 1.0}, {100.0, 0.0}};
    EXPECT_EQ(published, expected);
    EXPECT_EQ(queue->bytesRemaining(), 0);

    // A window without bytes publishes a throughput of 0 and no estimate at all.
    CopyFixture still;
    auto empty = std::make_shared<ScriptedFile>(QStringLiteral("B.JPG"), 300,
                                                std::vector<QByteArray>{hundred, QByteArray(), QByteArray(), hundred, hundred});
    auto stalled = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(empty))},
                                          {still.flatDestination(), FileGroupBehaviour::copyAll});
    auto tick = std::make_shared<int>(0);
    stalled->setClock([tick, origin] { return origin + std::chrono::seconds((*tick)++); });
    bool sawZero = false;
    QObject::connect(stalled->progress().get(), &Progress::changed, [&] {
        if (stalled->progress()->throughput() == 0.0) {
            sawZero = true;
            EXPECT_FALSE(stalled->progress()->estimatedTimeRemaining());
        }
    });
    still.run(stalled);
    EXPECT_TRUE(sawZero);
}

TEST(PhotoCopyQueue, AFileOfUnknownSizeIsCopiedWholeWithoutByteCounts)
{
    CopyFixture fixture;
    const QByteArray hundred(100, 'u');
    auto file = std::make_shared<ScriptedFile>(QStringLiteral("A.JPG"), 0, std::vector<QByteArray>{hundred, hundred, hundred});
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(file))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.run(queue);
    ASSERT_EQ(record->files.size(), 1u);
    EXPECT_EQ(record->files.front().state().kind, PhotoVariantCopyOperation::State::Kind::copiedSuccessfully);
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), hundred.repeated(3));
    EXPECT_EQ(record->files.front().bytesReceived(), 300);
    EXPECT_FALSE(queue->totalBytesToCopy());
    EXPECT_FALSE(queue->bytesRemaining());
    EXPECT_FALSE(queue->progress()->throughput());
    // The file's progress stays indeterminate while it streams and counts as done once finished.
    ASSERT_EQ(record->itemProgresses.size(), 1u);
    EXPECT_TRUE(record->itemProgresses.front()->isFinished());
    EXPECT_EQ(queue->progress()->completedUnitCount(), 1);
}

TEST(PhotoCopyQueue, KeepsTheDeepestFolderThatHoldsEveryFileOfTheCopy)
{
    // Sorted into date folders: one day's photos share their day's folder, two years share only the top.
    const QDateTime first(QDate(2020, 1, 2), QTime(12, 0), Qt::UTC);
    const QDateTime sameDay(QDate(2020, 1, 2), QTime(18, 0), Qt::UTC);
    const QDateTime nextYear(QDate(2021, 3, 4), QTime(12, 0), Qt::UTC);
    for (const auto& [second, sharesTheDay] : {std::pair{sameDay, true}, std::pair{nextYear, false}}) {
        SCOPED_TRACE(sharesTheDay ? "one day" : "two years");
        CopyFixture fixture;
        fixture.defaults().setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(fixture.outPath()));
        auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("IMG_0001.JPG"), 1000, first),
                                             fixture.photo(QStringLiteral("IMG_0002.JPG"), 1000, second)},
                                            {FolderCopyDestination::create(fixture.defaults(), fixture.presets()),
                                             FileGroupBehaviour::copyAll});
        const auto record = fixture.run(queue);
        ASSERT_EQ(record->files.size(), 2u);
        const QString firstFolder = QFileInfo(record->files[0].finalDestination().value_or(QString())).path();
        ASSERT_TRUE(firstFolder.startsWith(QDir::cleanPath(fixture.outPath()) + u'/')) << firstFolder.toStdString();
        EXPECT_EQ(queue->tally().folder, sharesTheDay ? firstFolder : QDir::cleanPath(fixture.outPath()));
        EXPECT_EQ(queue->tally().written, 2u);
    }
}
