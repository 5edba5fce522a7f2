#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vornakel {

class UserDefaults;
class WiFiInterface;

// The Wi-Fi watcher helper's rule: when the computer joins a network named in the application's
// "WatchedSSIDs" and "AutoLaunchWhenWatchedNetworksJoined" is on, start the application, once per join.
// The defaults are only read (re-read on every network change), never written.
class WatchedNetworkLauncher : public QObject {
    Q_OBJECT
public:
    // Starts the application; false when it could not be started.
    using Launch = std::function<bool()>;

    WatchedNetworkLauncher(UserDefaults& appDefaults, std::shared_ptr<WiFiInterface> wifi, Launch launch,
                           QObject* parent = nullptr);

    // Begins watching. The network the computer is on at this moment counts as already seen: the application
    // that started the helper is running.
    void start();
    // Looks at the current network now (also called on every change event).
    void networkMayHaveChanged();

    int launchCount() const { return m_launchCount; }

private:
    bool shouldLaunchFor(const QString& ssid) const;

    UserDefaults& m_defaults;
    std::shared_ptr<WiFiInterface> m_wifi;
    Launch m_launch;
    std::optional<QString> m_lastSSID;
    bool m_interfaceKnown = false;
    int m_launchCount = 0;
};

} // namespace vornakel
