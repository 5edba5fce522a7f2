#include "platform/power/SleepInhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>

#include <fcntl.h>
#include <unistd.h>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcSleep, "vornakel.power")

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::createSystem()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::make_unique<NoSleepInhibitor>();
    return std::make_unique<LogindSleepInhibitor>(bus);
}

LogindSleepInhibitor::LogindSleepInhibitor(const QDBusConnection& bus) : m_bus(bus) {}

LogindSleepInhibitor::~LogindSleepInhibitor()
{
    // A reply still on its way goes to the deleted watcher (a child of ours) and its descriptor closes with it.
    closeDescriptor();
}

void LogindSleepInhibitor::acquire(const QString& reason)
{
    if (m_wanted)
        return;
    m_wanted = true;
    // After a release whose request is still unanswered, that answer is kept once it comes.
    if (isWaiting() || !m_bus.isConnected())
        return;
    QString who = QCoreApplication::applicationName();
    if (who.isEmpty())
        who = QStringLiteral("Vornakel Transfer");
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << who << reason << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    m_pending = watcher;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &LogindSleepInhibitor::answered);
}

void LogindSleepInhibitor::release()
{
    m_wanted = false;
    if (m_fd < 0)
        return;
    closeDescriptor();
    Q_EMIT heldChanged(false);
}

void LogindSleepInhibitor::answered(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    if (watcher != m_pending)
        return;
    m_pending.clear();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    if (reply.isError()) {
        qCInfo(lcSleep) << "The system may sleep during the copy:" << reply.error().message();
        return;
    }
    // The reply's own copy of the descriptor closes with the reply; a caller that let go meanwhile keeps none.
    if (!m_wanted || !reply.value().isValid())
        return;
    m_fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (m_fd >= 0)
        Q_EMIT heldChanged(true);
}

void LogindSleepInhibitor::closeDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace vornakel
