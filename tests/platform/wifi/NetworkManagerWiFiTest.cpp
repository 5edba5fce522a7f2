#include "platform/wifi/NetworkManagerWiFi.h"
#include "support/PrivateBusDaemon.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <mutex>

using namespace vornakel;
using vornakel::test::runUntil;

using Settings = QMap<QString, QVariantMap>;
Q_DECLARE_METATYPE(Settings)

namespace {

const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kDevice = kRoot + QStringLiteral("/Devices/3");
const QString kHomeAP = kRoot + QStringLiteral("/AccessPoint/1");
const QString kCameraAP = kRoot + QStringLiteral("/AccessPoint/2");
const QString kIp4Config = kRoot + QStringLiteral("/IP4Config/5");
const QString kActive = kRoot + QStringLiteral("/ActiveConnection/9");

// Just enough of NetworkManager's D-Bus objects for one wireless device, served on a private bus from a thread
// of its own (the backend's calls block).
class FakeNetworkManager : public QDBusVirtualObject {
public:
    explicit FakeNetworkManager(QString address) : m_address(std::move(address)) {}

    bool start()
    {
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, QStringLiteral("fake-nm")));
        return m_bus->isConnected() && m_bus->registerService(QStringLiteral("org.freedesktop.NetworkManager"))
               && m_bus->registerVirtualObject(kRoot, this, QDBusConnection::SubPath);
    }
    void stop()
    {
        m_bus->unregisterObject(kRoot, QDBusConnection::UnregisterTree);
        m_bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-nm"));
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        std::lock_guard lock(mutex);
        const QString member = message.member();
        const QVariantList args = message.arguments();
        calls << member;
        QDBusMessage reply;
        if (member == QLatin1String("Get")) {
            const QVariant value = property(message.path(), args.value(1).toString());
            reply = value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                    : message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no"));
        } else if (member == QLatin1String("Set")) {
            wirelessEnabled = args.value(2).value<QDBusVariant>().variant().toBool();
            reply = message.createReply();
        } else if (member == QLatin1String("GetDevices")) {
            if (devicesStall) {
                // Answered only by `answerDevices`, as a NetworkManager that hangs would.
                stalledDevices = message;
                stalledConnection = std::make_unique<QDBusConnection>(connection);
                return true;
            }
            reply = message.createReply(QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kDevice)}));
        } else if (member == QLatin1String("GetAllAccessPoints")) {
            reply = message.createReply(QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kHomeAP), QDBusObjectPath(kCameraAP)}));
        } else if (member == QLatin1String("RequestScan")) {
            scanOptions = qdbus_cast<QVariantMap>(args.value(0));
            ++lastScan;
            reply = message.createReply();
        } else if (member == QLatin1String("AddAndActivateConnection2")) {
            settings = qdbus_cast<Settings>(args.value(0));
            options = qdbus_cast<QVariantMap>(args.value(3));
            const QString ap = args.value(2).value<QDBusObjectPath>().path();
            const QString psk = settings.value(QStringLiteral("802-11-wireless-security")).value(QStringLiteral("psk")).toString();
            activeState = activationStalls ? 1 : psk == QLatin1String("campass") ? 2 : 4;
            if (activeState == 2)
                setActiveAccessPoint(connection, ap);
            reply = message.createReply(QVariantList{QVariant::fromValue(QDBusObjectPath(kRoot + QStringLiteral("/Settings/4"))),
                                                     QVariant::fromValue(QDBusObjectPath(kActive)), QVariantMap()});
        } else if (member == QLatin1String("DeactivateConnection")) {
            deactivated << args.value(0).value<QDBusObjectPath>().path();
            activeState = 4;
            reply = message.createReply();
        } else if (member == QLatin1String("Disconnect")) {
            setActiveAccessPoint(connection, QStringLiteral("/"));
            reply = message.createReply();
        } else {
            reply = message.createErrorReply(QDBusError::UnknownMethod, member);
        }
        connection.send(reply);
        return true;
    }

    std::mutex mutex;
    QStringList calls;
    QVariantMap scanOptions;
    Settings settings;
    QVariantMap options;
    QString activeAccessPoint = kHomeAP;
    bool wirelessEnabled = true;
    qint64 lastScan = 1000;
    uint activeState = 1;
    bool activationStalls = false; // the connection stays "activating"
    bool devicesStall = false;     // GetDevices is not answered until `answerDevices`
    void answerDevices()
    {
        std::lock_guard lock(mutex);
        if (stalledConnection)
            stalledConnection->send(
                stalledDevices.createReply(QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kDevice)})));
        stalledConnection.reset();
    }
    QDBusMessage stalledDevices;
    std::unique_ptr<QDBusConnection> stalledConnection;
    QStringList deactivated;

private:
    QVariant property(const QString& path, const QString& name) const
    {
        if (path == kRoot && name == QLatin1String("WirelessEnabled"))
            return wirelessEnabled;
        if (path == kDevice) {
            if (name == QLatin1String("DeviceType"))
                return 2u;
            if (name == QLatin1String("Interface"))
                return QStringLiteral("wlp2s0");
            if (name == QLatin1String("Ip4Config"))
                return QVariant::fromValue(QDBusObjectPath(activeAccessPoint == QLatin1String("/") ? QStringLiteral("/") : kIp4Config));
            if (name == QLatin1String("ActiveAccessPoint"))
                return QVariant::fromValue(QDBusObjectPath(activeAccessPoint));
            if (name == QLatin1String("LastScan"))
                return lastScan;
        }
        if ((path == kHomeAP || path == kCameraAP) && name == QLatin1String("Ssid"))
            return path == kHomeAP ? QByteArray("Home") : QByteArray("DIRECT-ab:Café");
        if ((path == kHomeAP || path == kCameraAP) && name == QLatin1String("Strength"))
            return QVariant::fromValue(uchar(path == kHomeAP ? 70 : 55));
        if (path == kIp4Config && name == QLatin1String("Gateway"))
            return activeAccessPoint == kCameraAP ? QStringLiteral("192.168.122.1") : QStringLiteral("10.0.0.1");
        if (path == kActive && name == QLatin1String("State"))
            return activeState;
        return {};
    }

    void setActiveAccessPoint(const QDBusConnection& connection, const QString& path)
    {
        activeAccessPoint = path;
        QDBusMessage signal = QDBusMessage::createSignal(kDevice, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal.setArguments({QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"),
                             QVariantMap{{QStringLiteral("ActiveAccessPoint"), QVariant::fromValue(QDBusObjectPath(path))}},
                             QStringList()});
        connection.send(signal);
    }

    QString m_address;
    std::unique_ptr<QDBusConnection> m_bus;
};

class NetworkManagerWiFiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<Settings>();
        if (!test::PrivateBusDaemon::isInstalled())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_daemon.start());
        const QString address = m_daemon.address();

        fake = new FakeNetworkManager(address);
        fake->moveToThread(&m_thread);
        m_thread.start();
        bool started = false;
        QMetaObject::invokeMethod(fake, [&] { started = fake->start(); }, Qt::BlockingQueuedConnection);
        ASSERT_TRUE(started);

        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("client")));
        ASSERT_TRUE(bus->isConnected());
    }

    void TearDown() override
    {
        wifi.reset();
        bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        if (fake) {
            QMetaObject::invokeMethod(fake, [this] { fake->stop(); delete fake; }, Qt::BlockingQueuedConnection);
            m_thread.quit();
            m_thread.wait();
        }
        m_daemon.stop();
    }

    FakeNetworkManager* fake = nullptr;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<NetworkManagerWiFi> wifi;

private:
    test::PrivateBusDaemon m_daemon;
    QThread m_thread;
};

} // namespace

TEST_F(NetworkManagerWiFiTest, ReadsScansJoinsAndLeavesThroughNetworkManager)
{
    wifi = NetworkManagerWiFi::create(*bus);
    ASSERT_TRUE(wifi);
    ASSERT_TRUE(runUntil([&] { return !wifi->interfaceName().isEmpty(); }));
    EXPECT_EQ(wifi->interfaceName(), QStringLiteral("wlp2s0"));
    EXPECT_EQ(wifi->ssid(), QStringLiteral("Home"));
    EXPECT_EQ(wifi->gatewayAddress(), QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(wifi->powerOn());

    const WiFiScanResult scan = wifi->scanForNetworks(QStringLiteral("DIRECT-ab:Café"));
    ASSERT_EQ(scan.error, std::nullopt);
    ASSERT_EQ(scan.networks.size(), 1u);
    EXPECT_EQ(scan.networks[0].handle, kCameraAP);
    EXPECT_EQ(scan.networks[0].strength, 55);
    {
        std::lock_guard lock(fake->mutex);
        const auto ssids = qdbus_cast<QList<QByteArray>>(fake->scanOptions.value(QStringLiteral("ssids")));
        EXPECT_EQ(ssids, QList<QByteArray>{QByteArray("DIRECT-ab:Café")});
    }

    const auto refused = wifi->associate(scan.networks[0], QStringLiteral("wrong"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, WiFiErrorAssociationFailed);

    int ssidEvents = 0;
    QObject::connect(wifi.get(), &WiFiInterface::ssidChanged, [&] { ++ssidEvents; });
    ASSERT_EQ(wifi->associate(scan.networks[0], QStringLiteral("campass")), std::nullopt);
    EXPECT_EQ(wifi->ssid(), QStringLiteral("DIRECT-ab:Café"));
    EXPECT_EQ(wifi->gatewayAddress(), QStringLiteral("192.168.122.1"));
    EXPECT_TRUE(runUntil([&] { return ssidEvents == 1; }));
    {
        std::lock_guard lock(fake->mutex);
        EXPECT_EQ(fake->settings.value(QStringLiteral("802-11-wireless")).value(QStringLiteral("ssid")).toByteArray(),
                  QByteArray("DIRECT-ab:Café"));
        EXPECT_EQ(fake->settings.value(QStringLiteral("802-11-wireless-security")).value(QStringLiteral("key-mgmt")),
                  QStringLiteral("wpa-psk"));
        EXPECT_EQ(fake->settings.value(QStringLiteral("connection")).value(QStringLiteral("autoconnect")), false);
        EXPECT_EQ(fake->options.value(QStringLiteral("persist")), QStringLiteral("volatile"));
    }

    wifi->disassociate();
    EXPECT_EQ(wifi->ssid(), std::nullopt);
    EXPECT_EQ(wifi->gatewayAddress(), std::nullopt);
    EXPECT_EQ(wifi->setPower(false), std::nullopt);
    EXPECT_FALSE(wifi->powerOn());
}

// A join that NetworkManager never completes is given up, and its activation is cancelled: otherwise the
// computer joins later while the pane shows the error.
TEST_F(NetworkManagerWiFiTest, AJoinThatTimesOutCancelsItsActivation)
{
    wifi = NetworkManagerWiFi::create(*bus);
    ASSERT_TRUE(wifi);
    ASSERT_TRUE(runUntil([&] { return !wifi->interfaceName().isEmpty(); }));
    wifi->setActivationTimeout(std::chrono::milliseconds(600));
    {
        std::lock_guard lock(fake->mutex);
        fake->activationStalls = true;
    }
    const auto error = wifi->associate({QStringLiteral("DIRECT-ab:Café"), kCameraAP, 55}, QStringLiteral("campass"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, WiFiErrorAssociationFailed);
    std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->deactivated, QStringList{kActive});
    EXPECT_EQ(fake->activeState, 4u);
}

// NetworkManager that does not answer (it can stall for 20 s a call) must not hold the start of the program: the
// device is looked up in the background and announced when it is known.
TEST_F(NetworkManagerWiFiTest, StartsWithoutWaitingForAStalledNetworkManager)
{
    {
        std::lock_guard lock(fake->mutex);
        fake->devicesStall = true;
    }
    wifi = NetworkManagerWiFi::create(*bus);
    ASSERT_TRUE(wifi);
    int linkEvents = 0;
    QObject::connect(wifi.get(), &WiFiInterface::linkChanged, [&] { ++linkEvents; });
    EXPECT_EQ(wifi->interfaceName(), QString());
    EXPECT_EQ(wifi->ssid(), std::nullopt);
    ASSERT_TRUE(runUntil([&] {
        std::lock_guard lock(fake->mutex);
        return fake->stalledConnection != nullptr;
    }));
    QMetaObject::invokeMethod(fake, [this] { fake->answerDevices(); }, Qt::BlockingQueuedConnection);
    ASSERT_TRUE(runUntil([&] { return linkEvents == 1; }));
    EXPECT_EQ(wifi->interfaceName(), QStringLiteral("wlp2s0"));
    EXPECT_EQ(wifi->ssid(), QStringLiteral("Home"));
}
