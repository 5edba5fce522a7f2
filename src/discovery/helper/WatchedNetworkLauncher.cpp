#include "discovery/helper/WatchedNetworkLauncher.h"

#include "discovery/WiFiNetworkAutoLaunching.h"
#include "platform/core/UserDefaults.h"
#include "platform/wifi/WiFiInterface.h"
#include <QLoggingCategory>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcWifi, "vornakel.wifi")
} // namespace

WatchedNetworkLauncher::WatchedNetworkLauncher(UserDefaults& appDefaults, std::shared_ptr<WiFiInterface> wifi,
                                               Launch launch, QObject* parent)
    : QObject(parent), m_defaults(appDefaults), m_wifi(std::move(wifi)), m_launch(std::move(launch))
{
    // The application registers the setting as on; until the user changes it, the file holds no value.
    m_defaults.registerDefaults({{WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, true}});
}

void WatchedNetworkLauncher::start()
{
    if (!m_wifi)
        return;
    m_interfaceKnown = !m_wifi->interfaceName().isEmpty();
    m_lastSSID = m_wifi->ssid();
    connect(m_wifi.get(), &WiFiInterface::ssidChanged, this, &WatchedNetworkLauncher::networkMayHaveChanged);
    connect(m_wifi.get(), &WiFiInterface::linkChanged, this, &WatchedNetworkLauncher::networkMayHaveChanged);
}

void WatchedNetworkLauncher::networkMayHaveChanged()
{
    // An interface whose device is looked up in the background names its network only once it is known: that is
    // the network the helper starts on, not one joined since.
    if (!m_interfaceKnown) {
        if (m_wifi->interfaceName().isEmpty())
            return;
        m_interfaceKnown = true;
        m_lastSSID = m_wifi->ssid();
        return;
    }
    const auto ssid = m_wifi->ssid();
    if (ssid == m_lastSSID)
        return;
    m_lastSSID = ssid;
    if (!ssid || !shouldLaunchFor(*ssid))
        return;
    if (m_launch && m_launch())
        ++m_launchCount;
    else
        qCWarning(lcWifi, "Could not start the application for the network %s.", qPrintable(*ssid));
}

bool WatchedNetworkLauncher::shouldLaunchFor(const QString& ssid) const
{
    // The application writes its defaults from another process.
    m_defaults.reload();
    if (!m_defaults.boolForKey(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey))
        return false;
    const QVariant value = m_defaults.object(WiFiNetworkAutoLaunching::watchedSSIDsUserDefaultsKey);
    const QString canonical = ssid.normalized(QString::NormalizationForm_C);
    for (const QVariant& name : value.toList()) {
        if (name.typeId() == QMetaType::QString && name.toString().normalized(QString::NormalizationForm_C) == canonical)
            return true;
    }
    return false;
}

} // namespace vornakel
