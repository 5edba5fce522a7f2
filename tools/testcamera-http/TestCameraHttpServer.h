#pragma once

// The small HTTP/1.1 server the test cameras under tools/ answer on (the Olympus camera, the UPnP media server and
// the LUMIX control page beside it): it accepts connections, reads one request at a time per connection (the head
// and a body of Content-Length bytes, both bounded), and writes the head of an answer. Connections are kept alive
// unless the client asks for "Connection: close" or speaks HTTP/1.0. What a request is answered with, and how a
// body is paced or broken off, is the camera's to say. Main thread only.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

namespace vornakel::tools {

struct HttpRequest {
    QByteArray method;
    QString path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QByteArray target; // as sent: path and query
};

struct HttpReply {
    int status = 200;
    QByteArray contentType = "text/xml; charset=\"utf-8\"";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

// One client connection. A camera keeps what it sends on it (a file under way) in a type of its own made from
// this one.
struct HttpConnection {
    virtual ~HttpConnection() = default;

    QPointer<QTcpSocket> socket;
    // The client asked for "Connection: close" (or spoke HTTP/1.0), or an answer has no length: the connection
    // closes after the answer.
    bool closeAfter = false;

private:
    friend class TestCameraHttpServer;
    QByteArray buffer; // read and not yet taken as a request
    bool busy = false; // a request is being answered
};

class TestCameraHttpServer : public QObject {
    Q_OBJECT
public:
    using RequestHandler = std::function<void(HttpConnection*, HttpRequest)>;

    // `serverHeader`: the Server header of every answer (empty: none). A request head past `maximumHeadBytes` or
    // a body past `maximumBodyBytes` closes its connection.
    TestCameraHttpServer(QByteArray serverHeader, qsizetype maximumHeadBytes, qint64 maximumBodyBytes,
                         QObject* parent = nullptr);
    ~TestCameraHttpServer() override;

    // Each new connection is made by `make` (a camera's own connection type; none: a plain one). Each request goes
    // to `handler`; `bytesWritten` runs whenever a connection's socket wrote some of what was queued.
    void setConnectionMaker(std::function<std::unique_ptr<HttpConnection>()> make) { m_make = std::move(make); }
    void setRequestHandler(RequestHandler handler) { m_handler = std::move(handler); }
    void setBytesWritten(std::function<void(HttpConnection*)> bytesWritten) { m_bytesWritten = std::move(bytesWritten); }

    // Port 0 takes a free port; false when the address cannot be bound.
    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    bool isListening() const { return m_server.isListening(); }
    // New connections are refused from now on.
    void stopListening() { m_server.close(); }
    // While refusing, new connections are accepted and closed at once (a camera out of range).
    void setRefusing(bool refusing) { m_refusing = refusing; }
    // While frozen nothing is read; reading resumes after.
    void setFrozen(bool frozen);

    // Closes in good order, after what was queued went out.
    void close(HttpConnection* connection);
    // Resets the connection at once.
    void reset(HttpConnection* connection);
    void resetAll();
    bool isOpen(const HttpConnection* connection) const;
    // Runs `then` after `milliseconds` (at once: on the next turn of the event loop) while the connection is open.
    void later(HttpConnection* connection, int milliseconds, std::function<void()> then);

    // Writes the status line and headers: Content-Type, Content-Length (none for a length below 0: the connection
    // then closes after the body), `headers`, and "Connection: close" where it closes after the answer.
    void writeHead(HttpConnection* connection, int status, const QByteArray& contentType, qint64 length,
                   const QList<QPair<QByteArray, QByteArray>>& headers = {});
    // A whole answer; the connection then takes its next request.
    void reply(HttpConnection* connection, const HttpReply& reply);
    // The answer is complete (after a body sent piece by piece): the connection closes where it should, else takes
    // its next request.
    void finish(HttpConnection* connection);

private:
    void accept();
    void readFrom(HttpConnection* connection);
    void drop(HttpConnection* connection, bool reset);

    QByteArray m_serverHeader;
    qsizetype m_maximumHeadBytes;
    qint64 m_maximumBodyBytes;
    QTcpServer m_server;
    std::vector<std::unique_ptr<HttpConnection>> m_connections;
    std::function<std::unique_ptr<HttpConnection>()> m_make;
    RequestHandler m_handler;
    std::function<void(HttpConnection*)> m_bytesWritten;
    bool m_refusing = false;
    bool m_frozen = false;
};

} // namespace vornakel::tools
