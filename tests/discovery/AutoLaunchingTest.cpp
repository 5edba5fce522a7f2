#include "discovery/WiFiNetworkAutoLaunching.h"
#include "discovery/helper/WatchedNetworkLauncher.h"
#include "discovery/ui/GeneralPreferencesWidget.h"
#include "platform/camera/VKLCamera.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/UserDefaults.h"
#include "platform/loginitems/HelperProcess.h"
#include "platform/loginitems/LoginItem.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

// A connected camera that only knows its address.
class AddressOnlyCamera : public VKLCamera {
public:
    explicit AddressOnlyCamera(std::optional<QString> address) : m_address(std::move(address)) {}
    void connectWithClientName(const QString&, ConnectCompletion, InterventionCallback) override {}
    bool supportsCommandCategories(uint32_t) const override { return true; }
    bool currentCommandCategoriesContainsCategory(uint32_t) const override { return true; }
    void setCurrentCommandCategories(uint32_t, ErrorCallback) override {}
    void disconnect(ErrorCallback, QueuePtr) override {}
    unsigned connectionState() const override { return 2; }
    std::optional<QString> friendlyIdentifier() const override { return QStringLiteral("cam"); }
    std::optional<QString> friendlyDisplayName() const override { return QStringLiteral("Camera"); }
    VKLCameraService service() const override { return {m_address}; }
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override { return std::nullopt; }
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned) override { return nullptr; }

private:
    std::optional<QString> m_address;
};

// The helper as the policy sees it: running or not, and whether a start works.
class FakeHelper : public HelperProcess {
public:
    FakeHelper() : HelperProcess(QStringLiteral("test.helper"), QStringLiteral("/nonexistent")) {}
    bool isRunning() const override { return running; }
    std::optional<Error> launch() override
    {
        ++launches;
        if (launchFails)
            return Error(loginItemErrorDomain(), LoginItemErrorLaunchFailed, QStringLiteral("no"));
        running = true;
        return std::nullopt;
    }
    bool requestQuit() override
    {
        ++quits;
        running = false;
        return true;
    }
    bool running = false;
    bool launchFails = false;
    int launches = 0;
    int quits = 0;
};

class AutoLaunchingTest : public ::testing::Test {
protected:
    AutoLaunchingTest()
        : defaults(folder.filePath(QStringLiteral("defaults.plist"))), wifi(std::make_shared<SimulatedWiFi>())
    {
        defaults.registerDefaults({{WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, true},
                                   {WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, true}});
        wifi->addNetwork({QStringLiteral("Home"), QStringLiteral("h"), std::nullopt, QStringLiteral("192.168.1.1")});
        wifi->addNetwork({QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("c"), QStringLiteral("192.168.122.1"), std::nullopt});
        wifi->addNetwork({QStringLiteral("direct-ab:vx7"), QStringLiteral("c"), QStringLiteral("192.168.122.1"), std::nullopt});
        auto fakeHelper = std::make_unique<FakeHelper>();
        helper = fakeHelper.get();
        auto item = std::make_unique<LoginItem>(QStringLiteral("test.helper"), QStringLiteral("Helper"), QStringLiteral("/bin/true"));
        loginItem = item.get();
        autoLaunching = std::make_unique<WiFiNetworkAutoLaunching>(defaults, [this] { return wifi; }, std::move(item),
                                                                   std::move(fakeHelper));
        QObject::connect(autoLaunching.get(), &WiFiNetworkAutoLaunching::watchedNetworkNamesChanged, [this] { ++changes; });
    }
    ~AutoLaunchingTest() override { EXPECT_EQ(loginItem->setEnabled(false), std::nullopt); }

    void connectVia(const QString& ssid, const std::optional<QString>& cameraAddress)
    {
        wifi->setCurrentNetwork(ssid);
        note(cameraAddress);
    }
    // Notes a connection and waits until the note is taken.
    void note(const std::optional<QString>& cameraAddress)
    {
        bool noted = false;
        autoLaunching->noteConnectedTo(AddressOnlyCamera(cameraAddress), [&noted] { noted = true; });
        ASSERT_TRUE(runUntil([&] { return noted; }));
    }

    QTemporaryDir folder;
    UserDefaults defaults;
    std::shared_ptr<SimulatedWiFi> wifi;
    FakeHelper* helper = nullptr;
    LoginItem* loginItem = nullptr;
    std::unique_ptr<WiFiNetworkAutoLaunching> autoLaunching;
    int changes = 0;
};

const QString kCameraAddress = QStringLiteral("192.168.122.1");

} // namespace

TEST_F(AutoLaunchingTest, WatchListKeepsCameraNetworksOnceInOrder)
{
    connectVia(QStringLiteral("Home"), QStringLiteral("192.168.1.20")); // through a router: not watched
    EXPECT_TRUE(autoLaunching->watchedNetworkNames().isEmpty());
    EXPECT_EQ(changes, 0);

    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    connectVia(QStringLiteral("direct-ab:vx7"), kCameraAddress);
    EXPECT_EQ(autoLaunching->watchedNetworkNames(), (QStringList{QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("direct-ab:vx7")}));
    EXPECT_EQ(changes, 2);

    connectVia(QStringLiteral("DIRECT-ab:VX7"), std::nullopt); // a camera without an address
    wifi->setCurrentNetwork(std::nullopt);
    note(kCameraAddress);
    EXPECT_EQ(changes, 2);

    // The list survives in the file, also with a single entry.
    autoLaunching->removeSSIDFromWatchList(QStringLiteral("direct-ab:vx7"));
    defaults.synchronize();
    UserDefaults reread(defaults.filePath());
    EXPECT_EQ(reread.object(WiFiNetworkAutoLaunching::watchedSSIDsUserDefaultsKey).toStringList(),
              QStringList{QStringLiteral("DIRECT-ab:VX7")});
}

TEST_F(AutoLaunchingTest, RemovingTakesOnlyTheFirstOccurrenceAndAbsentNamesWriteNothing)
{
    defaults.setValue(WiFiNetworkAutoLaunching::watchedSSIDsUserDefaultsKey,
                      QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A")});
    autoLaunching->removeSSIDFromWatchList(QStringLiteral("A"));
    EXPECT_EQ(autoLaunching->watchedNetworkNames(), (QStringList{QStringLiteral("B"), QStringLiteral("A")}));
    autoLaunching->removeSSIDFromWatchList(QStringLiteral("a"));
    autoLaunching->removeSSIDFromWatchList(QStringLiteral("Z"));
    EXPECT_EQ(changes, 1);

    defaults.removeObject(WiFiNetworkAutoLaunching::watchedSSIDsUserDefaultsKey);
    autoLaunching->removeSSIDFromWatchList(QStringLiteral("A"));
    EXPECT_EQ(changes, 1);
}

TEST_F(AutoLaunchingTest, StoredValueOfAnotherTypeReadsAsEmptyAndIsReplaced)
{
    defaults.setValue(WiFiNetworkAutoLaunching::watchedSSIDsUserDefaultsKey, 42);
    EXPECT_TRUE(autoLaunching->watchedNetworkNames().isEmpty());
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    EXPECT_EQ(autoLaunching->watchedNetworkNames(), QStringList{QStringLiteral("DIRECT-ab:VX7")});
}

TEST_F(AutoLaunchingTest, GatewayTestComparesTheCameraAddressWithTheInterfaceGateway)
{
    wifi->setCurrentNetwork(QStringLiteral("DIRECT-ab:VX7"));
    EXPECT_TRUE(autoLaunching->isCurrentWiFiGateway(AddressOnlyCamera(kCameraAddress)));
    EXPECT_FALSE(autoLaunching->isCurrentWiFiGateway(AddressOnlyCamera(QStringLiteral("192.168.122.10"))));
    EXPECT_FALSE(autoLaunching->isCurrentWiFiGateway(AddressOnlyCamera(std::nullopt)));
    wifi->setCurrentNetwork(std::nullopt);
    EXPECT_FALSE(autoLaunching->isCurrentWiFiGateway(AddressOnlyCamera(kCameraAddress)));
    wifi = nullptr; // no Wi-Fi interface at all
    EXPECT_FALSE(autoLaunching->isCurrentWiFiGateway(AddressOnlyCamera(kCameraAddress)));
}

TEST_F(AutoLaunchingTest, DisconnectLeavesOnlyTheCameraNetwork)
{
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    ASSERT_EQ(autoLaunching->cameraNetworkSSID(), QStringLiteral("DIRECT-ab:VX7"));

    // The user went back to their own network before the camera's disconnection finished.
    wifi->setCurrentNetwork(QStringLiteral("Home"));
    autoLaunching->disconnectFromCurrentWiFiNetwork();
    EXPECT_EQ(wifi->ssid(), QStringLiteral("Home"));
    EXPECT_EQ(wifi->disassociateCount(), 0);
    EXPECT_TRUE(wifi->powerRequests().empty());

    wifi->setCurrentNetwork(QStringLiteral("DIRECT-ab:VX7"));
    autoLaunching->disconnectFromCurrentWiFiNetwork();
    EXPECT_EQ(wifi->ssid(), std::nullopt);
    EXPECT_EQ(wifi->disassociateCount(), 1);
    EXPECT_EQ(wifi->powerRequests(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(wifi->powerOn());
}

// Blocks in `disassociate` until the test lets it go, like a D-Bus call waiting for the system.
class SlowToLeaveWiFi : public SimulatedWiFi {
public:
    void disassociate() override
    {
        leftOnMainThread = DispatchQueue::isMainThread();
        started.set_value();
        release.get_future().wait();
        SimulatedWiFi::disassociate();
    }
    std::promise<void> started;
    std::promise<void> release;
    std::atomic<bool> leftOnMainThread = true;
};

TEST_F(AutoLaunchingTest, LeavingInTheBackgroundReturnsAtOnceAndFinishesOnAWorker)
{
    auto slow = std::make_shared<SlowToLeaveWiFi>();
    slow->addNetwork({QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("c"), kCameraAddress, std::nullopt});
    wifi = slow;
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    ASSERT_EQ(autoLaunching->cameraNetworkSSID(), QStringLiteral("DIRECT-ab:VX7"));

    bool finished = false;
    bool finishedOnMain = false;
    autoLaunching->disconnectFromCurrentWiFiNetworkInBackground([&] {
        finished = true;
        finishedOnMain = DispatchQueue::isMainThread();
    });
    // Back here while the worker is still inside the blocking call.
    ASSERT_EQ(slow->started.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(finished);
    EXPECT_FALSE(slow->leftOnMainThread);

    slow->release.set_value();
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_TRUE(finishedOnMain);
    EXPECT_EQ(slow->ssid(), std::nullopt);
    EXPECT_EQ(slow->powerRequests(), (std::vector<bool>{false, true}));

    // Nothing to leave: the completion still comes, posted.
    autoLaunching->disconnectFromCurrentWiFiNetworkInBackground([&] { finished = false; });
    EXPECT_TRUE(finished);
    ASSERT_TRUE(runUntil([&] { return !finished; }));
}

// The network's name comes from NetworkManager, which can take 20 s to answer: a connection's note reads it off
// the GUI thread, and a leave asked for meanwhile waits for it and leaves the network it names.
class StalledNetworkServiceWiFi : public SimulatedWiFi {
public:
    std::optional<QString> ssid() const override
    {
        if (gate.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            if (DispatchQueue::isMainThread())
                readOnMainThreadWhileStalled = true;
            // Bounded, so that a read on the GUI thread shows as a failure rather than a hang.
            gate.wait_for(std::chrono::seconds(10));
        }
        return SimulatedWiFi::ssid();
    }
    mutable std::atomic<bool> readOnMainThreadWhileStalled = false;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
};

TEST_F(AutoLaunchingTest, NotingAConnectionReadsTheNetworkOffTheGuiThread)
{
    auto stalled = std::make_shared<StalledNetworkServiceWiFi>();
    stalled->addNetwork({QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("c"), kCameraAddress, std::nullopt});
    stalled->setCurrentNetwork(QStringLiteral("DIRECT-ab:VX7"));
    wifi = stalled;
    bool noted = false;
    autoLaunching->noteConnectedTo(AddressOnlyCamera(kCameraAddress), [&noted] { noted = true; });
    bool left = false;
    autoLaunching->disconnectFromCurrentWiFiNetworkInBackground([&left] { left = true; });
    // Back here while the service stalls.
    EXPECT_FALSE(noted);
    EXPECT_TRUE(autoLaunching->watchedNetworkNames().isEmpty());

    stalled->release.set_value();
    ASSERT_TRUE(runUntil([&] { return noted && left; }));
    EXPECT_FALSE(stalled->readOnMainThreadWhileStalled);
    EXPECT_EQ(autoLaunching->watchedNetworkNames(), QStringList{QStringLiteral("DIRECT-ab:VX7")});
    EXPECT_EQ(autoLaunching->cameraNetworkSSID(), QStringLiteral("DIRECT-ab:VX7"));
    EXPECT_EQ(stalled->disassociateCount(), 1);
}

TEST_F(AutoLaunchingTest, FailedPowerOffSkipsPowerOn)
{
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    wifi->setPowerChangeFails(true);
    autoLaunching->disconnectFromCurrentWiFiNetwork(QStringLiteral("DIRECT-ab:VX7"));
    EXPECT_EQ(wifi->disassociateCount(), 1);
    EXPECT_EQ(wifi->powerRequests(), std::vector<bool>{false});
}

TEST(WiFiWatcherHelper, IsFoundBesideTheApplicationOrWhereItIsInstalled)
{
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    const QString installed = prefix.filePath(QStringLiteral("libexec/vornakel-transfer/vornakel-transfer-helper"));
    ASSERT_TRUE(QDir().mkpath(bin));
    // Installed: nothing beside the application, the helper in the libexec folder.
    EXPECT_EQ(WiFiNetworkAutoLaunching::helperProgramPath(bin), installed);

    // A build folder: the helper was built beside the application.
    QFile beside(QDir(bin).filePath(WiFiNetworkAutoLaunching::helperProgramName()));
    ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
    beside.close();
    EXPECT_EQ(WiFiNetworkAutoLaunching::helperProgramPath(bin), installed) << "a file that cannot run is not it";
    beside.setPermissions(beside.permissions() | QFileDevice::ExeOwner);
    EXPECT_EQ(WiFiNetworkAutoLaunching::helperProgramPath(bin), beside.fileName());

    // The autostart entry names the program it was given.
    LoginItem item(QStringLiteral("test.helper"), QStringLiteral("Helper"), installed);
    EXPECT_TRUE(item.desktopEntry().contains(QStringLiteral("Exec=") + quotedExecArgument(installed)));
}

TEST_F(AutoLaunchingTest, LoginItemAndHelperFollowTheSetting)
{
    ASSERT_FALSE(autoLaunching->enforceAutoLaunchSetting());
    EXPECT_TRUE(QFileInfo::exists(loginItem->entryPath()));
    EXPECT_EQ(helper->launches, 1);
    EXPECT_TRUE(autoLaunching->isAutoLaunchActive());

    // Already running: no second instance.
    autoLaunching->setShouldAutoLaunchWhenWatchedNetworksJoined(true);
    EXPECT_EQ(helper->launches, 1);

    autoLaunching->setShouldAutoLaunchWhenWatchedNetworksJoined(false);
    EXPECT_FALSE(QFileInfo::exists(loginItem->entryPath()));
    EXPECT_EQ(helper->quits, 1);
    EXPECT_FALSE(autoLaunching->isAutoLaunchActive());
    // The helper reads the setting from the file.
    EXPECT_FALSE(UserDefaults(defaults.filePath()).boolForKey(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey));
}

TEST_F(AutoLaunchingTest, FailedHelperStartIsReportedAndTheCheckboxShowsOff)
{
    helper->launchFails = true;
    const auto error = autoLaunching->enforceAutoLaunchSetting();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, LoginItemErrorLaunchFailed);
    EXPECT_FALSE(autoLaunching->isAutoLaunchActive());

    GeneralPreferencesWidget pane(*autoLaunching);
    EXPECT_FALSE(pane.autolaunchCheckbox()->isChecked());
    pane.autolaunchCheckbox()->click(); // the user tries again, the start fails again
    EXPECT_FALSE(pane.autolaunchCheckbox()->isChecked());

    helper->launchFails = false;
    pane.autolaunchCheckbox()->click();
    EXPECT_TRUE(pane.autolaunchCheckbox()->isChecked());
    pane.autolaunchCheckbox()->click();
    EXPECT_FALSE(pane.autolaunchCheckbox()->isChecked());
    EXPECT_FALSE(defaults.boolForKey(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey));
    EXPECT_FALSE(helper->running);
}

TEST_F(AutoLaunchingTest, PaneListsAndRemovesWatchedNetworks)
{
    GeneralPreferencesWidget pane(*autoLaunching);
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    connectVia(QStringLiteral("direct-ab:vx7"), kCameraAddress);
    ASSERT_EQ(pane.watchedNetworksList()->count(), 2);
    EXPECT_FALSE(pane.removeButton()->isEnabled());
    pane.watchedNetworksList()->setCurrentRow(1);
    ASSERT_TRUE(pane.removeButton()->isEnabled());
    pane.removeButton()->click();
    EXPECT_EQ(autoLaunching->watchedNetworkNames(), QStringList{QStringLiteral("DIRECT-ab:VX7")});
    EXPECT_EQ(pane.watchedNetworksList()->count(), 1);

    pane.disconnectCheckbox()->click();
    EXPECT_FALSE(defaults.boolForKey(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey));
}

TEST_F(AutoLaunchingTest, HelperLaunchesTheAppWhenAWatchedNetworkIsJoined)
{
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    defaults.synchronize();
    wifi->setCurrentNetwork(QStringLiteral("Home"));
    QCoreApplication::processEvents(); // the events of the set-up are behind us

    // The helper has its own view of the application's defaults file.
    UserDefaults helperDefaults(defaults.filePath());
    int launches = 0;
    WatchedNetworkLauncher launcher(helperDefaults, wifi, [&] { ++launches; return true; });
    launcher.start();
    // Connected after the launcher, so it counts events the launcher has handled.
    int events = 0;
    QObject::connect(wifi.get(), &WiFiInterface::ssidChanged, [&] { ++events; });
    auto join = [&](const std::optional<QString>& network) {
        const int before = events;
        wifi->setCurrentNetwork(network);
        ASSERT_TRUE(runUntil([&] { return events > before; }));
    };

    struct Step {
        const char* name;
        std::optional<QString> network;
        int launchesAfter;
    } steps[] = {
        {"unwatched network", QStringLiteral("Home"), 0},
        {"watched network", QStringLiteral("DIRECT-ab:VX7"), 1},
        {"same network again", QStringLiteral("DIRECT-ab:VX7"), 1},
        {"left", std::nullopt, 1},
        {"rejoined", QStringLiteral("DIRECT-ab:VX7"), 2},
        {"differs only in case", QStringLiteral("direct-ab:vx7"), 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        join(step.network);
        EXPECT_EQ(launches, step.launchesAfter);
    }

    // The application switches auto-launch off in its own process; the helper picks it up.
    defaults.setBool(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, false);
    defaults.synchronize();
    join(std::nullopt);
    join(QStringLiteral("DIRECT-ab:VX7"));
    EXPECT_EQ(launches, 2);
}

TEST_F(AutoLaunchingTest, HelperDoesNotLaunchForTheNetworkItStartsOn)
{
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    defaults.synchronize();
    UserDefaults helperDefaults(defaults.filePath());
    int launches = 0;
    WatchedNetworkLauncher launcher(helperDefaults, wifi, [&] { ++launches; return true; });
    launcher.start();
    vornakel::test::runFor(std::chrono::milliseconds(50));
    launcher.networkMayHaveChanged();
    EXPECT_EQ(launches, 0);
}

// NetworkManager's device is found after the helper starts: the network named then is the one the helper
// started on, and only a later join launches the application.
class LateDeviceWiFi : public SimulatedWiFi {
public:
    QString interfaceName() const override { return known ? SimulatedWiFi::interfaceName() : QString(); }
    std::optional<QString> ssid() const override { return known ? SimulatedWiFi::ssid() : std::nullopt; }
    bool known = false;
};

TEST_F(AutoLaunchingTest, HelperDoesNotLaunchForTheNetworkItsDeviceIsFoundOn)
{
    connectVia(QStringLiteral("DIRECT-ab:VX7"), kCameraAddress);
    defaults.synchronize();
    UserDefaults helperDefaults(defaults.filePath());
    auto late = std::make_shared<LateDeviceWiFi>();
    late->addNetwork({QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("c"), kCameraAddress, std::nullopt});
    late->addNetwork({QStringLiteral("Home"), QStringLiteral("h"), std::nullopt, QStringLiteral("192.168.1.1")});
    late->setCurrentNetwork(QStringLiteral("DIRECT-ab:VX7"));
    int launches = 0;
    WatchedNetworkLauncher launcher(helperDefaults, late, [&] { ++launches; return true; });
    launcher.start();
    late->known = true;
    launcher.networkMayHaveChanged();
    EXPECT_EQ(launches, 0);
    late->setCurrentNetwork(QStringLiteral("Home"));
    launcher.networkMayHaveChanged();
    late->setCurrentNetwork(QStringLiteral("DIRECT-ab:VX7"));
    launcher.networkMayHaveChanged();
    EXPECT_EQ(launches, 1);
}
