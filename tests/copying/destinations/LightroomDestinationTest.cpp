#include "CopyTestSupport.h"
#include "LightroomTestSupport.h"

#include "copying/destinations/LightroomCopyDestination.h"

#include <QJsonObject>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

QDateTime march(int day) { return QDateTime(QDate(2026, 3, day), QTime(10, 0)); }

QStringList commands(const tools::ReferenceEditorPeer& peer)
{
    QStringList names;
    for (const QJsonObject& request : peer.requests())
        names << request.value(QStringLiteral("message")).toString();
    return names;
}

class LightroomDestinationTest : public ::testing::Test {
protected:
    // requestTimeout: how long the link waits for a reply.
    void makeDestination(tools::ReferenceEditorFaults faults = {}, std::chrono::milliseconds requestTimeout = 6000ms)
    {
        LrPluginBridge::Options options = editor.options();
        options.timings.requestTimeout = requestTimeout;
        editor.bridge = editor.makeBridge(options);
        editor.makePeer(std::move(faults));
        destination = LightroomCopyDestination::create(*editor.bridge, copy.defaults(), copy.presets());
        destination->setPorts(editor.requestPort, editor.responsePort);
        destination->setDestinationUrl(QUrl::fromLocalFile(copy.outPath()));
    }

    std::shared_ptr<CopyRecord> copyPhotos(const std::vector<PhotoPtr>& photos, ConflictAnswer answer = {FileNameConflictResolution::skip})
    {
        queue = PhotoCopyQueue::create(photos, destination->copyQueueOptions());
        auto record = copy.start(queue, answer);
        EXPECT_TRUE(runUntil([&] { return record->startedAnswer.has_value(); }, 20000ms));
        if (record->startedAnswer == true) {
            EXPECT_TRUE(runUntil([&] { return record->queueFinished > 0; }, 20000ms));
        }
        return record;
    }

    CopyFixture copy;
    BridgeFixture editor;
    LightroomCopyDestination::Ptr destination;
    PhotoCopyQueue::Ptr queue;
};

TEST_F(LightroomDestinationTest, AnnouncesTheFileCountAddsEveryCopiedFileInOrderThenEndsAndDisconnects)
{
    makeDestination();
    std::vector<PhotoPtr> photos;
    for (int i = 1; i <= 6; ++i)
        photos.push_back(copy.photo(QStringLiteral("IMG_%1.CR2").arg(i), 1000, march(i), QStringLiteral("IMG_%1.JPG").arg(i)));
    const auto record = copyPhotos(photos);
    ASSERT_EQ(record->startedAnswer, true);
    ASSERT_TRUE(runUntil([&] { return editor.bridge->state() == LrPluginState::notConnected; }));

    const tools::ReferenceEditorPeer& peer = *editor.peer;
    QStringList expected{QStringLiteral("operationStarted")};
    for (int i = 0; i < 12; ++i)
        expected << QStringLiteral("addImageToCatalog");
    expected << QStringLiteral("operationEnded");
    EXPECT_EQ(commands(peer).mid(0, expected.size()), expected);
    EXPECT_EQ(peer.requests().front().value(QStringLiteral("fileCount")).toInt(), 12);
    QStringList written;
    for (const auto& file : record->files)
        written << file.finalDestination().value_or(QString());
    EXPECT_EQ(written.size(), 12);
    EXPECT_EQ(peer.addedImages(), written);
    EXPECT_TRUE(written.front().startsWith(copy.outPath() + QStringLiteral("/2026/03/01/")));
    EXPECT_EQ(destination->lastSessionReport().notTakenIn, 0);
}

TEST_F(LightroomDestinationTest, ASkippedOrFailedFileSendsNothing)
{
    makeDestination();
    CopyFixture::write(copy.outFile(QStringLiteral("2026/03/02/SKIPPED.JPG")), "already there");
    InProcessFile::Stream failing;
    failing.chunkSize = 500;
    failing.errorAfterBytes = 700;
    auto failed = Photo::create(PhotoVariant::create(copy.file(QStringLiteral("FAILED.JPG"), 2000, march(2), failing)), nullptr);
    const auto record = copyPhotos({failed, copy.photo(QStringLiteral("SKIPPED.JPG"), 1000, march(2)),
                                    copy.photo(QStringLiteral("GOOD.JPG"), 1000, march(2))});
    ASSERT_EQ(record->startedAnswer, true);
    EXPECT_EQ(editor.peer->addedImages(), QStringList{copy.outFile(QStringLiteral("2026/03/02/GOOD.JPG"))});
    EXPECT_EQ(editor.peer->requests().front().value(QStringLiteral("fileCount")).toInt(), 3);
    // Nothing was offered to the catalog and refused.
    EXPECT_EQ(destination->lastSessionReport().notTakenIn, 0);
}

TEST_F(LightroomDestinationTest, ASilentPeerEndsEachAddAtTheTimeOutAndTheReportCountsThem)
{
    tools::ReferenceEditorFaults faults;
    faults.silentCommands = {QStringLiteral("addImageToCatalog")};
    makeDestination(faults, 300ms);
    const auto record = copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2)),
                                    copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    ASSERT_EQ(record->queueFinished, 1);
    const CopySessionReport& report = destination->lastSessionReport();
    EXPECT_EQ(report.notTakenIn, 2);
    EXPECT_EQ(report.keptIn, copy.outPath());
    EXPECT_FALSE(report.message.isEmpty());
    // The copies themselves are on disk.
    EXPECT_TRUE(QFileInfo::exists(copy.outFile(QStringLiteral("2026/03/02/A.JPG"))));
}

TEST_F(LightroomDestinationTest, ACopyDoesNotStartWithoutALinkOrWithAPeerThatNeverAnswersTheAnnouncement)
{
    makeDestination();
    editor.workspace.refuseLaunch = true;
    auto record = copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2))});
    EXPECT_EQ(record->startedAnswer, false);
    EXPECT_FALSE(destination->refusalMessage().isEmpty());
    EXPECT_TRUE(editor.peer->requests().empty());

    tools::ReferenceEditorFaults faults;
    faults.silentCommands = {QStringLiteral("operationStarted")};
    editor.workspace.refuseLaunch = false;
    makeDestination(faults, 300ms);
    record = copyPhotos({copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    EXPECT_EQ(record->startedAnswer, false);
    EXPECT_EQ(commands(*editor.peer), QStringList{QStringLiteral("operationStarted")});
}

TEST_F(LightroomDestinationTest, CopyIsAllowedExactlyWhileAFolderIsSet)
{
    makeDestination();
    const struct {
        std::optional<QUrl> url;
        bool allowed;
    } cases[] = {
        {std::nullopt, false},
        {QUrl(QStringLiteral("https://example.invalid/folder")), true},
        {QUrl::fromLocalFile(copy.outPath()), true},
    };
    for (const auto& each : cases) {
        destination->setDestinationUrl(each.url);
        EXPECT_EQ(destination->currentConfigurationAllowsCopyToStart(), each.allowed);
    }
    // A folder that is no local folder gives no target: nothing is written somewhere unexpected.
    destination->setDestinationUrl(QUrl(QStringLiteral("https://example.invalid/folder")));
    auto variant = PhotoVariant::create(copy.file(QStringLiteral("A.JPG"), 1000, march(2)));
    EXPECT_FALSE(destination->destinationFor(*variant));
}

} // namespace

namespace {

TEST_F(LightroomDestinationTest, ASilentEditorHoldsTheCopyOnlyAMomentAfterTheLastFileAndTheFilesAreNamed)
{
    tools::ReferenceEditorFaults faults;
    faults.silentCommands = {QStringLiteral("addImageToCatalog"), QStringLiteral("operationEnded")};
    // The link itself would wait a minute for each reply.
    makeDestination(faults, 60000ms);
    destination->setConfirmationGrace(200ms);
    const auto record = copyPhotos({copy.photo(QStringLiteral("A.JPG"), 1000, march(2)),
                                    copy.photo(QStringLiteral("B.JPG"), 1000, march(2))});
    ASSERT_EQ(record->queueFinished, 1) << "the copy waited for the request time-out";
    const CopySessionReport& report = destination->lastSessionReport();
    EXPECT_EQ(report.notTakenIn, 2);
    const QString reason = QStringLiteral("Lightroom did not confirm that it added this file.");
    const std::vector<CopyFileProblem> expected{{QStringLiteral("A.JPG"), reason}, {QStringLiteral("B.JPG"), reason}};
    EXPECT_EQ(destination->sessionProblems(), expected);
    EXPECT_TRUE(QFileInfo::exists(copy.outFile(QStringLiteral("2026/03/02/B.JPG"))));
}

TEST_F(LightroomDestinationTest, CancellingTheStartEndsTheLinkBeingSetUpAtOnceAndQuietly)
{
    tools::ReferenceEditorFaults faults;
    faults.listenDelay = 60000ms; // the plug-in takes its time to listen
    makeDestination(faults);
    std::optional<bool> started;
    destination->copySessionShouldStart({}, [&](bool answer) { started = answer; });
    ASSERT_TRUE(runUntil([&] { return editor.bridge->state() == LrPluginState::connecting; }));
    destination->copySessionStartCancelled();
    ASSERT_TRUE(runUntil([&] { return started.has_value(); }, 5000ms)) << "the start waited for the connection deadline";
    EXPECT_EQ(started, false);
    EXPECT_TRUE(destination->refusalMessage().isEmpty()) << "a cancelled start is no failure to report";
    EXPECT_EQ(editor.bridge->state(), LrPluginState::notConnected);
}

} // namespace
