// The application as the start-up benchmark runs it: prints "window shown" once the main window's first turn of
// the event loop is done, then quits.
#include "app/ApplicationMain.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    vornakel::ApplicationHooks hooks;
    hooks.started = [](const QCommandLineParser&, vornakel::AppDelegate&, vornakel::MainWindowController&,
                       const vornakel::AppComposition&) {
        std::fprintf(stdout, "window shown\n");
        std::fflush(stdout);
        QCoreApplication::quit();
    };
    return vornakel::runApplication(argc, argv, hooks);
}
