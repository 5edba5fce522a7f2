#include "platform/camera/ssdp/SsdpSearch.h"

#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QVariant>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcSsdp, "vornakel.camera.ssdp")

// The second request goes out after this, in case the first was lost.
constexpr std::chrono::milliseconds kResendAfter{400};

// The IPv4 interfaces a search reaches the group through: up, able to multicast, not the loopback.
QList<QNetworkInterface> multicastInterfaces()
{
    QList<QNetworkInterface> found;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning)
            || !flags.testFlag(QNetworkInterface::CanMulticast) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                found.push_back(interface);
                break;
            }
        }
    }
    return found;
}

} // namespace

SsdpSearch::SsdpSearch(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<SsdpReply>();
    m_end.setSingleShot(true);
    m_resend.setSingleShot(true);
    connect(&m_end, &QTimer::timeout, this, [this] {
        stop();
        emit finished();
    });
    connect(&m_resend, &QTimer::timeout, this, &SsdpSearch::send);
}

SsdpSearch::~SsdpSearch() = default;

QByteArray SsdpSearch::searchRequest(const QString& target, int mxSeconds)
{
    return QByteArrayLiteral("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: ")
        + QByteArray::number(mxSeconds) + QByteArrayLiteral("\r\nST: ") + target.toUtf8()
        + QByteArrayLiteral("\r\nUSER-AGENT: Linux UPnP/1.1 Vornakel/1.0\r\n\r\n");
}

std::optional<SsdpReply> SsdpSearch::parse(const QByteArray& datagram)
{
    if (datagram.size() > kMaxDatagramBytes)
        return std::nullopt;
    const QList<QByteArray> lines = datagram.split('\n');
    if (lines.isEmpty())
        return std::nullopt;
    SsdpReply reply;
    const QByteArray first = lines.front().trimmed();
    if (first.startsWith("HTTP/1.")) {
        const QList<QByteArray> parts = first.split(' ');
        bool ok = false;
        reply.status = parts.size() >= 2 && parts[1].size() == 3 ? parts[1].toInt(&ok) : 0;
        if (!ok)
            return std::nullopt;
    } else if (first == "NOTIFY * HTTP/1.1") {
        reply.status = 0;
    } else {
        return std::nullopt; // another computer's search, or not SSDP at all
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            break; // the end of the header; SSDP carries no body
        if (i > kMaxHeaderLines)
            return std::nullopt;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toUpper();
        const QString value = QString::fromUtf8(line.mid(colon + 1).trimmed());
        if (name == "LOCATION")
            reply.location = value;
        else if (name == "ST" || name == "NT")
            reply.searchTarget = value;
        else if (name == "USN")
            reply.uniqueServiceName = value;
        else if (name == "SERVER")
            reply.server = value;
        else if (name == "NTS")
            reply.alive = value.compare(QLatin1String("ssdp:byebye"), Qt::CaseInsensitive) != 0;
    }
    if (reply.searchTarget.isEmpty() && reply.uniqueServiceName.isEmpty())
        return std::nullopt;
    return reply;
}

void SsdpSearch::search(const QStringList& targets, std::chrono::milliseconds duration)
{
    start({{multicastGroup(), kPort}}, targets, duration, true);
}

void SsdpSearch::searchAt(const QHostAddress& address, quint16 port, const QStringList& targets,
                          std::chrono::milliseconds duration)
{
    start({{address, port}}, targets, duration, false);
}

void SsdpSearch::start(const std::vector<std::pair<QHostAddress, quint16>>& destinations, const QStringList& targets,
                       std::chrono::milliseconds duration, bool multicast)
{
    stop();
    m_destinations = destinations;
    m_targets = targets;
    m_multicast = multicast;
    m_mxSeconds = std::max(1, int(duration.count() / 1000));
    m_seen.clear();
    m_replies = 0;
    m_dropped = 0;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(multicast ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(QHostAddress::LocalHost), 0)) {
        qCWarning(lcSsdp) << "cannot open a socket for the search:" << m_socket->errorString();
        // The search still ends in its time, with nothing found.
    }
    m_socket->setSocketOption(QAbstractSocket::MulticastTtlOption, QVariant(2));
    connect(m_socket, &QUdpSocket::readyRead, this, &SsdpSearch::readPending);
    send();
    m_resend.start(kResendAfter);
    m_end.start(duration);
}

void SsdpSearch::send()
{
    if (!m_socket)
        return;
    const auto sendAll = [this] {
        for (const QString& target : std::as_const(m_targets))
            for (const auto& [address, port] : m_destinations)
                m_socket->writeDatagram(searchRequest(target, m_mxSeconds), address, port);
    };
    if (!m_multicast) {
        sendAll();
        return;
    }
    const QList<QNetworkInterface> interfaces = multicastInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        m_socket->setMulticastInterface(interface);
        sendAll();
    }
    if (interfaces.isEmpty())
        sendAll(); // the system's default route, if any
}

void SsdpSearch::readPending()
{
    // A datagram is read in full or cut at the bound (the rest is discarded by the socket), so a large one
    // costs no more than the bound.
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(kMaxDatagramBytes + 1);
        if (m_replies >= kMaxReplies) {
            ++m_dropped;
            continue;
        }
        std::optional<SsdpReply> reply = parse(datagram.data());
        if (!reply || (reply->status != 200 && reply->status != 0)) {
            ++m_dropped;
            continue;
        }
        ++m_replies;
        reply->sender = datagram.senderAddress();
        const QString key = reply->sender.toString() + QLatin1Char('\n') + reply->uniqueServiceName + QLatin1Char('\n')
            + reply->searchTarget;
        if (m_seen.contains(key))
            continue;
        m_seen.insert(key);
        emit replyReceived(*reply);
    }
}

void SsdpSearch::stop()
{
    m_end.stop();
    m_resend.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

} // namespace vornakel
