#pragma once

// A camera whose card is served by a UPnP media server (Sony's "send to smartphone", Panasonic's image app
// mode), behind the camera library's interface (VKLCamera.h), on the ContentDirectory client.
//
// connect: the maker's own steps first (`prepareConnection`: Panasonic's access request; none by default), then
//   the device description and its ContentDirectory service. One storage whose root is the object `rootObjectId`.
// items: folders are containers, files are items; the walk is Browse of each container, all pages. A file's
//   name is its title through the one path gate (safePathComponent); its size and date are those of its
//   original resource and its dc:date, all known from the listing. The original is the resource that is not a
//   thumbnail or small preview, the largest where there are several. Thumbnails are the JPEG_TN resource (else
//   the album art, else the smallest JPEG); previews the largest JPEG that is not the original (else the
//   original when it is a JPEG of at most 64 MB).
// streams: a GET of the original, chunks handed on as they arrive, reading paused while the delivery queue is
//   behind; a stop aborts the GET. A GET whose length differs from the listed size, that ends early, or that
//   breaks fails with 1014 while the camera still answers.
// connection lost: the description is polled while connected; a failing poll (or a request that breaks while
//   the next poll started after the break then fails) is connection state 0 at once, and every pending request
//   fails with 1002.
//
// Threads: the network lives on the main thread; calls from elsewhere hop there first. Callbacks come on the
// queues the interface names.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/network/NetworkCamera.h"
#include "platform/camera/upnp/ContentDirectoryClient.h"

#include <QNetworkAccessManager>
#include <QPointer>

#include <chrono>
#include <memory>

class QTimer;

namespace vornakel {

namespace upnp {
struct MediaServerSession;
}

struct MediaServerCameraOptions {
    QUrl descriptionUrl;                            // http://host:port/path
    QString identifierScheme = QStringLiteral("upnp"); // friendlyIdentifier is "scheme:host:port"
    QString displayName;                            // empty: the description's friendly name
    QString rootObjectId = QStringLiteral("0");
    std::optional<upnp::DeviceDescription> description; // known already (from discovery): not read again
    upnp::ContentDirectoryOptions contentDirectory;
    std::chrono::milliseconds descriptionTimeout{5000};
    std::chrono::milliseconds pollInterval{3000};
    std::chrono::milliseconds pollTimeout{5000};
};

class MediaServerCamera : public NetworkCamera {
    Q_OBJECT
public:
    static std::shared_ptr<MediaServerCamera> create(MediaServerCameraOptions options);
    ~MediaServerCamera() override;

    const MediaServerCameraOptions& options() const { return m_options; }
    // The description read when connecting (or given); none before.
    const std::optional<upnp::DeviceDescription>& description() const { return m_options.description; }

    void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                               InterventionCallback userIntervention) override;
    // The name given, else the description's friendly name, else the camera's address.
    std::optional<QString> friendlyDisplayName() const override;

protected:
    explicit MediaServerCamera(MediaServerCameraOptions options);

    // A maker's steps before the media server is used (an access request that may show the camera's own
    // prompt through `intervention`); `done` runs once, on the main thread. None by default.
    virtual void prepareConnection(const QString& clientName, const InterventionCallback& intervention,
                                   std::function<void(std::optional<Error>)> done);
    // Whether the camera is still there; `done` runs once on the main thread. By default a GET of the
    // description within the poll time-out. A maker may poll its own state (and read its battery) instead.
    virtual void poll(std::function<void(bool alive)> done);

    QNetworkAccessManager& network() { return *m_network; }

private:
    friend struct upnp::MediaServerSession;
    // Requests in flight fail with 1002 when the camera was lost, else with 1001.
    void closeSession(SessionEnd how) override;
    void openMediaServer();
    void pollNow();
    // A request broke at the network level: the camera is asked at once whether it is still there.
    void checkAlive(std::function<void(bool alive)> then);
    void startPoll();

    MediaServerCameraOptions m_options;
    QNetworkAccessManager* m_network = nullptr;
    std::shared_ptr<upnp::MediaServerSession> m_session;
    bool m_polling = false;
    std::vector<std::function<void(bool)>> m_pollWaiters;      // answered by the poll under way
    std::vector<std::function<void(bool)>> m_laterPollWaiters; // answered by the one after it
};

} // namespace vornakel
