#pragma once

// What the network backends' cameras share behind the camera library's interface (VKLCamera.h): the connection
// state and its signal, the connect completions waiting on an attempt, the command categories of a camera in
// storage mode, its storages, its property proxies, and the name and address it is known by ("scheme:host:port").
// A backend makes and polls its connection; it says here when an attempt ends (`finishConnecting`) and when a
// connection is lost (`connectionLost`), and closes its own session when asked (`closeSession`).
//
// connect: a connected camera answers a further connect at once; one that is connecting answers it with the
//   attempt under way. An attempt that fails leaves the camera not connected with no storages; one that succeeds
//   leaves it connected in storage mode.
// lost: connection state 0 at once, no storages, battery level and power source unknown.
// disconnect: ends an attempt under way with 1004, else closes the connection as the backend does.
//
// Threads: everything here is touched on the main thread, where the backends' connections live; calls from
// elsewhere hop there first.

#include "platform/camera/VKLCamera.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace vornakel {

class NetworkCamera : public VKLCamera {
    Q_OBJECT
public:
    ~NetworkCamera() override;

    // Storage access only, unless the backend says more.
    bool supportsCommandCategories(uint32_t categories) const override;
    bool currentCommandCategoriesContainsCategory(uint32_t category) const override;
    void setCurrentCommandCategories(uint32_t categories, ErrorCallback callback) override;
    void disconnect(ErrorCallback callback, QueuePtr callbackQueue) override;
    unsigned connectionState() const override;
    std::optional<QString> friendlyIdentifier() const override;
    std::optional<QString> friendlyDisplayName() const override;
    VKLCameraService service() const override;
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override;
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned propertyIdentifier) override;

protected:
    // How a session ends: an attempt that failed, a connection lost, or one closed by a disconnect.
    enum class SessionEnd { AttemptFailed, Lost, Closed };

    // Known as "identifierScheme:host:port" and, until the backend learns better, as `displayName`.
    NetworkCamera(QString identifierScheme, QString host, quint16 port, QString displayName);

    const QString& host() const { return m_host; }
    VKLConnectionState state() const { return m_state; }
    void setState(VKLConnectionState state);
    const QString& displayName() const { return m_displayName; }
    void setDisplayName(const QString& name) { m_displayName = name; }
    void setCurrentCategories(uint32_t categories) { m_currentCategories = categories; }
    std::vector<std::shared_ptr<VKLFileStorage>>& storages() { return m_storages; }
    VKLPropertyProxies& properties() { return m_properties; }

    // While connected, `poll` runs every `interval`; it stops whenever the camera leaves the connected state.
    // Called once, from the backend's constructor.
    void pollWhileConnected(std::chrono::milliseconds interval, std::function<void()> poll);

    // Takes a connect call's completion (main thread). True when a new attempt is to be made now: the state is
    // then Connecting.
    [[nodiscard]] bool beginConnecting(ConnectCompletion completion);
    // Ends the attempt under way and answers every waiting connect completion with `error`.
    virtual void finishConnecting(std::optional<Error> error);
    // Ends a connection as lost (an attempt under way fails with 1002); nothing when not connected.
    void connectionLost();

    // The backend's session ends: new requests fail at once, and those in flight as the backend does for `how`.
    virtual void closeSession(SessionEnd how) = 0;
    // A backend's steps once the camera left the connection (by either side); none by default.
    virtual void connectionEnded() {}
    // `disconnect` on the main thread while the camera exists; `done` answers the caller. By default: an attempt
    // under way fails with 1004, a connection closes.
    virtual void disconnectOnMain(std::function<void()> done);

private:
    void endConnection(SessionEnd how);

    QString m_identifierScheme;
    QString m_host;
    quint16 m_port = 0;
    QString m_displayName;
    VKLConnectionState m_state = VKLConnectionState::NotConnected;
    std::vector<ConnectCompletion> m_connectCompletions;
    uint32_t m_currentCategories = 0;
    std::vector<std::shared_ptr<VKLFileStorage>> m_storages;
    VKLPropertyProxies m_properties;
    QTimer* m_pollTimer = nullptr;
    std::chrono::milliseconds m_pollInterval{0};
};

} // namespace vornakel
