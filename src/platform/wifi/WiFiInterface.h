#pragma once

#include "platform/core/Error.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

// A Wi-Fi network seen in a scan. `handle` is the backend's own reference to it (an access point path).
struct WiFiNetwork {
    QString ssid;
    QString handle;
    int strength = 0; // 0 … 100
};

struct WiFiScanResult {
    std::vector<WiFiNetwork> networks;
    std::optional<Error> error;
};

// The computer's Wi-Fi interface. Properties may be read on any thread. Scanning, joining, leaving and power
// changes block until the system has finished, so run them off the main thread. Change events are emitted on
// the main thread.
class WiFiInterface : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~WiFiInterface() override = default;

    virtual QString interfaceName() const = 0;
    // The network the interface is on; none when not associated.
    virtual std::optional<QString> ssid() const = 0;
    // The IPv4 gateway of the interface; none when it has none.
    virtual std::optional<QString> gatewayAddress() const = 0;
    virtual bool powerOn() const = 0;

    // Networks of that name in range (all networks for an empty name).
    virtual WiFiScanResult scanForNetworks(const QString& name) = 0;
    [[nodiscard]] virtual std::optional<Error> associate(const WiFiNetwork& network, const QString& password) = 0;
    virtual void disassociate() = 0;
    [[nodiscard]] virtual std::optional<Error> setPower(bool on) = 0;

signals:
    void ssidChanged(const QString& interfaceName);
    void linkChanged(const QString& interfaceName);
};

inline QString wifiErrorDomain() { return QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".wifi"); }
enum WiFiErrorCode : int {
    WiFiErrorNoInterface = 1,
    WiFiErrorScanFailed = 2,
    WiFiErrorNetworkNotFound = 3,
    WiFiErrorAssociationFailed = 4,
    WiFiErrorPowerChangeFailed = 5,
};

// The computer's Wi-Fi interface, made once by a program's composition point and handed to what uses it.
namespace WiFiClient {
// NetworkManager's wireless device when NetworkManager answers on the system bus, else a simulated interface
// (set VKL_WIFI=simulated to force it). Call on the main thread, which then delivers the interface's events.
std::shared_ptr<WiFiInterface> makeSystemInterface();
} // namespace WiFiClient

} // namespace vornakel
