// The grid inside the connected camera's view, fed by a simulated camera as the app runs it: photos arrive in
// chunks through the view, thumbnails come on the camera library's delivery queue, and portrait shots show
// upright. Also writes the connected view's screenshot with the grid.

#include "support/DiscoveryPlaceholderController.h"
#include "support/NoGatewayPolicy.h"
#include "mainwindow/MainViewController.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "support/BackgroundWorkCounter.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/grid/ThumbnailCache.h"
#include "model/CameraPhotoLoad.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/core/UserDefaults.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "support/ScopedImageCache.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QMainWindow>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using test::runUntil;
using test::NoGatewayPolicy;

TEST(GridInConnectedViewTest, ShowsEveryShotUprightWithItsThumbnail)
{
    test::backgroundWork(); // counts the work this test posts
    QTemporaryDir dir;
    const test::ScopedImageCache cache(dir.filePath(QStringLiteral("cache")));
    tools::SampleCameraSpec spec;
    spec.outputFolder = dir.filePath(QStringLiteral("camera"));
    spec.shots = 24;
    spec.days = 3;
    const tools::SampleCameraResult sample = tools::generateSampleCamera(spec);
    auto camera = SimulatedCamera::fromFolder(spec.outputFolder);

    bool connected = false;
    camera->connectWithClientName(QStringLiteral("test"), [&](auto, auto) { connected = true; }, {});
    ASSERT_TRUE(runUntil([&] { return connected; }));
    bool inStorage = false;
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [&](auto) { inStorage = true; });
    ASSERT_TRUE(runUntil([&] { return inStorage; }));
    std::optional<CameraFileScanning::Items> items;
    CameraFileScanning scanner;
    scanner.scan(camera, &CameraPhotoLoad::passesWalkFilter,
                 [&](auto found, auto) { items = found.value_or(CameraFileScanning::Items{}); });
    ASSERT_TRUE(runUntil([&] { return items.has_value(); }));
    auto load = CameraPhotoLoad::create(camera, *items);
    load->start();

    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.ini")));
    NoGatewayPolicy policy;
    ImageGridViewController* grid = nullptr;
    ConnectedCameraEnvironment environment;
    environment.wifi = &policy;
    environment.defaults = &defaults;
    environment.makeBrowser = [&](QWidget*) -> std::unique_ptr<PhotoBrowser> {
        ImageGridOptions options;
        options.animationSpeed = 0;
        auto made = std::make_unique<ImageGridViewController>(options);
        grid = made.get();
        return made;
    };
    environment.makeDiscovery = [](CameraDiscoveryView) -> std::unique_ptr<QWidget> {
        return std::make_unique<DiscoveryPlaceholderController>();
    };
    MainWindowController window{std::make_unique<DiscoveryPlaceholderController>(), policy, defaults, [] {}};
    window.setAnimationSpeed(0);
    window.window()->show();
    auto view = std::make_unique<MainViewController>(std::move(environment));
    MainViewController* shown = view.get();
    view->takeOver(load);
    window.transition(std::move(view));
    ASSERT_TRUE(grid);

    ASSERT_TRUE(runUntil([&] { return shown->imageDeliveryHasCompleted(); }, 90s));
    ASSERT_EQ(grid->shownPhotos().size(), size_t(sample.shots.size()));
    const PhotoPtr first = grid->shownPhotos().front();
    ASSERT_TRUE(runUntil([&] { return !grid->thumbnails().thumbnail(first.get()).isNull(); }, 20s));
    ASSERT_TRUE(runUntil([&] { return grid->thumbnails().requestsInFlight() == 0; }, 20s));

    std::map<QString, int> orientation;
    for (const auto& shot : sample.shots)
        orientation[shot.baseName] = shot.orientation;
    int checked = 0;
    for (const PhotoPtr& photo : grid->shownPhotos()) {
        const QImage thumbnail = grid->thumbnails().thumbnail(photo.get());
        if (thumbnail.isNull())
            continue; // off screen
        const bool portrait = orientation[photo->displayName()] >= 5;
        EXPECT_EQ(thumbnail.height() > thumbnail.width(), portrait) << photo->displayName().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 6);
    window.window()->repaint();
    QDir().mkpath(QStringLiteral(VKL_SCREENSHOT_DIR));
    EXPECT_TRUE(window.window()->grab().toImage().save(QStringLiteral(VKL_SCREENSHOT_DIR "/connected-view-grid.png")));

    EXPECT_TRUE(runUntil([] { return test::backgroundWork().running() == 0; }));
}

} // namespace
} // namespace vornakel
