#pragma once

#include <functional>
#include <memory>

namespace vornakel {

class VKLCamera;

// The calls the application shell makes on the shared Wi-Fi policy object (WiFiNetworkAutoLaunching).
class WiFiNetworkPolicy {
public:
    virtual ~WiFiNetworkPolicy() = default;

    // Creates the shared Wi-Fi watcher (first use of the shared object).
    virtual void createSharedWatcher() = 0;
    // Brings the login-item helper in line with "AutoLaunchWhenWatchedNetworksJoined".
    virtual void enforceAutoLaunchSetting() = 0;
    // Quits the login-item helper before an update replaces it.
    virtual void quitHelperIfRunning() = 0;
    // True when the computer's Wi-Fi gateway is this camera.
    virtual bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>& camera) const = 0;
    // Leaves the current Wi-Fi network off the GUI thread; `completion` follows on the main queue once done.
    virtual void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) = 0;
};

} // namespace vornakel
