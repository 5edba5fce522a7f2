// The whole road on a generated sample camera, through the real discovery screen, the main window and the
// connected view: found on the network (or joined from its QR code first), connected, every shot shown once in
// day sections, and back to the search when the camera drops the connection. Also writes the screenshots.
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "support/NoGatewayPolicy.h"
#include "discovery/ui/CameraDiscoveryViewController.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/DayListPhotoBrowser.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "model/CameraPhotoLoad.h"
#include "model/Photo.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/SimulatedNetworkState.h"
#include "platform/core/UserDefaults.h"
#include "platform/webcam/ImageFolderFrameSource.h"
#include "platform/webcam/ImageFrameSource.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "samplecamera/CameraQRCodeImage.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "support/DiscoveryTestSupport.h"
#include "support/ScopedImageCache.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <set>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest() : defaults(dir.filePath(QStringLiteral("defaults.ini")))
    {
        SimulatedNetworkState::shared().setCurrentSsid(std::nullopt);
        SimulatedCameraDiscovery::shared().removeAllCameras();
        SimulatedCameraDiscovery::shared().setReportDelay(10ms);
        defaults.registerDefaults({{WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, true}});
    }
    ~EndToEndTest() override
    {
        window.reset();
        screens.reset();
        SimulatedCameraDiscovery::shared().removeAllCameras();
        SimulatedNetworkState::shared().setCurrentSsid(std::nullopt);
    }

    // Writes the sample camera; a network name puts the camera on its own Wi-Fi network.
    tools::SampleCameraResult makeCamera(const QString& ssid = {}, const QString& password = {})
    {
        tools::SampleCameraSpec spec;
        spec.outputFolder = dir.filePath(QStringLiteral("camera"));
        auto result = tools::generateSampleCamera(spec);
        if (!ssid.isEmpty()) {
            QSettings ini(QDir(spec.outputFolder).filePath(QStringLiteral("camera.ini")), QSettings::IniFormat);
            ini.setValue(QStringLiteral("ssid"), ssid);
            ini.setValue(QStringLiteral("password"), password);
        }
        cameraFolder = spec.outputFolder;
        return result;
    }

    void start(QRCameraDiscoveryViewController::FrameSourceFactory frames = {})
    {
        CameraDiscoveryEnvironment discovery(SimulatedCameraDiscovery::shared());
        discovery.wifi = [this] { return wifi; };
        discovery.frameSource = std::move(frames);
        discovery.disconnectingTiming = {50ms, 2000ms};
        discovery.animationSpeed = 0;
        ConnectedCameraEnvironment connected;
        connected.wifi = &policy;
        connected.defaults = &defaults;
        screens = std::make_unique<CameraScreens>(std::move(discovery), std::move(connected));
        window = std::make_unique<MainWindowController>(screens->makeDiscovery(), policy, defaults, [] {});
        window->setAnimationSpeed(0);
        window->window()->show();
    }

    CameraDiscoveryViewController* discoveryScreen() const
    {
        return qobject_cast<CameraDiscoveryViewController*>(window->contentViewController());
    }
    MainViewController* connectedView() const { return qobject_cast<MainViewController*>(window->contentViewController()); }

    // Waits for the connected view to list every photo, then checks them against the shots.
    void expectEveryShotOnceInDaySections(const tools::SampleCameraResult& sample)
    {
        ASSERT_TRUE(runUntil([&] { return connectedView() && connectedView()->imageDeliveryHasCompleted(); }, 90s));
        auto* browser = dynamic_cast<DayListPhotoBrowser*>(connectedView()->imageGrid());
        ASSERT_TRUE(browser);
        const std::vector<PhotoPtr> shown = browser->shownPhotos();
        ASSERT_EQ(shown.size(), size_t(sample.shots.size())) << "one photo per shot, pairs intact";
        std::map<QString, PhotoPtr> byName;
        for (const PhotoPtr& photo : shown)
            EXPECT_TRUE(byName.emplace(photo->displayName(), photo).second) << "shown twice: " << photo->displayName().toStdString();
        std::set<QDate> days;
        for (const auto& shot : sample.shots) {
            const auto found = byName.find(shot.baseName);
            ASSERT_NE(found, byName.end()) << shot.baseName.toStdString();
            EXPECT_EQ(found->second->previewVariant() != nullptr, !shot.rawPath.isEmpty()) << shot.baseName.toStdString();
            days.insert(shot.captureTime.date());
        }
        const auto sections = browser->sections();
        ASSERT_EQ(sections.size(), days.size());
        for (const auto& [title, photos] : sections) {
            ASSERT_FALSE(photos.empty());
            const QDate day = photos.front()->primaryVariant()->dateCreated()->date();
            for (const PhotoPtr& photo : photos)
                EXPECT_EQ(photo->primaryVariant()->dateCreated()->date(), day) << title.toStdString();
        }
    }

    void expectDropReturnsToTheSearch()
    {
        const auto camera = std::dynamic_pointer_cast<SimulatedCamera>(connectedView()->camera());
        ASSERT_TRUE(camera);
        camera->dropConnection();
        ASSERT_TRUE(runUntil([&] {
            return discoveryScreen()
                && discoveryScreen()->currentView() == CameraDiscoveryView::manualDiscovery(false);
        }));
        // The camera is still on the network, but it is not connected to again on its own.
        runFor(200ms);
        EXPECT_EQ(discoveryScreen()->currentPane(), discoveryScreen()->manualDiscoveryViewController());
        EXPECT_EQ(camera->connectionState(), 0u);
    }

    QTemporaryDir dir;
    test::ScopedImageCache cache{dir.filePath(QStringLiteral("cache"))};
    UserDefaults defaults;
    NoGatewayPolicy policy;
    std::shared_ptr<SimulatedWiFi> wifi = std::make_shared<SimulatedWiFi>(QStringLiteral("wlan-e2e"));
    QString cameraFolder;
    std::unique_ptr<CameraScreens> screens;
    std::unique_ptr<MainWindowController> window;
};

TEST_F(EndToEndTest, FindConnectBrowseByDayAndReturnWhenTheCameraDrops)
{
    const auto sample = makeCamera();
    ASSERT_TRUE(sample.ok()) << sample.error.toStdString();
    start();
    ASSERT_TRUE(discoveryScreen());
    SimulatedCameraDiscovery::shared().addCamera(SimulatedCamera::fromFolder(cameraFolder));
    expectEveryShotOnceInDaySections(sample);
    EXPECT_EQ(window->window()->geometry().size(), MainViewController::kInitialSize);
    expectDropReturnsToTheSearch();
    EXPECT_EQ(window->window()->geometry().size(), CameraDiscoveryViewController::kInitialSize);
}

TEST_F(EndToEndTest, JoinTheCamerasNetworkFromItsQRCodeFirst)
{
    const QString ssid = QStringLiteral("VK-1 Kamera-ä");
    const QString password = QStringLiteral("pässwort 1");
    const auto sample = makeCamera(ssid, password);
    ASSERT_TRUE(sample.ok());
    wifi->addSimulatedCameraNetworks(SimulatedCameraDiscovery::networksOfCameraFolders({cameraFolder}));
    const QString codePath = dir.filePath(QStringLiteral("qr.png"));
    ASSERT_TRUE(tools::webcamFrameWithCode(tools::cameraQRCodeImage(QStringLiteral("VK-1"), ssid, password)).save(codePath));
    start([codePath] { return std::make_unique<ImageFolderFrameSource>(codePath, 30ms); });
    SimulatedCameraDiscovery::shared().addCamera(SimulatedCamera::fromFolder(cameraFolder));
    runFor(100ms);
    ASSERT_EQ(discoveryScreen()->currentPane(), discoveryScreen()->manualDiscoveryViewController())
        << "the camera is not on this computer's network yet";

    discoveryScreen()->manualDiscoveryViewController()->qrButton()->click();
    ASSERT_TRUE(runUntil([&] { return wifi->ssid() == ssid; }, 60s));
    expectEveryShotOnceInDaySections(sample);
    expectDropReturnsToTheSearch();
}

// ---- Screenshots ------------------------------------------------------------------------------------------------

bool save(QWidget* widget, const QString& name)
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QDir folder(QStringLiteral(VKL_SCREENSHOT_DIR));
    folder.mkpath(QStringLiteral("."));
    return widget->grab().save(folder.filePath(name + QStringLiteral(".png")));
}

TEST_F(EndToEndTest, Screenshots)
{
    const auto sample = makeCamera();
    ASSERT_TRUE(sample.ok());
    wifi->addNetwork({QStringLiteral("Home <Wi-Fi>"), QString(), std::nullopt, QStringLiteral("10.0.0.1")});
    wifi->setCurrentNetwork(QStringLiteral("Home <Wi-Fi>"));
    ImageFrameSource* frames = nullptr;
    bool webcam = true;
    start([&]() -> std::unique_ptr<VideoFrameSource> {
        auto source = std::make_unique<ImageFrameSource>();
        source->setDeviceAvailable(webcam);
        frames = source.get();
        return source;
    });
    QWidget* shown = window->window();
    CameraDiscoveryViewController* screen = discoveryScreen();
    ASSERT_TRUE(screen);
    const auto camera = SimulatedCamera::fromContent(cardWith({}), quickOptions());
    const struct {
        const char* name;
        CameraDiscoveryView view;
    } panes[] = {
        {"discovery-manual", CameraDiscoveryView::manualDiscovery(false)},
        {"discovery-connecting", CameraDiscoveryView::connecting()},
        {"discovery-pairing-prompt", CameraDiscoveryView::pairingPromptOnCamera()},
        {"discovery-error-connection-failed", CameraDiscoveryView::connectionError(FailureReason::connectionFailed)},
        {"discovery-error-software-too-old", CameraDiscoveryView::connectionError(FailureReason::cameraSoftwareTooOld)},
        {"discovery-error-no-storage-access", CameraDiscoveryView::connectionError(FailureReason::storageAccessNotAllowed)},
        {"discovery-error-no-images", CameraDiscoveryView::connectionError(FailureReason::noImages)},
        {"discovery-disconnecting", CameraDiscoveryView::disconnecting(camera, false)},
        {"discovery-qr-waiting", CameraDiscoveryView::qrDiscovery()},
    };
    // The search pane names the computer's network once the network service has answered.
    ASSERT_TRUE(runUntil([&] { return screen->manualDiscoveryViewController()->wifiInfoLabel()->text().contains(QStringLiteral("Home")); }));
    for (const auto& pane : panes) {
        screen->setCurrentView(pane.view);
        EXPECT_TRUE(save(shown, QString::fromLatin1(pane.name))) << pane.name;
    }
    // The camera layout shows the webcam's picture filling the preview. The code held up is no camera's: the
    // reader scans frames on a pool thread, and a camera's code would start joining its network whenever the
    // main thread next runs its events, and the pane, shown again below, would wait for that join.
    ASSERT_TRUE(frames);
    frames->feed(tools::webcamFrameWithCode(tools::qrCodeImage("https://example.com/not-a-camera", 4), QSize(1280, 720)));
    EXPECT_EQ(screen->qrDiscoveryViewController()->layout(), QRCameraDiscoveryViewController::Layout::camera);
    EXPECT_TRUE(save(shown, QStringLiteral("discovery-qr-camera")));
    screen->setCurrentView(CameraDiscoveryView::manualDiscovery(false));
    webcam = false;
    screen->setCurrentView(CameraDiscoveryView::qrDiscovery());
    EXPECT_EQ(screen->qrDiscoveryViewController()->layout(), QRCameraDiscoveryViewController::Layout::error);
    EXPECT_TRUE(save(shown, QStringLiteral("discovery-qr-error")));
    screen->setCurrentView(CameraDiscoveryView::manualDiscovery(false));

    SimulatedCameraDiscovery::shared().addCamera(SimulatedCamera::fromFolder(cameraFolder));
    ASSERT_TRUE(runUntil([&] { return connectedView() && connectedView()->imageDeliveryHasCompleted(); }, 90s));
    // The list on screen follows the photos within its refresh interval.
    auto* list = connectedView()->findChild<QTreeWidget*>(QStringLiteral("photoList"));
    ASSERT_TRUE(list);
    ASSERT_TRUE(runUntil([&] {
        int rows = 0;
        for (int day = 0; day < list->topLevelItemCount(); ++day)
            rows += list->topLevelItem(day)->childCount();
        return rows == int(sample.shots.size());
    }));
    EXPECT_TRUE(save(shown, QStringLiteral("connected-view")));
}

} // namespace
