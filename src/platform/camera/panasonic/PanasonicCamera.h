#pragma once

// A LUMIX camera on its own access point (or the user's network), behind the camera library's interface
// (VKLCamera.h). The camera is reached on two doors: its control page (cam.cgi, port 80) for access, mode and
// state, and its UPnP media server for the card.
//
// connect: the access request with the GUID this computer keeps in the user defaults ("PanasonicClientGUID")
//   and the client name. While the camera asks its user (it answers "under research" and is asked again), the
//   pairing prompt callback gets, after `pairingPromptAfter`, a block that cancels (the connection ends with
//   1010). A refusal is 1010, a camera held by another device 1012. Then playback mode and the first state.
// battery: from the state reply (percentage, else bars), read again on every poll.
// a poll of the state that fails (no answer within the request bound, a reset or refused connection) is
//   connection state 0 at once; every request under way fails with 1002.
//
// Threads: everything lives on the main thread; calls from elsewhere hop there first. Callbacks come on the
// queues the interface names.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/panasonic/PanasonicAccess.h"

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

namespace vornakel {

class PanasonicCamCgiClient;

struct PanasonicCameraOptions {
    QString host = {};
    quint16 camCgiPort = 80;
    QString guid = {}; // empty: the one kept in the user defaults
    PanasonicAccessTimings access;
    // How often the state is read while connected (the camera also takes it as a sign of life).
    std::chrono::milliseconds statePollInterval{3000};
};

class PanasonicCamera : public VKLCamera {
    Q_OBJECT
public:
    static std::shared_ptr<PanasonicCamera> create(PanasonicCameraOptions options);
    ~PanasonicCamera() override;

    const PanasonicCameraOptions& options() const { return m_options; }

    void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                               InterventionCallback userIntervention) override;
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

private:
    explicit PanasonicCamera(PanasonicCameraOptions options);
    void setState(VKLConnectionState state);
    void finishConnecting(std::optional<Error> error);
    void pollState();
    void connectionLost();

    PanasonicCameraOptions m_options;
    VKLConnectionState m_state = VKLConnectionState::NotConnected;
    QPointer<PanasonicAccess> m_access;
    int m_attempt = 0;
    std::vector<ConnectCompletion> m_connectCompletions;
    uint32_t m_currentCategories = 0;
    QString m_displayName;
    std::vector<std::shared_ptr<VKLFileStorage>> m_storages;
    VKLPropertyProxies m_properties;
    QTimer m_pollTimer;
    bool m_pollOut = false;
};

// Finds LUMIX cameras: the addresses the user lists as "panasonic://host[:port]" (CameraAddresses.h), then the
// gateway of each Wi-Fi interface. An address is a camera while its control page answers the state request
// with a camera's reply; the probes run in parallel with a short time-out. Main thread.
class PanasonicCameraDiscovery : public VKLCameraDiscovery {
    Q_OBJECT
public:
    static QString backendName() { return QStringLiteral("panasonic"); }

    explicit PanasonicCameraDiscovery(QObject* parent = nullptr);
    ~PanasonicCameraDiscovery() override;

    void beginSearching() override;
    void stopSearching() override;
    Cameras cameras() const override { return m_reported; }

    void setProbeInterval(std::chrono::milliseconds interval) { m_interval = interval; }

private:
    struct Candidate;
    void probeAll();
    void report();

    std::vector<std::unique_ptr<Candidate>> m_candidates;
    Cameras m_reported;
    bool m_searching = false;
    std::chrono::milliseconds m_interval{3000};
    QTimer* m_timer = nullptr;
};

} // namespace vornakel
