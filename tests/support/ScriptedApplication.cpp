// The real application, run through a script for the tests (never installed). It takes the application's own
// options and two more:
// "--smoke-test" opens the preferences through the menu, switches panes, opens About, closes them and closes
// the main window, which quits (status 0 when every step held); "--screenshots <folder>" saves PNG images of the
// main window, each preferences pane and the About and acknowledgements windows.
#include "app/AboutWindow.h"
#include "app/AppComposition.h"
#include "app/AppDelegate.h"
#include "app/ApplicationMain.h"
#include "app/PreferencesWindowController.h"
#include "mainwindow/MainWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
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

} // namespace
} // namespace vornakel


int main(int argc, char** argv)
{
    using namespace vornakel;

    const QCommandLineOption smokeTest(QStringLiteral("smoke-test"), QStringLiteral("Open and close the windows, then quit."));
    const QCommandLineOption screenshots(QStringLiteral("screenshots"), QStringLiteral("Save the windows as images."),
                                         QStringLiteral("folder"));
    ApplicationHooks hooks;
    hooks.scripted = true;
    hooks.options = {smokeTest, screenshots};
    hooks.started = [&](const QCommandLineParser& parser, AppDelegate& delegate, MainWindowController& mainWindow,
                        const AppComposition& composition) {
        if (parser.isSet(smokeTest)) {
            std::fprintf(stdout, "smoke test: camera backend \"%s\"\n", qPrintable(composition.cameraBackendName()));
            QTimer::singleShot(20000, qApp, [] {
                std::fprintf(stderr, "smoke test failed: timed out\n");
                QCoreApplication::exit(2);
            });
            runSmokeTest(delegate, mainWindow);
        } else if (parser.isSet(screenshots)) {
            takeScreenshots(delegate, mainWindow, parser.value(screenshots));
        }
    };
    return runApplication(argc, argv, hooks);
}
