#include "app/ApplicationMain.h"

#include "app/AppComposition.h"
#include "app/AppIcons.h"
#include "app/AppDelegate.h"
#include "app/SystemCollaborators.h"
#include "mainwindow/MainWindowController.h"
#include "platform/camera/CameraBackendRegistry.h"
#include "platform/core/DispatchQueue.h"
#include "platform/loginitems/HelperProcess.h"
#include "platform/windowing/BlockedWindowCloseForwarder.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcApp, "vornakel.app")
} // namespace

namespace {

// Whether the arguments ask only for the help or the version, which need no display.
bool asksForTextOnly(int argc, char** argv)
{
    static const char* const kTextOptions[] = {"-h", "--help", "-?", "--help-all", "-v", "--version"};
    for (int i = 1; i < argc; ++i) {
        for (const char* option : kTextOptions) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Vornakel Transfer"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vornakel.com"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VKL_VERSION));
}

} // namespace

int runApplication(int argc, char** argv, const ApplicationHooks& hooks)
{
    QCommandLineParser parser;
    QCommandLineOption cameraBackend(
        QStringLiteral("camera-backend"),
        QStringLiteral("The camera backend to use: %1 (default: $%2, else \"%3\": the real cameras' backends, "
                       "and the simulated one when VORNAKEL_SIMULATED_CAMERAS names camera folders).")
            .arg(AppComposition::cameraBackends().names().join(QStringLiteral(", ")), AppComposition::cameraBackendVariable(),
                 CameraBackendRegistry::defaultName()),
        QStringLiteral("name"));
    parser.addOptions(hooks.options);
    parser.addOption(cameraBackend);
    parser.addHelpOption();
    parser.addVersionOption();

    // The help and the version print without a display: a console application answers them and exits.
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication console(argc, argv);
        setApplicationNames();
        parser.process(console);
        return 0;
    }

    QApplication app(argc, argv);
    setApplicationNames();
    QApplication::setDesktopFileName(bundleIdentifier());
    QApplication::setWindowIcon(appIcon());
    // The main window's close rule quits; other windows closing never does.
    QApplication::setQuitOnLastWindowClosed(false);
    parser.process(app);

    // A backend the program does not carry is refused before anything else happens.
    const Result<QString> cameraBackendName = AppComposition::chosenCameraBackend(parser.value(cameraBackend));
    if (!cameraBackendName) {
        std::fprintf(stderr, "%s\n", qPrintable(cameraBackendName.error().message));
        return 2;
    }

    // A second start (by the user, or by the Wi-Fi helper when a camera network is joined) brings the running
    // window forward instead of opening another one on the same camera.
    HelperInstance instance(bundleIdentifier());
    if (!instance.claim()) {
        if (HelperProcess(bundleIdentifier(), {}).requestActivation()) {
            std::fprintf(stdout, "Vornakel Transfer is already running; its window was brought forward.\n");
            return 0;
        }
        qCWarning(lcApp, "Another instance seems to be running but does not answer; starting anyway.");
    }

    Result<std::unique_ptr<AppComposition>> composed = AppComposition::create(
        *cameraBackendName, hooks.scripted ? AppComposition::Run::scripted : AppComposition::Run::interactive);
    if (!composed) {
        std::fprintf(stderr, "%s\n", qPrintable(composed.error().message));
        return 2;
    }
    const std::unique_ptr<AppComposition> composition = std::move(composed).value();

    AppDelegate delegate(composition->collaborators());
    // The defaults are registered before any window exists.
    delegate.applicationDidFinishLaunching();

    const std::unique_ptr<CameraScreens> screens = composition->makeCameraScreens();
    MainWindowController mainWindow(screens->makeDiscovery(), composition->wifiNetworkPolicy(), composition->userDefaults());
    delegate.installMenus(mainWindow.window()->menuBar());
    const std::unique_ptr<CopyFlowController> copying = composition->makeCopyFlow();
    copying->attach(*screens, mainWindow);
    // Quit goes through the window's close, so that a running copy is asked about and ended first.
    if (auto* quit = mainWindow.window()->menuBar()->findChild<QAction*>(QStringLiteral("QuitMenuItem"))) {
        QObject::disconnect(quit, &QAction::triggered, nullptr, nullptr);
        QObject::connect(quit, &QAction::triggered, mainWindow.window(), &QWidget::close);
    }
    // The window manager's close button, while a copy's sheet is open, and the end of the desktop session ask
    // about a running copy as Quit does.
    BlockedWindowCloseForwarder::install(mainWindow.window());
    copying->watchSessionEnd();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = mainWindow.window()->geometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainWindow.window()->setGeometry(frame);
    }
    mainWindow.window()->show();
    QObject::connect(&instance, &HelperInstance::activationRequested, mainWindow.window(),
                     [&mainWindow] { bringWindowForward(mainWindow.window()); });

    if (hooks.started)
        QTimer::singleShot(0, &app, [&] { hooks.started(parser, delegate, mainWindow, *composition); });
    const int status = app.exec();
    // Background blocks still waiting (a camera's delayed answer) never run into objects that are going away.
    DispatchQueue::finishBackgroundWorkForExit(std::chrono::seconds(2));
    return status;
}

} // namespace vornakel
