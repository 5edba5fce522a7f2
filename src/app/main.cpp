// Vornakel Transfer: start-up. "--camera-backend <name>" (or VORNAKEL_CAMERA_BACKEND) picks the camera backend
// from those the program carries; the composition point builds everything else. Two hidden options run the real
// application through a script:
// "--smoke-test" opens the preferences through the menu, switches panes, opens About, closes them and closes
// the main window, which quits (status 0 when every step held); "--screenshots <folder>" saves PNG images of the
// main window, each preferences pane and the About and acknowledgements windows.
#include "app/AboutWindow.h"
#include "app/AppComposition.h"
#include "app/AppIcons.h"
#include "app/AppDelegate.h"
#include "app/PreferencesWindowController.h"
#include "app/SystemCollaborators.h"
#include "mainwindow/MainWindowController.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"
#include "platform/loginitems/HelperProcess.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace vornakel {
namespace {

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Drives the real menu action, pane switches and window close; any step that does not hold ends with status 1.
void runSmokeTest(AppDelegate& delegate, MainWindowController& mainWindow)
{
    const auto fail = [](const char* step) {
        std::fprintf(stderr, "smoke test failed: %s\n", step);
        QCoreApplication::exit(1);
    };
    if (!mainWindow.window()->isVisible() || !mainWindow.contentViewController())
        return fail("the main window does not show its first content");

    delegate.showPreferences();
    settle();
    PreferencesWindowController* preferences = delegate.preferencesWindowController();
    if (!preferences || !preferences->window()->isVisible())
        return fail("the preferences window did not open");
    if (preferences->contentViewController() != preferences->generalViewController()
        || !preferences->generalToolbarButton()->isChecked())
        return fail("the preferences window did not open on the General pane");

    PreferencesWindowController::showPhotoSorting();
    settle();
    if (preferences->contentViewController() != preferences->photoSortingViewController()
        || !preferences->photoSortingToolbarButton()->isChecked())
        return fail("the Photo Sorting pane is not shown");

    preferences->advancedToolbarButton()->trigger();
    settle();
    if (preferences->contentViewController() != preferences->advancedViewController())
        return fail("the Advanced pane is not shown");

    preferences->window()->close();
    settle();
    if (preferences->window()->isVisible())
        return fail("the preferences window did not close");

    delegate.showAbout();
    settle();
    if (!delegate.aboutWindow() || !delegate.aboutWindow()->isVisible())
        return fail("the About window did not open");
    delegate.aboutWindow()->close();

    std::fprintf(stdout, "smoke test: preferences and About opened and closed; closing the main window\n");
    // Closing the main window quits the application through its own close rule.
    mainWindow.window()->close();
}

bool save(QWidget* widget, const QDir& folder, const QString& name)
{
    settle();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    const bool saved = widget && widget->grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

void takeScreenshots(AppDelegate& delegate, MainWindowController& mainWindow, const QString& folderPath)
{
    QDir folder(folderPath);
    bool ok = folder.mkpath(QStringLiteral("."));
    ok = save(mainWindow.window(), folder, QStringLiteral("main-window")) && ok;

    delegate.showPreferences();
    PreferencesWindowController* preferences = delegate.preferencesWindowController();
    if (preferences) {
        preferences->generalToolbarButton()->trigger();
        ok = save(preferences->window(), folder, QStringLiteral("preferences-general")) && ok;
        preferences->photoSortingToolbarButton()->trigger();
        ok = save(preferences->window(), folder, QStringLiteral("preferences-photo-sorting")) && ok;
        preferences->advancedToolbarButton()->trigger();
        ok = save(preferences->window(), folder, QStringLiteral("preferences-advanced")) && ok;
        preferences->window()->close();
    }

    delegate.showAbout();
    ok = save(delegate.aboutWindow(), folder, QStringLiteral("about")) && ok;
    if (auto* about = delegate.aboutWindow() ? delegate.aboutWindow()->findChild<AboutViewController*>() : nullptr) {
        about->showLicenses();
        ok = save(about->licensesWindow(), folder, QStringLiteral("acknowledgements")) && ok;
    }
    QCoreApplication::exit(ok && preferences ? 0 : 1);
}

} // namespace
} // namespace vornakel

int main(int argc, char** argv)
{
    using namespace vornakel;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vornakel Transfer"));
    QApplication::setOrganizationDomain(QStringLiteral("vornakel.com"));
    QApplication::setApplicationVersion(QStringLiteral(VKL_VERSION));
    QApplication::setDesktopFileName(bundleIdentifier());
    QApplication::setWindowIcon(appIcon());
    // The main window's close rule quits; other windows closing never does.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    QCommandLineOption smokeTest(QStringLiteral("smoke-test"));
    smokeTest.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption screenshots(QStringLiteral("screenshots"), QString(), QStringLiteral("folder"));
    screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption cameraBackend(
        QStringLiteral("camera-backend"),
        QStringLiteral("The camera backend to use: %1 (default: $%2, else \"%3\": the real cameras' backends, "
                       "and the simulated one when VORNAKEL_SIMULATED_CAMERAS names camera folders).")
            .arg(AppComposition::cameraBackends().names().join(QStringLiteral(", ")), AppComposition::cameraBackendVariable(),
                 CameraBackendRegistry::defaultName()),
        QStringLiteral("name"));
    parser.addOptions({smokeTest, screenshots, cameraBackend});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    // A backend the program does not carry is refused before anything else happens.
    QString compositionError;
    const QString cameraBackendName = AppComposition::chosenCameraBackend(parser.value(cameraBackend), &compositionError);
    if (cameraBackendName.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(compositionError));
        return 2;
    }

    // A second start (by the user, or by the Wi-Fi helper when a camera network is joined) brings the running
    // window forward instead of opening another one on the same camera.
    HelperInstance instance(bundleIdentifier());
    if (!instance.claim()) {
        if (HelperProcess(bundleIdentifier(), {}).requestActivation())
            return 0;
        std::fprintf(stderr, "Another instance seems to be running but does not answer; starting anyway.\n");
    }

    const std::unique_ptr<AppComposition> composition = AppComposition::create(cameraBackendName, &compositionError);
    if (!composition) {
        std::fprintf(stderr, "%s\n", qPrintable(compositionError));
        return 2;
    }

    AppDelegate delegate(composition->collaborators());
    // The defaults are registered before any window exists.
    delegate.applicationDidFinishLaunching();

    const std::unique_ptr<CameraScreens> screens = composition->makeCameraScreens();
    MainWindowController mainWindow(screens->makeDiscovery(), composition->wifiNetworkPolicy(), composition->userDefaults());
    delegate.installMenus(mainWindow.window()->menuBar());
    const std::unique_ptr<CopyFlowController> copying = makeCopyFlow(composition->userDefaults());
    copying->attach(*screens, mainWindow);
    // Quit goes through the window's close, so that a running copy is asked about and ended first.
    if (auto* quit = mainWindow.window()->menuBar()->findChild<QAction*>(QStringLiteral("QuitMenuItem"))) {
        QObject::disconnect(quit, &QAction::triggered, nullptr, nullptr);
        QObject::connect(quit, &QAction::triggered, mainWindow.window(), &QWidget::close);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = mainWindow.window()->geometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainWindow.window()->setGeometry(frame);
    }
    mainWindow.window()->show();
    QObject::connect(&instance, &HelperInstance::activationRequested, mainWindow.window(), [&mainWindow] {
        QWidget* window = mainWindow.window();
        window->show();
        window->raise();
        window->activateWindow();
    });

    if (parser.isSet(smokeTest)) {
        std::fprintf(stdout, "smoke test: camera backend \"%s\"\n", qPrintable(composition->cameraBackendName()));
        QTimer::singleShot(0, &app, [&] { runSmokeTest(delegate, mainWindow); });
        QTimer::singleShot(20000, &app, [] {
            std::fprintf(stderr, "smoke test failed: timed out\n");
            QCoreApplication::exit(2);
        });
    } else if (parser.isSet(screenshots)) {
        const QString folder = parser.value(screenshots);
        QTimer::singleShot(0, &app, [&, folder] { takeScreenshots(delegate, mainWindow, folder); });
    }
    const int status = app.exec();
    // Background blocks still waiting (a camera's delayed answer) never run into objects that are going away.
    DispatchQueue::finishBackgroundWorkForExit(std::chrono::seconds(2));
    return status;
}
