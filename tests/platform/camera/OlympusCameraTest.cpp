// The Olympus backend against a broken, hostile or vanishing camera, the metadata it reads from a file's start,
// and its discovery.
#include "CameraTestSupport.h"

#include "olympus-camera/OlympusResponder.h"
#include "platform/camera/olympus/OlympusCamera.h"
#include "platform/camera/olympus/OlympusHttpClient.h"
#include "platform/camera/olympus/OlympusImageList.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using test::runUntil;

struct Camera {
    std::unique_ptr<tools::OlympusResponder> responder;
    std::shared_ptr<OlympusCamera> camera;
};

// The responder's options with a few changed.
tools::OlympusResponderOptions with(const std::function<void(tools::OlympusResponderOptions&)>& change)
{
    tools::OlympusResponderOptions options;
    change(options);
    return options;
}

Camera startCamera(tools::OlympusResponderOptions options = {}, OlympusCameraOptions cameraOptions = {})
{
    Camera result;
    result.responder = std::make_unique<tools::OlympusResponder>(test::sampleCameraFolder(), options);
    EXPECT_TRUE(result.responder->listen());
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = result.responder->port();
    result.camera = OlympusCamera::create(cameraOptions);
    return result;
}

std::shared_ptr<VKLFileSystemFolderItem> firstSubfolder(const std::shared_ptr<VKLFileSystemFolderItem>& root)
{
    EXPECT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    for (const auto& child : root->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
        if (auto folder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child))
            return folder;
    }
    ADD_FAILURE() << "no folder below DCIM";
    return nullptr;
}

QStringList childNames(const std::shared_ptr<VKLFileSystemFolderItem>& folder)
{
    QStringList names;
    for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{}))
        names << child->name().value_or(QString());
    return names;
}

TEST(OlympusCamera, AsksInTheCamerasOwnTermsAndNamesTheModel)
{
    auto camera = startCamera(with([](auto& o) { o.model = QStringLiteral("TG-6"); }));
    ASSERT_TRUE(test::openStorage(*camera.camera));
    EXPECT_EQ(camera.camera->friendlyDisplayName(), QStringLiteral("TG-6"));
    EXPECT_EQ(camera.responder->lastUserAgent(), QByteArray("OlympusCameraKit"));
    EXPECT_EQ(camera.responder->lastHost(), QStringLiteral("127.0.0.1:%1").arg(camera.responder->port()).toLatin1());
    EXPECT_FALSE(camera.camera->supportsCommandCategories(VKLCommandCategoryRemoteShooting));
}

TEST(OlympusCamera, AnswersThatAreNoOlympusCameraInfoAreNoCamera)
{
    const std::pair<QByteArray, std::optional<QString>> cases[] = {
        {"<?xml version=\"1.0\"?><caminfo><model>E-M1MarkIII</model></caminfo>", QStringLiteral("E-M1MarkIII")},
        {"<caminfo>\n<model> PEN-F </model>\n</caminfo>", QStringLiteral("PEN-F")},
        {"<caminfo><model>&xxe;</model></caminfo>", std::nullopt},
        {"<html>router login</html>", std::nullopt},
        {"<caminfo><model></model></caminfo>", std::nullopt},
        {"<caminfo><model>" + QByteArray(100, 'A') + "</model></caminfo>", std::nullopt},
        {QByteArray(), std::nullopt},
    };
    for (const auto& [body, model] : cases)
        EXPECT_EQ(olympus::modelFromCameraInfo(body), model) << body.left(80).toStdString();
}

TEST(OlympusCamera, AHostileListingKeepsOnlySafeNamesAndAnEndlessOneFailsTheFolder)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto folder = firstSubfolder(root);
    ASSERT_TRUE(folder);
    camera.responder->setListingOverride([](const QString& directory) -> std::optional<QByteArray> {
        const QByteArray dir = directory.toUtf8();
        return "VER_100\r\n" + dir + ",../../.bashrc,10,0,19027,31281\r\n" + dir + ",EVIL\x1b[2J.JPG,10,0,19027,31281\r\n"
            + "/elsewhere,X.JPG,10,0,19027,31281\r\n" + dir + ",OK.JPG,10,0,19027,31281\r\n";
    });
    EXPECT_EQ(test::awaitError([&](auto done) { folder->loadChildren(done); }), std::nullopt);
    EXPECT_EQ(childNames(folder), QStringList{QStringLiteral("OK.JPG")});

    camera.responder->setListingOverride([](const QString&) -> std::optional<QByteArray> {
        return "VER_100\r\n" + QByteArray(20 * 1024 * 1024, 'x');
    });
    const auto error = test::awaitError([&](auto done) { folder->loadChildren(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorListingFailed);
    EXPECT_EQ(camera.camera->connectionState(), 2u) << "a bad answer is not a lost camera";
}

TEST(OlympusCamera, AFileThatEndsEarlyOrDiffersFromTheListingFailsItsCopy)
{
    struct Case {
        const char* what;
        tools::OlympusResponderOptions options;
    };
    const Case cases[] = {
        {"the GET ends early, with a matching length", with([](auto& o) { o.shortByBytes = 1000; })},
        {"the connection closes mid-file", with([](auto& o) { o.streamErrorAfterBytes = 5000; })},
        {"the listing gives more bytes than the file has", with([](auto& o) { o.listedSizeDelta = 1000; })},
        {"the listing gives fewer bytes than the file has", with([](auto& o) { o.listedSizeDelta = -1000; })},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto camera = startCamera(each.options);
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        const auto files = test::walkFiles(root);
        ASSERT_FALSE(files.empty());
        const auto copy = test::streamFile(files.front(), DispatchQueue::createSerial(QStringLiteral("test.stream")));
        ASSERT_TRUE(copy.error);
        EXPECT_EQ(copy.error->code, VKLErrorReadFailed);
        EXPECT_EQ(copy.completions, 1);
        EXPECT_EQ(camera.camera->connectionState(), 2u);
    }
}

TEST(OlympusCamera, ACameraGoneMidWalkEndsTheWalkOnConnectionLost)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto folder = firstSubfolder(root);
    ASSERT_TRUE(folder);
    camera.responder->dropConnections();
    const auto error = test::awaitError([&](auto done) { folder->loadChildren(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorConnectionLost);
    EXPECT_EQ(camera.camera->connectionState(), 0u);
    EXPECT_FALSE(camera.camera->storageDevices());
}

TEST(OlympusCamera, ASilentCameraIsLostWithinThePollBoundWhileTheMainThreadRuns)
{
    OlympusCameraOptions options;
    options.pollInterval = 100ms;
    options.pollTimeout = 400ms;
    auto camera = startCamera(with([](auto& o) { o.streamStallAfterBytes = 100; }), options);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_FALSE(files.empty());
    std::optional<std::optional<Error>> streamed;
    files.front()->streamItem(
        {}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
        [&](const auto&, std::optional<Error> error, const auto&) { streamed = error; }, {});
    // The camera answers nothing more, but keeps its connections open.
    camera.responder->setFrozen(true);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(runUntil([&] { return camera.camera->connectionState() == 0 && streamed.has_value(); }));
    ASSERT_TRUE(streamed->has_value());
    EXPECT_EQ((*streamed)->code, VKLErrorConnectionLost);
    EXPECT_GE(ticks, 10) << "the main thread kept turning while the camera was silent";
}

TEST(OlympusCamera, APollDoesNotWaitBehindACardsWorthOfThumbnails)
{
    OlympusCameraOptions options;
    options.pollInterval = 100ms;
    options.pollTimeout = 1000ms;
    auto camera = startCamera(with([](auto& o) { o.latencyMs = 150; }), options);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_FALSE(files.empty());
    // Several seconds of requests in line, each answered only after the camera's latency.
    auto delivered = std::make_shared<std::atomic<int>>(0);
    constexpr int kRequests = 60;
    for (int i = 0; i < kRequests; ++i) {
        files[size_t(i) % files.size()]->fetchThumbnail({}, [delivered](const auto&, std::optional<Error> error, auto) {
            if (!error)
                ++*delivered;
        });
    }
    ASSERT_TRUE(runUntil([&] { return *delivered == kRequests || camera.camera->connectionState() == 0; }));
    EXPECT_EQ(*delivered, kRequests);
    EXPECT_EQ(camera.camera->connectionState(), 2u) << "a busy camera is not a lost one";
}

TEST(OlympusHttpClient, ABodyThatEndsWhileReadingIsPausedIsHandedOnWhenReadingResumes)
{
    tools::OlympusResponder responder(test::sampleCameraFolder(), {});
    ASSERT_TRUE(responder.listen());
    const auto served = responder.files().front();
    olympus::HttpClient client(QStringLiteral("127.0.0.1"), responder.port());
    QByteArray body;
    std::shared_ptr<olympus::HttpClient::Handle> handle;
    bool paused = false;
    std::optional<std::optional<Error>> completed;
    olympus::HttpRequest request;
    request.target = served.path;
    request.sink = [&](const QByteArray& bytes) {
        body += bytes;
        if (!paused) {
            paused = true;
            handle->setPaused(true);
        }
        return true;
    };
    handle = client.get(std::move(request), [&](std::optional<Error> error, olympus::HttpResult) { completed = error; });
    // The file is smaller than what Qt holds unread: the camera sends it all while reading is paused.
    test::runFor(300ms);
    EXPECT_TRUE(paused);
    EXPECT_FALSE(completed.has_value()) << "nothing completes while paused";
    handle->setPaused(false);
    ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
    EXPECT_EQ(*completed, std::nullopt);
    EXPECT_EQ(uint64_t(body.size()), served.size);
}

// A camera that goes away mid-body: Qt may read the close as the body's end or as the socket's error, by timing.
// Either way the request failed in transport, so the camera gets asked whether it is still there.
TEST(OlympusHttpClient, ABodyCutShortOfItsAnnouncedLengthIsATransportFailure)
{
    QTcpServer camera;
    ASSERT_TRUE(camera.listen(QHostAddress::LocalHost));
    QObject::connect(&camera, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = camera.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + QByteArray(100, 'x'));
                // It goes away once the client has read what came, as a camera leaving range mid-file does.
                QTimer::singleShot(50ms, socket, [socket] { socket->abort(); });
            });
        }
    });
    olympus::HttpClient client(QStringLiteral("127.0.0.1"), camera.serverPort());
    // Several rounds, so that both of Qt's readings of the close come up.
    for (int round = 0; round < 40; ++round) {
        std::optional<std::optional<Error>> completed;
        olympus::HttpResult result;
        olympus::HttpRequest request;
        request.target = QStringLiteral("/DCIM/100OLYMP/P1010001.JPG");
        request.sink = [](const QByteArray&) { return true; };
        client.get(std::move(request), [&](std::optional<Error> error, olympus::HttpResult got) {
            result = std::move(got);
            completed = error;
        });
        ASSERT_TRUE(runUntil([&] { return completed.has_value(); })) << round;
        EXPECT_TRUE(completed->has_value()) << round;
        EXPECT_TRUE(result.transportFailed) << round;
        EXPECT_EQ(result.received, 100) << round;
    }
}

TEST(OlympusCamera, OrientationAndShootingDataComeFromTheFilesStartWithOrWithoutRange)
{
    for (const bool honoursRange : {true, false}) {
        SCOPED_TRACE(honoursRange ? "Range honoured" : "Range ignored");
        auto camera = startCamera(with([&](auto& o) { o.honoursRange = honoursRange; }));
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        const auto files = test::walkFiles(root);
        for (const tools::SampleShot& shot : test::sampleCamera().shots) {
            const auto item = test::findFile(files, QFileInfo(shot.jpegPath).fileName());
            ASSERT_TRUE(item);
            EXPECT_FALSE(item->metadataLoaded());
            EXPECT_EQ(test::awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt);
            EXPECT_TRUE(item->metadataLoaded());
            EXPECT_EQ(item->orientation(), shot.orientation);
            ASSERT_TRUE(item->shootingData());
            EXPECT_EQ(item->shootingData()->iso, shot.iso);
        }
    }
}

TEST(OlympusCamera, ARawFileTheCameraWillNotResizeGetsItsEmbeddedPreview)
{
    auto camera = startCamera(with([](auto& o) { o.resizesRaw = false; }));
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    int raws = 0;
    for (const tools::SampleShot& shot : test::sampleCamera().shots) {
        if (shot.rawPath.isEmpty())
            continue;
        ++raws;
        const auto preview = test::fetchImage(test::findFile(files, QFileInfo(shot.rawPath).fileName()), true);
        EXPECT_EQ(preview.error, std::nullopt);
        ASSERT_TRUE(preview.data);
        EXPECT_TRUE(preview.data->startsWith("\xFF\xD8"));
    }
    EXPECT_GT(raws, 0);
}

TEST(OlympusCameraDiscovery, FindsListedCamerasAndTheGatewayButNoOtherWebServer)
{
    tools::OlympusResponder responder(test::sampleCameraFolder(), {});
    ASSERT_TRUE(responder.listen());
    tools::OlympusResponder gatewayCamera(test::sampleCameraFolder(), {});
    ASSERT_TRUE(gatewayCamera.listen());
    // A web server that is no camera (a router's login page).
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost));
    QObject::connect(&other, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = other.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n<html>login</html>\r\n");
            });
        }
    });
    qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("olympus://127.0.0.1:%1,olympus://127.0.0.1:%2,127.0.0.1:%1")
                                             .arg(responder.port()).arg(other.serverPort()).toLatin1());
    qputenv("VORNAKEL_GATEWAY_PORTS", QStringLiteral("olympus=%1").arg(gatewayCamera.port()).toLatin1());
    VKLNetworkConfigurationHelper::setGatewayResolver([](const QString&) { return std::optional(QStringLiteral("127.0.0.1")); },
                                                      QStringLiteral("wltest0"));
    {
        OlympusCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        QObject receiver;
        VKLCameraDiscovery::Cameras reported;
        discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
        discovery.beginSearching();
        ASSERT_TRUE(runUntil([&] { return reported.size() == 2; }));
        QStringList identifiers;
        for (const auto& camera : reported)
            identifiers << camera->friendlyIdentifier().value_or(QString());
        EXPECT_EQ(identifiers, (QStringList{QStringLiteral("olympus:127.0.0.1:%1").arg(responder.port()),
                                            QStringLiteral("olympus:127.0.0.1:%1").arg(gatewayCamera.port())}));
        test::runFor(300ms);
        EXPECT_EQ(reported.size(), 2u) << "the web server that is no camera never joins";
        discovery.stopSearching();
    }
    VKLNetworkConfigurationHelper::setGatewayResolver({});
    qunsetenv("VORNAKEL_GATEWAY_PORTS");
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

} // namespace
} // namespace vornakel
