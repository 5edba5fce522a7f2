#include "support/DiscoveryTestSupport.h"

#include "discovery/CameraNetworkJoin.h"
#include "discovery/ui/CameraDiscoveryViewController.h"
#include "discovery/ui/DiscoveryWidgets.h"
#include "platform/core/Strings.h"
#include "platform/webcam/ImageFrameSource.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

#include <qrencode.h>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

QImage qrFrame(const QByteArray& payload)
{
    QRcode* code = QRcode_encodeData(int(payload.size()), reinterpret_cast<const unsigned char*>(payload.constData()), 0, QR_ECLEVEL_M);
    const int scale = 6, quiet = 4;
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(180, 180, 180));
    QPainter painter(&frame);
    const int size = (code->width + 2 * quiet) * scale;
    painter.fillRect(40, 40, size, size, Qt::white);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect(40 + (x + quiet) * scale, 40 + (y + quiet) * scale, scale, scale, Qt::black);
    QRcode_free(code);
    return frame;
}

QImage plainFrame()
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(90, 120, 150));
    return frame;
}

class DiscoveryScreenTest : public ::testing::Test {
protected:
    DiscoveryScreenTest()
    {
        wifi->addNetwork({QStringLiteral("CAM-NET"), QStringLiteral("secret"), QStringLiteral("192.168.122.1"), std::nullopt});
        CameraDiscoveryEnvironment environment(discovery);
        environment.wifi = [this] { return wifi; };
        environment.leaveWiFi = [this] { ++wifiLeaves; };
        environment.frameSource = [this]() -> std::unique_ptr<VideoFrameSource> {
            auto source = std::make_unique<ImageFrameSource>();
            source->setDeviceAvailable(webcamPresent);
            frames = source.get();
            return source;
        };
        environment.beep = [this] { ++beeps; };
        environment.disconnectingTiming = {30ms, 300ms};
        environment.webcamFirstFrameTimeout = 300ms;
        environment.animationSpeed = 0;
        screen = std::make_unique<CameraDiscoveryViewController>(std::move(environment));
        screen->show();
    }

    CameraDiscoveryController& controller() { return screen->controller(); }

    FakeDiscovery discovery;
    std::shared_ptr<SimulatedWiFi> wifi = std::make_shared<SimulatedWiFi>(QStringLiteral("wlan-test"));
    int wifiLeaves = 0;
    int beeps = 0;
    bool webcamPresent = true;
    ImageFrameSource* frames = nullptr;
    std::unique_ptr<CameraDiscoveryViewController> screen;
};

TEST_F(DiscoveryScreenTest, EachViewShowsItsPaneConfiguredWithItsValue)
{
    EXPECT_EQ(screen->currentPane(), screen->manualDiscoveryViewController());
    EXPECT_FALSE(screen->manualDiscoveryViewController()->qrButton()->isHidden());
    EXPECT_TRUE(discovery.searching) << "the manual pane searches while it is shown";

    const auto camera = SimulatedCamera::fromContent(cardWith({}), quickOptions());
    const struct {
        CameraDiscoveryView view;
        QWidget* pane;
    } cases[] = {
        {CameraDiscoveryView::connecting(), screen->connectionProgressViewController()},
        {CameraDiscoveryView::pairingPromptOnCamera(), screen->pairingPromptViewController()},
        {CameraDiscoveryView::connectionError(FailureReason::noImages), screen->connectionErrorViewController()},
        {CameraDiscoveryView::disconnecting(camera, false), screen->disconnectingViewController()},
        {CameraDiscoveryView::manualDiscovery(true), screen->manualDiscoveryViewController()},
        {CameraDiscoveryView::qrDiscovery(), screen->qrDiscoveryViewController()},
    };
    for (const auto& c : cases) {
        screen->setCurrentView(c.view);
        EXPECT_EQ(screen->currentPane(), c.pane);
        EXPECT_TRUE(c.pane->isVisible());
        int visiblePanes = 0;
        for (QWidget* pane : {static_cast<QWidget*>(screen->manualDiscoveryViewController()),
                              static_cast<QWidget*>(screen->connectionProgressViewController()),
                              static_cast<QWidget*>(screen->pairingPromptViewController()),
                              static_cast<QWidget*>(screen->connectionErrorViewController()),
                              static_cast<QWidget*>(screen->disconnectingViewController()),
                              static_cast<QWidget*>(screen->qrDiscoveryViewController())})
            visiblePanes += pane->isVisible() ? 1 : 0;
        EXPECT_EQ(visiblePanes, 1);
    }
    EXPECT_FALSE(discovery.searching) << "the search stops with the manual pane";
    screen->setCurrentView(CameraDiscoveryView::manualDiscovery(true));
    EXPECT_TRUE(screen->manualDiscoveryViewController()->qrButton()->isHidden());
}

TEST_F(DiscoveryScreenTest, TheErrorPaneNamesEachReasonAndBackReturnsToTheSearchWithItsQRButton)
{
    ConnectionErrorViewController* pane = screen->connectionErrorViewController();
    const struct {
        FailureReason reason;
        const char* title;
        const char* description;
    } cases[] = {
        {FailureReason::connectionFailed, "GenericConnectionErrorTitle", "GenericConnectionErrorDescription"},
        {FailureReason::cameraSoftwareTooOld, "CameraSoftwareTooOldErrorTitle", "CameraSoftwareTooOldErrorDescription"},
        {FailureReason::storageAccessNotAllowed, "NoStorageAccessErrorTitle", "NoStorageAccessErrorDescription"},
        {FailureReason::noImages, "NoImagesErrorTitle", "NoImagesErrorDescription"},
    };
    for (const auto& c : cases) {
        // Shown while the pane is already on screen with another reason: both texts change.
        screen->setCurrentView(CameraDiscoveryView::connectionError(c.reason));
        EXPECT_EQ(pane->failureTitleLabel()->text(), GeneralUI::text(QString::fromLatin1(c.title)));
        EXPECT_EQ(pane->failureReasonLabel()->text(), GeneralUI::text(QString::fromLatin1(c.description)));
        EXPECT_NE(pane->failureTitleLabel()->text(), QString::fromLatin1(c.title)) << "the strings table has the text";
    }
    EXPECT_TRUE(pane->tryAgainButton()->isHidden()) << "no camera to try again";
    screen->manualDiscoveryViewController()->setQrButtonHidden(true);
    pane->backButton()->click();
    EXPECT_EQ(screen->currentView(), CameraDiscoveryView::manualDiscovery(false));
    EXPECT_FALSE(screen->manualDiscoveryViewController()->qrButton()->isHidden());
}

TEST_F(DiscoveryScreenTest, AFailedCameraIsOfferedForTryAgainOnTheErrorPaneAndConnectOnTheSearchPane)
{
    SimulatedCameraOptions options = quickOptions();
    options.friendlyDisplayName = QStringLiteral("R&D <b>Cam</b>");
    options.connectErrorCode = 1002;
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), options);
    discovery.report({camera});
    ASSERT_TRUE(runUntil([&] { return screen->currentPane() == screen->connectionErrorViewController(); }));
    QPushButton* tryAgain = screen->connectionErrorViewController()->tryAgainButton();
    EXPECT_TRUE(tryAgain->isVisible());

    screen->connectionErrorViewController()->backButton()->click();
    discovery.report({camera});
    QPushButton* connect = screen->manualDiscoveryViewController()->connectButton();
    ASSERT_TRUE(connect->isVisible());
    EXPECT_EQ(connect->text(), GeneralUI::format(QStringLiteral("ConnectToCameraButtonTitle"), {QStringLiteral("R&&D <b>Cam</b>")}));
    connect->click();
    EXPECT_EQ(screen->currentPane(), screen->connectionProgressViewController());
    ASSERT_TRUE(runUntil([&] { return screen->currentPane() == screen->connectionErrorViewController(); }));
}

TEST_F(DiscoveryScreenTest, TheSearchPaneNamesTheNetworkLiterally)
{
    QLabel* label = screen->manualDiscoveryViewController()->wifiInfoLabel();
    EXPECT_EQ(label->text(), GeneralUI::text(QStringLiteral("NoWiFiConnectedInformation")));
    const QString markup = QStringLiteral("<b>Home</b> & <img src=x>");
    wifi->addNetwork({markup, QString(), std::nullopt, QStringLiteral("10.0.0.1")});
    wifi->setCurrentNetwork(markup);
    ASSERT_TRUE(runUntil([&] { return label->text().contains(markup); }));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    wifi->setCurrentNetwork(std::nullopt);
    ASSERT_TRUE(runUntil([&] { return label->text() == GeneralUI::text(QStringLiteral("NoWiFiConnectedInformation")); }));
}

TEST_F(DiscoveryScreenTest, DisconnectingWaitsForTheCameraWithinABoundAndLeavesTheNetworkOnlyWhenAsked)
{
    const struct {
        const char* name;
        bool connected;
        bool dropDuringWait;
        bool leaveWiFi;
    } cases[] = {
        {"already disconnected, leave", false, false, true},
        {"already disconnected, stay", false, false, false},
        {"disconnects while waiting", true, true, true},
        {"never disconnects: bounded wait", true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wifiLeaves = 0;
        const auto camera = SimulatedCamera::fromContent(cardWith({}), quickOptions());
        if (c.connected) {
            bool done = false;
            camera->connectWithClientName(QStringLiteral("t"), [&](auto, auto) { done = true; }, {});
            ASSERT_TRUE(runUntil([&] { return done; }));
        }
        screen->setCurrentView(CameraDiscoveryView::disconnecting(camera, c.leaveWiFi));
        DisconnectingViewController* pane = screen->disconnectingViewController();
        EXPECT_EQ(screen->currentPane(), pane);
        if (c.dropDuringWait) {
            runFor(40ms);
            EXPECT_EQ(screen->currentPane(), pane) << "a connected camera is waited for";
            camera->dropConnection();
        }
        ASSERT_TRUE(runUntil([&] { return screen->currentPane() == screen->manualDiscoveryViewController(); }, 2s));
        EXPECT_EQ(wifiLeaves, c.leaveWiFi ? 1 : 0);
        EXPECT_FALSE(pane->disconnectWiFiWhenDone());
        EXPECT_FALSE(pane->isWaiting());
        EXPECT_FALSE(screen->manualDiscoveryViewController()->qrButton()->isHidden());
    }
}

TEST_F(DiscoveryScreenTest, ADisconnectingPaneThatIsReplacedEndsItsWaitWithoutTakingTheScreenBack)
{
    // Both the "already disconnected" pause and the bounded wait for a connected camera.
    for (const bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "connected camera" : "already disconnected");
        wifiLeaves = 0;
        const auto camera = SimulatedCamera::fromContent(cardWith({}), quickOptions());
        if (connected) {
            bool done = false;
            camera->connectWithClientName(QStringLiteral("t"), [&](auto, auto) { done = true; }, {});
            ASSERT_TRUE(runUntil([&] { return done; }));
        }
        screen->setCurrentView(CameraDiscoveryView::disconnecting(camera, true));
        DisconnectingViewController* pane = screen->disconnectingViewController();
        screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
        EXPECT_FALSE(pane->isWaiting());
        // Past both bounds of the fixture's timing.
        runFor(400ms);
        EXPECT_EQ(screen->currentPane(), screen->qrDiscoveryViewController());
        EXPECT_EQ(wifiLeaves, 0) << "the wait was given up, so the network it would have left is kept";
        camera->dropConnection();
    }
}

TEST(DisconnectingPaneTest, TheAlreadyDisconnectedWaitIsNeverShorterThanAsked)
{
    // A coarse timer may fire up to 5% early; the pane promises a minimum stay. Only the lower bound is
    // checked, which load can never break.
    constexpr auto kStay = 400ms;
    DisconnectingViewController pane([] {}, {kStay, 5s});
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        pane.waitForDisconnection(nullptr, false);
        ASSERT_TRUE(runUntil([&] { return !pane.isWaiting(); }, 5s));
        EXPECT_GE(clock.elapsed(), qint64(kStay.count())) << "round " << round;
    }
}

// ---- QR pane ------------------------------------------------------------------------------------------------

using QRPane = QRCameraDiscoveryViewController;

TEST_F(DiscoveryScreenTest, AWebcamThatCannotBeUsedIsASetupFailureWithTheManualButtonAtHand)
{
    const struct {
        const char* name;
        bool present;
        bool sendsFrame;
        bool runtimeError;
    } cases[] = {
        {"no webcam", false, false, false},
        {"no picture within the time", true, false, false},
        {"runtime error after the first picture", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        webcamPresent = c.present;
        screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
        QRPane* pane = screen->qrDiscoveryViewController();
        if (c.present) {
            EXPECT_EQ(pane->layout(), QRPane::Layout::waiting);
            EXPECT_TRUE(pane->connectManuallyButton()->isVisible()) << "reachable while the webcam starts";
        }
        if (c.sendsFrame) {
            frames->feed(plainFrame());
            EXPECT_EQ(pane->layout(), QRPane::Layout::camera);
        }
        if (c.runtimeError)
            emit frames->runtimeError(QStringLiteral("unplugged"));
        ASSERT_TRUE(runUntil([&] { return pane->layout() == QRPane::Layout::error; }));
        EXPECT_EQ(pane->errorDescriptionLabel()->text(), unableToSetupWebcamDescription());
        EXPECT_TRUE(pane->connectManuallyButton()->isVisible());
        EXPECT_FALSE(pane->cameraIsRunning());
        pane->connectManuallyButton()->click();
        EXPECT_EQ(screen->currentView(), CameraDiscoveryView::manualDiscovery(false));
    }
}

TEST_F(DiscoveryScreenTest, AScannedCodeBeepsJoinsItsNetworkAndHandsOverToTheSearchWithoutQRButton)
{
    screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
    QRPane* pane = screen->qrDiscoveryViewController();
    const CameraWiFiDetails details{CameraWiFiType::Panasonic, QStringLiteral("CAM-NET"), QStringLiteral("secret")};
    pane->handleScanned(details);
    EXPECT_EQ(beeps, 0) << "no code is taken before the webcam shows a picture";

    frames->feed(plainFrame());
    ASSERT_EQ(pane->layout(), QRPane::Layout::camera);
    frames->feed(qrFrame("https://example.com/"));
    runFor(100ms);
    EXPECT_EQ(pane->layout(), QRPane::Layout::camera) << "a code that is no camera's is passed over";

    frames->feed(qrFrame("MDL:QX-40\r\nSSID:CAM-NET\r\nPW:secret\r\n"));
    ASSERT_TRUE(runUntil([&] { return beeps == 1; }));
    EXPECT_FALSE(pane->cameraIsRunning());
    ASSERT_TRUE(runUntil([&] { return screen->currentView() == CameraDiscoveryView::manualDiscovery(true); }));
    EXPECT_EQ(wifi->ssid(), QStringLiteral("CAM-NET"));
    EXPECT_TRUE(screen->manualDiscoveryViewController()->qrButton()->isHidden());
    EXPECT_EQ(beeps, 1);
}

TEST_F(DiscoveryScreenTest, AFailedJoinNamesTheNetworkLiterally)
{
    screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
    QRPane* pane = screen->qrDiscoveryViewController();
    frames->feed(plainFrame());
    const QString name = QStringLiteral("<i>CAM</i>-NET");
    wifi->addNetwork({name, QStringLiteral("right"), QStringLiteral("192.168.122.1"), std::nullopt});
    pane->handleScanned({CameraWiFiType::Panasonic, name, QStringLiteral("wrong")});
    ASSERT_TRUE(runUntil([&] { return pane->layout() == QRPane::Layout::error; }));
    EXPECT_TRUE(pane->errorDescriptionLabel()->text().contains(name));
    EXPECT_EQ(pane->errorDescriptionLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(screen->currentView(), CameraDiscoveryView::qrDiscovery());
}

TEST_F(DiscoveryScreenTest, AJoinThatEndsWhileTheCameraConnectsLeavesTheConnectionAlone)
{
    screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
    QRPane* pane = screen->qrDiscoveryViewController();
    frames->feed(plainFrame());
    pane->handleScanned({CameraWiFiType::Panasonic, QStringLiteral("CAM-NET"), QStringLiteral("secret")});
    EXPECT_EQ(pane->layout(), QRPane::Layout::waiting);
    EXPECT_TRUE(pane->connectManuallyButton()->isVisible()) << "reachable during the join";
    // The user went back meanwhile, and a camera was found and is being connected.
    pane->connectManuallyButton()->click();
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), quickOptions());
    SimulatedCameraOptions slow = quickOptions();
    slow.latencyMs = 300;
    const auto slowCamera = SimulatedCamera::fromContent(cardWith(shotNames(2)), slow);
    discovery.report({slowCamera});
    ASSERT_EQ(screen->currentView(), CameraDiscoveryView::connecting());
    ASSERT_TRUE(runUntil([&] { return wifi->ssid() == QStringLiteral("CAM-NET"); }));
    runFor(30ms);
    EXPECT_EQ(screen->currentView(), CameraDiscoveryView::connecting());
    ASSERT_TRUE(runUntil([&] { return controller().hasHandedOver() || !controller().isConnecting(); }, 5s));
}

} // namespace

namespace {

TEST(DiscoveryHeaderTest, TheHeaderFadesInAfterAPauseAndStaysOpaque)
{
    FakeDiscovery discovery;
    CameraDiscoveryEnvironment environment(discovery);
    environment.animationSpeed = 5; // 50 ms pause, 250 ms fade
    CameraDiscoveryViewController screen(std::move(environment));
    // Without an effect the view is drawn fully opaque.
    const auto opacity = [&](QWidget* widget) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    };
    screen.show();
    QWidget* label = screen.labelContainer();
    EXPECT_EQ(opacity(label), 0.0) << "hidden until the fade begins";
    std::vector<qreal> steps;
    QObject::connect(qobject_cast<QGraphicsOpacityEffect*>(label->graphicsEffect()), &QGraphicsOpacityEffect::opacityChanged,
                     [&](qreal value) { steps.push_back(value); });
    ASSERT_TRUE(runUntil([&] { return label->graphicsEffect() == nullptr; }, 3s)) << "the effect goes when done";
    EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [](qreal v) { return v > 0.0 && v < 1.0; })) << "fades, does not jump";
    EXPECT_EQ(opacity(screen.findChild<CameraLogoView*>()), 1.0);
    screen.hide();
    screen.show();
    EXPECT_EQ(opacity(label), 1.0) << "shown once per screen";
}

} // namespace
