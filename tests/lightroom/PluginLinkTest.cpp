#include "LightroomTestSupport.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using State = LrPluginState;
using RequestError = LrPluginRequestError;
using test::runFor;
using test::runUntil;

QVariantMap command(const char* name)
{
    return {{QStringLiteral("message"), QString::fromLatin1(name)}};
}

// Every outcome a callback received, in order.
template <typename T>
struct Outcomes {
    std::shared_ptr<std::vector<T>> values = std::make_shared<std::vector<T>>();
    auto recorder() const
    {
        return [values = values](T value) { values->push_back(value); };
    }
    std::size_t size() const { return values->size(); }
    const T& at(std::size_t i) const { return values->at(i); }
};

struct RawReply {
    std::optional<RequestError> error;
    std::optional<QJsonObject> reply;
};

class PluginLinkTest : public ::testing::Test {
protected:
    // Sends a request that records its raw outcome.
    void send(const QVariantMap& request)
    {
        bridge().sendRequest(request, [replies = replies.values](std::optional<RequestError> error,
                                                                 std::optional<QJsonObject> reply) {
            replies->push_back({error, reply});
        });
    }
    QList<qint64> replyContexts() const
    {
        QList<qint64> contexts;
        for (const RawReply& r : *replies.values)
            contexts << (r.reply ? r.reply->value(QStringLiteral("context")).toInteger() : -1);
        return contexts;
    }
    int requestsNamed(const QString& name) const
    {
        int count = 0;
        for (const QJsonObject& request : fixture.peer->requests())
            count += request.value(QStringLiteral("message")).toString() == name;
        return count;
    }
    LrPluginBridge& bridge() { return *fixture.bridge; }

    test::BridgeFixture fixture;
    Outcomes<RawReply> replies;
};

TEST_F(PluginLinkTest, ConnectReportsOnceWhenBothConnectionsOpen)
{
    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    int tries = 0;
    QObject::connect(&bridge(), &LrPluginBridge::connectionTryStarted, [&tries] { ++tries; });
    Outcomes<State> outcomes;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms, outcomes.recorder());
    EXPECT_EQ(bridge().state(), State::connecting);

    ASSERT_TRUE(runUntil([&] { return outcomes.size() > 0; }));
    EXPECT_EQ(outcomes.at(0), State::connected);
    EXPECT_EQ(bridge().state(), State::connected);
    runFor(4 * bridge().timings().readyDelay);
    EXPECT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(tries, 1);
    EXPECT_EQ(peer.commandConnectionsAccepted(), 1);

    // Asking again while connected answers at once and opens nothing.
    Outcomes<State> again;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms, again.recorder());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again.at(0), State::connected);
    EXPECT_EQ(tries, 1);
}

TEST_F(PluginLinkTest, RetriesWhileNothingListensAndGivesUpAtTheDeadline)
{
    const LrPluginBridgeTimings& timings = bridge().timings();
    const auto tryGap = timings.closeDelay + timings.retryDelay; // 1.5 s at full speed
    const auto timeout = 8 * tryGap;
    QElapsedTimer clock;
    std::vector<qint64> tryTimes;
    QObject::connect(&bridge(), &LrPluginBridge::connectionTryStarted, [&] { tryTimes.push_back(clock.elapsed()); });
    Outcomes<State> outcomes;
    clock.start();
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, timeout, outcomes.recorder());

    ASSERT_TRUE(runUntil([&] { return outcomes.size() > 0; }));
    const qint64 endedAfter = clock.elapsed();
    EXPECT_EQ(outcomes.at(0), State::notConnected);
    EXPECT_EQ(bridge().state(), State::notConnected);
    EXPECT_GE(endedAfter, qint64(timeout.count()) - 5);
    ASSERT_GE(tryTimes.size(), 3u);
    for (std::size_t i = 1; i < tryTimes.size(); ++i)
        EXPECT_GE(tryTimes[i] - tryTimes[i - 1], qint64(tryGap.count() * 9 / 10)) << "try " << i;

    const std::size_t triesAtEnd = tryTimes.size();
    runFor(3 * tryGap);
    EXPECT_EQ(tryTimes.size(), triesAtEnd) << "nothing keeps trying after the outcome";
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(PluginLinkTest, TheDeadlineHoldsWhateverIsScheduled)
{
    struct Case {
        const char* what;
        bool peerListens;
        std::chrono::milliseconds readyDelay;
        std::chrono::milliseconds retryDelay;
        State outcome;
    };
    const Case cases[] = {
        {"the next try is due after the deadline", false, 10ms, 20000ms, State::notConnected},
        {"the ready report is due after the deadline", true, 20000ms, 10ms, State::connected},
    };
    for (const Case& c : cases) {
        test::BridgeFixture fixture;
        LrPluginBridge::Options options = fixture.options();
        options.timings.readyDelay = c.readyDelay;
        options.timings.retryDelay = c.retryDelay;
        fixture.bridge = fixture.makeBridge(options);
        if (c.peerListens)
            fixture.servingPeer();
        auto outcomes = std::make_shared<std::vector<State>>();
        fixture.bridge->connectToPlugin(fixture.requestPort, fixture.responsePort, 300ms,
                                        [outcomes](State state) { outcomes->push_back(state); });
        ASSERT_TRUE(runUntil([&] { return !outcomes->empty(); }, 5000ms)) << c.what;
        EXPECT_EQ(*outcomes, std::vector<State>{c.outcome}) << c.what;
        EXPECT_EQ(fixture.bridge->state(), c.outcome) << c.what;
    }
}

TEST_F(PluginLinkTest, PeerListeningLateStillConnectsAndEveryCallerHearsTheOutcome)
{
    tools::ReferenceEditorFaults faults;
    faults.listenDelay = 2000ms / 20; // two seconds, at the fixture's pace
    tools::ReferenceEditorPeer& peer = fixture.makePeer(faults);
    int tries = 0;
    QObject::connect(&bridge(), &LrPluginBridge::connectionTryStarted, [&tries] { ++tries; });
    bridge().startPluginServer(fixture.requestPort, fixture.responsePort);
    EXPECT_FALSE(peer.isServing());

    Outcomes<State> first;
    Outcomes<State> second;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms, first.recorder());
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms, second.recorder());
    EXPECT_EQ(second.size(), 0u) << "a second caller waits for the attempt instead of being turned away";

    ASSERT_TRUE(runUntil([&] { return first.size() > 0 && second.size() > 0; }));
    EXPECT_EQ(first.at(0), State::connected);
    EXPECT_EQ(second.at(0), State::connected);
    EXPECT_GE(tries, 2);
    runFor(2 * bridge().timings().readyDelay);
    EXPECT_EQ(first.size() + second.size(), 2u);
}

TEST_F(PluginLinkTest, LinkDroppedBeforeItIsReadyIsTriedAgainAndReportedOnce)
{
    LrPluginBridge::Options options = fixture.options();
    options.timings.readyDelay = 2000ms; // the drop below must land inside it
    fixture.bridge = fixture.makeBridge(options);
    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    Outcomes<State> outcomes;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 10000ms, outcomes.recorder());
    ASSERT_TRUE(runUntil([&] { return bridge().state() == State::connected; }));
    peer.dropConnections();

    ASSERT_TRUE(runUntil([&] { return outcomes.size() > 0; }, 15000ms));
    EXPECT_EQ(outcomes.at(0), State::connected);
    EXPECT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(peer.commandConnectionsAccepted(), 2);
    send(command("getCatalogPath"));
    ASSERT_TRUE(runUntil([&] { return replies.size() > 0; }));
    EXPECT_FALSE(replies.at(0).error) << "the link reported ready is a live one";
}

TEST_F(PluginLinkTest, RepliesAreCutIntoLinesWhateverTheWrites)
{
    struct Case {
        const char* what;
        int split;
        int merge;
        bool reverse;
        QList<qint64> order;
    };
    const Case cases[] = {
        {"each reply in three writes", 3, 1, false, {1, 2}},
        {"two replies in one write", 1, 2, false, {1, 2}},
        {"answered out of order", 1, 2, true, {2, 1}},
        {"out of order and split", 3, 2, true, {2, 1}},
    };
    for (const Case& c : cases) {
        test::BridgeFixture fixture;
        tools::ReferenceEditorFaults faults;
        faults.splitRepliesInto = c.split;
        faults.mergeReplies = c.merge;
        faults.reverseMergedReplies = c.reverse;
        fixture.servingPeer(faults);
        ASSERT_EQ(fixture.connectAndWait(), State::connected) << c.what;

        Outcomes<std::pair<qint64, QString>> answers;
        // Context numbers are the bridge's own count, which a retried connection may have moved on.
        const qint64 first = fixture.bridge->messageId();
        for (int i = 0; i < 2; ++i) {
            const QVariantMap request = i == 0 ? command("getCatalogPath") : command("getCatalogFolders");
            fixture.bridge->sendRequest(request, [record = answers.recorder()](std::optional<RequestError> error,
                                                                               std::optional<QJsonObject> reply) {
                record({reply ? reply->value(QStringLiteral("context")).toInteger() : -1,
                        error ? describe(*error) : reply->keys().join(QLatin1Char(','))});
            });
        }
        ASSERT_TRUE(runUntil([&] { return answers.size() >= 2; })) << c.what;
        runFor(20ms);
        ASSERT_EQ(answers.size(), 2u) << c.what << ": each reply dispatched once";
        EXPECT_EQ((QList<qint64>{answers.at(0).first - first + 1, answers.at(1).first - first + 1}), c.order)
            << c.what;
        // Each callback got the reply to its own request.
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_EQ(answers.at(i).second, answers.at(i).first == first ? QStringLiteral("context,path")
                                                                      : QStringLiteral("context,paths"))
                << c.what;
    }
}

TEST_F(PluginLinkTest, GarbageLinePrintsOnceAndTheNextLinesWork)
{
    tools::ReferenceEditorFaults faults;
    faults.garbageLinesBeforeNextReply = 1;
    fixture.servingPeer(faults);
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    test::ConsoleCapture console;

    send(command("getCatalogPath"));
    send(command("operationEnded"));
    ASSERT_TRUE(runUntil([&] { return replies.size() >= 2; }));
    EXPECT_EQ(console.count(QStringLiteral("Unknown response!")), 1);
    EXPECT_EQ(replyContexts(), (QList<qint64>{1, 2}));
    EXPECT_FALSE(replies.at(0).error);
}

TEST_F(PluginLinkTest, ClosingFailsEveryPendingRequestOnce)
{
    struct Case {
        const char* what;
        bool peerCloses;
    };
    for (const Case c : {Case{"the editor closes the link", true}, Case{"the program disconnects", false}}) {
        test::BridgeFixture fixture;
        tools::ReferenceEditorFaults faults;
        faults.silentCommands = {QStringLiteral("getCatalogPath")};
        tools::ReferenceEditorPeer& peer = fixture.servingPeer(faults);
        ASSERT_EQ(fixture.connectAndWait(), State::connected) << c.what;
        Outcomes<std::optional<RequestError>> failures;
        for (int i = 0; i < 2; ++i)
            fixture.bridge->sendCatalogPathRequest(command("getCatalogPath"),
                                                   [record = failures.recorder()](std::optional<RequestError> error,
                                                                                  std::optional<QString>) { record(error); });
        ASSERT_TRUE(runUntil([&] { return peer.requests().size() == 2; })) << c.what;
        EXPECT_EQ(fixture.bridge->pendingRequestCount(), 2u);

        if (c.peerCloses)
            peer.dropConnections();
        else
            fixture.bridge->disconnectFromPlugin([](State) {});
        ASSERT_TRUE(runUntil([&] { return failures.size() >= 2; })) << c.what;
        runFor(20ms);
        ASSERT_EQ(failures.size(), 2u) << c.what;
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_EQ(failures.at(i), (RequestError{RequestError::notConnected, {}})) << c.what;
        EXPECT_EQ(fixture.bridge->state(), State::notConnected) << c.what;
        EXPECT_EQ(fixture.bridge->pendingRequestCount(), 0u) << c.what;
    }
}

TEST_F(PluginLinkTest, DisconnectAsksThePluginToStopExactlyOnce)
{
    Outcomes<State> idle;
    bridge().disconnectFromPlugin(idle.recorder());
    ASSERT_EQ(idle.size(), 1u) << "not connected: answered at once";
    EXPECT_EQ(idle.at(0), State::notConnected);

    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    test::ConsoleCapture console;
    Outcomes<State> first;
    Outcomes<State> second;
    bridge().disconnectFromPlugin(first.recorder());
    bridge().disconnectFromPlugin(second.recorder());
    EXPECT_EQ(first.size(), 0u) << "the link closes a moment after asking the plug-in to stop";

    ASSERT_TRUE(runUntil([&] { return first.size() > 0 && second.size() > 0; }));
    EXPECT_EQ(first.at(0), State::notConnected);
    EXPECT_EQ(second.at(0), State::notConnected);
    EXPECT_EQ(bridge().state(), State::notConnected);
    ASSERT_TRUE(runUntil([&] { return !peer.isServing(); }));
    EXPECT_EQ(requestsNamed(QStringLiteral("stopServer")), 1);
    EXPECT_TRUE(peer.requests().back().value(QStringLiteral("context")).isDouble());
    EXPECT_EQ(peer.receivedBytes().count('\n'), 1);
    EXPECT_EQ(console.count(QStringLiteral("Unknown response!")), 0);
}

TEST_F(PluginLinkTest, DisconnectDuringAConnectionAttemptEndsItAndReportsOnce)
{
    int tries = 0;
    QObject::connect(&bridge(), &LrPluginBridge::connectionTryStarted, [&tries] { ++tries; });
    Outcomes<State> attempt;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 10000ms, attempt.recorder());
    ASSERT_TRUE(runUntil([&] { return tries >= 2; }));

    Outcomes<State> disconnected;
    bridge().disconnectFromPlugin(disconnected.recorder());
    ASSERT_TRUE(runUntil([&] { return disconnected.size() > 0; }));
    ASSERT_EQ(attempt.size(), 1u);
    EXPECT_EQ(attempt.at(0), State::notConnected);
    EXPECT_EQ(disconnected.at(0), State::notConnected);
    EXPECT_EQ(bridge().state(), State::notConnected);

    const int triesAtEnd = tries;
    runFor(4 * (bridge().timings().closeDelay + bridge().timings().retryDelay));
    EXPECT_EQ(tries, triesAtEnd) << "no retry scheduled for the ended attempt may fire";
    EXPECT_EQ(attempt.size(), 1u);
    EXPECT_EQ(bridge().state(), State::notConnected);
}

TEST_F(PluginLinkTest, ConnectingWhileABrokenLinkClosesOpensANewOne)
{
    LrPluginBridge::Options options = fixture.options();
    options.timings.closeDelay = 1000ms; // the connect below must land inside it
    fixture.bridge = fixture.makeBridge(options);
    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    peer.dropConnections();
    ASSERT_TRUE(runUntil([&] { return bridge().connectionError().has_value(); }));
    ASSERT_EQ(bridge().state(), State::connected) << "the broken link closes a moment later";

    Outcomes<State> outcomes;
    bridge().connectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms, outcomes.recorder());
    EXPECT_EQ(outcomes.size(), 0u) << "the dying link is not reported as connected";
    ASSERT_TRUE(runUntil([&] { return outcomes.size() > 0; }));
    EXPECT_EQ(outcomes.at(0), State::connected);
    EXPECT_EQ(peer.commandConnectionsAccepted(), 2);
}

TEST_F(PluginLinkTest, PartialLineOfAnOldConnectionIsNotGluedToTheNext)
{
    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    peer.writeRawReplyBytes("{\"context\":99,\"pa");
    ASSERT_TRUE(runUntil([&] { return bridge().bufferedReplyBytes() > 0; }));
    peer.dropConnections();
    ASSERT_TRUE(runUntil([&] { return bridge().state() == State::notConnected; }));

    test::ConsoleCapture console;
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    send(command("getCatalogPath"));
    ASSERT_TRUE(runUntil([&] { return replies.size() > 0; }));
    EXPECT_FALSE(replies.at(0).error);
    EXPECT_EQ(replies.at(0).reply->value(QStringLiteral("path")).toString(), peer.catalogPath());
    EXPECT_EQ(console.count(QStringLiteral("Unknown response!")), 0);
}

TEST_F(PluginLinkTest, OverlongReplyLineClosesTheLink)
{
    LrPluginBridge::Options options = fixture.options();
    options.maxReplyLineLength = 256;
    fixture.bridge = fixture.makeBridge(options);
    tools::ReferenceEditorFaults faults;
    faults.silentCommands = {QStringLiteral("getCatalogPath")};
    tools::ReferenceEditorPeer& peer = fixture.servingPeer(faults);
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    send(command("getCatalogPath"));
    ASSERT_TRUE(runUntil([&] { return peer.requests().size() == 1; }));

    peer.writeRawReplyBytes(QByteArray(300, 'x'));
    ASSERT_TRUE(runUntil([&] { return replies.size() > 0; }));
    EXPECT_EQ(replies.at(0).error, (RequestError{RequestError::notConnected, {}}));
    EXPECT_EQ(bridge().state(), State::notConnected);
    EXPECT_TRUE(bridge().connectionError().has_value());
}

TEST_F(PluginLinkTest, UnansweredRequestsTimeOutAndStrayRepliesChangeNothing)
{
    LrPluginBridge::Options options = fixture.options();
    options.timings.requestTimeout = 100ms;
    fixture.bridge = fixture.makeBridge(options);
    tools::ReferenceEditorFaults faults;
    faults.replyDelay = 300ms;
    tools::ReferenceEditorPeer& peer = fixture.servingPeer(faults);
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    test::ConsoleCapture console;

    send(command("getCatalogPath"));
    ASSERT_TRUE(runUntil([&] { return replies.size() > 0; }));
    EXPECT_EQ(replies.at(0).error, (RequestError{RequestError::timedOut, {}}));
    EXPECT_EQ(bridge().pendingRequestCount(), 0u);

    // The late reply, and one for a request never sent, find nothing and print nothing.
    peer.writeRawReplyBytes("{\"context\":7,\"path\":\"/x\"}\n");
    ASSERT_TRUE(runUntil([&] { return peer.requests().size() == 1; }));
    runFor(400ms);
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_EQ(console.count(QStringLiteral("Unknown response!")), 0);
    EXPECT_EQ(bridge().state(), State::connected);
}

TEST_F(PluginLinkTest, ContextNumbersCountOnlyRequestsThatCouldBeSent)
{
    send(command("getCatalogPath"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies.at(0).error, (RequestError{RequestError::notConnected, {}}));
    EXPECT_EQ(bridge().messageId(), 1) << "a request refused for want of a link uses no number";

    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    QVariantMap unencodable = command("operationStarted");
    unencodable.insert(QStringLiteral("fileCount"), std::nan(""));
    send(unencodable);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies.at(1).error, (RequestError{RequestError::remoteOperationFailed, {}}));
    EXPECT_EQ(bridge().pendingRequestCount(), 0u) << "a request that could not be encoded leaves nothing waiting";

    send(command("operationEnded"));
    ASSERT_TRUE(runUntil([&] { return replies.size() == 3; }));
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests().front().value(QStringLiteral("context")).toInteger(), 2);
}

TEST_F(PluginLinkTest, CommandsAgainstTheEditorsCatalog)
{
    tools::ReferenceEditorPeer& peer = fixture.servingPeer();
    ASSERT_EQ(fixture.connectAndWait(), State::connected);
    const QString image = fixture.home.filePath(QStringLiteral("Copied/IMG_0001.JPG"));
    QDir().mkpath(QFileInfo(image).absolutePath());
    QFile(image).open(QIODevice::WriteOnly);

    std::optional<QString> catalog;
    std::optional<QStringList> folders;
    std::vector<std::optional<RequestError>> results;
    const auto record = [&results](std::optional<RequestError> error) { results.push_back(error); };
    bridge().sendCatalogPathRequest(command("getCatalogPath"), [&](auto, std::optional<QString> path) { catalog = path; });
    QVariantMap started = command("operationStarted");
    started.insert(QStringLiteral("fileCount"), 2);
    bridge().sendOperationStartedRequest(started, record);
    QVariantMap add = command("addImageToCatalog");
    add.insert(QStringLiteral("path"), image);
    bridge().sendAddImageRequest(add, record);
    add.insert(QStringLiteral("path"), fixture.home.filePath(QStringLiteral("Copied/missing.JPG")));
    bridge().sendAddImageRequest(add, record);
    bridge().sendOperationEndedRequest(command("operationEnded"), record);
    bridge().sendCatalogFoldersRequest(command("getCatalogFolders"), [&](auto, std::optional<QStringList> paths) { folders = paths; });

    ASSERT_TRUE(runUntil([&] { return folders.has_value() && results.size() == 4 && catalog.has_value(); }));
    EXPECT_EQ(*catalog, peer.catalogPath());
    EXPECT_FALSE(results[0]);
    EXPECT_FALSE(results[1]);
    ASSERT_TRUE(results[2]);
    EXPECT_EQ(results[2]->kind, RequestError::remoteOperationFailedWithMessage);
    EXPECT_TRUE(results[2]->message.contains(QStringLiteral("missing.JPG")));
    EXPECT_FALSE(results[3]);
    EXPECT_EQ(peer.addedImages(), QStringList{image});
    EXPECT_TRUE(folders->contains(QFileInfo(image).absolutePath()));
    EXPECT_TRUE(folders->contains(fixture.home.filePath(QStringLiteral("Pictures"))));
}

} // namespace
} // namespace vornakel
