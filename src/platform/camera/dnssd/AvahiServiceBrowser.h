#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QSet>
#include <QString>

namespace vornakel {

// One service a DNS-SD browse found and resolved. Every field is the network's word: untrusted text.
struct DnsSdService {
    QString name;     // the instance name ("EOS R6 on the desk")
    QString type;     // "_ptp._tcp"
    QString domain;   // "local"
    QString host;     // the host name the service named
    QString address;  // the IPv4 address it resolved to
    quint16 port = 0;
};

// Browses one DNS-SD service type through the Avahi daemon (org.freedesktop.Avahi on the bus given, the
// system bus where Avahi runs) and resolves each service it finds to an IPv4 address and port. Where no
// Avahi answers, it finds nothing and says so once in the log. Resolving is bounded: at most
// `kMaxPendingResolves` at once, each with a time limit, so a flood of announcements costs bounded work.
// Main thread (or the thread that owns it); it reports through signals on that thread.
class AvahiServiceBrowser : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPendingResolves = 16;
    static constexpr int kResolveTimeoutMs = 5000;

    AvahiServiceBrowser(QDBusConnection bus, QString type, QObject* parent = nullptr);
    ~AvahiServiceBrowser() override;

    // Asks Avahi for a browser of the type; each service found is resolved and reported.
    void start();
    // Frees the browser; nothing more is reported.
    void stop();
    bool isBrowsing() const { return m_browsing; }

signals:
    void serviceResolved(const vornakel::DnsSdService& service);

private slots:
    void itemNew(int interface, int protocol, const QString& name, const QString& type, const QString& domain, uint flags);

private:
    void resolve(int interface, const QString& name, const QString& domain);

    QDBusConnection m_bus;
    QString m_type;
    bool m_browsing = false;
    QDBusObjectPath m_browserPath;
    QSet<QString> m_resolving;
};

} // namespace vornakel
