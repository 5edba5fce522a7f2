#include "app/AboutWindow.h"
#include "app/AppComposition.h"
#include "app/AppDelegate.h"
#include "app/FeedbackDialog.h"
#include "app/HelpPageOpener.h"
#include "app/PreferencesWindowController.h"
#include "app/SystemCollaborators.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "lightroom/LrPluginBridge.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/core/UserDefaults.h"
#include "platform/photolibrary/PhotoLibrary.h"
#include "platform/wifi/WiFiInterface.h"
#include "sorting/PhotoSortingModel.h"
#include "platform/services/HelpBook.h"
#include "platform/services/RunningApplications.h"
#include "platform/services/SoftwareUpdater.h"
#include "platform/services/Workspace.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"
#include "support/FakeRunningApplications.h"
#include "support/RecordingWorkspace.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using Log = std::vector<std::string>;
using test::RecordingWorkspace;

// Fakes of every start-up layer, writing what is called, in order, into one log.
class RecordingWiFi : public WiFiNetworkPolicy {
public:
    explicit RecordingWiFi(Log& log) : m_log(log) {}
    void createSharedWatcher() override { m_log.push_back("wifi.createSharedWatcher"); }
    void enforceAutoLaunchSetting() override { m_log.push_back("wifi.enforceAutoLaunchSetting"); }
    void quitHelperIfRunning() override { m_log.push_back("wifi.quitHelperIfRunning"); }
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>&) const override { return false; }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        m_log.push_back("wifi.disconnect");
        if (completion)
            completion();
    }

private:
    Log& m_log;
};

class RecordingPurger : public ImageCachePurger {
public:
    explicit RecordingPurger(Log& log) : m_log(log) {}
    void purgeOutOfDateThumbnailsAndPreviews() override { m_log.push_back("cache.purge"); }

private:
    Log& m_log;
};

class RecordingVendor : public VendorFramework {
public:
    RecordingVendor(Log& log, const UserDefaults& defaults) : m_log(log), m_defaults(defaults) {}
    void sendTrackingReport() override
    {
        // Shows whether the defaults were already registered when the vendor calls began.
        m_log.push_back(m_defaults.contains(QStringLiteral("DragAndDropGroupingBehaviour"))
                            ? "vendor.sendTrackingReport (defaults registered)"
                            : "vendor.sendTrackingReport (defaults missing)");
    }
    void setupIssuesController(bool reporting) override
    {
        m_log.push_back(reporting ? "vendor.setupIssues(true)" : "vendor.setupIssues(false)");
    }
    void setUpdaterDelegate(QObject* context, std::function<void()> willInstall) override
    {
        m_log.push_back(context ? "vendor.setUpdaterDelegate" : "vendor.setUpdaterDelegate(none)");
        willInstallUpdate = std::move(willInstall);
    }
    void showFeedbackDialog(QWidget*) override { m_log.push_back("vendor.showFeedbackDialog"); }

    std::function<void()> willInstallUpdate;

private:
    Log& m_log;
    const UserDefaults& m_defaults;
};

class RecordingHelp : public HelpRegistration {
public:
    explicit RecordingHelp(Log& log) : m_log(log) {}
    void registerBooks() override { m_log.push_back("help.registerBooks"); }
    void openHelpAnchor(const QString& anchor, std::function<void(const QString&)> unavailable) override
    {
        m_log.push_back("help.open " + anchor.toStdString());
        if (!browserlessPage.isEmpty() && unavailable)
            unavailable(browserlessPage);
    }
    // Set: no browser could show the help, which is in this file.
    QString browserlessPage;

private:
    Log& m_log;
};

class FixedVersions : public VersionInfoProvider {
public:
    BundleVersionInfo applicationInfo() const override { return {QStringLiteral("1.2"), QStringLiteral("345"), {}}; }
    BundleVersionInfo cameraLibraryInfo() const override
    {
        return {QStringLiteral("3.0"), QStringLiteral("812"), QStringLiteral("VornakelCore 3.0 (simulated)")};
    }
};

// An application delegate over recording layers and a user-defaults file of its own.
class AppFixture : public ::testing::Test {
protected:
    AppFixture()
        : defaults(dir.filePath(QStringLiteral("UserDefaults.plist"))), wifi(log), purger(log), vendor(log, defaults),
          help(log)
    {
    }
    // The preferences panes over objects of the test's own, as the composition point passes its own.
    PreferencesPanes makePreferencesPanes() { return vornakel::makePreferencesPanes(*autoLaunching, sorting, bridge); }

    std::unique_ptr<AppDelegate> makeDelegate()
    {
        return std::make_unique<AppDelegate>(AppDelegate::Collaborators{
            wifi, purger, vendor, help, workspace, defaults, versions, makePreferencesPanes()});
    }

    QTemporaryDir dir;
    Log log;
    UserDefaults defaults;
    RecordingWiFi wifi;
    RecordingPurger purger;
    RecordingVendor vendor;
    RecordingHelp help;
    RecordingWorkspace workspace;
    test::FakeRunningApplications applications;
    FixedVersions versions;
    std::unique_ptr<WiFiNetworkAutoLaunching> autoLaunching = WiFiNetworkAutoLaunching::create(
        defaults, [] { return std::shared_ptr<WiFiInterface>(); }, dir.filePath(QStringLiteral("no-helper")));
    PhotoSortingModel sorting{defaults};
    LrPluginBridge bridge{workspace, applications, LrPluginBridge::standardOptions(defaults)};
};

using StartupTest = AppFixture;

TEST_F(StartupTest, RunsLayersInOrderOnce)
{
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    delegate->applicationDidFinishLaunching();

    const Log expected = {
        "wifi.createSharedWatcher",
        "vendor.sendTrackingReport (defaults registered)",
        "vendor.setupIssues(true)",
        "vendor.setUpdaterDelegate",
        "wifi.enforceAutoLaunchSetting",
        "cache.purge",
        "help.registerBooks",
    };
    EXPECT_EQ(log, expected);

    log.clear();
    ASSERT_TRUE(vendor.willInstallUpdate);
    vendor.willInstallUpdate();
    EXPECT_EQ(log, Log{"wifi.quitHelperIfRunning"}) << "the helper quits before an update is installed";
}

TEST_F(StartupTest, RegisteredDefaultsOnFreshAccount)
{
    makeDelegate()->applicationDidFinishLaunching();
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("DragAndDropGroupingBehaviour")), 2);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("PhotosGroupingBehaviour")), 0);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("LightroomGroupingBehaviour")), 0);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("FolderCopyDestinationGroupingBehaviour")), 0);
    EXPECT_TRUE(defaults.contains(QStringLiteral("PhotosGroupingBehaviour")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    EXPECT_FALSE(defaults.hasStoredValue(QStringLiteral("DragAndDropGroupingBehaviour")))
        << "registration never writes the user's file";
}

TEST_F(StartupTest, StoredValuesSurviveRegistration)
{
    {
        // A previous run stored the user's choices.
        UserDefaults previousRun(defaults.filePath());
        previousRun.setInteger(QStringLiteral("DragAndDropGroupingBehaviour"), 1);
        previousRun.setBool(QStringLiteral("DisconnectFromCameraNetworks"), false);
    }
    UserDefaults reopened(defaults.filePath());
    AppDelegate delegate({wifi, purger, vendor, help, workspace, reopened, versions, makePreferencesPanes()});
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(reopened.integerForKey(QStringLiteral("DragAndDropGroupingBehaviour")), 1);
    EXPECT_FALSE(reopened.boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    EXPECT_TRUE(reopened.boolForKey(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined")));
    EXPECT_EQ(reopened.integerForKey(QStringLiteral("PhotosGroupingBehaviour")), 0);
}

using AppMenuTest = AppFixture;

TEST_F(AppMenuTest, MenuItemsReachTheirLayers)
{
    auto delegate = makeDelegate();
    QMenuBar menuBar;
    delegate->installMenus(&menuBar);
    const auto trigger = [&](const char* name) {
        auto* action = menuBar.findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    };
    trigger("FeedbackMenuItem");
    trigger("WebsiteMenuItem");
    trigger("HelpMenuItem");
    EXPECT_EQ(log, (Log{"vendor.showFeedbackDialog", "help.open "}));
    ASSERT_EQ(workspace.opened.size(), 1u);
    EXPECT_EQ(workspace.opened[0], AppDelegate::vornakelWebsite());

    EXPECT_EQ(delegate->preferencesMenuItem(), menuBar.findChild<QAction*>(QStringLiteral("PreferencesMenuItem")));
    trigger("AboutMenuItem");
    ASSERT_NE(delegate->aboutWindow(), nullptr);
    EXPECT_TRUE(delegate->aboutWindow()->isVisible());
}

TEST_F(AppMenuTest, HelpWithoutABrowserSaysSoAndWhereThePagesAre)
{
    auto delegate = makeDelegate();
    QMenuBar menuBar;
    delegate->installMenus(&menuBar);
    auto* helpItem = menuBar.findChild<QAction*>(QStringLiteral("HelpMenuItem"));
    ASSERT_NE(helpItem, nullptr);
    helpItem->trigger();
    EXPECT_EQ(delegate->helpUnavailableAlert(), nullptr) << "a browser showed the help: nothing to say";

    const QString page = QStringLiteral("/home/ann/.cache/com.vornakel/Help/<index>.html");
    help.browserlessPage = page;
    helpItem->trigger();
    auto* alert = qobject_cast<QMessageBox*>(delegate->helpUnavailableAlert());
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_TRUE(alert->text().contains(QStringLiteral("no web browser"))) << alert->text().toStdString();
    EXPECT_TRUE(alert->informativeText().contains(page)) << alert->informativeText().toStdString();
    EXPECT_EQ(alert->textFormat(), Qt::PlainText) << "a path is shown as it is";

    const QPointer<QMessageBox> first = alert;
    helpItem->trigger();
    EXPECT_NE(delegate->helpUnavailableAlert(), nullptr);
    EXPECT_TRUE(first.isNull()) << "one alert at a time, the old one replaced";
}

TEST(HelpPageOpenerTest, TellsWhetherTheOpenerCouldShowThePage)
{
    const struct {
        const char* program;
        bool opened;
    } cases[] = {{"/bin/true", true}, {"/bin/false", false}, {"/nonexistent/xdg-open", false}};
    for (const auto& c : cases) {
        HelpPageOpener opener(QString::fromLatin1(c.program));
        std::optional<bool> answer;
        opener.open(QUrl::fromLocalFile(QStringLiteral("/tmp/index.html")), [&](bool opened) { answer = opened; });
        ASSERT_TRUE(test::runUntil([&] { return answer.has_value(); })) << c.program;
        EXPECT_EQ(*answer, c.opened) << c.program;
    }
}

TEST(AppWindowsTest, ASecondStartBringsTheWindowForwardEvenWhenMinimised)
{
    QMainWindow window;
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    bringWindowForward(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
    bringWindowForward(nullptr);
}

TEST(PreferencesGeometryTest, KeepsTopEdgeAndHorizontalCentre)
{
    const QRectF frame(100, 200, 480, 340); // 300 of pane below 40 of toolbar
    // Taller and wider: grows downwards and equally to both sides.
    EXPECT_EQ(preferencesPaneFrame(frame, 40, QSizeF(640, 420)), QRectF(20, 200, 640, 460));
    // Narrower and shorter: shrinks equally on both sides, and upwards from the bottom.
    EXPECT_EQ(preferencesPaneFrame(frame, 40, QSizeF(300, 100)), QRectF(190, 200, 300, 140));
    // The same pane again: the same frame.
    EXPECT_EQ(preferencesPaneFrame(frame, 40, QSizeF(480, 300)), frame);
}

class PreferencesTest : public AppFixture {
protected:
    void SetUp() override
    {
        delegate = makeDelegate();
        delegate->installMenus(&menuBar);
    }
    QMenuBar menuBar;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(PreferencesTest, OpensOnGeneralAndSwitchesPanesKeepingTopEdge)
{
    delegate->showPreferences();
    PreferencesWindowController* preferences = delegate->preferencesWindowController();
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(PreferencesWindowController::current(), preferences);
    QMainWindow* window = preferences->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(preferences->contentViewController(), preferences->generalViewController());
    EXPECT_TRUE(preferences->generalToolbarButton()->isChecked());

    const QRect before = window->geometry();
    const int chrome = before.height() - preferences->generalViewController()->height();
    EXPECT_GT(chrome, 0) << "the toolbar sits above the pane";

    preferences->photoSortingToolbarButton()->trigger();
    const QRect sorting = window->geometry();
    const QSize paneSize = preferences->photoSortingViewController()->size();
    EXPECT_EQ(preferences->contentViewController(), preferences->photoSortingViewController());
    EXPECT_EQ(sorting.size(), QSize(paneSize.width(), paneSize.height() + chrome));
    EXPECT_EQ(sorting.top(), before.top());
    EXPECT_LE(std::abs(sorting.center().x() - before.center().x()), 1);

    preferences->advancedToolbarButton()->trigger();
    EXPECT_EQ(preferences->contentViewController(), preferences->advancedViewController());
    EXPECT_EQ(window->geometry().top(), before.top());
    preferences->generalToolbarButton()->trigger();
    EXPECT_EQ(window->geometry().size(), before.size()) << "panes are kept, and so are their sizes";

    // Opening again reuses the window and its panes.
    QWidget* general = preferences->generalViewController();
    delegate->showPreferences();
    EXPECT_EQ(delegate->preferencesWindowController(), preferences);
    EXPECT_EQ(preferences->generalViewController(), general);
}

TEST(PreferencesGeometryTest, AWindowIsMovedTheLeastToStayWhollyInsideTheArea)
{
    const QRect area(0, 0, 1600, 1000);
    const QMargins titleBar(1, 30, 1, 1);
    const struct {
        const char* name;
        QRect frame;
        QMargins decoration;
        QRect expected;
    } cases[] = {
        {"inside stays", {100, 100, 400, 300}, titleBar, {100, 100, 400, 300}},
        {"at +0+0 the title bar comes down", {0, 0, 400, 300}, titleBar, {1, 30, 400, 300}},
        {"widened around its centre past the left edge", {-200, 50, 800, 300}, {}, {0, 50, 800, 300}},
        {"past the right and bottom edges", {1400, 900, 400, 300}, {}, {1200, 700, 400, 300}},
        {"larger than the area keeps its top-left corner", {-50, -50, 2000, 1200}, titleBar, {1, 30, 2000, 1200}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keepWindowInside(c.frame, c.decoration, area), c.expected) << c.name;
    // An area that does not start at the origin (a second screen, a panel on the left).
    EXPECT_EQ(keepWindowInside({0, 0, 100, 100}, {}, {1600, 40, 800, 600}), QRect(1600, 40, 100, 100));
}

TEST_F(AppFixture, PreferencesOpenWholeOnTheMainWindowsScreenAndCloseByKeysWhileQuitStillWorks)
{
    auto delegate = makeDelegate();
    QMainWindow mainWindow;
    delegate->installMenus(mainWindow.menuBar());
    auto* quit = mainWindow.menuBar()->findChild<QAction*>(QStringLiteral("QuitMenuItem"));
    ASSERT_NE(quit, nullptr);
    QObject::disconnect(quit, &QAction::triggered, nullptr, nullptr);
    int quits = 0;
    QObject::connect(quit, &QAction::triggered, [&] { ++quits; });
    mainWindow.resize(300, 200);
    mainWindow.show();

    delegate->showPreferences();
    PreferencesWindowController* preferences = delegate->preferencesWindowController();
    ASSERT_NE(preferences, nullptr);
    QMainWindow* window = preferences->window();
    const QRect area = mainWindow.screen()->availableGeometry();
    EXPECT_EQ(window->screen(), mainWindow.screen());
    for (QAction* pane : {preferences->photoSortingToolbarButton(), preferences->advancedToolbarButton(),
                          preferences->generalToolbarButton(), preferences->photoSortingToolbarButton()}) {
        pane->trigger();
        const QRect frame = window->geometry();
        EXPECT_TRUE(area.contains(frame.topLeft())) << pane->objectName().toStdString();
        if (frame.width() <= area.width() && frame.height() <= area.height()) {
            EXPECT_TRUE(area.contains(frame)) << pane->objectName().toStdString();
        }
    }

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1) << "Quit answers while the preferences have the focus";

    const struct {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } closers[] = {{"Esc", Qt::Key_Escape, Qt::NoModifier}, {"Ctrl+W", Qt::Key_W, Qt::ControlModifier}};
    for (const auto& c : closers) {
        delegate->showPreferences();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << c.name;
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, c.key, c.modifiers);
        EXPECT_FALSE(window->isVisible()) << c.name;
    }
}

TEST_F(PreferencesTest, ShowPhotoSortingOpensClosedWindowOnThatPane)
{
    EXPECT_EQ(delegate->preferencesWindowController(), nullptr);
    PreferencesWindowController::showPhotoSorting();
    PreferencesWindowController* preferences = delegate->preferencesWindowController();
    ASSERT_NE(preferences, nullptr);
    EXPECT_TRUE(preferences->window()->isVisible());
    EXPECT_EQ(preferences->contentViewController(), preferences->photoSortingViewController());
    EXPECT_TRUE(preferences->photoSortingToolbarButton()->isChecked());
    EXPECT_FALSE(preferences->generalToolbarButton()->isChecked());

    preferences->window()->close();
    PreferencesWindowController::showPhotoSorting();
    EXPECT_TRUE(preferences->window()->isVisible());
}

TEST_F(PreferencesTest, PresetMenuCustomizeOpensThePhotoSortingPane)
{
    QComboBox popUp;
    PhotoSortingMenuBuilder builder(sorting);
    builder.setPhotoSortingPresetMenu(&popUp);
    emit popUp.activated(popUp.count() - 1);
    PreferencesWindowController* preferences = delegate->preferencesWindowController();
    ASSERT_NE(preferences, nullptr);
    EXPECT_TRUE(preferences->window()->isVisible());
    EXPECT_EQ(preferences->contentViewController(), preferences->photoSortingViewController());
    EXPECT_EQ(popUp.currentIndex(), 1) << "the pop-up shows the selected preset again";
}

TEST_F(PreferencesTest, ShowPreferencesWithoutMenuItemDoesNothing)
{
    delegate->setPreferencesMenuItem(nullptr);
    delegate->showPreferences();
    EXPECT_EQ(delegate->preferencesWindowController(), nullptr);
}

TEST(AboutTest, VersionTexts)
{
    EXPECT_EQ(appVersionText({QStringLiteral("1.2"), QStringLiteral("345"), {}}), QStringLiteral("1.2 (345)"));
    EXPECT_EQ(coreVersionText({QStringLiteral("3.0"), QStringLiteral("812"), QStringLiteral("V")}),
              QStringLiteral("3.0 (812, V)"));
    // Values are shown as they are, even ones that look like placeholders.
    EXPECT_EQ(coreVersionText({QStringLiteral("%1"), QStringLiteral("%2"), QStringLiteral("%3")}),
              QStringLiteral("%1 (%2, %3)"));
    EXPECT_EQ(appVersionText({}), QStringLiteral(" ()")) << "missing values read as empty, without failing";
}

TEST(AboutTest, ViewShowsProviderTextsInTitlelessWindow)
{
    FixedVersions versions;
    QWidget window;
    AboutViewController::configureWindow(&window);
    auto* about = new AboutViewController(versions, &window);
    EXPECT_EQ(about->appVersionLabel()->text(), QStringLiteral("1.2 (345)"));
    EXPECT_EQ(about->coreVersionLabel()->text(), QStringLiteral("3.0 (812, VornakelCore 3.0 (simulated))"));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    about->showLicenses();
    ASSERT_NE(about->licensesWindow(), nullptr);
    EXPECT_TRUE(about->licensesWindow()->isVisible());
}

TEST(AboutTest, AcknowledgementsNameEachLibraryAndLicence)
{
    LicensesViewController licenses;
    const QString text = licenses.licencesTextView()->toPlainText();
    for (const char* expected : {"Qt", "LGPLv3", "ZBar", "LGPLv2.1", "Exiv2", "GPLv2+", "libplist", "LGPLv2.1+",
                                 "libqrencode"}) {
        EXPECT_TRUE(text.contains(QString::fromLatin1(expected))) << expected;
    }
}

TEST(FeedbackDialogTest, SavesReportRevealsItAndLocksTheForm)
{
    QTemporaryDir dir;
    RecordingWorkspace workspace;
    const std::vector<QString>& revealed = workspace.revealed;
    FeedbackDialog dialog(QStringLiteral("1.0.0"), workspace, nullptr, dir.filePath(QStringLiteral("Feedback")));
    EXPECT_FALSE(dialog.saveButton()->isEnabled()) << "nothing to send yet";
    dialog.messageEdit()->setPlainText(QStringLiteral("Please add a dark grid."));
    dialog.emailEdit()->setText(QStringLiteral("ann@example.com"));
    ASSERT_TRUE(dialog.saveButton()->isEnabled());

    dialog.saveButton()->click();

    const QStringList files = QDir(dir.filePath(QStringLiteral("Feedback"))).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(QFileInfo(revealed[0]).fileName(), files[0]);
    EXPECT_TRUE(dialog.statusLabel()->text().contains(files[0]));
    EXPECT_FALSE(dialog.saveButton()->isEnabled()) << "a report is saved once";
    EXPECT_TRUE(dialog.messageEdit()->isReadOnly());
}

TEST(AppVersionTest, ApplicationInfoCarriesVersionAndBuild)
{
    const BundleVersionInfo info = applicationBundleInfo();
    EXPECT_EQ(info.shortVersion, QStringLiteral(VKL_VERSION));
    ASSERT_TRUE(info.bundleVersion);
    bool isNumber = false;
    info.bundleVersion->toInt(&isNumber);
    EXPECT_TRUE(isNumber) << info.bundleVersion->toStdString();
}

TEST(AppComposition, SharedAccessorsHandOutWhatItBuiltWhileItLives)
{
    qputenv("VKL_WIFI", "simulated");
    const auto refused = AppComposition::create(QStringLiteral("no-such-backend"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), Error(AppComposition::errorDomain(), AppComposition::UnknownCameraBackend));
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("no-such-backend")))
        << refused.error().message.toStdString();

    qputenv(qPrintable(AppComposition::cameraBackendVariable()), "simulated");
    auto composed = AppComposition::create(QString());
    ASSERT_TRUE(composed) << composed.error().description().toStdString();
    std::unique_ptr<AppComposition> composition = std::move(composed).value();
    ASSERT_TRUE(composition);
    EXPECT_EQ(composition->cameraBackendName(), QStringLiteral("simulated"));
    EXPECT_EQ(&VKLCameraDiscovery::sharedInstance(), &composition->cameraDiscovery());
    EXPECT_EQ(&SimulatedCameraDiscovery::shared(), &composition->cameraDiscovery());
    EXPECT_EQ(&WiFiNetworkAutoLaunching::shared(), &composition->wifiPolicy());
    EXPECT_EQ(&LrPluginBridge::shared(), &composition->editorBridge());
    EXPECT_TRUE(composition->wifiInterface()) << "VKL_WIFI=simulated always gives one";

    VKLCameraDiscovery* const built = &composition->cameraDiscovery();
    composition.reset();
    EXPECT_NE(&VKLCameraDiscovery::sharedInstance(), built);
    qunsetenv(qPrintable(AppComposition::cameraBackendVariable()));
    qunsetenv("VKL_WIFI");
}

// Without a composition there is no second, silent instance: asking for one ends the program with a reason.
TEST(AppCompositionDeathTest, SharedAccessorsFailLoudlyWhenNothingWasInstalled)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(LrPluginBridge::shared(), "LrPluginBridge::shared\\(\\) was asked for before a bridge was installed");
    EXPECT_DEATH(WiFiNetworkAutoLaunching::shared(), "before a policy was installed");
    EXPECT_DEATH(HelpBook::shared(), "before a book was installed");
}

} // namespace
} // namespace vornakel
