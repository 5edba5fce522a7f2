#include "platform/wifi/SimulatedWiFi.h"

#include "platform/camera/SimulatedNetworkState.h"
#include "platform/camera/VKLCamera.h"

#include <QMetaObject>

namespace vornakel {

namespace {

// The interface whose gateway the camera layer's lookup answers with; the newest one wins.
std::mutex g_resolverOwnerMutex;
const void* g_resolverOwner = nullptr;

std::optional<QString> gatewayOf(const std::optional<SimulatedNetwork>& network)
{
    if (!network)
        return std::nullopt;
    return network->cameraAddress ? network->cameraAddress : network->routerAddress;
}
} // namespace

SimulatedWiFi::SimulatedWiFi(QString interfaceName, QObject* parent)
    : WiFiInterface(parent), m_interfaceName(std::move(interfaceName)), m_state(std::make_shared<State>())
{
    std::weak_ptr<State> weakState = m_state;
    const QString name = m_interfaceName;
    std::lock_guard lock(g_resolverOwnerMutex);
    g_resolverOwner = this;
    VKLNetworkConfigurationHelper::setGatewayResolver([weakState, name](const QString& interface) -> std::optional<QString> {
        const auto state = weakState.lock();
        if (!state || interface != name)
            return std::nullopt;
        std::lock_guard lock(state->mutex);
        return gatewayOf(state->current);
    }, name);
}

SimulatedWiFi::~SimulatedWiFi()
{
    std::lock_guard lock(g_resolverOwnerMutex);
    if (g_resolverOwner != this)
        return;
    g_resolverOwner = nullptr;
    VKLNetworkConfigurationHelper::setGatewayResolver({});
}

void SimulatedWiFi::addNetwork(SimulatedNetwork network)
{
    std::lock_guard lock(m_state->mutex);
    std::erase_if(m_state->networks, [&](const SimulatedNetwork& n) { return n.ssid == network.ssid; });
    m_state->networks.push_back(std::move(network));
}

void SimulatedWiFi::addSimulatedCameraNetworks(const std::vector<SimulatedCameraNetwork>& networks)
{
    for (const SimulatedCameraNetwork& network : networks) {
        if (!network.ssid.isEmpty())
            addNetwork({network.ssid, network.password, network.cameraAddress, std::nullopt});
    }
}

void SimulatedWiFi::removeNetwork(const QString& ssid)
{
    std::lock_guard lock(m_state->mutex);
    std::erase_if(m_state->networks, [&](const SimulatedNetwork& n) { return n.ssid == ssid; });
}

void SimulatedWiFi::setCurrentNetwork(const std::optional<QString>& ssid)
{
    {
        std::lock_guard lock(m_state->mutex);
        if (!ssid) {
            m_state->current.reset();
        } else {
            auto found = std::find_if(m_state->networks.begin(), m_state->networks.end(),
                                      [&](const SimulatedNetwork& n) { return n.ssid == *ssid; });
            m_state->current = found != m_state->networks.end() ? *found : SimulatedNetwork{*ssid, {}, {}, {}};
        }
    }
    announce(true);
}

std::vector<bool> SimulatedWiFi::powerRequests() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->powerRequests;
}

std::optional<QString> SimulatedWiFi::ssid() const
{
    std::lock_guard lock(m_state->mutex);
    if (!m_state->current)
        return std::nullopt;
    return m_state->current->ssid;
}

std::optional<QString> SimulatedWiFi::gatewayAddress() const
{
    std::lock_guard lock(m_state->mutex);
    return gatewayOf(m_state->current);
}

bool SimulatedWiFi::powerOn() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->powerOn;
}

WiFiScanResult SimulatedWiFi::scanForNetworks(const QString& name)
{
    ++m_scanCount;
    if (m_scanFails)
        return {{}, Error(wifiErrorDomain(), WiFiErrorScanFailed, QStringLiteral("The scan failed."))};
    std::lock_guard lock(m_state->mutex);
    if (!m_state->powerOn)
        return {{}, Error(wifiErrorDomain(), WiFiErrorScanFailed, QStringLiteral("Wi-Fi is off."))};
    WiFiScanResult result;
    for (const SimulatedNetwork& network : m_state->networks) {
        if (name.isEmpty() || network.ssid == name)
            result.networks.push_back({network.ssid, network.ssid, 80});
    }
    return result;
}

std::optional<Error> SimulatedWiFi::associate(const WiFiNetwork& network, const QString& password)
{
    ++m_associateCount;
    {
        std::lock_guard lock(m_state->mutex);
        auto found = std::find_if(m_state->networks.begin(), m_state->networks.end(),
                                  [&](const SimulatedNetwork& n) { return n.ssid == network.handle; });
        if (!m_state->powerOn || found == m_state->networks.end())
            return Error(wifiErrorDomain(), WiFiErrorNetworkNotFound, QStringLiteral("The network is not in range."));
        if (found->password != password)
            return Error(wifiErrorDomain(), WiFiErrorAssociationFailed, QStringLiteral("The password was refused."));
        m_state->current = *found;
    }
    announce(true);
    return std::nullopt;
}

void SimulatedWiFi::disassociate()
{
    ++m_disassociateCount;
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->current)
            return;
        m_state->current.reset();
    }
    announce(true);
}

std::optional<Error> SimulatedWiFi::setPower(bool on)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->powerRequests.push_back(on);
        if (m_powerChangeFails)
            return Error(wifiErrorDomain(), WiFiErrorPowerChangeFailed, QStringLiteral("The power change failed."));
        if (m_state->powerOn == on)
            return std::nullopt;
        m_state->powerOn = on;
        if (!on)
            m_state->current.reset();
    }
    announce(!on);
    return std::nullopt;
}

void SimulatedWiFi::announce(bool ssidChanged)
{
    // Queued to this object's (the main) thread, and dropped if the interface is gone by then.
    QMetaObject::invokeMethod(this, [this, ssidChanged] {
        SimulatedNetworkState::shared().setCurrentSsid(ssid());
        if (ssidChanged)
            emit this->ssidChanged(m_interfaceName);
        emit linkChanged(m_interfaceName);
    }, Qt::QueuedConnection);
}

} // namespace vornakel
