#include "testcamera-http/TestCameraHttpServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace vornakel::tools {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

} // namespace

TestCameraHttpServer::TestCameraHttpServer(QByteArray serverHeader, qsizetype maximumHeadBytes, qint64 maximumBodyBytes,
                                           QObject* parent)
    : QObject(parent), m_serverHeader(std::move(serverHeader)), m_maximumHeadBytes(maximumHeadBytes),
      m_maximumBodyBytes(maximumBodyBytes)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestCameraHttpServer::accept);
}

TestCameraHttpServer::~TestCameraHttpServer()
{
    for (auto& connection : m_connections) {
        if (connection->socket)
            connection->socket->disconnect(this);
    }
}

bool TestCameraHttpServer::listen(const QHostAddress& address, quint16 port) { return m_server.listen(address, port); }

void TestCameraHttpServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_refusing) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        std::unique_ptr<HttpConnection> connection = m_make ? m_make() : std::make_unique<HttpConnection>();
        connection->socket = socket;
        HttpConnection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] {
            if (m_bytesWritten)
                m_bytesWritten(raw);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw, false); });
    }
}

bool TestCameraHttpServer::isOpen(const HttpConnection* connection) const
{
    return std::any_of(m_connections.begin(), m_connections.end(), [&](const auto& each) { return each.get() == connection; });
}

void TestCameraHttpServer::drop(HttpConnection* connection, bool reset)
{
    const auto found = std::find_if(m_connections.begin(), m_connections.end(),
                                    [&](const auto& each) { return each.get() == connection; });
    if (found == m_connections.end())
        return;
    std::unique_ptr<HttpConnection> owned = std::move(*found);
    m_connections.erase(found);
    if (owned->socket) {
        owned->socket->disconnect(this);
        if (reset)
            owned->socket->abort();
        else
            owned->socket->close();
        owned->socket->deleteLater();
    }
}

void TestCameraHttpServer::close(HttpConnection* connection) { drop(connection, false); }

void TestCameraHttpServer::reset(HttpConnection* connection) { drop(connection, true); }

void TestCameraHttpServer::resetAll()
{
    while (!m_connections.empty())
        reset(m_connections.front().get());
}

void TestCameraHttpServer::setFrozen(bool frozen)
{
    m_frozen = frozen;
    if (frozen)
        return;
    std::vector<HttpConnection*> open;
    for (const auto& connection : m_connections)
        open.push_back(connection.get());
    for (HttpConnection* connection : open) {
        if (isOpen(connection))
            readFrom(connection);
    }
}

void TestCameraHttpServer::later(HttpConnection* connection, int milliseconds, std::function<void()> then)
{
    QPointer<QTcpSocket> socket = connection->socket;
    QTimer::singleShot(std::max(0, milliseconds), this, [this, connection, socket, then] {
        if (socket && isOpen(connection))
            then();
    });
}

void TestCameraHttpServer::readFrom(HttpConnection* connection)
{
    if (!connection->socket || m_frozen)
        return;
    connection->buffer.append(connection->socket->readAll());
    if (connection->busy)
        return;
    const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (connection->buffer.size() > m_maximumHeadBytes)
            close(connection);
        return;
    }
    const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3) {
        connection->buffer.clear();
        connection->busy = true;
        connection->closeAfter = true;
        reply(connection, HttpReply{400, "text/plain", {}, {}});
        return;
    }
    HttpRequest request;
    request.method = requestLine[0];
    request.target = requestLine[1];
    const QUrl target(QString::fromLatin1(request.target));
    request.path = target.path();
    request.query = QUrlQuery(target);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qint64 length = request.headers.value("content-length", "0").toLongLong();
    if (length < 0 || length > m_maximumBodyBytes) {
        close(connection);
        return;
    }
    if (connection->buffer.size() < headEnd + 4 + length)
        return;
    request.body = connection->buffer.mid(headEnd + 4, length);
    connection->buffer.remove(0, headEnd + 4 + length);
    connection->closeAfter = requestLine[2] == "HTTP/1.0" || request.headers.value("connection").toLower() == "close";
    connection->busy = true;
    if (m_handler)
        m_handler(connection, std::move(request));
}

void TestCameraHttpServer::writeHead(HttpConnection* connection, int status, const QByteArray& contentType, qint64 length,
                                     const QList<QPair<QByteArray, QByteArray>>& headers)
{
    if (!connection->socket)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!m_serverHeader.isEmpty())
        head += "Server: " + m_serverHeader + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    if (length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    else
        connection->closeAfter = true;
    for (const auto& [name, value] : headers)
        head += name + ": " + value + "\r\n";
    if (connection->closeAfter)
        head += "Connection: close\r\n";
    head += "\r\n";
    connection->socket->write(head);
}

void TestCameraHttpServer::reply(HttpConnection* connection, const HttpReply& reply)
{
    if (!connection->socket)
        return;
    writeHead(connection, reply.status, reply.contentType, reply.body.size(), reply.headers);
    connection->socket->write(reply.body);
    finish(connection);
}

void TestCameraHttpServer::finish(HttpConnection* connection)
{
    connection->busy = false;
    if (!connection->socket)
        return;
    if (connection->closeAfter) {
        connection->socket->disconnectFromHost();
        return;
    }
    // A request that came while this one was answered.
    if (!connection->buffer.isEmpty() || connection->socket->bytesAvailable() > 0)
        later(connection, 0, [this, connection] { readFrom(connection); });
}

} // namespace vornakel::tools
