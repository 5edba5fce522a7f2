#pragma once

#include "platform/camera/SimulatedNetworkState.h"
#include "platform/wifi/WiFiInterface.h"

#include <atomic>
#include <mutex>

namespace vornakel {

// A network the simulated interface can see.
struct SimulatedNetwork {
    QString ssid;
    QString password;
    // The camera's address when the network is a camera's own access point; it is then the gateway.
    std::optional<QString> cameraAddress;
    // The router's address on any other network.
    std::optional<QString> routerAddress;
};

// A Wi-Fi interface in memory for tests and computers without NetworkManager. Joining and leaving update the
// simulated cameras' view of the network (SimulatedNetworkState), and while it lives the camera layer's
// gateway lookup answers for this interface with the joined network's gateway.
class SimulatedWiFi : public WiFiInterface {
    Q_OBJECT
public:
    explicit SimulatedWiFi(QString interfaceName = QStringLiteral("wlan0"), QObject* parent = nullptr);
    ~SimulatedWiFi() override;

    void addNetwork(SimulatedNetwork network);
    // Adds the simulated cameras' own networks with each camera as its gateway, so that a camera's QR code
    // can be joined here.
    void addSimulatedCameraNetworks(const std::vector<SimulatedCameraNetwork>& networks);
    // The network goes out of range (the interface stays on it if joined, as a real one would until it drops).
    void removeNetwork(const QString& ssid);
    // The interface moves to a network without a join request (the user picks another network).
    void setCurrentNetwork(const std::optional<QString>& ssid);
    // Makes the next scans fail with an error.
    void setScanFails(bool fails) { m_scanFails = fails; }
    void setPowerChangeFails(bool fails) { m_powerChangeFails = fails; }

    int scanCount() const { return m_scanCount; }
    int associateCount() const { return m_associateCount; }
    int disassociateCount() const { return m_disassociateCount; }
    // Every power request in order (true on, false off), also failed ones.
    std::vector<bool> powerRequests() const;

    QString interfaceName() const override { return m_interfaceName; }
    std::optional<QString> ssid() const override;
    std::optional<QString> gatewayAddress() const override;
    bool powerOn() const override;

    WiFiScanResult scanForNetworks(const QString& name) override;
    [[nodiscard]] std::optional<Error> associate(const WiFiNetwork& network, const QString& password) override;
    void disassociate() override;
    [[nodiscard]] std::optional<Error> setPower(bool on) override;

private:
    struct State {
        mutable std::mutex mutex;
        std::vector<SimulatedNetwork> networks;
        std::optional<SimulatedNetwork> current;
        bool powerOn = true;
        std::vector<bool> powerRequests;
    };

    // Tells the simulated cameras and the listeners, on the main thread.
    void announce(bool ssidChanged);

    QString m_interfaceName;
    std::shared_ptr<State> m_state;
    std::atomic<bool> m_scanFails = false;
    std::atomic<bool> m_powerChangeFails = false;
    std::atomic<int> m_scanCount = 0;
    std::atomic<int> m_associateCount = 0;
    std::atomic<int> m_disassociateCount = 0;
};

} // namespace vornakel
