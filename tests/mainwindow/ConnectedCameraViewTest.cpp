#include "discovery/WiFiNetworkAutoLaunching.h"
#include "mainwindow/DayListPhotoBrowser.h"
#include "support/DiscoveryPlaceholderController.h"
#include "mainwindow/MainViewController.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "model/CameraPhotoLoad.h"
#include "model/PhotoVariant.h"
#include "platform/core/UserDefaults.h"
#include "support/DiscoveryTestSupport.h"
#include "support/TestSupport.h"
#include "ui/WindowDragging.h"

#include <QDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

class GatewayPolicy : public WiFiNetworkPolicy {
public:
    void createSharedWatcher() override {}
    void enforceAutoLaunchSetting() override {}
    void quitHelperIfRunning() override {}
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>& camera) const override { return camera && gateway; }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        if (completion)
            completion();
    }
    bool gateway = false;
};

// Connects the camera in storage mode, walks it and starts its load, as the discovery screen does.
std::shared_ptr<CameraPhotoLoad> startLoad(const std::shared_ptr<SimulatedCamera>& camera)
{
    bool connected = false;
    camera->connectWithClientName(QStringLiteral("test"), [&](auto, auto) { connected = true; }, {});
    if (!runUntil([&] { return connected; }))
        return nullptr;
    bool inStorage = false;
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [&](auto) { inStorage = true; });
    if (!runUntil([&] { return inStorage; }))
        return nullptr;
    std::optional<CameraFileScanning::Items> items;
    CameraFileScanning scanner;
    scanner.scan(camera, &CameraPhotoLoad::passesWalkFilter, [&](auto found, auto) { items = found.value_or(CameraFileScanning::Items{}); });
    if (!runUntil([&] { return items.has_value(); }))
        return nullptr;
    auto load = CameraPhotoLoad::create(camera, *items);
    load->start();
    return load;
}

class ConnectedViewTest : public ::testing::Test {
protected:
    ConnectedViewTest() : defaults(dir.filePath(QStringLiteral("defaults.ini")))
    {
        defaults.registerDefaults({{WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, true}});
        window.setAnimationSpeed(0);
    }

    ConnectedCameraEnvironment environment()
    {
        ConnectedCameraEnvironment env;
        env.wifi = &policy;
        env.defaults = &defaults;
        env.makeDiscovery = [this](CameraDiscoveryView view) -> std::unique_ptr<QWidget> {
            handedBack = std::move(view);
            return std::make_unique<DiscoveryPlaceholderController>();
        };
        return env;
    }

    // Shows a connected view of a camera with `shots` shots; the view stays the window's.
    MainViewController* show(const std::shared_ptr<SimulatedCamera>& camera, ConnectedCameraEnvironment env)
    {
        auto view = std::make_unique<MainViewController>(std::move(env));
        MainViewController* shown = view.get();
        view->takeOver(startLoad(camera));
        window.transition(std::move(view));
        return shown;
    }

    MainViewController* show(const std::shared_ptr<SimulatedCamera>& camera) { return show(camera, environment()); }

    bool handedBackToDiscovery() const
    {
        return qobject_cast<DiscoveryPlaceholderController*>(window.contentViewController()) != nullptr;
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    GatewayPolicy policy;
    MainWindowController window{std::make_unique<DiscoveryPlaceholderController>(), policy, defaults, [] {}};
    std::optional<CameraDiscoveryView> handedBack;
};

TEST_F(ConnectedViewTest, TheWiFiIsLeftOnlyAfterTheUsersDisconnectFromTheGatewayCameraWithTheSettingOn)
{
    const struct {
        bool setting;
        bool gateway;
        bool userDisconnects; // false: the link drops
        bool leave;
    } cases[] = {
        {true, true, true, true},    {true, false, true, false},  {false, true, true, false},
        {false, false, true, false}, {true, true, false, false},  {true, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "setting " << c.setting << ", gateway " << c.gateway << ", by user "
                                        << c.userDisconnects);
        defaults.setBool(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, c.setting);
        policy.gateway = c.gateway;
        handedBack.reset();
        const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(3)), quickOptions());
        MainViewController* view = show(camera);
        ASSERT_EQ(window.contentViewController(), view);
        if (c.userDisconnects)
            view->disconnectAction()->trigger();
        else
            camera->dropConnection();
        ASSERT_TRUE(runUntil([&] { return handedBackToDiscovery(); }));
        ASSERT_TRUE(handedBack);
        EXPECT_EQ(*handedBack, CameraDiscoveryView::disconnecting(camera, c.leave));
        ASSERT_TRUE(runUntil([&] { return camera->connectionState() == 0; }));
    }
}

TEST_F(ConnectedViewTest, ACameraGoneBeforeTheViewWatchesIsHandedBackAtOnce)
{
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(3)), quickOptions());
    auto load = startLoad(camera);
    ASSERT_TRUE(load);
    camera->dropConnection();
    auto view = std::make_unique<MainViewController>(environment());
    view->takeOver(load);
    window.transition(std::move(view));
    ASSERT_TRUE(runUntil([&] { return handedBackToDiscovery(); }));
    EXPECT_EQ(*handedBack, CameraDiscoveryView::disconnecting(camera, false));
}

TEST_F(ConnectedViewTest, TheToolbarNamesTheCameraLiterally)
{
    SimulatedCameraOptions options = quickOptions();
    options.friendlyDisplayName = QStringLiteral("<b>R&D</b> Camera");
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(1)), options);
    MainViewController view(environment());
    EXPECT_EQ(view.cameraNameTitlebarButton()->text(), QStringLiteral("Vornakel Transfer")) << "before a camera is known";
    view.takeOver(startLoad(camera));
    // Button texts are never markup; the ampersand is doubled so it does not become a shortcut.
    EXPECT_EQ(view.cameraNameTitlebarButton()->text(), QStringLiteral("<b>R&&D</b> Camera"));
    EXPECT_EQ(view.cameraBatteryStatus()->level(), 0);
}

TEST_F(ConnectedViewTest, CopyStaysDisabledWithoutACopyEntryPointAndWaitsForTheWholeList)
{
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(3)), quickOptions());
    {
        MainViewController view(environment());
        EXPECT_FALSE(view.copyAction()->isEnabled());
        EXPECT_FALSE(view.copyToFolderAction()->isEnabled());
    }

    std::vector<CopyRequest> requests;
    ConnectedCameraEnvironment env = environment();
    env.copy = [&](const CopyRequest& request) { requests.push_back(request); };
    SimulatedCameraOptions slow = quickOptions();
    slow.latencyMs = 30;
    const auto slowCamera = SimulatedCamera::fromContent(cardWith(shotNames(30)), slow);
    MainViewController* view = show(slowCamera, env);
    ASSERT_TRUE(view->copyAction()->isEnabled());
    QPointer<QWidget> alert;
    QObject::connect(view, &MainViewController::deliveryIncompleteAlertShown, [&](QWidget* shown) { alert = shown; });
    ASSERT_FALSE(view->imageDeliveryHasCompleted());
    view->copyAction()->trigger();
    EXPECT_TRUE(requests.empty());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->parentWidget(), window.window()) << "a sheet on the main window";
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    static_cast<QDialog*>(alert.data())->reject();

    ASSERT_TRUE(runUntil([&] { return view->imageDeliveryHasCompleted(); }, 90s));
    view->copyToFolderAction()->trigger();
    view->copyAction()->trigger();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, CopyRequest::Kind::toFolder);
    EXPECT_EQ(requests[1].kind, CopyRequest::Kind::fullFlow);
    EXPECT_EQ(requests[1].photos.size(), 30u);
    EXPECT_EQ(requests[1].camera, slowCamera);
}

TEST_F(ConnectedViewTest, ADroppedConnectionClosesAnOpenSheetBeforeHandingBack)
{
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), quickOptions());
    show(camera);
    auto* sheet = new QDialog(window.window());
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    int rejected = 0;
    QObject::connect(sheet, &QDialog::rejected, [&] { ++rejected; });
    camera->dropConnection();
    ASSERT_TRUE(runUntil([&] { return handedBackToDiscovery(); }));
    EXPECT_EQ(rejected, 1);
    EXPECT_FALSE(sheet->isVisible());
}

// ---- The stand-in browser -----------------------------------------------------------------------------------

TEST(DayListPhotoBrowserTest, TakesItsListAlongUnlessAWindowOwnsItAndThenNoLongerHearsFromIt)
{
    QPointer<QWidget> alone;
    {
        DayListPhotoBrowser browser;
        alone = browser.widget();
    }
    EXPECT_FALSE(alone) << "a list never put into a window goes with its browser";

    QWidget window;
    QPointer<QTreeWidget> owned;
    {
        DayListPhotoBrowser browser;
        owned = static_cast<QTreeWidget*>(browser.widget());
        owned->setParent(&window);
    }
    ASSERT_TRUE(owned) << "the window owns the list";
    // A selection change on the list that outlived its browser must not reach the browser (the sanitizer would
    // report the call into freed memory).
    owned->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("IMG_0001")}));
    owned->selectAll();
    EXPECT_EQ(owned->selectedItems().size(), 1);
}

TEST(DayListPhotoBrowserTest, PhotosAreOrderedTotallyNewestDayFirstAndPairsReplaceTheirJPEGInTheSelection)
{
    // Shots on two days, two of them at the same second, one undated; IMG_0003 gets its RAW later.
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder folder{QStringLiteral("100TEST"), {}, {}};
    const QDateTime day1(QDate(2026, 3, 1), QTime(10, 0));
    const QDateTime day2(QDate(2026, 3, 2), QTime(9, 0));
    folder.files = {{QStringLiteral("IMG_0001.JPG"), 10, day1, {}},
                    {QStringLiteral("IMG_0002.JPG"), 10, day2, {}},
                    {QStringLiteral("IMG_0004.JPG"), 10, day2, {}},
                    {QStringLiteral("IMG_0003.JPG"), 10, day2.addSecs(60), {}},
                    {QStringLiteral("IMG_0005.JPG"), 10, std::nullopt, {}},
                    {QStringLiteral("IMG_0003.CR2"), 10, day2.addSecs(61), {}}};
    content.root.folders.push_back({QStringLiteral("DCIM"), {folder}, {}});
    const auto camera = SimulatedCamera::fromContent(content, quickOptions());
    const auto load = startLoad(camera);
    ASSERT_TRUE(load);
    ASSERT_TRUE(runUntil([&] { return load->hasCompleted(); }));
    std::vector<PhotoPtr> photos = load->photos();
    ASSERT_EQ(photos.size(), 5u);

    // A strict total order: irreflexive, and exactly one way round for any two photos.
    for (const auto& a : photos) {
        EXPECT_FALSE(photoShowsBefore(a, a));
        for (const auto& b : photos) {
            if (a == b)
                continue;
            EXPECT_NE(photoShowsBefore(a, b), photoShowsBefore(b, a));
        }
    }

    DayListPhotoBrowser browser;
    // Feed the JPEG of IMG_0003 alone first, select it, then the pair replaces it.
    PhotoGrouping grouping;
    CameraFileScanning::Items jpegs, raw;
    for (const auto& photo : photos)
        for (const auto& variant : photo->variants())
            (variant->fileName().endsWith(QStringLiteral(".CR2")) ? raw : jpegs).push_back(variant->remoteItem());
    browser.applyGroupingUpdate(grouping.add(jpegs));
    auto* list = static_cast<QTreeWidget*>(browser.widget());
    QTreeWidgetItem* img3 = list->findItems(QStringLiteral("IMG_0003"), Qt::MatchStartsWith | Qt::MatchRecursive).value(0);
    ASSERT_TRUE(img3);
    img3->setSelected(true);
    browser.applyGroupingUpdate(grouping.add(raw));

    std::vector<QString> names;
    for (const auto& photo : browser.shownPhotos())
        names.push_back(photo->displayName());
    EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("IMG_0003"), QStringLiteral("IMG_0002"), QStringLiteral("IMG_0004"),
                                           QStringLiteral("IMG_0001"), QStringLiteral("IMG_0005")}));
    const auto sections = browser.sections();
    ASSERT_EQ(sections.size(), 3u) << "two days and the undated photos";
    EXPECT_EQ(sections[0].second.size(), 3u);
    const auto selected = browser.photosForCopying();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0]->displayName(), QStringLiteral("IMG_0003"));
    EXPECT_TRUE(selected[0]->previewVariant()) << "the pair took the JPEG's place in the selection";

    // The list on screen follows within its refresh interval, the pair selected in place of the JPEG.
    ASSERT_TRUE(runUntil([&] {
        const auto pair = list->findItems(QStringLiteral("IMG_0003  (RAW + JPEG)"), Qt::MatchExactly | Qt::MatchRecursive);
        return pair.size() == 1 && pair[0]->isSelected();
    }));
    EXPECT_EQ(list->findItems(QStringLiteral("IMG_0003"), Qt::MatchExactly | Qt::MatchRecursive).size(), 0);
    EXPECT_EQ(list->topLevelItemCount(), 3);
}

} // namespace
