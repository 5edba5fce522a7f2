#include "platform/camera/SimulatedNetworkState.h"

namespace vornakel {

SimulatedNetworkState& SimulatedNetworkState::shared()
{
    // Never destroyed: cameras and the Wi-Fi backend may still ask during application shutdown.
    static SimulatedNetworkState* state = new SimulatedNetworkState;
    return *state;
}

std::optional<QString> SimulatedNetworkState::currentSsid() const
{
    std::lock_guard lock(m_mutex);
    return m_ssid;
}

void SimulatedNetworkState::setCurrentSsid(std::optional<QString> ssid)
{
    if (ssid && ssid->isEmpty())
        ssid.reset();
    {
        std::lock_guard lock(m_mutex);
        if (m_ssid == ssid)
            return;
        m_ssid = std::move(ssid);
    }
    emit currentSsidChanged();
}

std::vector<SimulatedCameraNetwork> SimulatedNetworkState::cameraNetworks() const
{
    std::lock_guard lock(m_mutex);
    return m_cameraNetworks;
}

void SimulatedNetworkState::setCameraNetworks(std::vector<SimulatedCameraNetwork> networks)
{
    std::lock_guard lock(m_mutex);
    m_cameraNetworks = std::move(networks);
}

} // namespace vornakel
