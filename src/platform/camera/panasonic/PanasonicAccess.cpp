#include "platform/camera/panasonic/PanasonicAccess.h"

#include "platform/camera/panasonic/PanasonicCamCgiClient.h"
#include "platform/camera/panasonic/PanasonicReplies.h"
#include "platform/core/UserDefaults.h"

#include <QLoggingCategory>
#include <QTimer>
#include <QUuid>

#include <mutex>

Q_LOGGING_CATEGORY(lcPanasonicAccess, "vornakel.camera.panasonic")

namespace vornakel {

using namespace panasonic;

namespace {

PanasonicCamCgiClient::Query query(std::initializer_list<std::pair<const char*, QString>> items)
{
    PanasonicCamCgiClient::Query result;
    for (const auto& [key, value] : items)
        result.append({QString::fromLatin1(key), value});
    return result;
}

} // namespace

PanasonicAccess::PanasonicAccess(QString host, quint16 port, PanasonicAccessTimings timings, QObject* parent)
    : QObject(parent), m_timings(timings)
{
    m_client = new PanasonicCamCgiClient(std::move(host), port, timings.requestTimeout, this);
}

PanasonicAccess::~PanasonicAccess() { close(); }

QString PanasonicAccess::clientGuid()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    UserDefaults& defaults = UserDefaults::standard();
    const QString key = QStringLiteral("PanasonicClientGUID");
    QString guid = defaults.stringForKey(key);
    if (QUuid::fromString(guid).isNull()) {
        guid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        defaults.setValue(key, guid);
    }
    return guid;
}

void PanasonicAccess::open(const QString& clientName, const QString& guid, VKLCamera::InterventionCallback prompt,
                           OpenCompletion done)
{
    if (m_done)
        finishOpen(errorWithVKLErrorCode(VKLErrorCancelled));
    m_done = std::move(done);
    m_prompt = std::move(prompt);
    m_clientName = clientName;
    m_guid = guid.isEmpty() ? clientGuid() : guid;
    m_granted = {};
    m_cameraAsking = m_promptDue = m_promptShown = false;
    const int attempt = ++m_attempt;
    QTimer::singleShot(m_timings.pairingPromptAfter, this, [this, attempt] {
        if (attempt != m_attempt || !m_done)
            return;
        m_promptDue = true;
        showPrompt();
    });
    ask();
}

void PanasonicAccess::step(const PanasonicCamCgiClient::Query& query, std::function<void(const QByteArray&)> then)
{
    const int attempt = m_attempt;
    QPointer<PanasonicAccess> self = this;
    m_client->get(query, [self, attempt, then](std::optional<Error> error, const QByteArray& body) {
        if (!self || attempt != self->m_attempt || !self->m_done)
            return;
        if (error)
            self->finishOpen(error);
        else
            then(body);
    });
}

void PanasonicAccess::ask()
{
    step(query({{"mode", QStringLiteral("accctrl")}, {"type", QStringLiteral("req_acc")}, {"value", m_guid}, {"value2", m_clientName}}),
         [this](const QByteArray& body) { answered(parseAccessReply(body)); });
}

void PanasonicAccess::answered(const AccessReply& reply)
{
    switch (reply.answer) {
    case AccessAnswer::granted:
        if (!reply.session.isEmpty())
            m_client->setSession(reply.session);
        m_granted.cameraName = reply.cameraName;
        enterPlayback();
        return;
    case AccessAnswer::pending: {
        // The camera asks its user (or is still deciding): the same request again, for as long as it takes.
        m_cameraAsking = true;
        showPrompt();
        const int attempt = m_attempt;
        QTimer::singleShot(m_timings.accessPollInterval, this, [this, attempt] {
            if (attempt == m_attempt && m_done)
                ask();
        });
        return;
    }
    case AccessAnswer::refused:
        finishOpen(errorWithVKLErrorCode(VKLErrorPairingRejected));
        return;
    case AccessAnswer::busy:
        finishOpen(errorWithVKLErrorCode(VKLErrorBusy));
        return;
    case AccessAnswer::other:
        qCWarning(lcPanasonicAccess) << "access request answered with" << reply.result;
        finishOpen(errorWithVKLErrorCode(VKLErrorGeneric));
        return;
    }
}

void PanasonicAccess::showPrompt()
{
    if (m_promptShown || !m_cameraAsking || !m_promptDue || !m_done)
        return;
    m_promptShown = true;
    if (!m_prompt)
        return;
    const DispatchQueue::Context guard(this);
    PanasonicAccess* const self = this;
    const int attempt = m_attempt;
    m_prompt(true, [guard, self, attempt] {
        DispatchQueue::main()->async(guard, [self, attempt] {
            if (attempt == self->m_attempt && self->m_done)
                self->finishOpen(errorWithVKLErrorCode(VKLErrorPairingRejected));
        });
    });
}

void PanasonicAccess::enterPlayback()
{
    step(query({{"mode", QStringLiteral("camcmd")}, {"value", QStringLiteral("playmode")}}), [this](const QByteArray& body) {
        // Some bodies answer a mode change with an error and change all the same: the state tells.
        const auto reply = parseCamReply(body);
        if (!reply || reply->result != QLatin1String("ok"))
            qCInfo(lcPanasonicAccess) << "playback mode answered with" << (reply ? reply->result : QStringLiteral("an unreadable reply"));
        readFirstState();
    });
}

void PanasonicAccess::readFirstState()
{
    step(query({{"mode", QStringLiteral("getstate")}}), [this](const QByteArray& body) {
        const auto reply = parseCamReply(body);
        if (!reply || reply->result != QLatin1String("ok")) {
            finishOpen(errorWithVKLErrorCode(VKLErrorGeneric));
            return;
        }
        const auto mode = reply->state.find(QStringLiteral("cammode"));
        if (mode != reply->state.end() && mode->second != QLatin1String("play")) {
            // The card is served in playback only.
            finishOpen(errorWithVKLErrorCode(VKLErrorCommandCategoryRefused));
            return;
        }
        m_granted.batteryLevel = batteryLevelFromState(reply->state);
        finishOpen(std::nullopt);
    });
}

void PanasonicAccess::finishOpen(std::optional<Error> error)
{
    if (m_promptShown && m_prompt)
        m_prompt(false, {});
    m_promptShown = false;
    m_prompt = nullptr;
    OpenCompletion done = std::move(m_done);
    m_done = nullptr;
    ++m_attempt; // what is still under way for this open is dropped
    if (done) {
        DispatchQueue::main()->async([done, error, granted = m_granted] { done(error, granted); });
    }
}

void PanasonicAccess::readState(StateCompletion done)
{
    m_client->get(query({{"mode", QStringLiteral("getstate")}}), [done](std::optional<Error> error, const QByteArray& body) {
        const auto reply = error ? std::nullopt : parseCamReply(body);
        if (!reply) {
            done(error ? error : std::optional(errorWithVKLErrorCode(VKLErrorConnectionLost)), std::nullopt);
            return;
        }
        // A camera that answers, if not with "ok", is there; its battery is known only from a good reply.
        done(std::nullopt, reply->result == QLatin1String("ok") ? batteryLevelFromState(reply->state) : std::nullopt);
    });
}

void PanasonicAccess::close()
{
    if (m_done)
        finishOpen(errorWithVKLErrorCode(VKLErrorCancelled));
    if (m_client)
        m_client->close();
}

} // namespace vornakel
