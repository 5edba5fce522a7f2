#include "upnp-camera/UpnpResponder.h"

#include "platform/camera/simulated/SimulatedContent.h"
#include "testcamera-cli/TestCameraLinkFaults.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QTimer>
#include <QXmlStreamWriter>

#include <algorithm>

Q_LOGGING_CATEGORY(lcUpnpCamera, "vornakel.upnpcamera")

namespace vornakel::tools {

namespace {

constexpr qint64 kMaxRequestHead = 64 * 1024;
constexpr char kServerHeader[] = "Linux/4.0 UPnP/1.0 VornakelTestCamera/1.0";
constexpr qint64 kMaxRequestBody = 1024 * 1024;
// More than this much unsent keeps the responder from queueing further body bytes.
constexpr qint64 kMaxQueuedBytes = 1024 * 1024;
constexpr qint64 kReadPiece = 256 * 1024;

// The MIME type and DLNA profile a camera gives a file of this name.
QPair<QString, QString> mimeOfName(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return {QStringLiteral("image/jpeg"), QStringLiteral("JPEG_LRG")};
    if (suffix == QLatin1String("arw"))
        return {QStringLiteral("image/x-sony-arw"), {}};
    if (suffix == QLatin1String("hif") || suffix == QLatin1String("heic") || suffix == QLatin1String("heif"))
        return {QStringLiteral("image/heif"), {}};
    return {QStringLiteral("application/octet-stream"), {}};
}

QString protocolInfo(const QString& mime, const QString& profile)
{
    return QStringLiteral("http-get:*:%1:%2").arg(mime, profile.isEmpty() ? QStringLiteral("*")
                                                                          : QStringLiteral("DLNA.ORG_PN=%1;DLNA.ORG_OP=01").arg(profile));
}

} // namespace

struct UpnpResponder::Object {
    QString id;
    QString parentId;
    simulated::Entry entry;
    std::vector<size_t> children; // indexes
};

struct UpnpResponder::Connection : HttpConnection {
    // A body sent as the socket drains: an original, or an endless Browse reply.
    struct Body {
        std::shared_ptr<simulated::ContentReader> reader; // none: endless markup
        qint64 remaining = 0;
        qint64 sent = 0;
        qint64 resetAt = -1;  // the connection is reset after this many bytes
        qint64 closeAt = -1;  // … or closed in good order
        qint64 stallAt = -1;
        bool stalled = false;
        bool waiting = false; // a paced or stalled pump is scheduled
        QElapsedTimer clock;
        QByteArray pending;
    };
    std::optional<Body> body;
};

UpnpResponderOptions UpnpResponderOptions::fromCameraOptions(const SimulatedCameraOptions& camera)
{
    UpnpResponderOptions options;
    takeLinkFaults(options, camera);
    options.streamShortByBytes = std::max<qint64>(0, camera.streamShortByBytes);
    if (!camera.friendlyDisplayName.isEmpty())
        options.friendlyName = camera.friendlyDisplayName;
    return options;
}

UpnpResponder::UpnpResponder(const QString& folderPath, UpnpResponderOptions options, QObject* parent)
    : QObject(parent), m_content(simulated::CameraContent::onDisk(QDir(folderPath).absolutePath())), m_options(std::move(options)),
      m_http(kServerHeader, kMaxRequestHead, kMaxRequestBody)
{
    build();
}

UpnpResponder::UpnpResponder(SimulatedCameraContent content, UpnpResponderOptions options, QObject* parent)
    : QObject(parent), m_content(simulated::CameraContent::inMemory(std::move(content))), m_options(std::move(options)),
      m_http(kServerHeader, kMaxRequestHead, kMaxRequestBody)
{
    build();
}

UpnpResponder::~UpnpResponder() = default;

void UpnpResponder::build()
{
    Object root;
    root.id = QStringLiteral("0");
    root.parentId = QStringLiteral("-1");
    root.entry = m_content->root();
    m_objects.push_back(root);
    std::function<void(size_t)> walk = [&](size_t folder) {
        const auto listing = m_content->list(m_objects[folder].entry, true);
        if (!listing)
            return;
        for (const simulated::Entry& entry : listing.value()) {
            Object object;
            object.id = QString::number(m_objects.size());
            object.parentId = m_objects[folder].id;
            object.entry = entry;
            const size_t index = m_objects.size();
            m_objects.push_back(object);
            m_objects[folder].children.push_back(index);
            if (entry.isFolder)
                walk(index);
        }
    };
    walk(0);
    m_http.setConnectionMaker([] { return std::make_unique<Connection>(); });
    m_http.setRequestHandler([this](HttpConnection* connection, HttpRequest request) {
        ++m_requestCount;
        m_http.later(connection, m_options.latencyMs, [this, connection, request] {
            handle(static_cast<Connection*>(connection), request);
        });
    });
    m_http.setBytesWritten([this](HttpConnection* connection) { pump(static_cast<Connection*>(connection)); });
}

bool UpnpResponder::listen(const QHostAddress& address, quint16 port) { return m_http.listen(address, port); }

bool UpnpResponder::answerSearches(const QHostAddress& address, quint16 port)
{
    if (!m_search) {
        m_search = new QUdpSocket(this);
        connect(m_search, &QUdpSocket::readyRead, this, &UpnpResponder::answerSearch);
    }
    return m_search->bind(address, port);
}

quint16 UpnpResponder::searchPort() const { return m_search ? m_search->localPort() : 0; }

void UpnpResponder::answerSearch()
{
    while (m_search->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_search->receiveDatagram(8192);
        const QByteArray data = datagram.data();
        if (!data.startsWith("M-SEARCH * HTTP/1.1") || m_frozen || !m_http.isListening())
            continue;
        QByteArray target;
        for (const QByteArray& line : data.split('\n')) {
            if (line.toLower().startsWith("st:"))
                target = line.mid(3).trimmed();
        }
        if (target != "ssdp:all" && target != "upnp:rootdevice" && target != upnp::mediaServerDeviceType().toLatin1())
            continue;
        const QByteArray type = target == "ssdp:all" ? upnp::mediaServerDeviceType().toLatin1() : target;
        const QByteArray answer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: " + descriptionUrl().toLatin1()
            + "\r\nSERVER: Linux/4.0 UPnP/1.0 VornakelTestCamera/1.0\r\nST: " + type + "\r\nUSN: uuid:00000000-0000-1010-8000-"
            + QByteArray::number(port()).rightJustified(12, '0') + "::" + type + "\r\n\r\n";
        m_search->writeDatagram(answer, datagram.senderAddress(), quint16(datagram.senderPort()));
        log(QStringLiteral("answered an SSDP search for %1").arg(QString::fromLatin1(target)));
    }
}

QString UpnpResponder::baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

QString UpnpResponder::descriptionUrl() const { return baseUrl() + m_options.descriptionPath; }

std::vector<UpnpResponder::ServedFile> UpnpResponder::files() const
{
    std::vector<ServedFile> result;
    for (const Object& object : m_objects) {
        if (!object.entry.isFolder && !object.entry.relativePath.isEmpty())
            result.push_back({object.entry.relativePath, object.entry.size});
    }
    return result;
}

const UpnpResponder::Object* UpnpResponder::objectOf(const QString& id) const
{
    bool ok = false;
    const qulonglong index = id.toULongLong(&ok);
    if (!ok || index >= m_objects.size())
        return nullptr;
    return &m_objects[index];
}

void UpnpResponder::log(const QString& line)
{
    if (m_options.log)
        qCInfo(lcUpnpCamera).noquote() << line;
    emit requestLogged(line);
}

void UpnpResponder::dropConnections()
{
    log(QStringLiteral("dropping the connections and refusing new ones"));
    m_http.stopListening();
    m_http.resetAll();
}

void UpnpResponder::finishRequest(Connection* connection)
{
    connection->body.reset();
    m_http.finish(connection);
}

void UpnpResponder::handle(Connection* connection, const HttpRequest& request)
{
    if (m_frozen)
        return;
    for (const Handler& handler : m_handlers) {
        if (auto reply = handler(request)) {
            log(QStringLiteral("%1 %2 → %3").arg(QString::fromLatin1(request.method), request.path).arg(reply->status));
            send(connection, *reply);
            return;
        }
    }
    if (auto reply = mediaServerReply(connection, request)) {
        log(QStringLiteral("%1 %2 → %3").arg(QString::fromLatin1(request.method), request.path).arg(reply->status));
        send(connection, *reply);
    }
}

std::optional<HttpReply> UpnpResponder::mediaServerReply(Connection* connection, const HttpRequest& request)
{
    const bool isDescription = request.path == m_options.descriptionPath;
    if (!isDescription && m_gate && !m_gate(request))
        return HttpReply{403, "text/plain", "access not granted", {}};
    if (isDescription && request.method == "GET")
        return descriptionReply();
    if (request.path == QLatin1String("/upnp/control/ContentDirectory")) {
        if (request.method != "POST")
            return HttpReply{405, "text/plain", {}, {}};
        return browseReply(request);
    }
    if (request.path.startsWith(QLatin1String("/res/")) && request.method == "GET") {
        if (startResource(connection, request))
            return std::nullopt;
    }
    return HttpReply{404, "text/plain", "not found", {}};
}

HttpReply UpnpResponder::descriptionReply() const
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.writeStartDocument();
    writer.writeDefaultNamespace(QStringLiteral("urn:schemas-upnp-org:device-1-0"));
    writer.writeStartElement(QStringLiteral("root"));
    writer.writeStartElement(QStringLiteral("specVersion"));
    writer.writeTextElement(QStringLiteral("major"), QStringLiteral("1"));
    writer.writeTextElement(QStringLiteral("minor"), QStringLiteral("0"));
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("device"));
    writer.writeTextElement(QStringLiteral("deviceType"), upnp::mediaServerDeviceType());
    writer.writeTextElement(QStringLiteral("friendlyName"), m_options.friendlyName);
    writer.writeTextElement(QStringLiteral("manufacturer"), m_options.manufacturer);
    writer.writeTextElement(QStringLiteral("modelName"), m_options.modelName);
    writer.writeTextElement(QStringLiteral("UDN"), QStringLiteral("uuid:00000000-0000-1010-8000-%1").arg(port(), 12, 10, QLatin1Char('0')));
    writer.writeStartElement(QStringLiteral("serviceList"));
    writer.writeStartElement(QStringLiteral("service"));
    writer.writeTextElement(QStringLiteral("serviceType"), upnp::contentDirectoryServiceType());
    writer.writeTextElement(QStringLiteral("serviceId"), QStringLiteral("urn:upnp-org:serviceId:ContentDirectory"));
    writer.writeTextElement(QStringLiteral("SCPDURL"), QStringLiteral("/CdsDesc.xml"));
    writer.writeTextElement(QStringLiteral("controlURL"), QStringLiteral("/upnp/control/ContentDirectory"));
    writer.writeTextElement(QStringLiteral("eventSubURL"), QStringLiteral("/upnp/event/ContentDirectory"));
    writer.writeEndDocument();
    return HttpReply{200, "text/xml; charset=\"utf-8\"", xml, {}};
}

QString UpnpResponder::listing(const Object& folder, quint32 start, quint32 count, quint32* returned) const
{
    QString didl;
    QXmlStreamWriter writer(&didl);
    writer.writeStartElement(QStringLiteral("DIDL-Lite"));
    writer.writeDefaultNamespace(QStringLiteral("urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/"));
    writer.writeNamespace(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("dc"));
    writer.writeNamespace(QStringLiteral("urn:schemas-upnp-org:metadata-1-0/upnp/"), QStringLiteral("upnp"));
    const QString dc = QStringLiteral("http://purl.org/dc/elements/1.1/");
    const QString upnpNs = QStringLiteral("urn:schemas-upnp-org:metadata-1-0/upnp/");
    *returned = 0;
    for (size_t i = start; i < folder.children.size() && *returned < count; ++i, ++*returned) {
        const Object& child = m_objects[folder.children[i]];
        const simulated::Entry& entry = child.entry;
        writer.writeStartElement(entry.isFolder ? QStringLiteral("container") : QStringLiteral("item"));
        writer.writeAttribute(QStringLiteral("id"), child.id);
        writer.writeAttribute(QStringLiteral("parentID"), child.parentId);
        writer.writeAttribute(QStringLiteral("restricted"), QStringLiteral("1"));
        if (entry.isFolder)
            writer.writeAttribute(QStringLiteral("childCount"), QString::number(child.children.size()));
        writer.writeTextElement(dc, QStringLiteral("title"), entry.name);
        if (entry.isFolder) {
            writer.writeTextElement(upnpNs, QStringLiteral("class"), QStringLiteral("object.container.storageFolder"));
            writer.writeEndElement();
            continue;
        }
        writer.writeTextElement(upnpNs, QStringLiteral("class"), QStringLiteral("object.item.imageItem.photo"));
        if (entry.dateCreated)
            writer.writeTextElement(dc, QStringLiteral("date"), entry.dateCreated->toString(Qt::ISODate));
        const auto [mime, profile] = mimeOfName(entry.name);
        const QString resources = baseUrl() + QStringLiteral("/res/") + child.id;
        writer.writeStartElement(QStringLiteral("res"));
        writer.writeAttribute(QStringLiteral("protocolInfo"), protocolInfo(mime, profile));
        writer.writeAttribute(QStringLiteral("size"), QString::number(qint64(entry.size) + m_options.listedSizeDelta));
        writer.writeCharacters(resources + QStringLiteral("/orig"));
        writer.writeEndElement();
        if (simulated::isKnownImageName(entry.name)) {
            writer.writeStartElement(QStringLiteral("res"));
            writer.writeAttribute(QStringLiteral("protocolInfo"), protocolInfo(QStringLiteral("image/jpeg"), QStringLiteral("JPEG_TN")));
            writer.writeCharacters(resources + QStringLiteral("/tn"));
            writer.writeEndElement();
            writer.writeStartElement(QStringLiteral("res"));
            writer.writeAttribute(QStringLiteral("protocolInfo"), protocolInfo(QStringLiteral("image/jpeg"), QStringLiteral("JPEG_SM")));
            writer.writeCharacters(resources + QStringLiteral("/sm"));
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
    return didl;
}

HttpReply UpnpResponder::browseReply(const HttpRequest& request)
{
    ++m_browseCount;
    const auto browse = upnp::parseBrowseRequest(request.body);
    if (!browse)
        return HttpReply{400, "text/plain", "unreadable Browse", {}};
    if (m_browseOverride) {
        if (auto body = m_browseOverride(*browse))
            return HttpReply{200, "text/xml; charset=\"utf-8\"", *body, {}};
    }
    const Object* folder = objectOf(browse->objectId);
    if (!folder || !folder->entry.isFolder || browse->browseFlag != QLatin1String("BrowseDirectChildren")) {
        const QByteArray fault =
            "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
            "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError "
            "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>701</errorCode><errorDescription>No such object"
            "</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>";
        return HttpReply{500, "text/xml; charset=\"utf-8\"", fault, {}};
    }
    quint32 count = browse->requestedCount == 0 ? quint32(folder->children.size()) : browse->requestedCount;
    if (m_options.maxPageSize > 0)
        count = std::min(count, m_options.maxPageSize);
    quint32 returned = 0;
    const QString didl = listing(*folder, browse->startingIndex, count, &returned);
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    const QString soap = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
    writer.writeStartDocument();
    writer.writeNamespace(soap, QStringLiteral("s"));
    writer.writeStartElement(soap, QStringLiteral("Envelope"));
    writer.writeStartElement(soap, QStringLiteral("Body"));
    writer.writeNamespace(upnp::contentDirectoryServiceType(), QStringLiteral("u"));
    writer.writeStartElement(upnp::contentDirectoryServiceType(), QStringLiteral("BrowseResponse"));
    writer.writeTextElement(QStringLiteral("Result"), didl);
    writer.writeTextElement(QStringLiteral("NumberReturned"), QString::number(returned));
    writer.writeTextElement(QStringLiteral("TotalMatches"), QString::number(folder->children.size()));
    writer.writeTextElement(QStringLiteral("UpdateID"), QStringLiteral("1"));
    writer.writeEndDocument();
    log(QStringLiteral("Browse %1 from %2: %3 of %4").arg(browse->objectId).arg(browse->startingIndex).arg(returned).arg(folder->children.size()));
    return HttpReply{200, "text/xml; charset=\"utf-8\"", xml, {}};
}

bool UpnpResponder::startResource(Connection* connection, const HttpRequest& request)
{
    const QStringList parts = request.path.split(QLatin1Char('/'), Qt::SkipEmptyParts); // res, id, kind
    const Object* object = parts.size() == 3 ? objectOf(parts[1]) : nullptr;
    if (!object || object->entry.isFolder)
        return false;
    const QString& kind = parts[2];
    if (kind == QLatin1String("tn") || kind == QLatin1String("sm")) {
        const auto image = kind == QLatin1String("tn") ? m_content->thumbnail(object->entry) : m_content->preview(object->entry);
        if (!image || image.value().isEmpty())
            return false;
        log(QStringLiteral("GET %1 → 200 (%2 bytes)").arg(request.path).arg(image.value().size()));
        send(connection, HttpReply{200, "image/jpeg", image.value(), {}});
        return true;
    }
    if (kind != QLatin1String("orig"))
        return false;
    std::shared_ptr<simulated::ContentReader> reader = m_content->open(object->entry);
    if (!reader)
        return false;
    const qint64 size = qint64(object->entry.size);
    Connection::Body body;
    // A range "bytes=A-B" or "bytes=A-" of the original; anything else is the whole file.
    int status = 200;
    qint64 first = 0;
    qint64 length = size;
    const QByteArray range = request.headers.value("range");
    if (m_options.honoursRange && range.startsWith("bytes=")) {
        const QList<QByteArray> bounds = range.mid(6).split('-');
        bool firstOk = false;
        bool lastOk = false;
        const qint64 from = bounds.value(0).toLongLong(&firstOk);
        const qint64 last = bounds.value(1).toLongLong(&lastOk);
        if (bounds.size() == 2 && firstOk && from >= 0) {
            const qint64 to = lastOk ? std::min(last, size - 1) : size - 1;
            if (from >= size || to < from) {
                log(QStringLiteral("GET %1 (%2) → 416").arg(request.path, QString::fromLatin1(range)));
                send(connection, HttpReply{416, "text/plain", {}, {}});
                return true;
            }
            status = 206;
            first = from;
            length = to - from + 1;
            // The reader starts at the beginning: what comes before the range is read past.
            for (qint64 skipped = 0; skipped < first;) {
                const auto bytes = reader->read(std::min<qint64>(first - skipped, kReadPiece));
                if (!bytes || bytes->isEmpty())
                    return false;
                skipped += bytes->size();
            }
        }
    }
    body.reader = std::move(reader);
    body.remaining = length;
    const bool faults = m_options.streamFaultFiles.isEmpty() || m_options.streamFaultFiles.contains(object->entry.name);
    if (faults) {
        body.resetAt = m_options.streamErrorAfterBytes;
        body.stallAt = m_options.streamStallAfterBytes;
        if (m_options.streamShortByBytes > 0)
            body.closeAt = std::max<qint64>(0, size - m_options.streamShortByBytes);
    }
    body.clock.start();
    log(QStringLiteral("GET %1 → %2 (%3 bytes)").arg(request.path).arg(status).arg(length));
    connection->body = std::move(body);
    QList<QPair<QByteArray, QByteArray>> headers;
    if (status == 206)
        headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(first + length - 1) + '/' + QByteArray::number(size)});
    m_http.writeHead(connection, status, mimeOfName(object->entry.name).first.toLatin1(), length, headers);
    pump(connection);
    return true;
}

void UpnpResponder::send(Connection* connection, const HttpReply& reply)
{
    if (!connection->socket)
        return;
    if (m_options.endlessBrowse && reply.contentType.startsWith("text/xml") && reply.body.contains("BrowseResponse")) {
        Connection::Body body;
        body.remaining = -1;
        body.clock.start();
        connection->body = std::move(body);
        m_http.writeHead(connection, 200, reply.contentType, -1);
        connection->socket->write("<?xml version=\"1.0\"?><s:Envelope><s:Body><u:BrowseResponse><Result>");
        pump(connection);
        return;
    }
    m_http.writeHead(connection, reply.status, reply.contentType, reply.body.size(), reply.headers);
    connection->socket->write(reply.body);
    m_bodyBytesSent += reply.body.size();
    finishRequest(connection);
}

void UpnpResponder::pump(Connection* connection)
{
    if (!connection->body || !connection->socket || m_frozen)
        return;
    Connection::Body& body = *connection->body;
    if (body.waiting || body.stalled)
        return;
    QTcpSocket* socket = connection->socket;
    while (socket->bytesToWrite() < kMaxQueuedBytes) {
        if (body.remaining == 0) {
            finishRequest(connection);
            return;
        }
        if (body.resetAt >= 0 && body.sent >= body.resetAt) {
            log(QStringLiteral("resetting the connection after %1 bytes").arg(body.sent));
            m_http.reset(connection);
            return;
        }
        if (body.closeAt >= 0 && body.sent >= body.closeAt) {
            log(QStringLiteral("ending the body early after %1 bytes").arg(body.sent));
            socket->disconnectFromHost();
            return;
        }
        if (body.stallAt >= 0 && body.sent >= body.stallAt) {
            body.stallAt = -1;
            body.stalled = true;
            log(QStringLiteral("stalling after %1 bytes").arg(body.sent));
            if (m_options.streamStallMs > 0) {
                m_http.later(connection, m_options.streamStallMs, [this, connection] {
                    if (connection->body) {
                        connection->body->stalled = false;
                        pump(connection);
                    }
                });
            }
            return;
        }
        qint64 piece = kReadPiece;
        if (m_options.throughputBytesPerSecond > 0) {
            const qint64 allowed = m_options.throughputBytesPerSecond * std::max<qint64>(1, body.clock.elapsed()) / 1000 - body.sent;
            if (allowed <= 0) {
                body.waiting = true;
                m_http.later(connection, 5, [this, connection] {
                    if (connection->body) {
                        connection->body->waiting = false;
                        pump(connection);
                    }
                });
                return;
            }
            piece = std::min(piece, allowed);
        }
        for (qint64 limit : {body.resetAt, body.closeAt, body.stallAt}) {
            if (limit >= 0)
                piece = std::min(piece, limit - body.sent);
        }
        QByteArray bytes;
        if (!body.reader) {
            bytes = QByteArray(piece, '<');
        } else {
            if (body.remaining > 0)
                piece = std::min(piece, body.remaining);
            const auto read = body.reader->read(piece);
            if (!read || read->isEmpty()) {
                m_http.reset(connection); // the file went away under us: as a camera would, the connection breaks
                return;
            }
            bytes = *read;
            body.remaining -= bytes.size();
        }
        body.sent += bytes.size();
        m_bodyBytesSent += bytes.size();
        socket->write(bytes);
    }
}

} // namespace vornakel::tools
