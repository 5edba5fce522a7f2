#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QUdpSocket;

namespace vornakel {

// One answer to an SSDP search (or an announcement heard on the group), reduced to the fields a caller uses.
// Every field is text from the network: untrusted, bounded by the datagram's size.
struct SsdpReply {
    QHostAddress sender;          // where the datagram came from: the device to talk to
    int status = 0;               // 200 for an answer to a search; 0 for an announcement (NOTIFY)
    QString location;             // LOCATION: the device description's URL, as the device wrote it
    QString searchTarget;         // ST (NT in an announcement): the service or device type
    QString uniqueServiceName;    // USN
    QString server;               // SERVER
    bool alive = true;            // false for an announcement that the device leaves (ssdp:byebye)
};

// Searches the local network for UPnP devices and services with SSDP: an M-SEARCH to the multicast group
// 239.255.255.250:1900 on every IPv4 interface that can send to it (sent twice, since UDP may lose either),
// then the unicast answers collected until the search's time is up. A device answering several times is
// reported once per search (by sender and USN). A datagram over `kMaxDatagramBytes`, one that is not an SSDP
// answer, and every answer past `kMaxReplies` in one search are dropped and counted, so a flood costs bounded
// memory and time. `searchAt` sends the same request to one address (a device on 127.0.0.1 in the tests).
// Main thread (or the thread that owns it); it reports through signals on that thread.
class SsdpSearch : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPort = 1900;
    static QHostAddress multicastGroup() { return QHostAddress(QStringLiteral("239.255.255.250")); }
    static constexpr qint64 kMaxDatagramBytes = 8 * 1024;
    static constexpr int kMaxHeaderLines = 64;
    static constexpr int kMaxReplies = 256;

    explicit SsdpSearch(QObject* parent = nullptr);
    ~SsdpSearch() override;

    // Searches for each target ("ssdp:all", "upnp:rootdevice", a device or service URN) for `duration`
    // (devices spread their answers over the MX seconds the request names: the whole seconds of `duration`,
    // at least 1). A search already running is ended first, without `finished`.
    void search(const QStringList& targets, std::chrono::milliseconds duration = std::chrono::seconds(3));
    void searchAt(const QHostAddress& address, quint16 port, const QStringList& targets,
                  std::chrono::milliseconds duration = std::chrono::seconds(3));
    // Ends the search now, without `finished`.
    void stop();
    bool isSearching() const { return m_socket != nullptr; }
    // Datagrams dropped in this search: too large, not an answer, or past the answer limit.
    int droppedDatagrams() const { return m_dropped; }

    // The M-SEARCH request for one target.
    static QByteArray searchRequest(const QString& target, int mxSeconds);
    // An SSDP answer ("HTTP/1.1 200 OK") or announcement ("NOTIFY * HTTP/1.1") read from one datagram; none for
    // anything else, for a datagram over the size bound, or one with more header lines than `kMaxHeaderLines`.
    // The sender is left for the caller.
    static std::optional<SsdpReply> parse(const QByteArray& datagram);

signals:
    void replyReceived(const vornakel::SsdpReply& reply);
    // The search's time is up.
    void finished();

private:
    void start(const std::vector<std::pair<QHostAddress, quint16>>& destinations, const QStringList& targets,
               std::chrono::milliseconds duration, bool multicast);
    void send();
    void readPending();

    QUdpSocket* m_socket = nullptr;
    QTimer m_end;
    QTimer m_resend;
    std::vector<std::pair<QHostAddress, quint16>> m_destinations;
    QStringList m_targets;
    int m_mxSeconds = 1;
    bool m_multicast = false;
    QSet<QString> m_seen;
    int m_replies = 0;
    int m_dropped = 0;
};

} // namespace vornakel

Q_DECLARE_METATYPE(vornakel::SsdpReply)
