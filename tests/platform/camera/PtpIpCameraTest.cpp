// The PTP/IP backend against a broken or hostile camera, its discovery, and the PTP/IP camera under tools/
// checked by an independent client (gphoto2).
#include "CameraTestSupport.h"
#include "FakeAvahi.h"
#include "FakeSsdpDevice.h"

#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/core/UserDefaults.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "support/PrivateBusDaemon.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using namespace ptpip;
using test::runUntil;

struct Camera {
    std::unique_ptr<tools::PtpIpResponder> responder;
    std::shared_ptr<PtpIpCamera> camera;
};

Camera startCamera(tools::PtpIpResponderOptions options = {}, ConnectionTimings timings = {})
{
    Camera result;
    result.responder = std::make_unique<tools::PtpIpResponder>(test::sampleCameraFolder(), options);
    EXPECT_TRUE(result.responder->listen());
    PtpIpCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = result.responder->port();
    cameraOptions.timings = timings;
    result.camera = PtpIpCamera::create(cameraOptions);
    return result;
}

QByteArray objectInfoNamed(const QString& name)
{
    ObjectInfo info;
    info.storageId = 0x00010001;
    info.format = FormatExifJpeg;
    info.compressedSize = 10;
    info.filename = name;
    return encode(info);
}

QByteArray dataPhase(uint32_t transaction, const QByteArray& data, uint64_t announced)
{
    return encode(StartData{transaction, announced}) + encodeData(PacketType::EndData, transaction, data)
        + encode(OperationResponse{RespOK, transaction, {}});
}

TEST(PtpIpCamera, IntroducesItselfWithTheClientNameAndAGuidKeptInTheUserDefaults)
{
    auto camera = startCamera();
    EXPECT_EQ(test::connectCamera(*camera.camera), std::nullopt);
    EXPECT_EQ(camera.responder->lastClientName(), QStringLiteral("Vornakel"));
    const QByteArray guid = PtpIpCamera::clientGuid();
    EXPECT_EQ(guid.size(), 16);
    EXPECT_EQ(camera.responder->lastClientGuid(), guid);
    EXPECT_EQ(PtpIpCamera::clientGuid(), guid) << "made once";
    EXPECT_EQ(UserDefaults::standard().stringForKey(QStringLiteral("PTPIPClientGUID")), QString::fromLatin1(guid.toHex()));
    EXPECT_EQ(camera.camera->friendlyDisplayName(), QStringLiteral("PTP/IP Test Camera"));
}

TEST(PtpIpCamera, APromptAnsweredLateStillPairsAndOneNeverAnsweredWaitsForTheUser)
{
    tools::PtpIpResponderOptions options;
    options.pairingHeldUntilAnswered = true;
    auto camera = startCamera(options);
    std::vector<bool> prompts;
    std::function<void()> cancel;
    std::optional<std::optional<Error>> result;
    camera.camera->connectWithClientName(
        QStringLiteral("Vornakel"), [&](std::optional<Error> error, auto) { result = error; },
        [&](bool shown, std::function<void()> cancelBlock) {
            prompts.push_back(shown);
            cancel = cancelBlock;
        });
    ASSERT_TRUE(runUntil([&] { return !prompts.empty(); }));
    EXPECT_TRUE(prompts.front());
    // No reply timer of its own ends the wait: only the camera's answer or the user's cancel does. The
    // probe bounds are shortened so that one would have fired by now.
    test::runFor(1500ms);
    EXPECT_FALSE(result.has_value());
    camera.responder->answerPairing(true);
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, std::nullopt);
    EXPECT_EQ(prompts, (std::vector<bool>{true, false}));
    EXPECT_EQ(camera.camera->connectionState(), 2u);
}

TEST(PtpIpCamera, HostileRepliesEndInAClearErrorWithBoundedMemory)
{
    struct Case {
        const char* what;
        // The reply to the first GetObjectHandles; transaction ids are the request's.
        std::function<QByteArray(uint32_t)> reply;
        int listingError;
        bool connectionSurvives;
    };
    DatasetWriter lyingCount;
    lyingCount.u32(1000000).u32(1).u32(2);
    const Case cases[] = {
        {"an array count larger than its data", [&](uint32_t tx) { return dataPhase(tx, lyingCount.data(), lyingCount.data().size()); },
         VKLErrorListingFailed, true},
        {"a data phase larger than announced", [](uint32_t tx) { return dataPhase(tx, QByteArray(64, '\1'), 8); },
         VKLErrorConnectionLost, false},
        {"a dataset without an end past the bound",
         [](uint32_t tx) {
             QByteArray bytes = encode(StartData{tx, kUnknownDataLength});
             for (int i = 0; i < 12; ++i)
                 bytes += encodeData(PacketType::Data, tx, QByteArray(1024 * 1024, '\2'));
             return bytes;
         },
         VKLErrorConnectionLost, false},
        {"a packet length of four gigabytes", [](uint32_t) { return QByteArray::fromHex("ffffffff07000000"); },
         VKLErrorConnectionLost, false},
        {"a reply to another transaction", [](uint32_t tx) { return encode(OperationResponse{RespOK, tx + 5, {}}); },
         VKLErrorConnectionLost, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto camera = startCamera();
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        bool replaced = false;
        camera.responder->setReplyOverride([&](const OperationRequest& request) -> std::optional<QByteArray> {
            if (replaced || request.code != OpGetObjectHandles)
                return std::nullopt;
            replaced = true;
            return each.reply(request.transactionId);
        });
        const auto error = test::awaitError([&](auto done) { root->loadChildren(done); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, each.listingError);
        if (each.connectionSurvives) {
            EXPECT_EQ(camera.camera->connectionState(), 2u);
            EXPECT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt) << "asked again";
        } else {
            EXPECT_TRUE(runUntil([&] { return camera.camera->connectionState() == 0; }));
        }
    }
}

TEST(PtpIpCamera, ANameThatIsNotUtf16LeavesThatObjectOutOfTheListing)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    int objectInfos = 0;
    camera.responder->setReplyOverride([&](const OperationRequest& request) -> std::optional<QByteArray> {
        if (request.code != OpGetObjectInfo || objectInfos++ != 0)
            return std::nullopt;
        QByteArray info = objectInfoNamed(QStringLiteral("AB"));
        info[53] = char(0x00);
        info[54] = char(0xDC); // a lone low surrogate
        return dataPhase(request.transactionId, info, info.size());
    });
    ASSERT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    const auto children = root->children();
    ASSERT_TRUE(children);
    EXPECT_EQ(int(children->size()), objectInfos - 1);
}

TEST(PtpIpCamera, AnEventFloodIsSurvivedAndTheCameraStillAnswers)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    QByteArray flood;
    for (int i = 0; i < 50000; ++i)
        flood += encode(EventPacket{EventDevicePropChanged, 0xFFFFFFFF, {PropBatteryLevel}});
    camera.responder->sendOnEventConnection(flood);
    EXPECT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    EXPECT_EQ(camera.camera->connectionState(), 2u);
    EXPECT_LT(camera.responder->operationCount(), 2000) << "the flood did not turn into as many requests";
}

TEST(PtpIpCamera, ASilentCameraIsLostWithinTheProbeBound)
{
    ConnectionTimings timings;
    timings.probeAfter = 200ms;
    timings.probeTimeout = 300ms;
    auto camera = startCamera({}, timings);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    // The camera stops answering anything, probes included, without closing its connections.
    camera.responder->setFrozen(true);
    const auto error = test::awaitError([&](auto done) { root->loadChildren(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorConnectionLost);
    EXPECT_EQ(camera.camera->connectionState(), 0u);
}

TEST(PtpIpCameraDiscovery, FindsTheCameraAtAListedAddressAndLosesItWhenItGoes)
{
    auto responder = std::make_unique<tools::PtpIpResponder>(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder->listen());
    qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder->port()).toLatin1());
    PtpIpCameraDiscovery discovery;
    discovery.setProbeInterval(100ms);
    QObject receiver;
    VKLCameraDiscovery::Cameras reported;
    discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
    discovery.beginSearching();
    ASSERT_TRUE(runUntil([&] { return reported.size() == 1; }));
    EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1"));
    const auto found = reported.front();
    responder.reset();
    EXPECT_TRUE(runUntil([&] { return reported.empty(); }));
    discovery.stopSearching();
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

// A camera that announces MTP/IP over SSDP is found where its answer came from; a router's answer is no camera,
// and a camera found both by SSDP and at a listed address is one camera.
TEST(PtpIpCameraDiscovery, FindsACameraThatAnswersTheSsdpSearchOnceHoweverManyWaysFindIt)
{
    tools::PtpIpResponder responder(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder.listen());
    const QString mtp = QStringLiteral("urn:microsoft-com:service:MtpNullService:1");
    bool cameraAnswers = false;
    test::FakeSsdpDevice network([&](const QByteArray& request) {
        QList<QByteArray> answers{test::ssdpAnswer(QStringLiteral("upnp:rootdevice"), QStringLiteral("uuid:router::upnp:rootdevice"))};
        if (cameraAnswers && request.contains(mtp.toUtf8()))
            answers.push_back(test::ssdpAnswer(mtp, QStringLiteral("uuid:00000000-0001-0010-8000-000000000001::") + mtp));
        return answers;
    });
    const struct {
        const char* name;
        bool listed;
    } cases[] = {{"found by SSDP only", false}, {"found by SSDP and listed", true}};
    for (const auto& each : cases) {
        cameraAnswers = false;
        if (each.listed)
            qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder.port()).toLatin1());
        PtpIpCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        discovery.setSsdpSearchAddress(QHostAddress::LocalHost, network.port(), responder.port());
        QObject receiver;
        VKLCameraDiscovery::Cameras reported;
        discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
        discovery.beginSearching();
        if (!each.listed) {
            ASSERT_TRUE(runUntil([&] { return network.requests.size() >= 2; })) << each.name;
            test::runFor(300ms);
            EXPECT_TRUE(reported.empty()) << "a router is no camera";
        }
        cameraAnswers = true;
        ASSERT_TRUE(runUntil([&] { return !reported.empty(); })) << each.name;
        // Later searches find it again; it stays one camera.
        const int searches = int(network.requests.size());
        ASSERT_TRUE(runUntil([&] { return network.requests.size() >= searches + 4; })) << each.name;
        test::runFor(200ms);
        ASSERT_EQ(reported.size(), 1u) << each.name;
        EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1")) << each.name;
        discovery.stopSearching();
        qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    }
}

// A camera that announces "_ptp._tcp" over DNS-SD is found at the address Avahi resolves; found that way, by
// SSDP and at a listed address all at once, it is still one camera.
TEST(PtpIpCameraDiscovery, FindsACameraThatAnnouncesPtpOverDnsSd)
{
    if (!test::PrivateBusDaemon::isInstalled())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    tools::PtpIpResponder responder(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder.listen());
    test::FakeAvahi avahi(daemon.address());
    avahi.services = {{QStringLiteral("PTP/IP Test Camera"), QStringLiteral("_ptp._tcp"), QStringLiteral("127.0.0.1"), responder.port()}};
    ASSERT_TRUE(avahi.start());
    const QString mtp = QStringLiteral("urn:microsoft-com:service:MtpNullService:1");
    test::FakeSsdpDevice network([&](const QByteArray&) { return QList<QByteArray>{test::ssdpAnswer(mtp, QStringLiteral("uuid:1::") + mtp)}; });
    const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("discovery-client"));
    for (const bool everyWay : {false, true}) {
        if (everyWay)
            qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder.port()).toLatin1());
        PtpIpCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        discovery.setDnsSdBus(bus);
        if (everyWay)
            discovery.setSsdpSearchAddress(QHostAddress::LocalHost, network.port(), responder.port());
        QObject receiver;
        VKLCameraDiscovery::Cameras reported;
        discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
        const int resolvesBefore = avahi.resolves;
        discovery.beginSearching();
        ASSERT_TRUE(runUntil([&] { return !reported.empty() && avahi.resolves > resolvesBefore; })) << everyWay;
        if (everyWay) {
            ASSERT_TRUE(runUntil([&] { return network.requests.size() >= 4; }));
        }
        test::runFor(300ms);
        ASSERT_EQ(reported.size(), 1u) << everyWay;
        EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1"));
        discovery.stopSearching();
        qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("discovery-client"));
}

TEST(PtpIpCamera, BatteryPercentagesMapToTheFiveLevels)
{
    const std::pair<int, int> cases[] = {{100, 0}, {90, 0}, {75, 1}, {50, 2}, {25, 3}, {10, 4}, {0, 4}, {-5, 4}, {250, 0}};
    for (const auto& [percent, level] : cases)
        EXPECT_EQ(PtpIpCamera::batteryLevelForPercent(percent), level) << percent;
}

// ---- The PTP/IP camera, checked with gphoto2 ----------------------------------------------------------------

QString runGphoto2(const QStringList& arguments, const QString& folder, int* status)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("gphoto2"), arguments);
    // The responder runs on this thread: the event loop turns while gphoto2 talks to it.
    const bool finished = runUntil([&] { return process.state() == QProcess::NotRunning; }, 120s);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    *status = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

TEST(PtpIpCameraWithGphoto2, ListsDownloadsEveryFileByteForByteAndReadsTheBattery)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gphoto2")).isEmpty())
        GTEST_SKIP() << "gphoto2 is not installed";
    tools::PtpIpResponderOptions options;
    options.batteryPercent = 75;
    tools::PtpIpResponder responder(test::sampleCameraFolder(), options);
    ASSERT_TRUE(responder.listen());
    QTemporaryDir download;
    const QStringList port{QStringLiteral("--port"), QStringLiteral("ptpip:127.0.0.1:%1:%1").arg(responder.port()),
                           QStringLiteral("--camera"), QStringLiteral("PTP/IP Camera")};
    int status = 0;
    const QString listing = runGphoto2(port + QStringList{QStringLiteral("--list-files")}, download.path(), &status);
    ASSERT_EQ(status, 0) << listing.toStdString();
    const auto files = responder.files();
    ASSERT_FALSE(files.empty());
    for (const auto& file : files)
        EXPECT_TRUE(listing.contains(QFileInfo(file.relativePath).fileName())) << file.relativePath.toStdString();

    const QString got = runGphoto2(port + QStringList{QStringLiteral("--get-all-files"), QStringLiteral("--skip-existing")},
                                   download.path(), &status);
    ASSERT_EQ(status, 0) << got.toStdString();
    for (const auto& file : files) {
        SCOPED_TRACE(file.relativePath.toStdString());
        const QByteArray served = test::readFile(QDir(test::sampleCameraFolder()).filePath(file.relativePath));
        const QByteArray downloaded = test::readFile(QDir(download.path()).filePath(QFileInfo(file.relativePath).fileName()));
        EXPECT_EQ(downloaded.size(), served.size());
        EXPECT_TRUE(downloaded == served);
    }

    const QString battery = runGphoto2(port + QStringList{QStringLiteral("--get-config"), QStringLiteral("batterylevel")},
                                       download.path(), &status);
    ASSERT_EQ(status, 0) << battery.toStdString();
    EXPECT_TRUE(battery.contains(QRegularExpression(QStringLiteral("Current: 75")))) << battery.toStdString();
}

} // namespace
} // namespace vornakel
