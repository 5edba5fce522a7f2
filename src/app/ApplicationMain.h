#pragma once

#include <QCommandLineOption>
#include <QList>

#include <functional>

class QCommandLineParser;

namespace vornakel {

class AppComposition;
class AppDelegate;
class MainWindowController;

// What a program built around the application may add to a start: command-line options of its own, and a step
// run once the main window shows (the program's own main adds nothing).
struct ApplicationHooks {
    // A scripted run (the smoke test, the screenshots) leaves the user's login item and Wi-Fi watcher alone.
    bool scripted = false;
    QList<QCommandLineOption> options;
    std::function<void(const QCommandLineParser& parser, AppDelegate& delegate, MainWindowController& mainWindow,
                       const AppComposition& composition)>
        started;
};

// Runs Vornakel Transfer: "--camera-backend <name>" (or VORNAKEL_CAMERA_BACKEND) picks the camera backend from
// those the program carries; the composition point builds everything else. Returns the exit status.
int runApplication(int argc, char** argv, const ApplicationHooks& hooks = {});

} // namespace vornakel
