#include "platform/camera/CameraAddresses.h"

#include "platform/camera/VKLCamera.h"
#include "platform/core/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <algorithm>

namespace vornakel::CameraAddresses {

namespace {

std::optional<CameraAddress> parseEntry(const QString& raw)
{
    QString rest = raw.trimmed();
    CameraAddress address;
    address.scheme = defaultScheme();
    if (const int separator = rest.indexOf(QLatin1String("://")); separator >= 0) {
        address.scheme = rest.left(separator).toLower();
        rest = rest.mid(separator + 3);
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
    }
    if (address.scheme.isEmpty())
        return std::nullopt;
    address.host = rest;
    // An IPv6 address has colons of its own; only "host:port" with one colon carries a port.
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && rest.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        const uint value = rest.mid(colon + 1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return std::nullopt;
        address.host = rest.left(colon);
        address.port = quint16(value);
    }
    if (address.host.isEmpty() || QHostAddress(address.host).isNull())
        return std::nullopt;
    return address;
}

} // namespace

std::vector<CameraAddress> parse(const QString& list)
{
    std::vector<CameraAddress> result;
    for (const QString& raw : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto address = parseEntry(raw);
        if (address && std::find(result.begin(), result.end(), *address) == result.end())
            result.push_back(*address);
    }
    return result;
}

std::vector<CameraAddress> userListed()
{
    QString listed = qEnvironmentVariable("VORNAKEL_CAMERA_ADDRESSES");
    const QStringList stored = UserDefaults::standard().stringArrayForKey(QStringLiteral("PTPIPCameraAddresses"));
    if (!stored.isEmpty())
        listed += QLatin1Char(',') + stored.join(QLatin1Char(','));
    return parse(listed);
}

std::vector<CameraAddress> userListedFor(const QString& scheme, quint16 defaultPort)
{
    std::vector<CameraAddress> result;
    for (CameraAddress address : userListed()) {
        if (address.scheme != scheme)
            continue;
        if (address.port == 0)
            address.port = defaultPort;
        if (std::find(result.begin(), result.end(), address) == result.end())
            result.push_back(address);
    }
    return result;
}

QStringList wifiGateways()
{
    QStringList interfaces;
    if (const auto simulated = VKLNetworkConfigurationHelper::resolvedInterfaceName()) {
        interfaces << *simulated;
    } else {
        // The kernel marks a wireless interface with a "wireless" folder; "wl…" is systemd's naming of them.
        const QDir net(QStringLiteral("/sys/class/net"));
        for (const QString& name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
            if (name.startsWith(QLatin1String("wl")) || QFileInfo::exists(net.filePath(name + QStringLiteral("/wireless"))))
                interfaces << name;
        }
    }
    QStringList gateways;
    for (const QString& name : interfaces) {
        const auto gateway = VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(name);
        if (gateway && !gateways.contains(*gateway))
            gateways << *gateway;
    }
    return gateways;
}

quint16 gatewayPort(const QString& scheme, quint16 makersPort)
{
    const QStringList entries = qEnvironmentVariable("VORNAKEL_GATEWAY_PORTS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const QString name = entry.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        bool ok = false;
        const uint port = entry.section(QLatin1Char('='), 1).trimmed().toUInt(&ok);
        if (name == scheme && ok && port > 0 && port <= 65535)
            return quint16(port);
    }
    return makersPort;
}

} // namespace vornakel::CameraAddresses
