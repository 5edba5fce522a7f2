#include "panasonic-camera/PanasonicCamCgi.h"

#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcPanasonicCamera, "vornakel.tools.panasonic-camera")

namespace vornakel::tools {

namespace {

PanasonicCamCgi::Reply xmlResult(const QString& result, const QByteArray& more = {})
{
    PanasonicCamCgi::Reply reply;
    reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<camrply><result>" + result.toUtf8() + "</result>" + more
        + "</camrply>";
    return reply;
}

PanasonicCamCgi::Reply plain(const QString& text)
{
    PanasonicCamCgi::Reply reply;
    reply.contentType = "text/plain";
    reply.body = text.toUtf8();
    return reply;
}

} // namespace

PanasonicCamCgi::PanasonicCamCgi(PanasonicCamCgiOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
}

PanasonicCamCgi::Reply PanasonicCamCgi::handle(const QUrlQuery& query, const QByteArray& sessionHeader)
{
    ++m_requestCount;
    Reply reply;
    if (m_replyOverride) {
        if (auto raw = m_replyOverride(query))
            reply.body = *raw;
        else
            reply = answer(query, sessionHeader);
    } else {
        reply = answer(query, sessionHeader);
    }
    if (m_options.log) {
        const QString line = QStringLiteral("cam.cgi?%1 -> %2").arg(query.toString(QUrl::FullyDecoded),
                                                                    QString::fromUtf8(reply.body.left(80)).simplified());
        qCInfo(lcPanasonicCamera).noquote() << line;
        emit requestLogged(line);
    }
    return reply;
}

PanasonicCamCgi::Reply PanasonicCamCgi::answer(const QUrlQuery& query, const QByteArray& sessionHeader)
{
    const QString mode = query.queryItemValue(QStringLiteral("mode"), QUrl::FullyDecoded);
    if (mode == QLatin1String("accctrl"))
        return access(query);
    if (mode == QLatin1String("getstate"))
        return state();
    if (mode == QLatin1String("camcmd")) {
        // Commands are for the client the camera let in.
        if (m_prompt != Prompt::granted || (!m_options.session.isEmpty() && sessionHeader != m_options.session.toUtf8()))
            return xmlResult(QStringLiteral("err_critical"));
        const QString value = query.queryItemValue(QStringLiteral("value"), QUrl::FullyDecoded);
        if (value == QLatin1String("playmode"))
            m_cameraMode = QStringLiteral("play");
        else if (value == QLatin1String("recmode"))
            m_cameraMode = QStringLiteral("rec");
        else
            return xmlResult(QStringLiteral("err_param"));
        return xmlResult(QStringLiteral("ok"));
    }
    return xmlResult(QStringLiteral("err_param"));
}

PanasonicCamCgi::Reply PanasonicCamCgi::access(const QUrlQuery& query)
{
    if (query.queryItemValue(QStringLiteral("type")) != QLatin1String("req_acc"))
        return plain(QStringLiteral("err_param"));
    const QString guid = query.queryItemValue(QStringLiteral("value"), QUrl::FullyDecoded);
    m_lastClientGuid = guid;
    m_lastClientName = query.queryItemValue(QStringLiteral("value2"), QUrl::FullyDecoded);
    const QString granted = m_options.session.isEmpty()
        ? QStringLiteral("ok,%1,remote").arg(m_options.cameraName)
        : QStringLiteral("ok,%1,remote,open,%2").arg(m_options.cameraName, m_options.session);
    switch (m_options.accessFault) {
    case PanasonicCamCgiOptions::AccessFault::refused:
        return plain(QStringLiteral("err_reject"));
    case PanasonicCamCgiOptions::AccessFault::busy:
        return plain(QStringLiteral("err_busy"));
    case PanasonicCamCgiOptions::AccessFault::none:
        break;
    }
    if (m_prompt == Prompt::granted && guid == m_grantedGuid)
        return plain(granted);
    if (m_prompt == Prompt::asking) {
        if (guid != m_askingGuid)
            return plain(QStringLiteral("err_others_requesting"));
        return plain(QStringLiteral("ok_under_research,%1,remote").arg(m_options.cameraName));
    }
    if (m_prompt == Prompt::refused && guid == m_askingGuid) {
        m_prompt = Prompt::none; // the answer is given once; the next request asks anew
        return plain(QStringLiteral("err_reject"));
    }
    if (m_options.accessPromptMs <= 0 && !m_options.accessHeldUntilAnswered) {
        m_prompt = Prompt::granted;
        m_grantedGuid = guid;
        return plain(granted);
    }
    // A new client: the camera asks its user, and says so until the user answers.
    m_prompt = Prompt::asking;
    m_askingGuid = guid;
    if (!m_options.accessHeldUntilAnswered) {
        QTimer::singleShot(m_options.accessPromptMs, this, [this, guid] {
            if (m_prompt == Prompt::asking && m_askingGuid == guid)
                answerAccess(true);
        });
    }
    return plain(QStringLiteral("ok_under_research,%1,remote").arg(m_options.cameraName));
}

void PanasonicCamCgi::answerAccess(bool accepted)
{
    if (m_prompt != Prompt::asking)
        return;
    m_prompt = accepted ? Prompt::granted : Prompt::refused;
    if (accepted)
        m_grantedGuid = m_askingGuid;
}

PanasonicCamCgi::Reply PanasonicCamCgi::state() const
{
    QByteArray state = "<state>";
    state += "<batt>" + (m_options.batteryBars ? QByteArray::number(*m_options.batteryBars) : QByteArray("-1")) + "/5</batt>";
    state += "<batt_per>-1</batt_per>";
    state += "<cammode>" + m_cameraMode.toUtf8() + "</cammode>";
    state += "<sdcardstatus>write_enable</sdcardstatus><sd_memory>set</sd_memory><version>VK1.0</version>";
    state += "</state>";
    return xmlResult(QStringLiteral("ok"), state);
}

} // namespace vornakel::tools
