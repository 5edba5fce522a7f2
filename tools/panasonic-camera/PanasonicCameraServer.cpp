#include "panasonic-camera/PanasonicCameraServer.h"

#include <QTcpSocket>
#include <QUrl>

namespace vornakel::tools {

namespace {

constexpr qsizetype kMaxHead = 16 * 1024;

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    default:
        return "Error";
    }
}

} // namespace

struct PanasonicCameraServer::Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
};

PanasonicCameraServer::PanasonicCameraServer(PanasonicCamCgiOptions options, QObject* parent)
    : QObject(parent), m_camCgi(new PanasonicCamCgi(std::move(options), this))
{
    connect(&m_server, &QTcpServer::newConnection, this, &PanasonicCameraServer::accept);
}

PanasonicCameraServer::~PanasonicCameraServer() { abortAll(); }

void PanasonicCameraServer::abortAll()
{
    // An abort reports the disconnection at once, which takes the connection off the list.
    std::vector<QPointer<QTcpSocket>> sockets;
    for (const auto& connection : m_connections)
        sockets.push_back(connection->socket);
    for (const auto& socket : sockets) {
        if (socket)
            socket->abort();
    }
}

bool PanasonicCameraServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void PanasonicCameraServer::dropConnections()
{
    m_server.close();
    abortAll();
}

void PanasonicCameraServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] {
            if (raw->socket)
                raw->socket->deleteLater();
            std::erase_if(m_connections, [raw](const auto& each) { return each.get() == raw; });
        });
    }
}

void PanasonicCameraServer::readFrom(Connection* connection)
{
    if (m_frozen || !connection->socket)
        return;
    connection->buffer += connection->socket->readAll();
    while (connection->socket && !m_frozen) {
        const qsizetype end = connection->buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (connection->buffer.size() > kMaxHead)
                connection->socket->abort();
            return;
        }
        const QByteArray head = connection->buffer.left(end);
        connection->buffer.remove(0, end + 4);
        serve(connection, head);
    }
}

void PanasonicCameraServer::serve(Connection* connection, const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
    if (request.size() != 3 || request[0] != "GET") {
        send(connection, 400, "text/plain", "bad request");
        return;
    }
    QByteArray session;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "x-session_id")
            session = line.mid(colon + 1).trimmed();
    }
    const QUrl url(QString::fromLatin1(request[1]));
    if (url.path() != QLatin1String("/cam.cgi")) {
        send(connection, 404, "text/plain", "not found");
        return;
    }
    const PanasonicCamCgi::Reply reply = m_camCgi->handle(QUrlQuery(url), session);
    send(connection, reply.status, reply.contentType, reply.body);
}

void PanasonicCameraServer::send(Connection* connection, int status, const QByteArray& contentType, const QByteArray& body)
{
    if (!connection->socket)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonOf(status) + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Server: Panasonic\r\n\r\n";
    connection->socket->write(head + body);
}

} // namespace vornakel::tools
