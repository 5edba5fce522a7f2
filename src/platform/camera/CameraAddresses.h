#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vornakel {

// Where the network backends look for cameras besides their own searches: the addresses the user lists, and
// the gateway of each Wi-Fi interface (a camera that runs its own access point is the gateway of the network
// the computer joined from its QR code).
//
// A listed entry is "host[:port]" for a PTP/IP camera, or "scheme://host[:port]" for a camera of another
// backend ("olympus://127.0.0.1:8080", "upnp://192.168.122.1:64321"); each backend takes the entries of its
// own schemes. The lists are VORNAKEL_CAMERA_ADDRESSES (comma-separated) and the user default
// "PTPIPCameraAddresses" (an array of entries; the key predates the other schemes and is kept as it is).
struct CameraAddress {
    QString scheme; // lower case; "ptpip" for an entry without one
    QString host;
    quint16 port = 0; // 0: the backend's default port

    bool operator==(const CameraAddress&) const = default;
};

namespace CameraAddresses {

// The scheme an entry without one stands for.
inline QString defaultScheme() { return QStringLiteral("ptpip"); }

// The well-formed entries of a comma-separated list, each once, in order; an entry with a port out of range,
// an empty host, or a host that is not an IP address is left out.
std::vector<CameraAddress> parse(const QString& list);

// Every entry the user lists (environment first, then the user default).
std::vector<CameraAddress> userListed();

// The user's entries of one scheme, with `defaultPort` for the ones without a port.
std::vector<CameraAddress> userListedFor(const QString& scheme, quint16 defaultPort);

// The IPv4 gateways of the computer's Wi-Fi interfaces (the simulated Wi-Fi's interface included while it
// lives), each once.
QStringList wifiGateways();

// The port a backend tries on a Wi-Fi gateway: its maker's port, unless VORNAKEL_GATEWAY_PORTS
// ("olympus=8080,panasonic=60606") names another for the scheme, which is how the test cameras on 127.0.0.1
// stand in for a camera's access point.
quint16 gatewayPort(const QString& scheme, quint16 makersPort);

} // namespace CameraAddresses

} // namespace vornakel
