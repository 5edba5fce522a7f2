#pragma once

// Just enough of the Avahi daemon's D-Bus interface for DNS-SD browsing, on a private bus: a browser that
// announces the services it is given (before its path is returned, as Avahi may), and the resolving of each.
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>

#include <map>
#include <memory>

namespace vornakel::test {

class FakeAvahi : public QDBusVirtualObject {
public:
    struct Service {
        QString name;
        QString type = QStringLiteral("_ptp._tcp");
        QString address; // empty: resolving fails
        quint16 port = 15740;
    };

    explicit FakeAvahi(QString address) : m_address(std::move(address)) {}
    ~FakeAvahi() override
    {
        if (m_bus) {
            m_bus->unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
            m_bus.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-avahi"));
        }
    }

    bool start()
    {
        qDBusRegisterMetaType<QList<QByteArray>>(); // the TXT records, "aay"
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, QStringLiteral("fake-avahi")));
        return m_bus->isConnected() && m_bus->registerService(QStringLiteral("org.freedesktop.Avahi"))
               && m_bus->registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath);
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QVariantList args = message.arguments();
        calls << member;
        if (member == QLatin1String("ServiceBrowserNew")) {
            browsedType = args.value(2).toString();
            browsedProtocol = args.value(1).toInt();
            const QString path = QStringLiteral("/Client1/ServiceBrowser1");
            for (const Service& service : services)
                announce(connection, path, service);
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        } else if (member == QLatin1String("ResolveService")) {
            ++resolves;
            if (resolvesStall)
                return true; // never answered: the caller's time limit ends it
            const QString name = args.value(2).toString();
            const auto found = std::find_if(services.begin(), services.end(), [&](const Service& each) { return each.name == name; });
            if (found == services.end() || found->address.isEmpty()) {
                connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.Avahi.TimeoutError"), QStringLiteral("Timeout reached")));
                return true;
            }
            connection.send(message.createReply(QVariantList{
                args.value(0), args.value(1), found->name, found->type, args.value(4), QStringLiteral("camera.local"),
                args.value(5), found->address, QVariant::fromValue(ushort(found->port)), QVariant::fromValue(QList<QByteArray>{}),
                QVariant::fromValue(uint(0))}));
        } else if (member == QLatin1String("Free")) {
            freed << message.path();
            connection.send(message.createReply());
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

    // Announces a service on the browser now.
    void announce(const Service& service) { announce(*m_bus, QStringLiteral("/Client1/ServiceBrowser1"), service); }

    std::vector<Service> services;
    bool resolvesStall = false;
    QStringList calls;
    QStringList freed;
    QString browsedType;
    int browsedProtocol = -2;
    int resolves = 0;

private:
    static void announce(const QDBusConnection& connection, const QString& path, const Service& service)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.Avahi.ServiceBrowser"), QStringLiteral("ItemNew"));
        signal << 2 << 0 << service.name << service.type << QStringLiteral("local") << 0u;
        connection.send(signal);
    }

    QString m_address;
    std::unique_ptr<QDBusConnection> m_bus;
};

} // namespace vornakel::test
