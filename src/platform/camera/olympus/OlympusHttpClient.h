#pragma once

// The HTTP/1.1 client an Olympus camera is spoken to with, on Qt Network's QNetworkAccessManager: it keeps
// connections alive between requests, reads Content-Length and chunked bodies, and hands a body on as it
// arrives. Each request's body is bounded, and a streamed one can pause (Qt then stops reading the socket once
// its small buffer is full). Every request carries the headers the cameras expect ("OlympusCameraKit"; the
// Host header is the camera's address). Main thread only; completions run on the main thread.

#include "platform/core/Error.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace vornakel::olympus {

struct HttpResult {
    int status = 0;
    QByteArray body;            // the gathered body (requests without a sink)
    qint64 contentLength = -1;  // -1: not announced
    qint64 received = 0;        // body bytes received
    // The connection failed, closed before the body ended, or went silent: the camera may be gone.
    bool transportFailed = false;
};

struct HttpRequest {
    QString target; // path and query: "/get_imglist.cgi?DIR=/DCIM"
    qint64 maximumBytes = 1024 * 1024; // a gathered body past this fails the request
    std::optional<qint64> rangeEnd;    // asks for bytes 0 … rangeEnd (a camera may answer the whole file)
    std::chrono::milliseconds silenceTimeout{0}; // 0: none (only probes and polls give up on a silent camera)
    // Goes before every waiting request, and past the bound on requests in flight (a poll must not wait behind a
    // card's worth of thumbnails to learn whether the camera is there).
    bool urgent = false;
    // Streaming: the status and announced length once the headers are in (false fails the request with 1014),
    // then the body as it arrives (false stops it: the request completes with 1004).
    std::function<bool(int status, qint64 contentLength)> headers;
    std::function<bool(const QByteArray& bytes)> sink;
};

class HttpClient : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<Error>, HttpResult)>;
    class Handle;

    // The cameras serve few connections at once: past `maximumInFlight` requests the others wait their turn.
    HttpClient(QString host, quint16 port, QObject* parent = nullptr, int maximumInFlight = 2);
    ~HttpClient() override;

    // Errors: 1005 for 404, 1000 for another HTTP status or a body past its bound, 1004 when stopped, 1002 when
    // `failAll` ended it, and for a transport failure 1000 with `transportFailed` set.
    // The handle pauses or stops the request; it does nothing once the request is complete.
    std::shared_ptr<Handle> get(HttpRequest request, Completion completion);
    // Ends every request in flight with the error code.
    void failAll(int code);
    // Whether any request has had an answer (headers or body bytes) within the last `interval`.
    bool answeredWithin(std::chrono::milliseconds interval) const;

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

private:
    struct Pending;
    void start(const std::shared_ptr<Pending>& pending);
    void startWaiting();
    void readFrom(const std::shared_ptr<Pending>& pending);
    void finish(const std::shared_ptr<Pending>& pending);
    void complete(const std::shared_ptr<Pending>& pending, std::optional<Error> error);

    QString m_host;
    quint16 m_port;
    QNetworkAccessManager* m_manager;
    int m_maximumInFlight;
    std::map<QNetworkReply*, std::shared_ptr<Pending>> m_pending; // in flight
    std::deque<std::shared_ptr<Pending>> m_waiting;
    QElapsedTimer m_lastAnswer;
    friend class Handle;
};

class HttpClient::Handle {
public:
    explicit Handle(std::weak_ptr<Pending> pending, QPointer<HttpClient> client)
        : m_pending(std::move(pending)), m_client(std::move(client)) {}
    void setPaused(bool paused);
    void stop(int code);

private:
    std::weak_ptr<Pending> m_pending;
    QPointer<HttpClient> m_client;
};

// The header value Olympus cameras expect in every request.
inline QByteArray userAgent() { return QByteArrayLiteral("OlympusCameraKit"); }

} // namespace vornakel::olympus
