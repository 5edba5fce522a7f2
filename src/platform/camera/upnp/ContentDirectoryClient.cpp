#include "platform/camera/upnp/ContentDirectoryClient.h"

#include "platform/camera/VKLCamera.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace vornakel::upnp {

namespace {

// What the network thread reads ahead of us for a reply that is collected whole.
constexpr qint64 kReplyReadBuffer = 256 * 1024;


QNetworkRequest requestFor(const QUrl& url, std::chrono::milliseconds timeout)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(timeout.count()));
    // A camera's access point is a direct link: no proxy, no redirects to elsewhere, no cookies.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Vornakel UPnP/1.0 DLNADOC/1.50"));
    return request;
}

Error withMessage(int code, const QString& message)
{
    Error error = errorWithVKLErrorCode(code);
    error.message = message;
    return error;
}

} // namespace

ContentDirectoryClient::ContentDirectoryClient(QNetworkAccessManager* network, QUrl controlUrl,
                                               ContentDirectoryOptions options, QObject* parent)
    : QObject(parent), m_network(network), m_controlUrl(std::move(controlUrl)), m_options(options)
{
}

ContentDirectoryClient::~ContentDirectoryClient()
{
    for (QNetworkReply* reply : std::set<QNetworkReply*>(m_replies)) {
        reply->disconnect(this);
        reply->abort();
    }
}

QString ContentDirectoryClient::describe(QNetworkReply* reply)
{
    return QStringLiteral("%1: %2").arg(reply->url().toString(QUrl::RemoveUserInfo), reply->errorString());
}

std::optional<Error> ContentDirectoryClient::errorOfReply(QNetworkReply* reply, int failureCode)
{
    switch (reply->error()) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return withMessage(VKLErrorConnectionLost, describe(reply));
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out aborts the reply
        return withMessage(VKLErrorTimeout, describe(reply));
    case QNetworkReply::ContentNotFoundError:
        return withMessage(failureCode == VKLErrorReadFailed ? VKLErrorFileNotFound : failureCode, describe(reply));
    default:
        return withMessage(failureCode, describe(reply));
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200 && status != 206)
        return withMessage(failureCode, QStringLiteral("%1: HTTP status %2").arg(reply->url().toString()).arg(status));
    return std::nullopt;
}

QNetworkReply* ContentDirectoryClient::track(QNetworkReply* reply)
{
    m_replies.insert(reply);
    connect(reply, &QObject::destroyed, this, [this, reply] { m_replies.erase(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { m_replies.erase(reply); });
    return reply;
}

void ContentDirectoryClient::collect(QNetworkReply* reply, qint64 maxBytes, int failureCode, BytesCallback callback)
{
    // The network thread stops taking bytes once this much waits, however late the main thread gets to them:
    // an endless reply is then given up on near its bound rather than read on meanwhile.
    reply->setReadBufferSize(kReplyReadBuffer);
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    const auto take = [reply, body, tooLarge, maxBytes] {
        if (*tooLarge || !reply->isOpen())
            return;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (body->size() + reply->bytesAvailable() > maxBytes || (length.isValid() && length.toLongLong() > maxBytes)) {
            *tooLarge = true;
            reply->abort();
            return;
        }
        body->append(reply->readAll());
    };
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, tooLarge, take, maxBytes, failureCode, callback] {
        take();
        reply->deleteLater();
        std::optional<Error> error;
        if (m_failure)
            error = m_failure;
        else if (*tooLarge)
            error = withMessage(failureCode, QStringLiteral("%1: the reply is larger than %2 bytes").arg(reply->url().toString()).arg(maxBytes));
        else
            error = errorOfReply(reply, failureCode);
        callback(error, error ? QByteArray() : *body);
    });
}

void ContentDirectoryClient::fetchDescription(QNetworkAccessManager* network, const QUrl& url,
                                              std::chrono::milliseconds timeout, QObject* context,
                                              DescriptionCallback callback)
{
    QNetworkReply* reply = network->get(requestFor(url, timeout));
    reply->setReadBufferSize(kReplyReadBuffer);
    QPointer<QObject> guard = context;
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body, tooLarge] {
        if (body->size() + reply->bytesAvailable() > kMaxDescriptionBytes) {
            *tooLarge = true;
            reply->abort();
            return;
        }
        body->append(reply->readAll());
    });
    if (context)
        QObject::connect(context, &QObject::destroyed, reply, [reply] { reply->abort(); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, url, guard, body, tooLarge, callback] {
        reply->deleteLater();
        if (!guard)
            return;
        if (!*tooLarge && reply->isOpen())
            body->append(reply->readAll());
        std::optional<Error> error = *tooLarge
            ? std::optional(withMessage(VKLErrorGeneric, QStringLiteral("%1: the description is too large").arg(url.toString())))
            : errorOfReply(reply, VKLErrorGeneric);
        if (error) {
            callback(error, std::nullopt);
            return;
        }
        DescriptionResult parsed = parseDeviceDescription(*body, url);
        if (!parsed.description) {
            callback(withMessage(VKLErrorGeneric, QStringLiteral("%1: %2").arg(url.toString(), parsed.error)), std::nullopt);
            return;
        }
        callback(std::nullopt, std::move(parsed.description));
    });
}

struct ContentDirectoryClient::Browse {
    QString objectId;
    std::vector<DidlObject> children;
    quint32 nextIndex = 0;
    ListingCallback callback;
};

void ContentDirectoryClient::browseChildren(const QString& objectId, ListingCallback callback)
{
    auto browse = std::make_shared<Browse>();
    browse->objectId = objectId;
    browse->callback = std::move(callback);
    if (m_failure) {
        QTimer::singleShot(0, this, [browse, error = *m_failure] { browse->callback(error, {}); });
        return;
    }
    browsePage(browse);
}

void ContentDirectoryClient::browsePage(const std::shared_ptr<Browse>& browse)
{
    QNetworkRequest request = requestFor(m_controlUrl, m_options.timeout);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml; charset=\"utf-8\""));
    request.setRawHeader("SOAPACTION", QByteArray("\"") + browseSoapAction().toUtf8() + "\"");
    const quint32 requested = std::max<quint32>(1, m_options.pageSize);
    QNetworkReply* reply = track(m_network->post(request, browseRequestBody(browse->objectId, browse->nextIndex, requested)));
    const auto fail = [browse](Error error) { browse->callback(error, {}); };
    collect(reply, m_options.limits.maxBytes, VKLErrorListingFailed,
            [this, browse, requested, fail](std::optional<Error> error, QByteArray body) {
                if (error) {
                    fail(*error);
                    return;
                }
                const QString where = QStringLiteral("Browse of \"%1\" from %2").arg(browse->objectId.left(64)).arg(browse->nextIndex);
                const BrowseResult reply = parseBrowseResponse(body, m_options.limits);
                if (!reply.response) {
                    fail(withMessage(VKLErrorListingFailed, QStringLiteral("%1: %2").arg(where, reply.error)));
                    return;
                }
                DidlResult listing = parseDidlLite(reply.response->result, m_controlUrl, m_options.limits);
                if (!listing.error.isEmpty()) {
                    fail(withMessage(VKLErrorListingFailed, QStringLiteral("%1: %2").arg(where, listing.error)));
                    return;
                }
                // The entries themselves count, not what NumberReturned claims.
                const auto returned = quint32(listing.objects.size());
                if (browse->children.size() + listing.objects.size() > size_t(m_options.maxChildren)) {
                    fail(withMessage(VKLErrorListingFailed, QStringLiteral("%1: more than %2 entries").arg(where).arg(m_options.maxChildren)));
                    return;
                }
                for (DidlObject& object : listing.objects)
                    browse->children.push_back(std::move(object));
                browse->nextIndex += returned;
                const quint32 total = reply.response->totalMatches;
                const bool more = returned > 0 && (total > 0 ? browse->nextIndex < total : returned >= requested);
                if (more && !m_failure) {
                    browsePage(browse);
                    return;
                }
                if (m_failure) {
                    fail(*m_failure);
                    return;
                }
                browse->callback(std::nullopt, std::move(browse->children));
            });
}

void ContentDirectoryClient::get(const QUrl& url, qint64 maxBytes, BytesCallback callback)
{
    if (m_failure) {
        QTimer::singleShot(0, this, [callback, error = *m_failure] { callback(error, {}); });
        return;
    }
    collect(track(m_network->get(requestFor(url, m_options.timeout))), maxBytes, VKLErrorReadFailed, std::move(callback));
}

void ContentDirectoryClient::getHead(const QUrl& url, qint64 maxBytes, BytesCallback callback)
{
    if (m_failure || maxBytes <= 0) {
        QTimer::singleShot(0, this, [callback, error = m_failure] { callback(error, {}); });
        return;
    }
    QNetworkRequest request = requestFor(url, m_options.timeout);
    request.setRawHeader("Range", "bytes=0-" + QByteArray::number(maxBytes - 1));
    QNetworkReply* reply = track(m_network->get(request));
    auto head = std::make_shared<QByteArray>();
    auto enough = std::make_shared<bool>(false);
    auto refused = std::make_shared<std::optional<int>>();
    const auto take = [reply, head, enough, refused, maxBytes] {
        if (*enough || *refused || !reply->isOpen())
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != 200 && status != 206) {
            // An error page is no part of the file: only its status is reported.
            *refused = status;
            reply->abort();
            return;
        }
        head->append(reply->read(maxBytes - head->size()));
        if (head->size() >= maxBytes) {
            *enough = true; // a camera that ignored the range goes on with the whole file: not read
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::finished, this, [this, reply, head, enough, refused, take, url, callback] {
        take();
        reply->deleteLater();
        std::optional<Error> error;
        if (m_failure)
            error = m_failure;
        else if (*refused)
            error = withMessage(VKLErrorReadFailed, QStringLiteral("%1: HTTP status %2").arg(url.toString()).arg(**refused));
        else if (!*enough)
            error = errorOfReply(reply, VKLErrorReadFailed);
        callback(error, error ? QByteArray() : *head);
    });
}

QNetworkReply* ContentDirectoryClient::openStream(const QUrl& url)
{
    return track(m_network->get(requestFor(url, m_options.timeout)));
}

void ContentDirectoryClient::failAll(const Error& error)
{
    if (!m_failure)
        m_failure = error;
    for (QNetworkReply* reply : std::set<QNetworkReply*>(m_replies))
        reply->abort();
}

void probeMediaServer(QNetworkAccessManager* network, const QString& host, quint16 port, const QStringList& paths,
                      std::chrono::milliseconds timeout, QObject* context,
                      std::function<bool(const DeviceDescription&)> accept,
                      std::function<void(std::optional<FoundMediaServer>)> callback)
{
    struct Probe {
        int left = 0;
        bool answered = false;
        std::function<void(std::optional<FoundMediaServer>)> callback;
    };
    auto probe = std::make_shared<Probe>();
    probe->left = int(paths.size());
    probe->callback = std::move(callback);
    if (paths.isEmpty()) {
        QTimer::singleShot(0, context, [probe] { probe->callback(std::nullopt); });
        return;
    }
    for (const QString& path : paths) {
        QUrl url;
        url.setScheme(QStringLiteral("http"));
        url.setHost(host);
        url.setPort(port);
        url.setPath(path);
        ContentDirectoryClient::fetchDescription(
            network, url, timeout, context,
            [probe, url, accept](std::optional<Error> error, std::optional<DeviceDescription> description) {
                --probe->left;
                if (probe->answered)
                    return;
                if (!error && description && description->contentDirectory() && (!accept || accept(*description))) {
                    probe->answered = true;
                    probe->callback(FoundMediaServer{url, *description});
                } else if (probe->left == 0) {
                    probe->answered = true;
                    probe->callback(std::nullopt);
                }
            });
    }
}

} // namespace vornakel::upnp
