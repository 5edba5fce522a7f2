#pragma once

#include "platform/wifi/WiFiInterface.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <memory>

namespace vornakel {

// The Wi-Fi interface of NetworkManager's first wireless device, over the system D-Bus.
class NetworkManagerWiFi : public WiFiInterface {
    Q_OBJECT
public:
    // None when NetworkManager does not answer on the bus (the system bus unless given) or has no wireless
    // device.
    static std::unique_ptr<NetworkManagerWiFi> create();
    static std::unique_ptr<NetworkManagerWiFi> create(const QDBusConnection& bus);
    ~NetworkManagerWiFi() override;

    QString interfaceName() const override { return m_interfaceName; }
    std::optional<QString> ssid() const override;
    std::optional<QString> gatewayAddress() const override;
    bool powerOn() const override;

    WiFiScanResult scanForNetworks(const QString& name) override;
    [[nodiscard]] std::optional<Error> associate(const WiFiNetwork& network, const QString& password) override;
    void disassociate() override;
    [[nodiscard]] std::optional<Error> setPower(bool on) override;

private Q_SLOTS:
    void wirelessPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void deviceStateChanged(uint newState, uint oldState, uint reason);

private:
    NetworkManagerWiFi(const QDBusConnection& bus, QString devicePath, QString interfaceName);

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) const;
    QVariant dbusProperty(const QString& path, const QString& interface, const QString& name) const;

    QDBusConnection m_bus;
    QString m_devicePath;
    QString m_interfaceName;
};

} // namespace vornakel
