#include "discovery/WiFiNetworkAutoLaunching.h"
#include "platform/core/UserDefaults.h"
#include "platform/loginitems/HelperProcess.h"
#include "platform/loginitems/LoginItem.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

using namespace vornakel;
using vornakel::test::runUntil;

// The built helper program: one instance runs, the application sees it and can ask it to quit.
TEST(HelperProgram, RunsOnceAndQuitsWhenAsked)
{
    HelperProcess control(WiFiNetworkAutoLaunching::helperBundleIdentifier(), QStringLiteral(VKL_HELPER_PROGRAM));
    ASSERT_FALSE(control.isRunning());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VKL_WIFI"), QStringLiteral("simulated"));
    QProcess helper;
    helper.setProcessEnvironment(environment);
    helper.start(QStringLiteral(VKL_HELPER_PROGRAM), {QStringLiteral("--app"), QStringLiteral("/nonexistent/app")});
    ASSERT_TRUE(helper.waitForStarted(30000));
    // The process counts as running as soon as it exists; the second start is told apart by the socket, so the
    // test waits until the first one listens on it.
    ASSERT_TRUE(runUntil([&] {
        QLocalSocket socket;
        socket.connectToServer(HelperProcess::socketPath(WiFiNetworkAutoLaunching::helperBundleIdentifier()));
        return socket.waitForConnected(100);
    }));
    EXPECT_TRUE(control.isRunning());

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VKL_HELPER_PROGRAM), {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(helper.state(), QProcess::Running);

    EXPECT_TRUE(control.requestQuit());
    ASSERT_TRUE(helper.waitForFinished(30000));
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_FALSE(control.isRunning());
}

// The application starts the helper; one that ends at once (here a program that only fails) is not shown as on.
TEST(HelperProgram, StartedHelperCountsAsRunningUntilItEnds)
{
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath(QStringLiteral("defaults.plist")));
    defaults.setBool(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, true);
    const QString identifier = QStringLiteral("com.vornakel.test-failing-helper");
    WiFiNetworkAutoLaunching autoLaunching(defaults, [] { return nullptr; },
        std::make_unique<LoginItem>(identifier, QStringLiteral("Helper"), QStringLiteral("/bin/false")),
        std::make_unique<HelperProcess>(identifier, QStringLiteral("/bin/false")));
    autoLaunching.setHelperStartCheckDelay(std::chrono::milliseconds(50));
    int stateChanges = 0;
    QObject::connect(&autoLaunching, &WiFiNetworkAutoLaunching::autoLaunchStateChanged, [&] { ++stateChanges; });

    ASSERT_EQ(autoLaunching.enforceAutoLaunchSetting(), std::nullopt);
    EXPECT_EQ(stateChanges, 1);
    ASSERT_TRUE(runUntil([&] { return stateChanges == 2; }));
    EXPECT_FALSE(autoLaunching.isAutoLaunchActive());
    autoLaunching.setShouldAutoLaunchWhenWatchedNetworksJoined(false);
}
