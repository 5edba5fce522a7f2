#include "platform/wifi/NetworkManagerWiFi.h"

#include "platform/core/DispatchQueue.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>

using NMConnectionSettings = QMap<QString, QVariantMap>;
Q_DECLARE_METATYPE(NMConnectionSettings)

namespace vornakel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kWirelessInterface = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPointInterface = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
const QString kIp4ConfigInterface = QStringLiteral("org.freedesktop.NetworkManager.IP4Config");
const QString kActiveConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint kDeviceTypeWifi = 2;
constexpr uint kActiveConnectionActivated = 2;
constexpr uint kActiveConnectionDeactivated = 4;
// A requested scan ends within a few seconds; NetworkManager then updates the device's LastScan.
constexpr int kScanTimeoutMs = 10000;
constexpr int kPollIntervalMs = 200;

QDBusMessage callOn(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 20000);
}

QVariant propertyOn(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& name)
{
    const QDBusMessage reply = callOn(bus, path, kPropertiesInterface, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

QString objectPath(const QVariant& value)
{
    const QString path = value.value<QDBusObjectPath>().path();
    return path == QLatin1String("/") ? QString() : path;
}

std::optional<Error> errorOf(const QDBusMessage& reply, WiFiErrorCode code)
{
    if (reply.type() != QDBusMessage::ErrorMessage)
        return std::nullopt;
    return Error(wifiErrorDomain(), code, reply.errorMessage(), {{QStringLiteral("dbusError"), reply.errorName()}});
}

Error noDevice()
{
    return Error(wifiErrorDomain(), WiFiErrorNoInterface, QStringLiteral("NetworkManager has named no Wi-Fi device yet."));
}

QList<QString> objectPathsOf(const QDBusMessage& reply)
{
    QList<QString> paths;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return paths;
    const auto argument = reply.arguments().constFirst().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        argument >> path;
        paths.append(path.path());
    }
    argument.endArray();
    return paths;
}

} // namespace

std::unique_ptr<NetworkManagerWiFi> NetworkManagerWiFi::create() { return create(QDBusConnection::systemBus()); }

std::unique_ptr<NetworkManagerWiFi> NetworkManagerWiFi::create(const QDBusConnection& bus)
{
    // The bus itself answers this; NetworkManager, which may stall, is asked for its devices off this thread.
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value())
        return nullptr;
    std::unique_ptr<NetworkManagerWiFi> wifi(new NetworkManagerWiFi(bus));
    const DispatchQueue::Context guard(wifi.get());
    NetworkManagerWiFi* const self = wifi.get();
    DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([bus, guard, self] {
        QString devicePath;
        QString interfaceName;
        for (const QString& device :
             objectPathsOf(callOn(bus, kManagerPath, kManagerInterface, QStringLiteral("GetDevices")))) {
            if (propertyOn(bus, device, kDeviceInterface, QStringLiteral("DeviceType")).toUInt() != kDeviceTypeWifi)
                continue;
            devicePath = device;
            interfaceName = propertyOn(bus, device, kDeviceInterface, QStringLiteral("Interface")).toString();
            break;
        }
        if (devicePath.isEmpty())
            return;
        DispatchQueue::main()->async(guard,
                                     [self, devicePath, interfaceName] { self->adoptDevice(devicePath, interfaceName); });
    });
    return wifi;
}

NetworkManagerWiFi::NetworkManagerWiFi(const QDBusConnection& bus) : m_bus(bus)
{
    qDBusRegisterMetaType<NMConnectionSettings>();
    // The scan request's list of names ("aay"); Qt does not register it for D-Bus by itself.
    qDBusRegisterMetaType<QList<QByteArray>>();
}

void NetworkManagerWiFi::adoptDevice(const QString& devicePath, const QString& interfaceName)
{
    {
        std::lock_guard lock(m_deviceMutex);
        m_devicePath = devicePath;
        m_interfaceName = interfaceName;
    }
    m_bus.connect(kService, devicePath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                  SLOT(wirelessPropertiesChanged(QString, QVariantMap, QStringList)));
    m_bus.connect(kService, devicePath, kDeviceInterface, QStringLiteral("StateChanged"), this,
                  SLOT(deviceStateChanged(uint, uint, uint)));
    // Whoever read the interface before it was known reads it again.
    emit linkChanged(interfaceName);
    emit ssidChanged(interfaceName);
}

QString NetworkManagerWiFi::interfaceName() const
{
    std::lock_guard lock(m_deviceMutex);
    return m_interfaceName;
}

QString NetworkManagerWiFi::devicePath() const
{
    std::lock_guard lock(m_deviceMutex);
    return m_devicePath;
}

NetworkManagerWiFi::~NetworkManagerWiFi() = default;

QDBusMessage NetworkManagerWiFi::call(const QString& path, const QString& interface, const QString& method,
                                      const QVariantList& arguments) const
{
    return callOn(m_bus, path, interface, method, arguments);
}

QVariant NetworkManagerWiFi::dbusProperty(const QString& path, const QString& interface, const QString& name) const
{
    return propertyOn(m_bus, path, interface, name);
}

void NetworkManagerWiFi::wirelessPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&)
{
    if (interface == kWirelessInterface && changed.contains(QStringLiteral("ActiveAccessPoint")))
        emit ssidChanged(interfaceName());
}

void NetworkManagerWiFi::deviceStateChanged(uint, uint, uint) { emit linkChanged(interfaceName()); }

std::optional<QString> NetworkManagerWiFi::ssid() const
{
    const QString device = devicePath();
    if (device.isEmpty())
        return std::nullopt;
    const QString accessPoint = objectPath(dbusProperty(device, kWirelessInterface, QStringLiteral("ActiveAccessPoint")));
    if (accessPoint.isEmpty())
        return std::nullopt;
    const QByteArray ssid = dbusProperty(accessPoint, kAccessPointInterface, QStringLiteral("Ssid")).toByteArray();
    if (ssid.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(ssid);
}

std::optional<QString> NetworkManagerWiFi::gatewayAddress() const
{
    const QString device = devicePath();
    if (device.isEmpty())
        return std::nullopt;
    const QString config = objectPath(dbusProperty(device, kDeviceInterface, QStringLiteral("Ip4Config")));
    if (config.isEmpty())
        return std::nullopt;
    const QString gateway = dbusProperty(config, kIp4ConfigInterface, QStringLiteral("Gateway")).toString();
    if (gateway.isEmpty())
        return std::nullopt;
    return gateway;
}

bool NetworkManagerWiFi::powerOn() const
{
    return dbusProperty(kManagerPath, kManagerInterface, QStringLiteral("WirelessEnabled")).toBool();
}

WiFiScanResult NetworkManagerWiFi::scanForNetworks(const QString& name)
{
    WiFiScanResult result;
    const QString device = devicePath();
    if (device.isEmpty()) {
        result.error = noDevice();
        return result;
    }
    QVariantMap options;
    if (!name.isEmpty())
        options.insert(QStringLiteral("ssids"), QVariant::fromValue(QList<QByteArray>{name.toUtf8()}));
    const QVariant lastScan = dbusProperty(device, kWirelessInterface, QStringLiteral("LastScan"));
    const QDBusMessage scan = call(device, kWirelessInterface, QStringLiteral("RequestScan"), {options});
    // This runs on a worker thread; the scan's end shows only as a new LastScan value. A refused request (one
    // runs already) still leaves a fresh list shortly, so the wait is the same.
    if (lastScan.isValid()) {
        QDeadlineTimer deadline(kScanTimeoutMs);
        while (!deadline.hasExpired()
               && dbusProperty(device, kWirelessInterface, QStringLiteral("LastScan")) == lastScan)
            QThread::msleep(kPollIntervalMs);
    }
    const QDBusMessage reply = call(device, kWirelessInterface, QStringLiteral("GetAllAccessPoints"));
    if (auto error = errorOf(reply, WiFiErrorScanFailed)) {
        result.error = error;
        return result;
    }
    for (const QString& accessPoint : objectPathsOf(reply)) {
        const QString ssid = QString::fromUtf8(dbusProperty(accessPoint, kAccessPointInterface, QStringLiteral("Ssid")).toByteArray());
        if (!name.isEmpty() && ssid != name)
            continue;
        const int strength = dbusProperty(accessPoint, kAccessPointInterface, QStringLiteral("Strength")).toInt();
        result.networks.push_back({ssid, accessPoint, strength});
    }
    if (result.networks.empty())
        result.error = errorOf(scan, WiFiErrorScanFailed);
    return result;
}

std::optional<Error> NetworkManagerWiFi::associate(const WiFiNetwork& network, const QString& password)
{
    const QString device = devicePath();
    if (device.isEmpty())
        return noDevice();
    NMConnectionSettings settings;
    // A camera network is joined on request only, never automatically later.
    settings[QStringLiteral("connection")] = {{QStringLiteral("id"), network.ssid},
                                              {QStringLiteral("type"), QStringLiteral("802-11-wireless")},
                                              {QStringLiteral("autoconnect"), false}};
    settings[QStringLiteral("802-11-wireless")] = {{QStringLiteral("ssid"), network.ssid.toUtf8()},
                                                   {QStringLiteral("mode"), QStringLiteral("infrastructure")}};
    if (!password.isEmpty()) {
        settings[QStringLiteral("802-11-wireless")].insert(QStringLiteral("security"), QStringLiteral("802-11-wireless-security"));
        settings[QStringLiteral("802-11-wireless-security")] = {{QStringLiteral("key-mgmt"), QStringLiteral("wpa-psk")},
                                                                 {QStringLiteral("psk"), password}};
    }
    const QVariantList arguments{QVariant::fromValue(settings), QVariant::fromValue(QDBusObjectPath(device)),
                                 QVariant::fromValue(QDBusObjectPath(network.handle.isEmpty() ? QStringLiteral("/") : network.handle))};
    // A volatile profile is not saved and goes away when the connection ends, so joins leave no profiles
    // behind; NetworkManager before 1.16 knows only the older call.
    QDBusMessage reply = call(kManagerPath, kManagerInterface, QStringLiteral("AddAndActivateConnection2"),
                              arguments + QVariantList{QVariantMap{{QStringLiteral("persist"), QStringLiteral("volatile")}}});
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        reply = call(kManagerPath, kManagerInterface, QStringLiteral("AddAndActivateConnection"), arguments);
    if (auto error = errorOf(reply, WiFiErrorAssociationFailed))
        return error;
    if (reply.arguments().size() < 2)
        return Error(wifiErrorDomain(), WiFiErrorAssociationFailed, QStringLiteral("NetworkManager gave no connection."));
    const QString active = reply.arguments().at(1).value<QDBusObjectPath>().path();

    // This runs on a worker thread; NetworkManager reports the outcome only as a property of the connection.
    QDeadlineTimer deadline(m_activationTimeout);
    while (!deadline.hasExpired()) {
        const QVariant state = dbusProperty(active, kActiveConnectionInterface, QStringLiteral("State"));
        if (!state.isValid() || state.toUInt() == kActiveConnectionDeactivated)
            return Error(wifiErrorDomain(), WiFiErrorAssociationFailed, QStringLiteral("The network refused the connection."));
        if (state.toUInt() == kActiveConnectionActivated)
            return std::nullopt;
        QThread::msleep(kPollIntervalMs);
    }
    // NetworkManager would go on trying and join later, while the user is told the join failed.
    call(kManagerPath, kManagerInterface, QStringLiteral("DeactivateConnection"),
         {QVariant::fromValue(QDBusObjectPath(active))});
    return Error(wifiErrorDomain(), WiFiErrorAssociationFailed, QStringLiteral("The connection timed out."));
}

void NetworkManagerWiFi::disassociate()
{
    if (const QString device = devicePath(); !device.isEmpty())
        call(device, kDeviceInterface, QStringLiteral("Disconnect"));
}

std::optional<Error> NetworkManagerWiFi::setPower(bool on)
{
    const QDBusMessage reply = call(kManagerPath, kPropertiesInterface, QStringLiteral("Set"),
                                    {kManagerInterface, QStringLiteral("WirelessEnabled"), QVariant::fromValue(QDBusVariant(on))});
    return errorOf(reply, WiFiErrorPowerChangeFailed);
}

} // namespace vornakel
