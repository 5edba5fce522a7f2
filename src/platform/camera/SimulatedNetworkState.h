#pragma once

#include <QObject>
#include <QString>

#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// The network of a simulated camera that has its own access point.
struct SimulatedCameraNetwork {
    QString ssid;
    QString password;
    QString cameraAddress;

    bool operator==(const SimulatedCameraNetwork&) const = default;
};

// The one seam between the simulated Wi-Fi and the simulated cameras, so that neither links the other.
// The Wi-Fi network the computer is on, as far as the simulated cameras are concerned: the simulated Wi-Fi
// backend sets it when it joins or leaves a network; the simulated discovery reports a camera that lives on
// a network (its "ssid" option) only while this names that network. The other way, the composition point
// publishes the simulated cameras' own networks here, which the simulated Wi-Fi then offers.
class SimulatedNetworkState : public QObject {
    Q_OBJECT
public:
    static SimulatedNetworkState& shared();

    // Readable from any thread.
    std::optional<QString> currentSsid() const;
    // Call on the main thread; `currentSsidChanged` follows there when the value changes.
    void setCurrentSsid(std::optional<QString> ssid);

    // Readable from any thread.
    std::vector<SimulatedCameraNetwork> cameraNetworks() const;
    void setCameraNetworks(std::vector<SimulatedCameraNetwork> networks);

signals:
    void currentSsidChanged();

private:
    SimulatedNetworkState() = default;

    mutable std::mutex m_mutex;
    std::optional<QString> m_ssid;
    std::vector<SimulatedCameraNetwork> m_cameraNetworks;
};

} // namespace vornakel
