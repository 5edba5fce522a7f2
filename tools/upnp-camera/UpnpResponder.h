#pragma once

// A camera whose Wi-Fi mode serves its card as a UPnP media server (Sony's "send to smartphone"), on a TCP port
// of 127.0.0.1: the device description, ContentDirectory Browse with paging, and for each picture its original,
// a thumbnail (DLNA profile JPEG_TN) and a large preview (JPEG_SM) as resources. It serves a camera folder (or an
// in-memory listing) with the simulated link's faults. Main thread only.
//
// A maker whose camera wraps the media server in more (Panasonic's cam.cgi access request and state) adds its
// HTTP handlers with `addHandler` and closes the media server until its access request is granted with
// `setAccessGate`.

#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/upnp/UpnpXml.h"
#include "testcamera-http/TestCameraHttpServer.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QUdpSocket;

namespace vornakel::simulated {
class CameraContent;
class ContentReader;
struct Entry;
} // namespace vornakel::simulated

namespace vornakel::tools {

struct UpnpResponderOptions {
    int latencyMs = 0;                   // added before every reply
    qint64 throughputBytesPerSecond = 0; // originals, thumbnails and previews; 0: as fast as the socket takes them
    quint32 maxPageSize = 0;             // a Browse answers at most this many entries; 0: as many as asked
    qint64 streamErrorAfterBytes = -1;   // an original's connection is reset after this many bytes
    qint64 streamStallAfterBytes = -1;   // … or sends nothing more for `streamStallMs` (0: for ever)
    int streamStallMs = 0;
    qint64 streamShortByBytes = 0;       // an original ends this many bytes early, its Content-Length unchanged
    qint64 listedSizeDelta = 0;          // the listing states every file's size off by this much
    QStringList streamFaultFiles{};      // the stream faults apply to these names; empty: all
    bool honoursRange = true;            // an original's "Range: bytes=A-B" is answered 206 with those bytes only
    bool endlessBrowse = false;          // a Browse reply never ends (markup without a close, for ever)
    QString descriptionPath = QStringLiteral("/DmsDescPush.xml");
    QString friendlyName = QStringLiteral("UPnP Test Camera");
    QString manufacturer = QStringLiteral("Sony Corporation");
    QString modelName = QStringLiteral("VK-S1");
    bool log = false;                    // one line per request on the diagnostics category

    // The options of a camera folder's "camera.ini", read as the simulated camera reads them.
    static UpnpResponderOptions fromCameraOptions(const SimulatedCameraOptions& camera);
};

class UpnpResponder : public QObject {
    Q_OBJECT
public:
    UpnpResponder(const QString& folderPath, UpnpResponderOptions options, QObject* parent = nullptr);
    UpnpResponder(SimulatedCameraContent content, UpnpResponderOptions options, QObject* parent = nullptr);
    ~UpnpResponder() override;

    // Port 0 takes a free port; false when the address cannot be bound.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return m_http.port(); }
    // Answers SSDP searches (M-SEARCH for ssdp:all, upnp:rootdevice or a media server) sent to this UDP port of
    // the address, with the description's URL; port 0 takes a free port. False when it cannot be bound.
    bool answerSearches(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 searchPort() const;
    QString descriptionUrl() const;
    UpnpResponderOptions& options() { return m_options; }

    struct ServedFile {
        QString relativePath;
        uint64_t size = 0;
    };
    std::vector<ServedFile> files() const;

    // Seams for a maker's variant. A handler answers a request before the media server does (none: not
    // its request). While the gate answers false, the media server's own paths answer 403.
    using Handler = std::function<std::optional<HttpReply>(const HttpRequest&)>;
    void addHandler(Handler handler) { m_handlers.push_back(std::move(handler)); }
    using AccessGate = std::function<bool(const HttpRequest&)>;
    void setAccessGate(AccessGate gate) { m_gate = std::move(gate); }

    // Test controls.
    // Answers a Browse with this SOAP body instead of the listing, when the function gives one.
    using BrowseOverride = std::function<std::optional<QByteArray>(const upnp::BrowseRequest&)>;
    void setBrowseOverride(BrowseOverride override) { m_browseOverride = std::move(override); }
    // As if the camera went out of range: every connection is reset and new ones are refused.
    void dropConnections();
    // A frozen camera keeps its connections but answers nothing.
    void setFrozen(bool frozen) { m_frozen = frozen; }
    int requestCount() const { return m_requestCount; }
    int browseCount() const { return m_browseCount; }
    qint64 bodyBytesSent() const { return m_bodyBytesSent; }

signals:
    void requestLogged(const QString& line);

private:
    struct Object;
    struct Connection;

    void build();
    void answerSearch();
    void handle(Connection* connection, const HttpRequest& request);
    std::optional<HttpReply> mediaServerReply(Connection* connection, const HttpRequest& request);
    HttpReply descriptionReply() const;
    HttpReply browseReply(const HttpRequest& request);
    QString listing(const Object& folder, quint32 start, quint32 count, quint32* returned) const;
    bool startResource(Connection* connection, const HttpRequest& request);
    void send(Connection* connection, const HttpReply& reply);
    void pump(Connection* connection);
    void finishRequest(Connection* connection);
    void log(const QString& line);
    const Object* objectOf(const QString& id) const;
    QString baseUrl() const;

    std::shared_ptr<simulated::CameraContent> m_content;
    UpnpResponderOptions m_options;
    TestCameraHttpServer m_http;
    QUdpSocket* m_search = nullptr;
    std::vector<Object> m_objects; // id = index; 0 is the root
    std::vector<Handler> m_handlers;
    AccessGate m_gate;
    BrowseOverride m_browseOverride;
    bool m_frozen = false;
    int m_requestCount = 0;
    int m_browseCount = 0;
    qint64 m_bodyBytesSent = 0;
};

} // namespace vornakel::tools
