#include "discovery/WiFiNetworkAutoLaunching.h"
#include "support/DiscoveryPlaceholderController.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/MainWindowGeometry.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

// Answers whether the camera is the gateway and records the network being left.
class FakeWiFiPolicy : public WiFiNetworkPolicy {
public:
    void createSharedWatcher() override {}
    void enforceAutoLaunchSetting() override {}
    void quitHelperIfRunning() override {}
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>& camera) const override
    {
        return camera && cameraIsGateway;
    }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        ++disconnects;
        pendingCompletion = std::move(completion);
    }
    // Finishes the Wi-Fi calls, as the worker does once the system has answered.
    void finishDisconnecting() { std::exchange(pendingCompletion, nullptr)(); }

    bool cameraIsGateway = false;
    int disconnects = 0;
    std::function<void()> pendingCompletion;
};

// A camera handle for the close rule: the window only passes it to the Wi-Fi policy, which only checks it is
// there, so it points at a placeholder object that is never used as a camera.
std::shared_ptr<VKLCamera> someCamera()
{
    static int placeholder = 0;
    return std::shared_ptr<VKLCamera>(std::make_shared<int>(0), reinterpret_cast<VKLCamera*>(&placeholder));
}

// A content controller with the connected-camera view's wishes; it may hold a camera.
class CameraContent : public QWidget, public MainWindowViewController {
public:
    CameraContent() : m_toolbar(new QToolBar(this)), m_menu(new QMenu(QStringLiteral("Select"), this)) {}
    QToolBar* toolbar() override { return m_toolbar; }
    QList<QMenu*> menus() override { return {m_menu}; }
    bool wantsVisibleTitle() const override { return false; }
    bool wantsTransparentToolbar() const override { return false; }
    bool wantsWindowControls() const override { return true; }
    QSize wantsInitialSize() const override { return {960, 675}; }
    std::shared_ptr<VKLCamera> connectedCamera() const override { return camera; }

    std::shared_ptr<VKLCamera> camera;

private:
    QToolBar* m_toolbar;
    QMenu* m_menu;
};


// Records every frame change, and whether the new content was in place at the time.
class RecordingMainWindowController : public MainWindowController {
public:
    using MainWindowController::MainWindowController;
    struct FrameChange {
        QRect frame;
        bool animated;
        QWidget* content;
    };
    std::vector<FrameChange> frames;

protected:
    void setWindowFrame(const QRect& frame, bool animate, std::function<void()> then) override
    {
        frames.push_back({frame, animate, window()->centralWidget()});
        MainWindowController::setWindowFrame(frame, animate, std::move(then));
    }
};

std::unique_ptr<QWidget> discoveryPlace() { return std::make_unique<DiscoveryPlaceholderController>(); }

class MainWindowControllerTest : public ::testing::Test {
protected:
    MainWindowControllerTest()
        : defaults(dir.filePath(QStringLiteral("defaults.plist"))),
          controller(std::make_unique<DiscoveryPlaceholderController>(), wifi, defaults, [this] { ++quits; })
    {
        defaults.registerDefaults({{WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, true}});
        controller.setAnimationSpeed(0);
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    FakeWiFiPolicy wifi;
    int quits = 0;
    RecordingMainWindowController controller;
};

TEST(MainWindowGeometryTest, KeepsTheCentre)
{
    // 339 x 420 to 960 x 675 grows by 621 x 255 around the centre.
    const QRectF grown = centeredFrame(QRectF(500, 300, 339, 420), QSizeF(960, 675));
    EXPECT_EQ(grown, QRectF(189.5, 172.5, 960, 675));
    EXPECT_EQ(grown.center(), QRectF(500, 300, 339, 420).center());
    EXPECT_EQ(centeredFrame(grown, QSizeF(339, 420)), QRectF(500, 300, 339, 420));
    EXPECT_EQ(centeredFrame(QRectF(0, 0, 100, 100), QSizeF(100, 100)), QRectF(0, 0, 100, 100));
}

TEST_F(MainWindowControllerTest, StartsWithDiscoveryPlaceWishes)
{
    QMainWindow* window = controller.window();
    ASSERT_NE(qobject_cast<DiscoveryPlaceholderController*>(controller.contentViewController()), nullptr);
    EXPECT_EQ(window->centralWidget(), controller.contentViewController());
    EXPECT_EQ(window->geometry().size(), QSize(339, 420));
    EXPECT_TRUE(controller.isTitleVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vornakel Transfer"));
    EXPECT_TRUE(controller.titlebarAppearsTransparent());
    EXPECT_FALSE(controller.hasWindowControls());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(window->findChildren<QToolBar*>().isEmpty());
}

TEST_F(MainWindowControllerTest, TransitionAppliesWishesAroundTheCentreInOrder)
{
    QMainWindow* window = controller.window();
    window->setGeometry(400, 300, 339, 420);
    const QPoint centre = window->geometry().center();
    auto content = std::make_unique<CameraContent>();
    CameraContent& camera = *content;
    QPointer<QWidget> firstContent = controller.contentViewController();
    controller.frames.clear();

    controller.transition(std::move(content));

    ASSERT_EQ(controller.frames.size(), 3u);
    EXPECT_EQ(controller.frames[0].frame, QRect(400, 300, 339, 420));
    EXPECT_FALSE(controller.frames[0].animated);
    EXPECT_EQ(controller.frames[0].content, nullptr) << "the old content goes first";
    EXPECT_TRUE(controller.frames[1].animated);
    EXPECT_EQ(controller.frames[1].content, nullptr) << "the animation runs on the empty window";
    EXPECT_FALSE(controller.frames[2].animated);
    EXPECT_EQ(controller.frames[2].content, &camera);
    // Origin moves by (-310.5, -127.5), rounded to whole pixels.
    EXPECT_EQ(controller.frames[2].frame.size(), QSize(960, 675));
    EXPECT_NEAR(controller.frames[2].frame.x(), 400 - 310.5, 0.5);
    EXPECT_NEAR(controller.frames[2].frame.y(), 300 - 127.5, 0.5);
    EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 2);

    EXPECT_FALSE(controller.isTitleVisible());
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_FALSE(controller.titlebarAppearsTransparent());
    EXPECT_TRUE(controller.hasWindowControls());
    EXPECT_EQ(camera.toolbar()->parentWidget(), window);

    // The replaced content is gone once the event loop has run.
    EXPECT_TRUE(test::runUntil([&] { return firstContent.isNull(); }));

    // And back: the wishes of the discovery place again; the camera view gets its toolbar back and is deleted
    // with it.
    QPointer<QToolBar> cameraToolbar = camera.toolbar();
    QPointer<QWidget> cameraView = &camera;
    controller.transition(std::make_unique<DiscoveryPlaceholderController>());
    EXPECT_NE(qobject_cast<DiscoveryPlaceholderController*>(controller.contentViewController()), nullptr);
    ASSERT_TRUE(cameraToolbar);
    EXPECT_EQ(cameraToolbar->parentWidget(), cameraView.data());
    EXPECT_TRUE(cameraToolbar->isHidden());
    EXPECT_TRUE(test::runUntil([&] { return cameraView.isNull() && cameraToolbar.isNull(); }));
    EXPECT_TRUE(window->findChildren<QToolBar*>().isEmpty());
    EXPECT_EQ(window->geometry().size(), QSize(339, 420));
    EXPECT_FALSE(controller.hasWindowControls());
}

TEST_F(MainWindowControllerTest, ContentMenusStandBeforeHelpWhileTheContentShows)
{
    QMenuBar* bar = controller.window()->menuBar();
    bar->addMenu(QStringLiteral("App"));
    bar->addMenu(QStringLiteral("Help"));
    const auto titles = [bar] {
        QStringList names;
        for (QAction* action : bar->actions())
            names << action->text();
        return names;
    };

    auto content = std::make_unique<CameraContent>();
    QPointer<QWidget> cameraView = content.get();
    controller.transition(std::move(content));
    EXPECT_EQ(titles(), (QStringList{"App", "Select", "Help"}));

    controller.transition(std::make_unique<DiscoveryPlaceholderController>());
    EXPECT_EQ(titles(), (QStringList{"App", "Help"}));
    EXPECT_TRUE(test::runUntil([&] { return cameraView.isNull(); }));
    EXPECT_EQ(titles(), (QStringList{"App", "Help"}));
}

TEST_F(MainWindowControllerTest, ContentFindsTheControllerOfItsWindow)
{
    EXPECT_EQ(MainWindowController::forWidget(controller.contentViewController()), &controller);
    auto content = std::make_unique<CameraContent>();
    CameraContent* camera = content.get();
    EXPECT_EQ(MainWindowController::forWidget(camera), nullptr) << "not shown in the main window yet";
    controller.transition(std::move(content));
    EXPECT_EQ(MainWindowController::forWidget(camera), &controller);
    QWidget elsewhere;
    EXPECT_EQ(MainWindowController::forWidget(&elsewhere), nullptr);
    EXPECT_EQ(MainWindowController::forWidget(nullptr), nullptr);
}

TEST_F(MainWindowControllerTest, RefusesContentThatDoesNotSayHowToShowIt)
{
    QWidget* before = controller.contentViewController();
    controller.frames.clear();
    controller.transition(std::make_unique<QWidget>());
    controller.transition(nullptr);
    EXPECT_TRUE(controller.frames.empty());
    EXPECT_EQ(controller.contentViewController(), before);
}

// A content that asks for its own replacement when its button is clicked.
class SelfReplacingContent : public CameraContent {
public:
    explicit SelfReplacingContent(MainWindowController& window) : m_button(new QPushButton(this))
    {
        QObject::connect(m_button, &QPushButton::clicked, this, [this, &window] {
            window.transition(std::make_unique<DiscoveryPlaceholderController>());
            // Still alive here, inside its own signal: the window deletes it later.
            handlerFinished = true;
        });
    }
    QPushButton* button() const { return m_button; }
    bool handlerFinished = false;

private:
    QPushButton* m_button;
};

TEST_F(MainWindowControllerTest, ContentReplacedFromItsOwnSignalIsDeletedAfterwards)
{
    auto content = std::make_unique<SelfReplacingContent>(controller);
    QPointer<SelfReplacingContent> replaced = content.get();
    controller.transition(std::move(content));
    replaced->button()->click();
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(replaced->handlerFinished);
    EXPECT_NE(qobject_cast<DiscoveryPlaceholderController*>(controller.contentViewController()), nullptr);
    EXPECT_TRUE(test::runUntil([&] { return replaced.isNull(); }));
}

// Records the window's sizes while it resizes.
class SizeRecorder : public QObject {
public:
    std::vector<QSize> sizes;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            sizes.push_back(static_cast<QResizeEvent*>(event)->size());
        return false;
    }
};

TEST_F(MainWindowControllerTest, ResizeAnimatesOnTheEmptyWindowThenInstallsTheContent)
{
    controller.setAnimationSpeed(0.25); // 0.8 s, so a busy machine still sees steps in between
    QMainWindow* window = controller.window();
    window->show();
    window->setGeometry(400, 300, 339, 420);
    SizeRecorder recorder;
    window->installEventFilter(&recorder);
    auto content = std::make_unique<CameraContent>();
    CameraContent* camera = content.get();

    controller.transition(std::move(content));
    EXPECT_TRUE(controller.isTransitioning());
    EXPECT_EQ(controller.contentViewController(), nullptr) << "the old content goes first";
    EXPECT_NE(window->geometry().size(), QSize(960, 675)) << "the window does not jump";

    ASSERT_TRUE(test::runUntil([&] { return !controller.isTransitioning(); }));
    EXPECT_EQ(controller.contentViewController(), camera);
    EXPECT_EQ(window->geometry().size(), QSize(960, 675));
    const bool passedBetween = std::any_of(recorder.sizes.begin(), recorder.sizes.end(), [](const QSize& size) {
        return size.width() > 339 && size.width() < 960;
    });
    EXPECT_TRUE(passedBetween) << "the window passed through sizes between the two";
}

TEST_F(MainWindowControllerTest, ContentReplacedWhileTheWindowResizesIsNeverShown)
{
    controller.setAnimationSpeed(1);
    controller.window()->show();
    auto first = std::make_unique<CameraContent>();
    QPointer<QWidget> skipped = first.get();
    controller.transition(std::move(first));
    controller.transition(discoveryPlace());
    ASSERT_TRUE(test::runUntil([&] { return !controller.isTransitioning() && skipped.isNull(); }));
    EXPECT_NE(qobject_cast<DiscoveryPlaceholderController*>(controller.contentViewController()), nullptr);
    EXPECT_EQ(controller.window()->geometry().size(), DiscoveryPlaceholderController::kInitialSize);
}

TEST_F(MainWindowControllerTest, ClosingQuitsAndLeavesCameraNetworkOnlyWhenAllowed)
{
    const struct {
        const char* name;
        bool showCamera;
        bool hasCamera;
        bool gateway;
        bool disconnectSetting;
        int disconnects;
    } cases[] = {
        {"discovery shown", false, false, true, true, 0},
        {"camera view without camera", true, false, true, true, 0},
        {"camera is the gateway", true, true, true, true, 1},
        {"gateway is another device", true, true, false, true, 0},
        {"setting off", true, true, true, false, 0},
    };
    for (const auto& c : cases) {
        FakeWiFiPolicy policy;
        policy.cameraIsGateway = c.gateway;
        int quitCount = 0;
        MainWindowController window(std::make_unique<DiscoveryPlaceholderController>(), policy, defaults,
                                    [&] { ++quitCount; });
        window.setAnimationSpeed(0);
        defaults.setBool(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, c.disconnectSetting);
        auto content = std::make_unique<CameraContent>();
        if (c.hasCamera)
            content->camera = someCamera();
        if (c.showCamera)
            window.transition(std::move(content));
        window.window()->show();
        window.window()->close();
        EXPECT_FALSE(window.window()->isVisible()) << c.name;
        EXPECT_EQ(policy.disconnects, c.disconnects) << c.name;
        if (c.disconnects) {
            // The close returned while the network is still being left; the quit waits for that.
            EXPECT_EQ(quitCount, 0) << c.name;
            policy.finishDisconnecting();
        }
        EXPECT_EQ(quitCount, 1) << c.name;
    }
}

TEST(MainWindowControllerStartTest, MissingInitialContentLeavesWindowEmpty)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("d.plist")));
    FakeWiFiPolicy wifi;
    MainWindowController controller(std::make_unique<QWidget>(), wifi, defaults, [] {});
    EXPECT_EQ(controller.contentViewController(), nullptr);
    EXPECT_EQ(controller.window()->centralWidget(), nullptr);
}

} // namespace
} // namespace vornakel
