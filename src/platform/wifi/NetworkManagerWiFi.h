#pragma once

#include "platform/wifi/WiFiInterface.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <chrono>
#include <memory>
#include <mutex>

namespace vornakel {

// The Wi-Fi interface of NetworkManager's first wireless device, over the system D-Bus.
class NetworkManagerWiFi : public WiFiInterface {
    Q_OBJECT
public:
    // None when NetworkManager is not on the bus (the system bus unless given). Its wireless device is looked up
    // off the calling thread (NetworkManager may stall): until it is known the interface has no name, no network
    // and no gateway, and scans and joins fail; once it is known `linkChanged` and `ssidChanged` follow.
    static std::unique_ptr<NetworkManagerWiFi> create();
    static std::unique_ptr<NetworkManagerWiFi> create(const QDBusConnection& bus);
    ~NetworkManagerWiFi() override;

    QString interfaceName() const override;
    std::optional<QString> ssid() const override;
    std::optional<QString> gatewayAddress() const override;
    bool powerOn() const override;

    WiFiScanResult scanForNetworks(const QString& name) override;
    [[nodiscard]] std::optional<Error> associate(const WiFiNetwork& network, const QString& password) override;
    void disassociate() override;
    [[nodiscard]] std::optional<Error> setPower(bool on) override;

    // How long a join may take before it is given up (and NetworkManager's activation cancelled).
    void setActivationTimeout(std::chrono::milliseconds timeout) { m_activationTimeout = timeout; }

private Q_SLOTS:
    void wirelessPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void deviceStateChanged(uint newState, uint oldState, uint reason);

private:
    explicit NetworkManagerWiFi(const QDBusConnection& bus);
    void adoptDevice(const QString& devicePath, const QString& interfaceName);
    QString devicePath() const;

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) const;
    QVariant dbusProperty(const QString& path, const QString& interface, const QString& name) const;

    QDBusConnection m_bus;
    mutable std::mutex m_deviceMutex;
    QString m_devicePath;
    QString m_interfaceName;
    // Joining a network includes the DHCP exchange; cameras answer slowly.
    std::chrono::milliseconds m_activationTimeout{45000};
};

} // namespace vornakel
