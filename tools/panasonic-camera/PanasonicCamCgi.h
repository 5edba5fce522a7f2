#pragma once

// The control page of a LUMIX camera (cam.cgi), as a test camera answers it: the access request with the
// camera's own prompt to its user, playback mode and the state with the battery. A piece without a server of
// its own: an HTTP responder hands it each cam.cgi request and sends what it answers (after the link's
// latency). Main thread only.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrlQuery>

#include <functional>
#include <optional>

namespace vornakel::tools {

struct PanasonicCamCgiOptions {
    int accessPromptMs = 0;               // a new client is asked about this long on the camera, then accepted
    bool accessHeldUntilAnswered = false; // … or until `answerAccess` is called
    enum class AccessFault { none, refused, busy };
    AccessFault accessFault = AccessFault::none; // every access request is answered so
    std::optional<int> batteryBars = 4;   // of 5; none: the camera reports no battery
    QString cameraName = QStringLiteral("VK1-5A3C21");
    QString session = {};                 // handed out with the grant, then asked of every command (newer bodies)
    bool log = false;                     // one line per request on the diagnostics category
};

class PanasonicCamCgi : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int status = 200;
        QByteArray contentType = "text/xml";
        QByteArray body;
    };

    explicit PanasonicCamCgi(PanasonicCamCgiOptions options, QObject* parent = nullptr);

    PanasonicCamCgiOptions& options() { return m_options; }

    // Answers one request: its query, and the session header it carried.
    Reply handle(const QUrlQuery& query, const QByteArray& sessionHeader);

    // Test controls.
    // A held access prompt is answered: accepted, or refused.
    void answerAccess(bool accepted);
    bool accessPending() const { return m_prompt == Prompt::asking; }
    bool accessGranted() const { return m_prompt == Prompt::granted; }
    void setBatteryBars(std::optional<int> bars) { m_options.batteryBars = bars; }
    QString lastClientName() const { return m_lastClientName; }
    QString lastClientGuid() const { return m_lastClientGuid; }
    int requestCount() const { return m_requestCount; }
    // Answers every request with this raw body instead, when the function gives one (a broken or hostile camera).
    using ReplyOverride = std::function<std::optional<QByteArray>(const QUrlQuery&)>;
    void setReplyOverride(ReplyOverride override) { m_replyOverride = std::move(override); }

signals:
    void requestLogged(const QString& line);

private:
    enum class Prompt { none, asking, granted, refused };
    Reply answer(const QUrlQuery& query, const QByteArray& sessionHeader);
    Reply access(const QUrlQuery& query);
    Reply state() const;

    PanasonicCamCgiOptions m_options;
    Prompt m_prompt = Prompt::none;
    QString m_askingGuid;
    QString m_grantedGuid;
    QString m_lastClientName;
    QString m_lastClientGuid;
    QString m_cameraMode = QStringLiteral("rec");
    int m_requestCount = 0;
    ReplyOverride m_replyOverride;
};

} // namespace vornakel::tools
