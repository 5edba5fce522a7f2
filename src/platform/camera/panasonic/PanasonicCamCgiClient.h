#pragma once

// Requests to a LUMIX camera's control page (http://<camera>/cam.cgi?mode=…), on the main thread, never
// blocking it. Replies are read up to `panasonic::kMaxReplyBytes`; a longer one fails. Once the camera handed
// out a session with its access grant, every request carries it ("X-SESSION_ID").

#include "platform/core/Error.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace vornakel {

class PanasonicCamCgiClient : public QObject {
    Q_OBJECT
public:
    using Query = QList<QPair<QString, QString>>;
    // A reply that never came, a reset or refused connection, or a time-out is 1002; an HTTP error or a reply
    // past the bound is 1000.
    using Completion = std::function<void(std::optional<Error>, QByteArray body)>;

    PanasonicCamCgiClient(QString host, quint16 port, std::chrono::milliseconds timeout, QObject* parent = nullptr);
    ~PanasonicCamCgiClient() override;

    void setSession(const QString& session) { m_session = session; }
    QString session() const { return m_session; }

    // The completion runs on the main thread, unless the client was closed first (then it fails with 1002).
    void get(const Query& query, Completion completion);
    // Aborts every request under way; their completions get 1002, posted. Later requests fail at once.
    void close();
    bool isClosed() const { return m_closed; }

private:
    QString m_host;
    quint16 m_port;
    std::chrono::milliseconds m_timeout;
    QString m_session;
    QNetworkAccessManager* m_network = nullptr;
    bool m_closed = false;
    std::map<QNetworkReply*, Completion> m_pending;
};

} // namespace vornakel
