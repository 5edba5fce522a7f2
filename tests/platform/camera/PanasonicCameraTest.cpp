// The LUMIX backend's control-page side: what the camera answers (read as hostile input), and the access,
// mode and state requests against the test camera under tools/ on 127.0.0.1.
#include "CameraTestSupport.h"

#include "panasonic-camera/PanasonicResponder.h"
#include "platform/camera/panasonic/PanasonicCamCgiClient.h"
#include "platform/camera/panasonic/PanasonicCamera.h"
#include "platform/camera/panasonic/PanasonicReplies.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using namespace panasonic;
using test::runUntil;

TEST(PanasonicReplies, AccessRepliesInEveryFormTheCamerasUse)
{
    struct Case {
        const char* body;
        AccessAnswer answer;
        const char* session;
    };
    const Case cases[] = {
        {"ok,VK1-5A3C21,remote", AccessAnswer::granted, ""},
        {"ok,S5M2-E86421,remote,open,F203CA4BF50DC91F\r\n", AccessAnswer::granted, "F203CA4BF50DC91F"},
        {"ok,X,remote,open,bad session\r\nInjected: 1", AccessAnswer::other, ""}, // two lines: not a reply
        {"ok,X,remote,open,semi;colon", AccessAnswer::granted, ""},                // a session unfit for a header
        {"ok_under_research,VK1,remote", AccessAnswer::pending, ""},
        {"ok_under_research_no_msg,VK1,remote_encrypted", AccessAnswer::pending, ""},
        {"err_reject", AccessAnswer::refused, ""},
        {"err_user_refused", AccessAnswer::refused, ""},
        {"err_busy", AccessAnswer::busy, ""},
        {"err_others_requesting", AccessAnswer::busy, ""},
        {"err_non_support", AccessAnswer::granted, ""},
        {"<?xml version=\"1.0\"?><camrply><result>err_busy</result></camrply>", AccessAnswer::busy, ""},
        {"<camrply><result>ok</result></camrply>", AccessAnswer::granted, ""},
        {"", AccessAnswer::other, ""},
        {"okay", AccessAnswer::other, ""},
        {"ok\x01,X", AccessAnswer::other, ""},
        {"<html><body>ok</body></html>", AccessAnswer::other, ""},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.body);
        const AccessReply reply = parseAccessReply(QByteArray(each.body));
        EXPECT_EQ(reply.answer, each.answer);
        EXPECT_EQ(reply.session, QString::fromLatin1(each.session));
    }
    EXPECT_EQ(parseAccessReply(QByteArray("ok,") + QByteArray(2000, 'x')).answer, AccessAnswer::other) << "one short line";
}

TEST(PanasonicReplies, HostileStateRepliesAreRefusedWithoutExpandingAnything)
{
    const QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE camrply [<!ENTITY a \"aaaaaaaaaa\">"
                              "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
                              "<camrply><result>ok</result><state><batt>&c;</batt></state></camrply>";
    const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE camrply [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                "<camrply><result>&x;</result></camrply>";
    const QByteArray undeclared = "<camrply><result>&x;</result></camrply>";
    QByteArray deep = "<camrply><state>";
    for (int i = 0; i < 50; ++i)
        deep += "<a>";
    const QByteArray huge = "<camrply><result>ok</result><state><batt>" + QByteArray(100 * 1024, '5') + "</batt></state></camrply>";
    const QByteArray longText = "<camrply><result>" + QByteArray(4000, 'o') + "</result></camrply>";
    const QByteArray wrongRoot = "<reply><result>ok</result></reply>";
    const QByteArray unterminated = "<camrply><result>ok</result><state><batt>4/5</batt>";
    for (const QByteArray& body : {laughs, external, undeclared, deep, huge, longText, wrongRoot, unterminated}) {
        SCOPED_TRACE(body.left(60).toStdString());
        EXPECT_FALSE(parseCamReply(body).has_value());
    }
    const auto fine = parseCamReply("<?xml version=\"1.0\"?>\n<camrply><result>ok</result><state><batt>3/5</batt>"
                                    "<cammode>play</cammode><version>A&amp;B</version></state></camrply>");
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->result, QStringLiteral("ok"));
    EXPECT_EQ(fine->state.at(QStringLiteral("cammode")), QStringLiteral("play"));
    EXPECT_EQ(fine->state.at(QStringLiteral("version")), QStringLiteral("A&B")) << "XML's own escapes are not entities to refuse";
}

TEST(PanasonicReplies, BatteryFromPercentageElseBars)
{
    struct Case {
        const char* bars;
        const char* percent;
        std::optional<int> level;
    };
    const Case cases[] = {
        {"5/5", "-1", 0}, {"4/5", "-1", 1}, {"3/5", "-1", 2}, {"2/5", "-1", 3}, {"1/5", "-1", 4}, {"0/5", "-1", 4},
        {"5/5", "20", 3},      // the percentage wins where the camera gives one
        {"-1/5", "-1", std::nullopt}, // a grip without a battery
        {"7/5", "", std::nullopt}, {"x/5", "", std::nullopt}, {"", "", std::nullopt}, {"3/0", "", std::nullopt},
        {"2/4", "", 2}, {"", "100", 0}, {"", "0", 4}, {"", "101", std::nullopt},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string(each.bars) + " " + each.percent);
        std::map<QString, QString> state;
        if (*each.bars)
            state[QStringLiteral("batt")] = QString::fromLatin1(each.bars);
        if (*each.percent)
            state[QStringLiteral("batt_per")] = QString::fromLatin1(each.percent);
        EXPECT_EQ(batteryLevelFromState(state), each.level);
    }
}

// The test LUMIX (control page and media server) and a camera of the backend pointed at it.
struct Lumix {
    explicit Lumix(tools::PanasonicCamCgiOptions options = {}, PanasonicAccessTimings access = {},
                   std::chrono::milliseconds pollInterval = 3000ms, tools::UpnpResponderOptions mediaServer = {})
        : server(test::sampleCameraFolder(), std::move(mediaServer), std::move(options))
    {
        EXPECT_TRUE(server.listen());
        PanasonicCameraOptions cameraOptions = PanasonicCamera::optionsFor(QUrl(server.descriptionUrl()));
        cameraOptions.access = access;
        cameraOptions.mediaServer.pollInterval = pollInterval;
        camera = PanasonicCamera::create(cameraOptions);
    }

    struct Outcome {
        std::optional<Error> error;
        std::vector<bool> prompts;
    };
    // Connects; `atPrompt` runs when the prompt is shown, with the block that cancels it.
    Outcome connect(std::function<void(std::function<void()>)> atPrompt = {})
    {
        Outcome outcome;
        std::optional<std::optional<Error>> result;
        camera->connectWithClientName(
            QStringLiteral("Vornakel"),
            [&](std::optional<Error> error, std::vector<VKLCameraConnectionWarning>) { result = error; },
            [&](bool shown, std::function<void()> cancel) {
                outcome.prompts.push_back(shown);
                if (shown && atPrompt)
                    atPrompt(cancel);
            });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }, 15s));
        if (result)
            outcome.error = *result;
        return outcome;
    }

    tools::PanasonicResponder server;
    std::shared_ptr<PanasonicCamera> camera;
};

std::optional<int> codeOf(const std::optional<Error>& error) { return error ? std::optional(error->code) : std::nullopt; }

TEST(PanasonicCamera, AsksForAccessWithTheKeptGuidAndOurNameThenEntersPlayback)
{
    Lumix lumix;
    const auto outcome = lumix.connect();
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_TRUE(outcome.prompts.empty()) << "a camera that lets us in at once shows no prompt";
    EXPECT_EQ(lumix.camera->connectionState(), 2u);
    EXPECT_EQ(lumix.server.camCgi().lastClientName(), QStringLiteral("Vornakel"));
    const QString guid = lumix.server.camCgi().lastClientGuid();
    EXPECT_EQ(guid, PanasonicAccess::clientGuid());
    EXPECT_EQ(UserDefaults::standard().stringForKey(QStringLiteral("PanasonicClientGUID")), guid);
    EXPECT_EQ(lumix.camera->friendlyDisplayName(), QStringLiteral("VK1-5A3C21"));
    ASSERT_TRUE(lumix.camera->storageDevices());
    EXPECT_EQ(lumix.camera->storageDevices()->size(), 1u) << "the card, through the media server";
    EXPECT_EQ(lumix.camera->proxyForProperty(VKLPropertyBatteryLevel)->value(), 1) << "4 bars of 5";
    EXPECT_TRUE(lumix.camera->currentCommandCategoriesContainsCategory(VKLCommandCategoryStorageAccess));
    EXPECT_FALSE(lumix.camera->supportsCommandCategories(VKLCommandCategoryRemoteShooting));

    // Asked again, the same camera lets the same computer in at once.
    ASSERT_EQ(test::awaitError([&](auto done) { lumix.camera->disconnect(done, {}); }), std::nullopt);
    EXPECT_EQ(lumix.camera->connectionState(), 0u);
    EXPECT_EQ(lumix.connect().error, std::nullopt);
    EXPECT_EQ(lumix.server.camCgi().lastClientGuid(), guid);
}

TEST(PanasonicCamera, TheCamerasOwnPromptAcceptedRejectedCancelledOrBusy)
{
    using Fault = tools::PanasonicCamCgiOptions::AccessFault;
    struct Case {
        const char* what;
        tools::PanasonicCamCgiOptions camera;
        enum { wait, cancel, refuseOnCamera } atPrompt;
        std::optional<int> error;
        bool promptShown;
    };
    const Case cases[] = {
        {"accepted on the camera after a while", {.accessPromptMs = 2500}, Case::wait, std::nullopt, true},
        {"cancelled on the computer", {.accessHeldUntilAnswered = true}, Case::cancel, VKLErrorPairingRejected, true},
        {"refused on the camera at its prompt", {.accessHeldUntilAnswered = true}, Case::refuseOnCamera, VKLErrorPairingRejected, true},
        {"refused at once", {.accessFault = Fault::refused}, Case::wait, VKLErrorPairingRejected, false},
        {"held by another device", {.accessFault = Fault::busy}, Case::wait, VKLErrorBusy, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        Lumix lumix(each.camera);
        const auto outcome = lumix.connect([&](const std::function<void()>& cancel) {
            if (each.atPrompt == Case::cancel)
                cancel();
            else if (each.atPrompt == Case::refuseOnCamera)
                lumix.server.camCgi().answerAccess(false);
        });
        EXPECT_EQ(codeOf(outcome.error), each.error);
        if (each.promptShown) {
            ASSERT_EQ(outcome.prompts.size(), 2u) << "shown, then taken away";
            EXPECT_TRUE(outcome.prompts[0]);
            EXPECT_FALSE(outcome.prompts[1]);
        } else {
            EXPECT_TRUE(outcome.prompts.empty());
        }
        EXPECT_EQ(lumix.camera->connectionState(), each.error ? 0u : 2u);
    }
}

TEST(PanasonicCamera, APromptNeverAnsweredWaitsForTheUserNotForATimer)
{
    Lumix lumix({.accessHeldUntilAnswered = true}, {.requestTimeout = 1000ms});
    std::function<void()> cancel;
    std::optional<std::optional<Error>> result;
    lumix.camera->connectWithClientName(
        QStringLiteral("Vornakel"), [&](std::optional<Error> error, auto) { result = error; },
        [&](bool shown, std::function<void()> block) {
            if (shown)
                cancel = block;
        });
    ASSERT_TRUE(runUntil([&] { return bool(cancel); }));
    test::runFor(3s); // well past the request bound: the camera keeps answering that it asks its user
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(lumix.camera->connectionState(), 1u);
    cancel();
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(codeOf(*result), VKLErrorPairingRejected);
}

TEST(PanasonicCamera, TheSessionOfTheGrantGoesWithEveryLaterRequest)
{
    // A newer body answers every command without its session with an error.
    Lumix lumix({.session = QStringLiteral("F203CA4BF50DC91F")});
    EXPECT_EQ(lumix.connect().error, std::nullopt);
    EXPECT_EQ(lumix.camera->connectionState(), 2u) << "playback mode was entered with the session";
}

TEST(PanasonicCamera, AFailingStatePollIsALostConnectionAndTheBatteryFollowsThePolls)
{
    struct Case {
        const char* what;
        bool freeze; // a camera that keeps the connection and answers nothing, else one gone from the network
    };
    for (const Case& each : {Case{"gone", false}, Case{"frozen", true}}) {
        SCOPED_TRACE(each.what);
        Lumix lumix({}, {.requestTimeout = 1000ms}, 100ms);
        ASSERT_EQ(lumix.connect().error, std::nullopt);
        const auto battery = lumix.camera->proxyForProperty(VKLPropertyBatteryLevel);
        lumix.server.camCgi().setBatteryBars(2);
        EXPECT_TRUE(runUntil([&] { return battery->value() == 3; }));
        int changes = 0;
        QObject::connect(lumix.camera.get(), &VKLCamera::connectionStateChanged, [&] { ++changes; });
        if (each.freeze)
            lumix.server.mediaServer().setFrozen(true);
        else
            lumix.server.mediaServer().dropConnections();
        ASSERT_TRUE(runUntil([&] { return lumix.camera->connectionState() == 0; }));
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(battery->value(), std::nullopt);
        EXPECT_EQ(lumix.camera->storageDevices(), std::nullopt);
    }
}

TEST(PanasonicCamera, AFileThatBreaksWhileTheStateGoesUnansweredIsALostConnection)
{
    // The original's body breaks off short of its length; meanwhile the camera no longer answers its state, which
    // is what tells whether it is still there.
    tools::UpnpResponderOptions mediaServer;
    mediaServer.streamShortByBytes = 1000;
    Lumix lumix({}, {}, 60s, mediaServer);
    const auto root = test::openStorage(*lumix.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_FALSE(files.empty());
    lumix.server.camCgi().setReplyOverride([](const QUrlQuery&) { return std::optional<QByteArray>("gone"); });
    const auto copy = test::streamFile(files.front());
    ASSERT_TRUE(copy.error);
    EXPECT_EQ(copy.error->code, VKLErrorConnectionLost) << copy.error->message.toStdString();
    EXPECT_EQ(lumix.camera->connectionState(), 0u);

    // While the camera answers, the same short file is a failed read and the camera stays.
    Lumix answering({}, {}, 60s, mediaServer);
    const auto answeringFiles = test::walkFiles(test::openStorage(*answering.camera));
    ASSERT_FALSE(answeringFiles.empty());
    const auto failed = test::streamFile(answeringFiles.front());
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, VKLErrorReadFailed);
    EXPECT_EQ(answering.camera->connectionState(), 2u);
}

TEST(PanasonicCamera, AnUnreachableOrForeignCameraFailsTheConnection)
{
    // Nothing listens: the port of a server that was closed.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    auto camera = PanasonicCamera::create(PanasonicCamera::optionsFor(QUrl(QStringLiteral("http://127.0.0.1:%1/Server0/ddd").arg(port))));
    EXPECT_EQ(codeOf(test::connectCamera(*camera)), VKLErrorConnectionLost);

    // A control page that answers in words no LUMIX uses.
    Lumix foreign;
    foreign.server.camCgi().setReplyOverride([](const QUrlQuery&) { return std::optional<QByteArray>("<html>hello</html>"); });
    EXPECT_EQ(codeOf(foreign.connect().error), VKLErrorGeneric);
    EXPECT_EQ(foreign.camera->connectionState(), 0u);
}

TEST(PanasonicCamCgiClient, AReplyWithoutAnEndIsCutAtTheBound)
{
    // A peer that sends a reply head and then bytes for as long as they are taken.
    QTcpServer endless;
    ASSERT_TRUE(endless.listen(QHostAddress::LocalHost));
    qint64 sent = 0;
    QObject::connect(&endless, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = endless.nextPendingConnection();
        const auto more = [socket, &sent] {
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 256 * 1024 && sent < 512LL * 1024 * 1024) {
                sent += socket->write(QByteArray(64 * 1024, 'x'));
            }
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, more] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<camrply><result>");
            more();
        });
    });
    PanasonicCamCgiClient client(QStringLiteral("127.0.0.1"), endless.serverPort(), 5000ms);
    std::optional<std::optional<Error>> result;
    client.get({{QStringLiteral("mode"), QStringLiteral("getstate")}}, [&](std::optional<Error> error, const QByteArray& body) {
        result = error;
        EXPECT_TRUE(body.isEmpty());
    });
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(codeOf(*result), VKLErrorGeneric);
    EXPECT_LT(sent, 64LL * 1024 * 1024) << "the reply was given up on near its bound, not read on";
}

TEST(PanasonicCamCgiClient, AReplyThatBreaksOffAfterItsHeadIsALostConnectionNotAState)
{
    // Each peer sends a reply head and part of the body it announced, then goes (or stays silent past the
    // client's bound); the partial body must never come back as the camera's answer.
    struct Case {
        const char* name;
        bool leaves;
    };
    for (const Case& c : {Case{"the camera leaves", true}, Case{"the camera falls silent", false}}) {
        SCOPED_TRACE(c.name);
        QTcpServer camera;
        ASSERT_TRUE(camera.listen(QHostAddress::LocalHost));
        QObject::connect(&camera, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = camera.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, leaves = c.leaves] {
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 500\r\n\r\n"
                                  "<camrply><result>ok</result><state><batt>");
                    if (leaves)
                        QTimer::singleShot(50ms, socket, [socket] { socket->abort(); });
                });
            }
        });
        PanasonicCamCgiClient client(QStringLiteral("127.0.0.1"), camera.serverPort(), 500ms);
        // Several rounds, so that both of Qt's readings of a close come up.
        for (int round = 0; round < (c.leaves ? 20 : 1); ++round) {
            std::optional<std::optional<Error>> result;
            QByteArray body;
            client.get({{QStringLiteral("mode"), QStringLiteral("getstate")}}, [&](std::optional<Error> error, const QByteArray& got) {
                body = got;
                result = error;
            });
            ASSERT_TRUE(runUntil([&] { return result.has_value(); })) << round;
            EXPECT_EQ(codeOf(*result), VKLErrorConnectionLost) << round;
            EXPECT_TRUE(body.isEmpty()) << round;
        }
    }
}

TEST(PanasonicCameraDiscovery, FindsAListedLumixAndNotAnotherServer)
{
    Lumix lumix;
    // A TCP server that accepts and never answers, like a gateway that is no camera, and another maker's media
    // server.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    tools::UpnpResponder sony(test::sampleCameraFolder(), {});
    ASSERT_TRUE(sony.listen());
    qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("panasonic://127.0.0.1:%1,panasonic://127.0.0.1:%2,panasonic://127.0.0.1:%3,127.0.0.1:%1")
                                             .arg(lumix.server.port()).arg(silent.serverPort()).arg(sony.port()).toUtf8());
    PanasonicCameraDiscovery discovery;
    discovery.beginSearching();
    ASSERT_TRUE(runUntil([&] { return !discovery.cameras().empty(); }));
    test::runFor(2s); // the silent server's probe times out meanwhile
    ASSERT_EQ(discovery.cameras().size(), 1u);
    auto camera = std::dynamic_pointer_cast<PanasonicCamera>(discovery.cameras().front());
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->panasonicOptions().camCgiPort, lumix.server.port());
    EXPECT_EQ(test::connectCamera(*camera), std::nullopt);
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

} // namespace
} // namespace vornakel
