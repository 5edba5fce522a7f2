#pragma once

#include <QObject>
#include <QString>

#include <mutex>
#include <optional>

namespace vornakel {

// The Wi-Fi network the computer is on, as far as the simulated cameras are concerned. The simulated Wi-Fi
// backend sets it when it joins or leaves a network; the simulated discovery reports a camera that lives on
// a network (its "ssid" option) only while this names that network.
class SimulatedNetworkState : public QObject {
    Q_OBJECT
public:
    static SimulatedNetworkState& shared();

    // Readable from any thread.
    std::optional<QString> currentSsid() const;
    // Call on the main thread; `currentSsidChanged` follows there when the value changes.
    void setCurrentSsid(std::optional<QString> ssid);

signals:
    void currentSsidChanged();

private:
    SimulatedNetworkState() = default;

    mutable std::mutex m_mutex;
    std::optional<QString> m_ssid;
};

} // namespace vornakel
