// The real application, run through a script for the tests (never installed). It takes the application's own
// options and two more:
// "--smoke-test" opens the preferences through the menu, switches panes, opens About, closes them and closes
// the main window, which quits (status 0 when every step held); "--screenshots <folder>" saves PNG images of the
// main window, each preferences pane and the About and acknowledgements windows;
// "--journey <folder>" runs a user's road through a camera: on the search screen it waits for a camera, and
// when none is found and VORNAKEL_WEBCAM_IMAGES names a QR code it presses the QR button (the code is read, the
// camera's network joined, the camera found as its gateway); then it waits for the grid and its thumbnails,
// selects the first day, copies it into the folder through "Copy to Folder…", waits for the copy to end and
// prints "journey: <n> photos shown, <m> files copied" (status 0 only when every step held). With
// "--screenshots <folder>" it saves the grid ("journey-grid.png") and the window after the copy
// ("journey-copied.png").
#include "app/AboutWindow.h"
#include "app/AppComposition.h"
#include "app/AppDelegate.h"
#include "app/ApplicationMain.h"
#include "app/PreferencesWindowController.h"
#include "copying/ui/CopyProgressViewController.h"
#include "discovery/ui/CameraDiscoveryViewController.h"
#include "discovery/ui/DiscoveryPanes.h"
#include "mainwindow/MainViewController.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/grid/PhotoGridModel.h"
#include "mainwindow/grid/ThumbnailCache.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPushButton>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>
#include <QWindow>

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

// Under a window manager the whole screen is saved too ("<name>-screen.png"), so that where a window lands and
// its title bar can be judged; the window manager maps and places a window when it likes, so the wait is
// bounded.
void saveScreen(QWidget* widget, const QDir& folder, const QString& name)
{
    if (!widget || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 1500
           && !(widget->windowHandle() && widget->windowHandle()->isExposed() && waited.elapsed() > 400))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QScreen* screen = widget->screen();
    const QString path = folder.filePath(name + QStringLiteral("-screen.png"));
    const bool saved = screen && screen->grabWindow(0).save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
}

bool save(QWidget* widget, const QDir& folder, const QString& name)
{
    settle();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    const bool saved = widget && widget->grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    saveScreen(widget, folder, name);
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

// Runs the event loop until the condition holds or the time is up; answers whether it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

int filesBelow(const QString& folder)
{
    int count = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

// The road a user takes with a camera, from the search screen to a copied day; answers the exit status.
int runJourney(MainWindowController& mainWindow, const QString& destination, const QString& screenshots)
{
    using namespace std::chrono_literals;
    const auto fail = [](const char* step) {
        std::fprintf(stderr, "journey failed: %s\n", step);
        return 1;
    };
    const auto connectedView = [&] { return qobject_cast<MainViewController*>(mainWindow.contentViewController()); };
    const auto discoveryScreen = [&] {
        return qobject_cast<CameraDiscoveryViewController*>(mainWindow.contentViewController());
    };
    QDir shots(screenshots);
    if (!screenshots.isEmpty())
        shots.mkpath(QStringLiteral("."));
    if (!QDir().mkpath(destination))
        return fail("the destination folder cannot be made");

    // A camera on this computer's network (a listed address) is found and connected to on its own; one that
    // runs its own access point is reached through its QR code.
    const bool hasCode = !qEnvironmentVariableIsEmpty("VORNAKEL_WEBCAM_IMAGES");
    if (!waitUntil([&] { return connectedView() != nullptr; }, hasCode ? 1500ms : 60s)) {
        if (!hasCode)
            return fail("no camera was found");
        CameraDiscoveryViewController* screen = discoveryScreen();
        if (!screen || screen->currentPane() != screen->manualDiscoveryViewController())
            return fail("the search screen does not show its search pane");
        std::fprintf(stdout, "journey: no camera found; pressing the QR button\n");
        screen->manualDiscoveryViewController()->qrButton()->click();
        if (!waitUntil([&] { return connectedView() != nullptr; }, 90s))
            return fail("the camera was not found after the QR code was read");
    }
    std::fprintf(stdout, "journey: connected to \"%s\"\n",
                 connectedView()->camera() ? qPrintable(connectedView()->camera()->friendlyDisplayName().value_or(QString())) : "?");

    if (!waitUntil([&] { return !connectedView() || connectedView()->imageDeliveryHasCompleted(); }, 120s)
        || !connectedView())
        return fail("the photo list did not complete");
    auto* grid = dynamic_cast<ImageGridViewController*>(connectedView()->imageGrid());
    if (!grid)
        return fail("the connected view shows no grid");
    const size_t shown = grid->shownPhotos().size();
    if (shown == 0 || grid->model().sections().empty())
        return fail("the grid is empty");
    // The cells on screen ask for their thumbnails; the grid is complete once none is waiting any more.
    const bool thumbnailsSettled = waitUntil([&] {
        return connectedView() && grid->thumbnails().imageCount() > 0 && grid->thumbnails().requestsInFlight() == 0
            && grid->thumbnails().requestsAwaitingCamera() == 0;
    }, 60s);
    if (!thumbnailsSettled)
        return fail("the grid's thumbnails did not arrive");
    if (!screenshots.isEmpty() && !save(mainWindow.window(), shots, QStringLiteral("journey-grid")))
        return fail("the grid's screenshot could not be saved");

    std::vector<PhotoPtr> day;
    for (const auto& entry : grid->model().sections().front().entries)
        day.push_back(entry.photo);
    grid->model().changeSelection(day);
    std::fprintf(stdout, "journey: selected the first day, %s (%zu photos)\n",
                 qPrintable(grid->model().sections().front().day.toString(Qt::ISODate)), day.size());

    QPointer<QFileDialog> dialog;
    connectedView()->copyToFolderAction()->trigger();
    waitUntil([&] { return (dialog = mainWindow.window()->findChild<QFileDialog*>(QStringLiteral("copyToFolderDialog"))); }, 5s);
    if (!dialog)
        return fail("\"Copy to Folder…\" did not ask for a folder");
    dialog->setDirectory(destination);
    dialog->selectFile(destination);
    static_cast<QDialog*>(dialog.data())->accept();
    QPointer<CopyProgressViewController> progress;
    waitUntil([&] { return (progress = mainWindow.window()->findChild<CopyProgressViewController*>()); }, 10s);
    if (!progress)
        return fail("the copy did not start");
    // The progress sheet closes when the copy went well and stays to show what went wrong.
    bool finished = false;
    QObject::connect(progress, &CopyProgressViewController::copyFinished, progress, [&finished] { finished = true; });
    if (!waitUntil([&] { return !progress || finished; }, 300s))
        return fail("the copy did not end");
    if (!waitUntil([&] { return !progress; }, 5s))
        return fail("the copy ended with a problem on its sheet");
    const int copied = filesBelow(destination);
    if (!screenshots.isEmpty() && !save(mainWindow.window(), shots, QStringLiteral("journey-copied")))
        return fail("the screenshot after the copy could not be saved");
    std::fprintf(stdout, "journey: %zu photos shown, %d files copied\n", shown, copied);
    return copied > 0 ? 0 : fail("no file was copied");
}

} // namespace
} // namespace vornakel


int main(int argc, char** argv)
{
    using namespace vornakel;

    const QCommandLineOption smokeTest(QStringLiteral("smoke-test"), QStringLiteral("Open and close the windows, then quit."));
    const QCommandLineOption screenshots(QStringLiteral("screenshots"), QStringLiteral("Save the windows as images."),
                                         QStringLiteral("folder"));
    const QCommandLineOption journey(QStringLiteral("journey"),
                                     QStringLiteral("Find the camera, show its grid and copy its first day to this folder."),
                                     QStringLiteral("folder"));
    ApplicationHooks hooks;
    hooks.scripted = true;
    hooks.options = {smokeTest, screenshots, journey};
    hooks.started = [&](const QCommandLineParser& parser, AppDelegate& delegate, MainWindowController& mainWindow,
                        const AppComposition& composition) {
        if (parser.isSet(smokeTest)) {
            std::fprintf(stdout, "smoke test: camera backend \"%s\"\n", qPrintable(composition.cameraBackendName()));
            QTimer::singleShot(20000, qApp, [] {
                std::fprintf(stderr, "smoke test failed: timed out\n");
                QCoreApplication::exit(2);
            });
            runSmokeTest(delegate, mainWindow);
        } else if (parser.isSet(journey)) {
            QCoreApplication::exit(runJourney(mainWindow, parser.value(journey), parser.value(screenshots)));
        } else if (parser.isSet(screenshots)) {
            takeScreenshots(delegate, mainWindow, parser.value(screenshots));
        }
    };
    return runApplication(argc, argv, hooks);
}
