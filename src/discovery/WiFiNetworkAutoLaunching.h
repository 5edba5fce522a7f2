#pragma once

#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vornakel {

class HelperProcess;
class LoginItem;
class UserDefaults;
class VKLCamera;
class WiFiInterface;

// The Wi-Fi policy of the application: remembers the camera networks on which a connected camera was the
// gateway, keeps the Wi-Fi watcher helper (a login item) on or off to match the auto-launch setting, and takes
// the computer off a camera's network. Use on the main thread.
class WiFiNetworkAutoLaunching : public QObject {
    Q_OBJECT
public:
    using InterfaceProvider = std::function<std::shared_ptr<WiFiInterface>()>;
    static inline const QString watchedSSIDsUserDefaultsKey = QStringLiteral("WatchedSSIDs");
    static inline const QString shouldAutoLaunchUserDefaultsKey = QStringLiteral("AutoLaunchWhenWatchedNetworksJoined");
    static inline const QString disconnectFromCameraNetworksOnExitUserDefaultsKey = QStringLiteral("DisconnectFromCameraNetworks");
    // The helper program's identifier and file name (it is built beside the application).
    static QString helperBundleIdentifier();
    static QString helperProgramName() { return QStringLiteral("vornakel-transfer-helper"); }
    // The helper of the running application: beside it in a build folder, else where `cmake --install` put it
    // relative to the application (libexec/vornakel-transfer/ beside bin/).
    static QString defaultHelperProgramPath();
    static QString helperProgramPath(const QString& applicationDirectory);

    // The policy the application's composition point installed. Asking before one is installed is a programming
    // error and ends the program.
    static WiFiNetworkAutoLaunching& shared();
    static void setShared(WiFiNetworkAutoLaunching* policy);
    // The policy as the application runs it: the login item and the helper program at `helperProgramPath`.
    static std::unique_ptr<WiFiNetworkAutoLaunching> create(UserDefaults& userDefaults, InterfaceProvider wifi,
                                                            const QString& helperProgramPath);

    WiFiNetworkAutoLaunching(UserDefaults& userDefaults, InterfaceProvider wifi, std::unique_ptr<LoginItem> loginItem,
                             std::unique_ptr<HelperProcess> helper, QObject* parent = nullptr);
    ~WiFiNetworkAutoLaunching() override;

    UserDefaults& userDefaults() const { return m_userDefaults; }
    // How long after starting the helper it is checked to still run (a helper that gave up is reported).
    void setHelperStartCheckDelay(std::chrono::milliseconds delay) { m_helperStartCheckDelay = delay; }

    bool shouldAutoLaunchWhenWatchedNetworksJoined() const;
    // Stores the setting, then brings the login item and the helper in line with it.
    void setShouldAutoLaunchWhenWatchedNetworksJoined(bool autoLaunch);

    // Enables or disables the login item and starts or quits the helper to match the setting. A failure is
    // written to the console and returned; `isAutoLaunchActive` then tells what really runs.
    [[nodiscard]] std::optional<Error> enforceAutoLaunchSetting();
    // Whether the login item is enabled and the helper runs.
    bool isAutoLaunchActive() const;

    bool helperIsRunning() const;
    [[nodiscard]] std::optional<Error> launchHelperIfNeeded();
    void quitHelperIfRunning();

    // True when the camera's IPv4 address is the gateway of the policy's Wi-Fi interface.
    bool isCurrentWiFiGateway(const VKLCamera& camera) const;

    // The watched network names, in the order first noted.
    QStringList watchedNetworkNames() const;
    // Adds the current Wi-Fi network to the watch list when this camera is its gateway, and remembers it as
    // the camera network to leave on disconnection. The network's name is read off the GUI thread (the system's
    // network service may stall); `done` (may be empty) follows on the main queue once the note is taken.
    void noteConnectedTo(const VKLCamera& camera, std::function<void()> done = {});
    void removeSSIDFromWatchList(const QString& ssid);

    // The camera network noted at the last connection through a camera that was the gateway.
    std::optional<QString> cameraNetworkSSID() const { return m_cameraNetworkSSID; }
    // Leaves the current Wi-Fi network and switches the interface off and on again, but only while the
    // computer is still on the camera's network: after a rejoin of the user's own network nothing happens.
    // These block until the system has answered (up to 20 s a call): use them off the GUI thread.
    void disconnectFromCurrentWiFiNetwork();
    void disconnectFromCurrentWiFiNetwork(const QString& cameraNetworkSSID);
    // The same on a queue of its own; `completion` (may be empty) follows on the main queue once it is done.
    // The calls finish even when this object is gone by then.
    void disconnectFromCurrentWiFiNetworkInBackground(std::function<void()> completion);

signals:
    void watchedNetworkNamesChanged();
    // The login item or the helper was switched; `isAutoLaunchActive` may have changed.
    void autoLaunchStateChanged();

private:
    void storeWatchList(const QStringList& names);

    UserDefaults& m_userDefaults;
    InterfaceProvider m_wifi;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<HelperProcess> m_helper;
    std::optional<QString> m_cameraNetworkSSID;
    // The same, as the policy's queue sees it: written where the name is read, read where the network is left.
    struct NotedNetwork {
        std::mutex mutex;
        std::optional<QString> ssid;
    };
    std::shared_ptr<NotedNetwork> m_notedNetwork = std::make_shared<NotedNetwork>();
    std::chrono::milliseconds m_helperStartCheckDelay{3000};
    QueuePtr m_wifiQueue;
};

} // namespace vornakel
