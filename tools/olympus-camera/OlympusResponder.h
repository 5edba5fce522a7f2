#pragma once

// A camera that answers like an Olympus camera on its own access point: it serves a camera folder (or an in-memory
// listing) over HTTP/1.1 with the CGI set the cameras offer (get_caminfo, switch_cammode, get_imglist,
// get_thumbnail, get_resizeimg) and the files themselves under /DCIM, with the simulated link's faults. Connections
// are kept alive; one request is answered at a time per connection. Main thread only.

#include "platform/camera/simulated/SimulatedCamera.h"
#include "testcamera-http/TestCameraHttpServer.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace vornakel::simulated {
class CameraContent;
}

namespace vornakel::tools {

struct OlympusResponderOptions {
    int latencyMs = 0;                   // added before every reply
    qint64 throughputBytesPerSecond = 0; // file bodies; 0: as fast as the socket takes them
    qint64 streamErrorAfterBytes = -1;   // a file's connection closes after this many body bytes
    qint64 streamStallAfterBytes = -1;   // … or sends nothing more for `streamStallMs` (0: for ever)
    int streamStallMs = 0;
    qint64 dropAfterBytes = -1;          // the camera goes out of range once this many file bytes went out
    qint64 shortByBytes = 0;             // file GETs end this many bytes early (with a matching Content-Length)
    qint64 listedSizeDelta = 0;          // the listing gives file sizes off by this much
    QStringList streamFaultFiles;        // the file faults above apply to these names; empty: all
    bool honoursRange = true;            // answers a Range request with 206 and those bytes only
    bool resizesRaw = true;              // get_resizeimg answers for RAW files too
    QString model = QStringLiteral("E-M10MarkII");
    bool log = false;                    // one line per request on the diagnostics category

    // The options of a camera folder's "camera.ini", read as the simulated camera reads them.
    static OlympusResponderOptions fromCameraOptions(const SimulatedCameraOptions& camera);
};

class OlympusResponder : public QObject {
    Q_OBJECT
public:
    OlympusResponder(const QString& folderPath, OlympusResponderOptions options, QObject* parent = nullptr);
    OlympusResponder(SimulatedCameraContent content, OlympusResponderOptions options, QObject* parent = nullptr);
    ~OlympusResponder() override;

    // Port 0 takes a free port; false when the address cannot be bound.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;

    OlympusResponderOptions& options() { return m_options; }
    // The files served: path from the card's root ("/DCIM/100OLYMP/P1010001.JPG") and size.
    struct ServedFile {
        QString path;
        uint64_t size = 0;
    };
    std::vector<ServedFile> files() const;

    // Test controls.
    // The camera goes out of range: every connection closes, and new ones are closed at once, until it comes back.
    void dropConnections();
    void comeBack();
    // A frozen camera reads nothing and answers nothing, but keeps its connections.
    void setFrozen(bool frozen);
    // Answers `get_imglist.cgi` for a folder with these raw bytes when the function gives some (a hostile camera).
    using ListingOverride = std::function<std::optional<QByteArray>(const QString& directory)>;
    void setListingOverride(ListingOverride override) { m_listingOverride = std::move(override); }
    int requestCount() const { return m_requestCount; }
    // The User-Agent and Host of the last request.
    QByteArray lastUserAgent() const { return m_lastUserAgent; }
    QByteArray lastHost() const { return m_lastHost; }

signals:
    void requestLogged(const QString& line);

private:
    struct Connection;
    struct Node;

    void build();
    void handle(Connection* connection, const HttpRequest& request);
    void answer(Connection* connection, const QByteArray& target);
    void respond(Connection* connection, int status, const QByteArray& contentType, const QByteArray& body);
    void startFile(Connection* connection, const Node& node, std::optional<std::pair<qint64, qint64>> range);
    void pump(Connection* connection);
    void goOutOfRange();
    void log(const QString& line);
    const Node* nodeAt(const QString& path) const;
    bool faultsApply(const Node& node) const;

    std::shared_ptr<simulated::CameraContent> m_content;
    OlympusResponderOptions m_options;
    TestCameraHttpServer m_http;
    std::map<QString, Node> m_nodes; // by path; "/DCIM" and below
    ListingOverride m_listingOverride;
    bool m_frozen = false;
    bool m_playMode = false;
    qint64 m_fileBytesSent = 0;
    int m_requestCount = 0;
    QByteArray m_lastUserAgent;
    QByteArray m_lastHost;
};

} // namespace vornakel::tools
