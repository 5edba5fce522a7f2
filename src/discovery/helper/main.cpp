// The Wi-Fi watcher helper: runs at login and starts Vornakel Transfer when the computer joins a camera network
// the application has seen before.
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "discovery/helper/WatchedNetworkLauncher.h"
#include "platform/core/UserDefaults.h"
#include "platform/loginitems/HelperProcess.h"
#include "platform/wifi/WiFiInterface.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QProcess>

using namespace vornakel;

namespace {
Q_LOGGING_CATEGORY(lcWifi, "vornakel.wifi")
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vornakel-transfer-helper"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Starts Vornakel Transfer when a watched camera network is joined."));
    parser.addHelpOption();
    const QCommandLineOption appOption(QStringLiteral("app"), QStringLiteral("The application to start."), QStringLiteral("path"));
    parser.addOption(appOption);
    parser.process(app);

    QString appPath = parser.value(appOption);
    if (appPath.isEmpty())
        appPath = qEnvironmentVariable("VKL_APP_PATH");
    if (appPath.isEmpty())
        appPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vornakel-transfer"));

    HelperInstance instance(WiFiNetworkAutoLaunching::helperBundleIdentifier());
    if (!instance.claim()) {
        qCInfo(lcWifi, "The Wi-Fi watcher already runs.");
        return 0;
    }
    QObject::connect(&instance, &HelperInstance::quitRequested, &app, &QCoreApplication::quit);

    const auto wifi = WiFiClient::makeSystemInterface();
    if (!wifi) {
        qCWarning(lcWifi, "No Wi-Fi interface to watch.");
        return 1;
    }
    UserDefaults defaults(UserDefaults::standardFilePath());
    WatchedNetworkLauncher launcher(defaults, wifi, [appPath] { return QProcess::startDetached(appPath, {}); });
    launcher.start();
    return app.exec();
}
