#pragma once

// An Olympus camera (OM-D, PEN, TG, E-series) on its own access point, spoken to over HTTP, behind the camera
// library's interface (VKLCamera.h).
//
// connect: `get_caminfo.cgi` names the model; `switch_cammode.cgi?mode=play` opens the card. There is no pairing
//   prompt (the Wi-Fi password is the pairing) and no battery level over HTTP, so that proxy stays empty.
// items: the card is /DCIM; each folder is one `get_imglist.cgi?DIR=…` (OlympusImageList.h), which gives name,
//   size and date. Orientation and shooting data come with `loadMetadata` from a bounded read of the file's start
//   (a Range request; a camera that ignores Range is cut off after the bytes wanted) through exiv2. Thumbnails are
//   `get_thumbnail.cgi`, previews `get_resizeimg.cgi` at 1600 pixels, or for a RAW file the camera will not
//   resize, the largest JPEG embedded in its start. A stream is a GET of the file, handed on as it arrives and
//   aborted when the chunk block answers 1; a body shorter or longer than the listed size fails with 1014.
// liveness: while connected, a camera that answered nothing for a poll interval is polled (`get_caminfo.cgi`, ahead
//   of any waiting request); a poll that fails or stays unanswered past its bound, or a request whose connection
//   fails while a check poll fails too, is connection state 0, and every pending request fails with 1002.
// requests: at most two in flight (the cameras serve few connections), the others wait in order.
//
// Threads: the HTTP client lives on the main thread; calls from elsewhere hop there first. Callbacks come on the
// queues the interface names.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/network/NetworkCamera.h"
#include "platform/camera/network/ProbingCameraDiscovery.h"

#include <QPointer>

#include <chrono>
#include <memory>

class QTimer;

namespace vornakel {

namespace olympus {
class HttpClient;
struct Session;
}

struct OlympusCameraOptions {
    QString host;
    quint16 port = 80;
    // While connected the camera is asked this often whether it is there …
    std::chrono::milliseconds pollInterval{2000};
    // … and a poll unanswered for this long means it is gone.
    std::chrono::milliseconds pollTimeout{3000};
};

class OlympusCamera : public NetworkCamera {
    Q_OBJECT
public:
    // The address of an Olympus camera on its own access point.
    static QString accessPointAddress() { return QStringLiteral("192.168.0.10"); }
    // The size asked of `get_resizeimg.cgi` for previews (the cameras offer 1024, 1600, 1920 and 2048).
    static int previewSize() { return 1600; }

    static std::shared_ptr<OlympusCamera> create(OlympusCameraOptions options);
    ~OlympusCamera() override;

    const OlympusCameraOptions& options() const { return m_options; }

    void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                               InterventionCallback userIntervention) override;
    // Play mode again (the camera may have been put back into shooting mode on its own dial).
    void setCurrentCommandCategories(uint32_t categories, ErrorCallback callback) override;

private:
    explicit OlympusCamera(OlympusCameraOptions options);
    void closeSession(SessionEnd how) override;
    void switchToPlay(std::function<void(std::optional<Error>)> done);
    void poll();
    void confirmAlive(std::function<void(bool)> answer);
    void startPoll();

    OlympusCameraOptions m_options;
    std::shared_ptr<olympus::Session> m_session;
    bool m_polling = false;
    std::vector<std::function<void(bool)>> m_pollWaiters;      // answered by the poll under way
    std::vector<std::function<void(bool)>> m_laterPollWaiters; // answered by the one after it
};

// Finds Olympus cameras: the addresses the user lists as "olympus://host[:port]" (CameraAddresses.h), then the
// gateway of each Wi-Fi interface on the maker's port 80 (or VORNAKEL_GATEWAY_PORTS' "olympus="). Each address
// is probed in parallel with a short bound: it is a camera while `get_caminfo.cgi` answers like an Olympus
// camera. One address is one camera. Main thread.
class OlympusCameraDiscovery : public ProbingCameraDiscovery {
    Q_OBJECT
public:
    static QString backendName() { return QStringLiteral("olympus"); }

    explicit OlympusCameraDiscovery(QObject* parent = nullptr);
    ~OlympusCameraDiscovery() override;

private:
    void gatherCandidates() override;
    void probe(const Candidate& candidate, ProbeAnswer answer) override;
};

} // namespace vornakel
