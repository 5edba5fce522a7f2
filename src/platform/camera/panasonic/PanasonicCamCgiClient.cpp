#include "platform/camera/panasonic/PanasonicCamCgiClient.h"

#include "platform/camera/VKLCamera.h"
#include "platform/camera/panasonic/PanasonicReplies.h"
#include "platform/core/DispatchQueue.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

namespace vornakel {

PanasonicCamCgiClient::PanasonicCamCgiClient(QString host, quint16 port, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_port(port), m_timeout(timeout)
{
    m_network = new QNetworkAccessManager(this);
    // The camera is on the link itself: a proxy from the environment would never reach it.
    m_network->setProxy(QNetworkProxy::NoProxy);
}

PanasonicCamCgiClient::~PanasonicCamCgiClient()
{
    close();
    // The manager and its replies go here, on this thread, while their connections to this object still stand.
    // Left to QObject's own teardown, those connections would first be cut and only later freed, by whichever
    // thread next touched the reply: a reply still waiting for its deleteLater may be touched by Qt's HTTP thread,
    // which would then destroy our connected lambdas there.
    delete m_network;
    m_network = nullptr;
}

void PanasonicCamCgiClient::get(const Query& query, Completion completion)
{
    if (m_closed) {
        DispatchQueue::main()->async([completion] { completion(errorWithVKLErrorCode(VKLErrorConnectionLost), {}); });
        return;
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(QStringLiteral("/cam.cgi"));
    QUrlQuery urlQuery;
    for (const auto& [key, value] : query)
        urlQuery.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    url.setQuery(urlQuery);
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!m_session.isEmpty())
        request.setRawHeader("X-SESSION_ID", m_session.toLatin1());
    QNetworkReply* reply = m_network->get(request);
    // The network thread stops taking bytes from the camera once one past the bound waits here, however late
    // the main thread gets to the abort below.
    reply->setReadBufferSize(panasonic::kMaxReplyBytes + 1);
    m_pending[reply] = completion;
    auto tooLong = std::make_shared<bool>(false);
    const auto checkLength = [reply, tooLong](qint64 received, qint64 total) {
        if (!*tooLong && (received > panasonic::kMaxReplyBytes || total > panasonic::kMaxReplyBytes)) {
            *tooLong = true;
            reply->abort();
        }
    };
    // The announced length comes with the progress; what arrived is checked with every piece, as Qt spaces its
    // progress reports out in time and an endless reply fills the buffer between two of them.
    connect(reply, &QNetworkReply::downloadProgress, this, checkLength);
    connect(reply, &QNetworkReply::readyRead, this, [reply, checkLength] { checkLength(reply->bytesAvailable(), -1); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, tooLong, completion] {
        m_pending.erase(reply);
        reply->deleteLater();
        if (*tooLong) {
            completion(errorWithVKLErrorCode(VKLErrorGeneric), {});
            return;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A reply whose head came but whose body broke off (the camera left, the transfer timed out) is a broken
        // connection, not an answer: its partial body must never be read as the camera's state. Qt may also see
        // the close before the socket's error and end the reply quietly, short of its announced length.
        const QNetworkReply::NetworkError error = reply->error();
        const bool transportFailed = error != QNetworkReply::NoError
                                     && (status == 0 || error < QNetworkReply::ProxyConnectionRefusedError);
        const QByteArray body = reply->read(panasonic::kMaxReplyBytes + 1);
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        const bool cutShort = announced.isValid() && body.size() < announced.toLongLong();
        if (transportFailed || (status == 200 && cutShort)) {
            completion(errorWithVKLErrorCode(VKLErrorConnectionLost), {});
            return;
        }
        if (status != 200) {
            completion(errorWithVKLErrorCode(VKLErrorGeneric), {});
            return;
        }
        completion(std::nullopt, body);
    });
}

void PanasonicCamCgiClient::close()
{
    m_closed = true;
    // The completions are posted, never run inside the caller's stack (which may be its owner's destructor).
    for (auto& [reply, completion] : std::exchange(m_pending, {})) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        DispatchQueue::main()->async([completion] { completion(errorWithVKLErrorCode(VKLErrorConnectionLost), {}); });
    }
}

} // namespace vornakel
