#include "olympus-camera/OlympusResponder.h"

#include "platform/camera/simulated/SimulatedContent.h"
#include "platform/imaging/ImageFileTypes.h"
#include "testcamera-cli/TestCameraLinkFaults.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

Q_LOGGING_CATEGORY(lcOlympusCamera, "vornakel.olympuscamera")

namespace vornakel::tools {

namespace {

// More than this much unsent keeps the responder from queueing further file data.
constexpr qint64 kMaxQueuedBytes = 256 * 1024;
constexpr qsizetype kMaxRequestHead = 16 * 1024;
constexpr qint64 kMaxRequestBody = 64 * 1024;

// A date as the FAT fields of a listing line.
std::pair<uint, uint> fatFields(const std::optional<QDateTime>& date)
{
    if (!date || !date->isValid() || date->date().year() < 1980 || date->date().year() > 2107)
        return {0, 0};
    const QDateTime local = date->toLocalTime();
    const uint fatDate = uint((local.date().year() - 1980) << 9 | local.date().month() << 5 | local.date().day());
    const uint fatTime = uint(local.time().hour() << 11 | local.time().minute() << 5 | local.time().second() / 2);
    return {fatDate, fatTime};
}

} // namespace

struct OlympusResponder::Node {
    simulated::Entry entry;
    QString path;
    std::vector<QString> children; // paths, in the listing's order
};

struct OlympusResponder::Connection : HttpConnection {
    // The file being sent.
    struct File {
        const Node* node = nullptr;
        std::unique_ptr<simulated::ContentReader> reader;
        qint64 remaining = 0;
        qint64 sent = 0;
        bool faults = false;
        bool stalled = false;
        bool waiting = false;
        QElapsedTimer clock;
    };
    std::optional<File> file;
};

OlympusResponderOptions OlympusResponderOptions::fromCameraOptions(const SimulatedCameraOptions& camera)
{
    OlympusResponderOptions options;
    takeLinkFaults(options, camera);
    options.shortByBytes = std::max<qint64>(0, camera.streamShortByBytes);
    return options;
}

OlympusResponder::OlympusResponder(const QString& folderPath, OlympusResponderOptions options, QObject* parent)
    : QObject(parent), m_content(simulated::CameraContent::onDisk(folderPath)), m_options(std::move(options)),
      m_http({}, kMaxRequestHead, kMaxRequestBody)
{
    build();
}

OlympusResponder::OlympusResponder(SimulatedCameraContent content, OlympusResponderOptions options, QObject* parent)
    : QObject(parent), m_content(simulated::CameraContent::inMemory(std::move(content))), m_options(std::move(options)),
      m_http({}, kMaxRequestHead, kMaxRequestBody)
{
    build();
}

OlympusResponder::~OlympusResponder() = default;

void OlympusResponder::build()
{
    // The card's root holds DCIM; the camera serves DCIM and what is below it.
    std::function<void(const simulated::Entry&, const QString&)> walk = [&](const simulated::Entry& folder, const QString& path) {
        const auto listing = m_content->list(folder, true);
        if (!listing)
            return;
        for (const simulated::Entry& entry : *listing) {
            if (path.isEmpty() && (!entry.isFolder || entry.name != QLatin1String("DCIM")))
                continue;
            const QString childPath = path + QLatin1Char('/') + entry.name;
            if (!path.isEmpty())
                m_nodes[path].children.push_back(childPath);
            Node& node = m_nodes[childPath];
            node.entry = entry;
            node.path = childPath;
            if (entry.isFolder)
                walk(entry, childPath);
        }
    };
    walk(m_content->root(), QString());
    m_http.setConnectionMaker([] { return std::make_unique<Connection>(); });
    m_http.setRequestHandler([this](HttpConnection* connection, HttpRequest request) {
        handle(static_cast<Connection*>(connection), request);
    });
    m_http.setBytesWritten([this](HttpConnection* connection) { pump(static_cast<Connection*>(connection)); });
}

bool OlympusResponder::listen(const QHostAddress& address, quint16 port) { return m_http.listen(address, port); }

quint16 OlympusResponder::port() const { return m_http.port(); }

std::vector<OlympusResponder::ServedFile> OlympusResponder::files() const
{
    std::vector<ServedFile> result;
    for (const auto& [path, node] : m_nodes) {
        if (!node.entry.isFolder)
            result.push_back({path, node.entry.size});
    }
    return result;
}

const OlympusResponder::Node* OlympusResponder::nodeAt(const QString& path) const
{
    const auto found = m_nodes.find(path);
    return found == m_nodes.end() ? nullptr : &found->second;
}

bool OlympusResponder::faultsApply(const Node& node) const
{
    return m_options.streamFaultFiles.isEmpty() || m_options.streamFaultFiles.contains(node.entry.name);
}

void OlympusResponder::log(const QString& line)
{
    if (m_options.log)
        qCInfo(lcOlympusCamera).noquote() << line;
    emit requestLogged(line);
}

void OlympusResponder::goOutOfRange()
{
    log(QStringLiteral("out of range: every connection closes"));
    m_http.setRefusing(true);
    m_http.resetAll();
}

void OlympusResponder::dropConnections() { goOutOfRange(); }

void OlympusResponder::comeBack()
{
    m_http.setRefusing(false);
    log(QStringLiteral("back in range"));
}

void OlympusResponder::setFrozen(bool frozen)
{
    m_frozen = frozen;
    m_http.setFrozen(frozen);
}

void OlympusResponder::handle(Connection* connection, const HttpRequest& request)
{
    if (request.method != "GET") {
        connection->closeAfter = true;
        respond(connection, 400, "text/plain", {});
        return;
    }
    if (request.headers.contains("user-agent"))
        m_lastUserAgent = request.headers.value("user-agent");
    if (request.headers.contains("host"))
        m_lastHost = request.headers.value("host");
    std::optional<std::pair<qint64, qint64>> range;
    if (const QByteArray value = request.headers.value("range"); value.startsWith("bytes=")) {
        const QList<QByteArray> bounds = value.mid(6).split('-');
        bool firstOk = false;
        bool lastOk = false;
        const qint64 first = bounds.value(0).toLongLong(&firstOk);
        const qint64 last = bounds.value(1).toLongLong(&lastOk);
        if (bounds.size() == 2 && firstOk && first >= 0)
            range = std::pair<qint64, qint64>(first, lastOk ? last : -1);
    }
    ++m_requestCount;
    m_http.later(connection, m_options.latencyMs, [this, connection, target = request.target, path = request.path, range] {
        if (path.startsWith(QLatin1String("/DCIM/"))) {
            const Node* node = nodeAt(path);
            log(QStringLiteral("GET %1%2").arg(path, range ? QStringLiteral(" (range)") : QString()));
            if (!node || node->entry.isFolder) {
                respond(connection, 404, "text/plain", {});
                return;
            }
            startFile(connection, *node, m_options.honoursRange ? range : std::nullopt);
            return;
        }
        answer(connection, target);
    });
}

void OlympusResponder::answer(Connection* connection, const QByteArray& target)
{
    const QUrl url(QString::fromLatin1(target));
    const QUrlQuery query(url);
    const QString cgi = url.path();
    const QString dir = query.queryItemValue(QStringLiteral("DIR"), QUrl::FullyDecoded);
    log(QStringLiteral("%1%2").arg(cgi, dir.isEmpty() ? QString() : QStringLiteral(" ") + dir));
    if (cgi == QLatin1String("/get_caminfo.cgi")) {
        respond(connection, 200, "text/xml",
                "<?xml version=\"1.0\"?><caminfo><model>" + m_options.model.toHtmlEscaped().toUtf8() + "</model></caminfo>");
    } else if (cgi == QLatin1String("/get_connectmode.cgi")) {
        respond(connection, 200, "text/xml", "<?xml version=\"1.0\"?><connectmode>private</connectmode>");
    } else if (cgi == QLatin1String("/switch_cammode.cgi")) {
        const QString mode = query.queryItemValue(QStringLiteral("mode"));
        if (mode != QLatin1String("play") && mode != QLatin1String("rec") && mode != QLatin1String("shutter")) {
            respond(connection, 400, "text/plain", {});
            return;
        }
        m_playMode = mode == QLatin1String("play");
        respond(connection, 200, "www/unknown", {});
    } else if (cgi == QLatin1String("/get_imglist.cgi")) {
        if (m_listingOverride) {
            if (auto body = m_listingOverride(dir)) {
                respond(connection, 200, "text/plain", *body);
                return;
            }
        }
        const Node* node = nodeAt(dir);
        if (!m_playMode || !node || !node->entry.isFolder) {
            respond(connection, m_playMode ? 404 : 503, "text/plain", {});
            return;
        }
        QByteArray body = "VER_100\r\n";
        for (const QString& childPath : node->children) {
            const Node& child = m_nodes.at(childPath);
            const auto [date, time] = fatFields(child.entry.dateCreated);
            const qint64 size = child.entry.isFolder ? 0 : qint64(child.entry.size) + (faultsApply(child) ? m_options.listedSizeDelta : 0);
            body += QStringLiteral("%1,%2,%3,%4,%5,%6\r\n")
                        .arg(dir, child.entry.name)
                        .arg(std::max<qint64>(0, size))
                        .arg(child.entry.isFolder ? 16 : 0)
                        .arg(date)
                        .arg(time)
                        .toUtf8();
        }
        respond(connection, 200, "text/plain", body);
    } else if (cgi == QLatin1String("/get_thumbnail.cgi") || cgi == QLatin1String("/get_resizeimg.cgi")) {
        const Node* node = nodeAt(dir);
        const bool resize = cgi == QLatin1String("/get_resizeimg.cgi");
        if (!m_playMode || !node || node->entry.isFolder
            || (resize && !m_options.resizesRaw && ImageFileTypes::kindOfFileName(node->entry.name) == ImageFileTypes::Kind::raw)) {
            respond(connection, m_playMode ? 404 : 503, "text/plain", {});
            return;
        }
        const auto image = resize ? m_content->preview(node->entry) : m_content->thumbnail(node->entry);
        if (!image || image->isEmpty())
            respond(connection, 404, "text/plain", {});
        else
            respond(connection, 200, "image/jpeg", *image);
    } else {
        respond(connection, 404, "text/plain", {});
    }
}

void OlympusResponder::respond(Connection* connection, int status, const QByteArray& contentType, const QByteArray& body)
{
    m_http.reply(connection, HttpReply{status, contentType, body, {}});
}

void OlympusResponder::startFile(Connection* connection, const Node& node, std::optional<std::pair<qint64, qint64>> range)
{
    Connection::File file;
    file.node = &node;
    file.reader = m_content->open(node.entry);
    file.faults = faultsApply(node);
    if (!file.reader) {
        respond(connection, 404, "text/plain", {});
        return;
    }
    qint64 size = qint64(node.entry.size);
    if (file.faults && m_options.shortByBytes > 0)
        size = std::max<qint64>(0, size - m_options.shortByBytes);
    int status = 200;
    qint64 first = 0;
    qint64 length = size;
    if (range) {
        first = range->first;
        const qint64 last = range->second < 0 ? size - 1 : std::min(range->second, size - 1);
        if (first >= size || last < first) {
            respond(connection, 416, "text/plain", {});
            return;
        }
        status = 206;
        length = last - first + 1;
        // The reader starts at the beginning: what comes before the range is read past.
        for (qint64 skipped = 0; skipped < first;) {
            const auto bytes = file.reader->read(std::min<qint64>(first - skipped, 1024 * 1024));
            if (!bytes || bytes->isEmpty())
                break;
            skipped += bytes->size();
        }
    }
    QList<QPair<QByteArray, QByteArray>> headers;
    if (status == 206)
        headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(first + length - 1) + '/' + QByteArray::number(size)});
    m_http.writeHead(connection, status, ImageFileTypes::isKnownImageName(node.entry.name) ? "image/jpeg" : "application/octet-stream",
                     length, headers);
    file.remaining = length;
    file.clock.start();
    connection->file = std::move(file);
    pump(connection);
}

void OlympusResponder::pump(Connection* connection)
{
    if (!connection->socket || !connection->file || connection->file->waiting || m_frozen)
        return;
    Connection::File& file = *connection->file;
    while (file.remaining > 0 && connection->socket->bytesToWrite() < kMaxQueuedBytes) {
        qint64 allowed = std::min<qint64>(file.remaining, 64 * 1024);
        if (file.faults && m_options.streamErrorAfterBytes >= 0 && file.sent >= m_options.streamErrorAfterBytes) {
            log(QStringLiteral("closing the connection after %1 bytes of %2").arg(file.sent).arg(file.node->entry.name));
            m_http.reset(connection);
            return;
        }
        if (file.faults && m_options.streamStallAfterBytes >= 0 && file.sent >= m_options.streamStallAfterBytes && !file.stalled) {
            file.stalled = true;
            log(QStringLiteral("stalling %1").arg(file.node->entry.name));
            if (m_options.streamStallMs > 0) {
                file.waiting = true;
                m_http.later(connection, m_options.streamStallMs, [this, connection] {
                    if (!connection->file)
                        return;
                    connection->file->waiting = false;
                    pump(connection);
                });
            }
            return;
        }
        if (file.stalled && m_options.streamStallMs <= 0)
            return;
        if (file.faults && m_options.streamErrorAfterBytes >= 0)
            allowed = std::min(allowed, m_options.streamErrorAfterBytes - file.sent);
        if (file.faults && m_options.streamStallAfterBytes >= 0 && !file.stalled)
            allowed = std::min(allowed, m_options.streamStallAfterBytes - file.sent);
        if (m_options.throughputBytesPerSecond > 0) {
            const qint64 budget = file.clock.elapsed() * m_options.throughputBytesPerSecond / 1000 - file.sent;
            if (budget <= 0) {
                file.waiting = true;
                m_http.later(connection, 5, [this, connection] {
                    if (!connection->file)
                        return;
                    connection->file->waiting = false;
                    pump(connection);
                });
                return;
            }
            allowed = std::min(allowed, budget);
        }
        if (allowed <= 0)
            return;
        const auto bytes = file.reader->read(allowed);
        if (!bytes || bytes->isEmpty()) {
            log(QStringLiteral("the file %1 could not be read").arg(file.node->entry.name));
            m_http.reset(connection);
            return;
        }
        connection->socket->write(*bytes);
        file.sent += bytes->size();
        file.remaining -= bytes->size();
        m_fileBytesSent += bytes->size();
        if (m_options.dropAfterBytes >= 0 && m_fileBytesSent >= m_options.dropAfterBytes) {
            goOutOfRange();
            return;
        }
    }
    if (file.remaining <= 0) {
        connection->file.reset();
        m_http.finish(connection);
    }
}

} // namespace vornakel::tools
