#pragma once

// A LUMIX camera in its image-app mode, on its own access point (192.168.54.1, the gateway) or the user's
// network, behind the camera library's interface (VKLCamera.h). The camera has two doors: its control page
// (cam.cgi, port 80) for access, mode and state, and its UPnP media server (port 60606) for the card.
//
// connect: the access steps of PanasonicAccess.h (the access request with the camera's own prompt to its user,
//   shown here as the pairing prompt; a refusal is 1010, a camera held by another device 1012; playback mode;
//   the first state), then the media server as every media-server camera opens it (MediaServerCamera.h): the
//   walk, thumbnails, previews and files through its ContentDirectory.
// battery: from the state reply, read again on every poll.
// connection lost: the state is what is polled while connected (the camera takes it as a sign of life too); a
//   poll that fails is connection state 0 at once, and every pending request fails with 1002.
//
// Threads: as MediaServerCamera: everything on the main thread, callbacks on the queues the interface names.

#include "platform/camera/panasonic/PanasonicAccess.h"
#include "platform/camera/upnp/MediaServerCamera.h"
#include "platform/camera/upnp/MediaServerCameraDiscovery.h"

#include <QPointer>
#include <QStringList>

namespace vornakel {

struct PanasonicCameraOptions {
    MediaServerCameraOptions mediaServer; // its description URL names the camera's host
    quint16 camCgiPort = 80;
    QString guid = {}; // empty: the one kept in the user defaults
    PanasonicAccessTimings access;
};

class PanasonicCamera final : public MediaServerCamera {
    Q_OBJECT
public:
    static constexpr quint16 kMediaServerPort = 60606;
    // Where LUMIX bodies keep the media server's description: older bodies, then newer ones.
    static QStringList descriptionPaths() { return {QStringLiteral("/Server0/ddd"), QStringLiteral("/Lumix/Server0/ddd")}; }
    static bool isPanasonicMediaServer(const upnp::DeviceDescription& description);
    // The options for a camera whose media server describes itself at `descriptionUrl`. The control page is on
    // port 80 when the media server is on the maker's port, and beside the media server otherwise (as the test
    // camera under tools/ serves both).
    static PanasonicCameraOptions optionsFor(const QUrl& descriptionUrl, std::optional<upnp::DeviceDescription> description = {});

    static std::shared_ptr<PanasonicCamera> create(PanasonicCameraOptions options);
    ~PanasonicCamera() override;

    const PanasonicCameraOptions& panasonicOptions() const { return m_panasonic; }

protected:
    void prepareConnection(const QString& clientName, const InterventionCallback& intervention,
                           std::function<void(std::optional<Error>)> done) override;
    void poll(std::function<void(bool alive)> done) override;
    void connectionEnded() override;

private:
    explicit PanasonicCamera(PanasonicCameraOptions options);

    PanasonicCameraOptions m_panasonic;
    QPointer<PanasonicAccess> m_access;
};

// Finds LUMIX cameras (MediaServerCameraDiscovery.h): the addresses the user lists as "panasonic://host[:port]"
// (the port is the media server's), each Wi-Fi gateway on the maker's media-server port, and the media servers
// that answer an SSDP search; an address counts while its media server describes itself as Panasonic's.
class PanasonicCameraDiscovery : public MediaServerCameraDiscovery {
    Q_OBJECT
public:
    static QString backendName() { return QStringLiteral("panasonic"); }

    explicit PanasonicCameraDiscovery(QObject* parent = nullptr);
};

} // namespace vornakel
