#include "platform/camera/dnssd/AvahiServiceBrowser.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHostAddress>
#include <QLoggingCategory>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcDnsSd, "vornakel.camera.dnssd")

const QString kService = QStringLiteral("org.freedesktop.Avahi");
const QString kServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString kBrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
constexpr int kAnyInterface = -1;
constexpr int kIPv4 = 0; // AVAHI_PROTO_INET
} // namespace

AvahiServiceBrowser::AvahiServiceBrowser(QDBusConnection bus, QString type, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_type(std::move(type))
{
}

AvahiServiceBrowser::~AvahiServiceBrowser() { stop(); }

void AvahiServiceBrowser::start()
{
    if (m_browsing || !m_bus.isConnected())
        return;
    m_browsing = true;
    // Avahi starts browsing as it makes the browser and may announce the first services before its path is
    // known here, so the signals are taken from any browser path, and told apart by their type.
    m_bus.connect(kService, QString(), kBrowserInterface, QStringLiteral("ItemNew"), this,
                  SLOT(itemNew(int, int, QString, QString, QString, uint)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServerInterface,
                                                       QStringLiteral("ServiceBrowserNew"));
    call << kAnyInterface << kIPv4 << m_type << QString() << 0u;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kResolveTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            qCInfo(lcDnsSd, "No DNS-SD browsing of %s: %s", qPrintable(m_type), qPrintable(reply.error().message()));
            return;
        }
        if (!m_browsing) {
            // Stopped while the browser was being made: free it at once.
            m_bus.asyncCall(QDBusMessage::createMethodCall(kService, reply.value().path(), kBrowserInterface, QStringLiteral("Free")));
            return;
        }
        m_browserPath = reply.value();
    });
}

void AvahiServiceBrowser::stop()
{
    if (!m_browsing)
        return;
    m_browsing = false;
    m_bus.disconnect(kService, QString(), kBrowserInterface, QStringLiteral("ItemNew"), this,
                     SLOT(itemNew(int, int, QString, QString, QString, uint)));
    if (!m_browserPath.path().isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, m_browserPath.path(), kBrowserInterface, QStringLiteral("Free")));
    m_browserPath = {};
    m_resolving.clear();
}

void AvahiServiceBrowser::itemNew(int interface, int protocol, const QString& name, const QString& type,
                                  const QString& domain, uint)
{
    if (!m_browsing || protocol != kIPv4 || type.compare(m_type, Qt::CaseInsensitive) != 0)
        return;
    resolve(interface, name, domain);
}

void AvahiServiceBrowser::resolve(int interface, const QString& name, const QString& domain)
{
    const QString key = QString::number(interface) + QLatin1Char('\n') + name + QLatin1Char('\n') + domain;
    if (m_resolving.contains(key) || m_resolving.size() >= kMaxPendingResolves)
        return;
    m_resolving.insert(key);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServerInterface,
                                                       QStringLiteral("ResolveService"));
    call << interface << kIPv4 << name << m_type << domain << kIPv4 << 0u;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kResolveTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, key] {
        watcher->deleteLater();
        if (!m_resolving.remove(key) || !m_browsing)
            return;
        const QDBusMessage reply = watcher->reply();
        const QList<QVariant> values = reply.arguments();
        // interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags
        if (reply.type() != QDBusMessage::ReplyMessage || values.size() < 9) {
            qCDebug(lcDnsSd) << "a service could not be resolved:" << reply.errorMessage();
            return;
        }
        DnsSdService service;
        service.name = values.at(2).toString();
        service.type = values.at(3).toString();
        service.domain = values.at(4).toString();
        service.host = values.at(5).toString();
        const QHostAddress address(values.at(7).toString());
        bool isIPv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIPv4);
        const uint port = values.at(8).toUInt();
        if (!isIPv4 || port == 0 || port > 0xffff)
            return;
        service.address = QHostAddress(ipv4).toString();
        service.port = quint16(port);
        emit serviceResolved(service);
    });
}

} // namespace vornakel
