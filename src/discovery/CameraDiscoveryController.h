#pragma once

#include "discovery/CameraDiscoveryView.h"
#include "model/CameraFileScanning.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace vornakel {

class CameraPhotoLoad;

// The road from a camera found on the network to its first photos: connects to the first camera reported,
// shows the pairing prompt while the camera asks its user, requires storage access, walks the storage and
// loads the metadata in chunks. Every failure ends on the connection error pane with the camera disconnected;
// the first photos hand the camera and its running load over (`photosArrived`), after which this controller
// reacts to nothing any more. Main thread only.
//
// A camera that failed, or that the discovery screen was opened to disconnect from, is not connected to
// again on its own: only on the user's word (`connectOnUsersWord`) or once it has left the list of cameras
// and come back.
class CameraDiscoveryController : public QObject {
    Q_OBJECT
public:
    using Cameras = std::vector<std::shared_ptr<VKLCamera>>;
    // Remembers the camera's Wi-Fi network when the camera is the gateway.
    using NoteConnected = std::function<void(const std::shared_ptr<VKLCamera>&)>;

    static QString clientName() { return QStringLiteral("Vornakel"); }

    // Registers with `discovery` for camera lists; the registration does nothing once this controller is gone.
    explicit CameraDiscoveryController(VKLCameraDiscovery& discovery, NoteConnected noteConnected = {},
                                       QObject* parent = nullptr);
    ~CameraDiscoveryController() override;

    const CameraDiscoveryView& currentView() const { return m_currentView; }
    // Shows the value's pane; also when it is the value already shown (the pane is configured again).
    void setCurrentView(CameraDiscoveryView view);

    // A new list of the cameras on the network.
    void camerasChanged(const Cameras& cameras);
    // A camera network was joined from a QR code: the manual search takes over, without its QR button. Ignored
    // while a connection is being made or its error is shown.
    void noteCameraNetworkJoined();

    // The camera the user may connect to by hand: one that is held back after a failure or a disconnection
    // and is on the network now.
    std::shared_ptr<VKLCamera> cameraAwaitingUsersWord() const;
    // Connects to that camera (the error pane's Try Again, the manual pane's Connect).
    void connectOnUsersWord();

    // The user gives up on the connection under way: the camera is let go and held back, and the manual search
    // comes back. A connection has no other bound here than the library's own.
    void cancelConnection();

    // How long a failed camera may take to disconnect before the error shows anyway.
    void setDisconnectWait(std::chrono::milliseconds wait) { m_disconnectWait = wait; }

    bool isConnecting() const { return m_busy; }
    // True once the photos were handed over; the controller is done then.
    bool hasHandedOver() const { return m_handedOver; }

signals:
    void currentViewChanged();
    // The first photos of a connected camera arrived; the receiver takes over the load (and with it the camera).
    void photosArrived(std::shared_ptr<vornakel::CameraPhotoLoad> load);
    // `cameraAwaitingUsersWord` may have changed.
    void awaitingCameraChanged();

private:
    void connectTo(const std::shared_ptr<VKLCamera>& camera);
    void connectionResult(const std::shared_ptr<VKLCamera>& camera, const std::optional<Error>& error);
    void cameraConnected(const std::shared_ptr<VKLCamera>& camera);
    void handleLoadedPhotos();
    void handleLoadCompleted();
    void fail(FailureReason reason);
    void holdBack(const std::shared_ptr<VKLCamera>& camera);
    bool isHeldBack(const std::shared_ptr<VKLCamera>& camera) const;
    bool isCurrentAttempt(uint64_t attempt) const { return attempt == m_attempt && !m_handedOver; }

    NoteConnected m_noteConnected;
    CameraDiscoveryView m_currentView;
    bool m_busy = false;
    // A failed attempt's camera is being released before its error shows.
    bool m_lettingGo = false;
    bool m_handedOver = false;
    uint64_t m_attempt = 0;
    std::shared_ptr<VKLCamera> m_camera;
    std::shared_ptr<CameraPhotoLoad> m_load;
    std::vector<std::weak_ptr<VKLCamera>> m_lastCameras;
    std::weak_ptr<VKLCamera> m_heldBackCamera;
    bool m_heldBackCameraLeft = false;
    std::chrono::milliseconds m_disconnectWait{5000};
    uint64_t m_errorShownForAttempt = 0;
};

} // namespace vornakel
