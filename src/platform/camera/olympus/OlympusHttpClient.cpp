#include "platform/camera/olympus/OlympusHttpClient.h"

#include "platform/camera/VKLCamera.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

namespace vornakel::olympus {

namespace {

// What Qt holds of a streamed body that is not read; past it Qt stops reading the socket.
constexpr qint64 kStreamReadBuffer = 1024 * 1024;

Error failure(int code, const QString& detail = {})
{
    Error error = errorWithVKLErrorCode(code);
    if (!detail.isEmpty())
        error.userInfo.insert(QStringLiteral("NSDebugDescription"), detail);
    return error;
}

} // namespace

struct HttpClient::Pending {
    QPointer<QNetworkReply> reply;
    HttpRequest request;
    Completion completion;
    HttpResult result;
    bool headersSeen = false;
    bool paused = false;
    bool finished = false; // Qt has the whole reply
    std::optional<Error> stopped; // why we ended it ourselves
};

HttpClient::HttpClient(QString host, quint16 port, QObject* parent, int maximumInFlight)
    : QObject(parent), m_host(std::move(host)), m_port(port), m_manager(new QNetworkAccessManager(this)),
      m_maximumInFlight(std::max(1, maximumInFlight))
{
    // A camera's address is reached directly, never through a proxy from the environment.
    m_manager->setProxy(QNetworkProxy::NoProxy);
}

HttpClient::~HttpClient()
{
    for (auto& [reply, pending] : m_pending) {
        if (pending->reply) {
            pending->reply->disconnect(this);
            pending->reply->abort();
            pending->reply->deleteLater();
        }
    }
}

std::shared_ptr<HttpClient::Handle> HttpClient::get(HttpRequest request, Completion completion)
{
    auto pending = std::make_shared<Pending>();
    pending->request = std::move(request);
    pending->completion = std::move(completion);
    if (pending->request.urgent) {
        start(pending);
    } else {
        m_waiting.push_back(pending);
        startWaiting();
    }
    return std::make_shared<Handle>(pending, this);
}

void HttpClient::startWaiting()
{
    while (!m_waiting.empty() && qsizetype(m_pending.size()) < m_maximumInFlight) {
        auto next = std::move(m_waiting.front());
        m_waiting.pop_front();
        start(next);
    }
}

void HttpClient::start(const std::shared_ptr<Pending>& pending)
{
    const HttpRequest& request = pending->request;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_host);
    if (m_port != 80)
        url.setPort(m_port);
    const qsizetype query = request.target.indexOf(QLatin1Char('?'));
    url.setPath(query < 0 ? request.target : request.target.left(query));
    if (query >= 0)
        url.setQuery(request.target.mid(query + 1));
    QNetworkRequest networkRequest(url);
    networkRequest.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // The body is handed on as it is; a compressed one would be a second parser to harden.
    networkRequest.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
    if (request.rangeEnd)
        networkRequest.setRawHeader(QByteArrayLiteral("Range"), QByteArrayLiteral("bytes=0-") + QByteArray::number(*request.rangeEnd));
    networkRequest.setTransferTimeout(int(request.silenceTimeout.count()));

    QNetworkReply* reply = m_manager->get(networkRequest);
    if (request.sink)
        reply->setReadBufferSize(kStreamReadBuffer);
    pending->reply = reply;
    m_pending[reply] = pending;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, pending] { readFrom(pending); });
    connect(reply, &QNetworkReply::readyRead, this, [this, pending] { readFrom(pending); });
    connect(reply, &QNetworkReply::finished, this, [this, pending] {
        pending->finished = true;
        finish(pending);
    });
}

bool HttpClient::answeredWithin(std::chrono::milliseconds interval) const
{
    return m_lastAnswer.isValid() && m_lastAnswer.elapsed() < interval.count();
}

void HttpClient::readFrom(const std::shared_ptr<Pending>& pending)
{
    QNetworkReply* reply = pending->reply;
    if (!reply || pending->stopped || !pending->completion)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        m_lastAnswer.start();
    if (!pending->headersSeen && status.isValid()) {
        pending->headersSeen = true;
        pending->result.status = status.toInt();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        pending->result.contentLength = length.isValid() ? length.toLongLong() : -1;
        const bool success = pending->result.status >= 200 && pending->result.status < 300;
        if (!success) {
            // The status says it all; an error page is not read.
            pending->stopped = failure(pending->result.status == 404 ? VKLErrorFileNotFound : VKLErrorGeneric,
                                       QStringLiteral("HTTP status %1").arg(pending->result.status));
        } else if (!pending->request.sink && pending->result.contentLength > pending->request.maximumBytes) {
            pending->stopped = failure(VKLErrorGeneric, QStringLiteral("a body of %1 bytes").arg(pending->result.contentLength));
        } else if (pending->request.headers && !pending->request.headers(pending->result.status, pending->result.contentLength)) {
            pending->stopped = failure(VKLErrorReadFailed);
        }
        if (pending->stopped) {
            complete(pending, pending->stopped);
            return;
        }
    }
    if (!pending->headersSeen || pending->paused)
        return;
    while (reply->bytesAvailable() > 0 && !pending->paused) {
        const QByteArray bytes = reply->read(std::min<qint64>(reply->bytesAvailable(), kStreamReadBuffer));
        if (bytes.isEmpty())
            break;
        pending->result.received += bytes.size();
        if (pending->request.sink) {
            if (!pending->request.sink(bytes)) {
                pending->stopped = failure(VKLErrorCancelled);
                complete(pending, pending->stopped);
                return;
            }
        } else {
            if (pending->result.received > pending->request.maximumBytes) {
                pending->stopped = failure(VKLErrorGeneric, QStringLiteral("a body past %1 bytes").arg(pending->request.maximumBytes));
                complete(pending, pending->stopped);
                return;
            }
            pending->result.body.append(bytes);
        }
    }
}

void HttpClient::finish(const std::shared_ptr<Pending>& pending)
{
    QNetworkReply* reply = pending->reply;
    if (!reply || !pending->completion)
        return;
    readFrom(pending);
    if (!pending->completion || pending->paused || reply->bytesAvailable() > 0)
        return; // the rest is read once the request resumes
    std::optional<Error> error;
    if (reply->error() != QNetworkReply::NoError) {
        const int code = reply->error();
        // Qt's codes below 100 are the connection's own failures (refused, closed, silent, reset).
        if (code < 100 || code == QNetworkReply::UnknownNetworkError) {
            pending->result.transportFailed = true;
            error = failure(VKLErrorGeneric, reply->errorString());
        } else if (pending->result.status == 404) {
            error = failure(VKLErrorFileNotFound);
        } else {
            error = failure(VKLErrorGeneric, reply->errorString());
        }
    } else if (!pending->headersSeen) {
        error = failure(VKLErrorGeneric, QStringLiteral("no HTTP status"));
    } else if (pending->result.contentLength >= 0 && pending->result.received < pending->result.contentLength) {
        // Qt reads a connection that closes mid-body as the body's end when the close is seen before the socket's
        // error; the length the camera announced says the connection broke.
        pending->result.transportFailed = true;
        error = failure(VKLErrorGeneric, QStringLiteral("the connection closed after %1 of %2 bytes")
                                             .arg(pending->result.received)
                                             .arg(pending->result.contentLength));
    }
    complete(pending, error);
}

void HttpClient::complete(const std::shared_ptr<Pending>& pending, std::optional<Error> error)
{
    Completion completion = std::exchange(pending->completion, nullptr);
    if (const auto waiting = std::find(m_waiting.begin(), m_waiting.end(), pending); waiting != m_waiting.end())
        m_waiting.erase(waiting);
    if (QNetworkReply* reply = pending->reply) {
        m_pending.erase(reply);
        reply->disconnect(this);
        // Not inside the reply's own signal: Qt may be about to report the reply's end itself.
        if (!reply->isFinished())
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        reply->deleteLater();
    }
    pending->reply = nullptr;
    // The next waiting request goes out after this completion has run (it may stop or add requests).
    QMetaObject::invokeMethod(this, &HttpClient::startWaiting, Qt::QueuedConnection);
    if (completion)
        completion(error, std::move(pending->result));
}

void HttpClient::failAll(int code)
{
    std::vector<std::shared_ptr<Pending>> all(m_waiting.begin(), m_waiting.end());
    m_waiting.clear();
    for (auto& [reply, each] : m_pending)
        all.push_back(each);
    for (auto& each : all) {
        each->stopped = failure(code);
        complete(each, each->stopped);
    }
}

void HttpClient::Handle::setPaused(bool paused)
{
    auto pending = m_pending.lock();
    if (!pending || !m_client || !pending->completion || pending->paused == paused)
        return;
    pending->paused = paused;
    if (!paused && pending->reply) {
        if (pending->finished)
            m_client->finish(pending);
        else
            m_client->readFrom(pending);
    }
}

void HttpClient::Handle::stop(int code)
{
    auto pending = m_pending.lock();
    if (!pending || !m_client || !pending->completion)
        return;
    pending->stopped = failure(code);
    m_client->complete(pending, pending->stopped);
}

} // namespace vornakel::olympus
