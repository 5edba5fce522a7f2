#include "LightroomTestSupport.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using State = LrPluginState;
using test::runFor;
using test::runUntil;

class LaunchAndQuitTest : public ::testing::Test {
protected:
    QString editorId() const { return LrPluginBridge::defaultApplicationIdentifier(); }
    // Launches and connects; the outcomes and when the first came, in milliseconds after the call.
    std::vector<State> launchAndWait(qint64* elapsed = nullptr)
    {
        auto outcomes = std::make_shared<std::vector<State>>();
        QElapsedTimer clock;
        clock.start();
        fixture.bridge->launchLightroomAndConnectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms,
                                                          [outcomes](State state) { outcomes->push_back(state); });
        runUntil([&] { return !outcomes->empty(); }, 10000ms);
        if (elapsed)
            *elapsed = clock.elapsed();
        return *outcomes;
    }

    test::BridgeFixture fixture;
};

TEST_F(LaunchAndQuitTest, LaunchesWaitsOpensTheStartAddressConnectsAndHidesWhatItLaunched)
{
    fixture.makePeer();
    int startUrlsWhenTriesBegan = -1;
    QObject::connect(fixture.bridge.get(), &LrPluginBridge::connectionTryStarted, [&] {
        if (startUrlsWhenTriesBegan < 0)
            startUrlsWhenTriesBegan = int(fixture.workspace.opened.size());
    });
    qint64 elapsed = 0;
    const std::vector<State> outcomes = launchAndWait(&elapsed);

    ASSERT_EQ(outcomes, std::vector<State>{State::connected});
    EXPECT_EQ(fixture.workspace.launched, std::vector<QString>{editorId()});
    ASSERT_EQ(fixture.workspace.opened.size(), 1u);
    EXPECT_EQ(fixture.workspace.opened.front().toString(),
              QStringLiteral("lightroom://com.vornakel.transfer.lrplugin/start?receiveCommandsPort=%1&sendResponsesPort=%2")
                  .arg(fixture.requestPort)
                  .arg(fixture.responsePort));
    EXPECT_EQ(startUrlsWhenTriesBegan, 1) << "the plug-in is asked to listen before the first try";
    EXPECT_GE(elapsed, qint64(fixture.bridge->timings().launchWait.count()));
    EXPECT_EQ(LrPluginBridge::startUrlText(33446, 33445),
              QStringLiteral("lightroom://com.vornakel.transfer.lrplugin/start?receiveCommandsPort=33446&sendResponsesPort=33445"));

    EXPECT_TRUE(fixture.applications.hidden.empty()) << "hidden only a moment after the outcome";
    ASSERT_TRUE(runUntil([&] { return !fixture.applications.hidden.empty(); }));
    EXPECT_EQ(fixture.applications.hidden, std::vector<qint64>{4242});
}

TEST_F(LaunchAndQuitTest, EditorAlreadyRunningIsNeitherLaunchedNorHidden)
{
    fixture.makePeer();
    fixture.applications.running[editorId()] = {77};
    qint64 elapsed = 0;
    EXPECT_EQ(launchAndWait(&elapsed), std::vector<State>{State::connected});
    EXPECT_TRUE(fixture.workspace.launched.empty());
    EXPECT_EQ(fixture.workspace.opened.size(), 1u);
    EXPECT_GE(elapsed, qint64(fixture.bridge->timings().launchWait.count())) << "a running editor gets the same wait";
    runFor(3 * fixture.bridge->timings().hideDelay);
    EXPECT_TRUE(fixture.applications.hidden.empty());
}

TEST_F(LaunchAndQuitTest, EarlyOutcomes)
{
    // Not installed: the unchanged state at once, nothing launched.
    fixture.workspace.installed = false;
    std::vector<State> outcomes;
    fixture.bridge->launchLightroomAndConnectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms,
                                                      [&](State state) { outcomes.push_back(state); });
    EXPECT_EQ(outcomes, std::vector<State>{State::notConnected});
    EXPECT_TRUE(fixture.workspace.launched.empty());

    // Launch refused: notConnected at once.
    fixture.workspace.installed = true;
    fixture.workspace.refuseLaunch = true;
    outcomes.clear();
    fixture.bridge->launchLightroomAndConnectToPlugin(fixture.requestPort, fixture.responsePort, 3000ms,
                                                      [&](State state) { outcomes.push_back(state); });
    EXPECT_EQ(outcomes, std::vector<State>{State::notConnected});
    EXPECT_EQ(fixture.bridge->state(), State::notConnected);
    EXPECT_TRUE(fixture.workspace.opened.empty());
}

TEST_F(LaunchAndQuitTest, PluginNeverAnsweringEndsAtTheDeadlineAndStillHides)
{
    // The editor starts, but its plug-in is not installed, so it never listens.
    tools::ReferenceEditorPeer::Options peerOptions;
    peerOptions.modulesFolder = fixture.home.filePath(QStringLiteral("Elsewhere"));
    tools::ReferenceEditorPeer peer(peerOptions);
    fixture.workspace.peer = &peer;

    auto outcomes = std::make_shared<std::vector<State>>();
    QElapsedTimer clock;
    clock.start();
    fixture.bridge->launchLightroomAndConnectToPlugin(fixture.requestPort, fixture.responsePort, 400ms,
                                                      [outcomes](State state) { outcomes->push_back(state); });
    ASSERT_TRUE(runUntil([&] { return !outcomes->empty(); }));
    EXPECT_EQ(*outcomes, std::vector<State>{State::notConnected});
    EXPECT_GE(clock.elapsed(), qint64((fixture.bridge->timings().launchWait + 400ms).count()) - 5);
    EXPECT_FALSE(peer.isServing());
    ASSERT_TRUE(runUntil([&] { return !fixture.applications.hidden.empty(); }));
}

TEST_F(LaunchAndQuitTest, QuitCallsBackOnceInEveryCase)
{
    struct Case {
        const char* what;
        bool running;
        bool refuses;
        bool lingers;
        bool terminateAsked;
        bool callsBackAtOnce;
    };
    const Case cases[] = {
        {"not running", false, false, false, false, true},
        {"refuses to be asked", true, true, false, true, true},
        {"quits", true, false, false, true, false},
        {"never quits", true, false, true, true, false},
    };
    for (const Case& c : cases) {
        test::BridgeFixture fixture;
        if (c.running)
            fixture.applications.running[editorId()] = {12, 13};
        fixture.applications.refuseTermination = c.refuses;
        fixture.applications.lingerAfterTermination = c.lingers;
        int calls = 0;
        QElapsedTimer clock;
        clock.start();
        fixture.bridge->quitLightroom([&calls] { ++calls; });
        EXPECT_EQ(calls, c.callsBackAtOnce ? 1 : 0) << c.what;
        ASSERT_TRUE(runUntil([&] { return calls > 0; })) << c.what;
        if (c.lingers) {
            EXPECT_GE(clock.elapsed(), qint64(fixture.bridge->timings().quitTimeout.count()) - 5) << c.what;
        }
        runFor(4 * fixture.bridge->timings().quitPollInterval);
        EXPECT_EQ(calls, 1) << c.what;
        EXPECT_EQ(fixture.applications.terminated, c.terminateAsked ? std::vector<qint64>{12} : std::vector<qint64>{})
            << c.what << ": only the first attributed instance is asked";
    }
}

TEST_F(LaunchAndQuitTest, NotesWhetherTheEditorRuns)
{
    std::vector<bool> changes;
    QObject::connect(fixture.bridge.get(), &LrPluginBridge::lightroomIsRunningChanged,
                     [&](bool running) { changes.push_back(running); });
    EXPECT_FALSE(fixture.bridge->lightroomIsRunning());
    fixture.applications.running[editorId()] = {5};
    fixture.bridge->refreshLightroomIsRunning();
    fixture.bridge->refreshLightroomIsRunning();
    EXPECT_TRUE(fixture.bridge->lightroomIsRunning());
    fixture.applications.remove(5);
    fixture.bridge->refreshLightroomIsRunning();
    EXPECT_FALSE(fixture.bridge->lightroomIsRunning());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

} // namespace
} // namespace vornakel
