#include "platform/camera/upnp/MediaServerCameraDiscovery.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/ssdp/SsdpSearch.h"
#include "platform/camera/upnp/MediaServerCamera.h"

#include <QNetworkProxy>
#include <QTimer>

#include <algorithm>

namespace vornakel {

struct MediaServerCameraDiscovery::Candidate {
    QString host;
    quint16 port = 0;
    QString path;        // the description's path from an SSDP answer; empty: the maker's usual paths
    bool listed = false; // the user's entry rather than a gateway
    std::shared_ptr<MediaServerCamera> camera;
    bool reachable = false;
    bool probing = false;
};

MediaServerCameraDiscovery::MediaServerCameraDiscovery(MediaServerMaker maker, QObject* parent)
    : VKLCameraDiscovery(parent), m_maker(std::move(maker))
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MediaServerCameraDiscovery::probeAll);
    m_ssdp = new SsdpSearch(this);
    connect(m_ssdp, &SsdpSearch::replyReceived, this, [this](const SsdpReply& reply) {
        // Only a description on the host that answered: an answer cannot send the probe elsewhere.
        const QUrl location(reply.location);
        const QHostAddress host(location.host());
        if (!m_searching || !reply.alive || location.scheme() != QLatin1String("http") || host.isNull()
            || !host.isEqual(reply.sender, QHostAddress::ConvertV4MappedToIPv4) || location.port() <= 0)
            return;
        candidate(host.toString(), quint16(location.port()), location.path(), false);
        probeAll();
    });
}

MediaServerCameraDiscovery::Candidate& MediaServerCameraDiscovery::candidate(const QString& host, quint16 port, const QString& path, bool listed)
{
    const auto found = std::find_if(m_candidates.begin(), m_candidates.end(), [&](const auto& each) {
        return each->host == host && each->port == port;
    });
    if (found != m_candidates.end()) {
        if (!path.isEmpty())
            (*found)->path = path;
        return **found;
    }
    auto added = std::make_unique<Candidate>();
    added->host = host;
    added->port = port;
    added->path = path;
    added->listed = listed;
    m_candidates.push_back(std::move(added));
    return *m_candidates.back();
}

void MediaServerCameraDiscovery::searchWithSsdp()
{
    if (m_ssdp->isSearching())
        return;
    const QStringList targets{upnp::mediaServerDeviceType()};
    const auto duration = std::min<std::chrono::milliseconds>(m_interval, std::chrono::seconds(2));
    if (m_searchPort != 0)
        m_ssdp->searchAt(m_searchAddress, m_searchPort, targets, duration);
    else
        m_ssdp->search(targets, duration);
}

MediaServerCameraDiscovery::~MediaServerCameraDiscovery() = default;

void MediaServerCameraDiscovery::beginSearching()
{
    m_searching = true;
    probeAll();
    m_timer->start(m_interval);
}

void MediaServerCameraDiscovery::stopSearching()
{
    m_searching = false;
    m_timer->stop();
    m_ssdp->stop();
}

void MediaServerCameraDiscovery::probeAll()
{
    if (!m_searching)
        return;
    for (const CameraAddress& listed : CameraAddresses::userListedFor(m_maker.listedScheme, m_maker.port))
        candidate(listed.host, listed.port, {}, true).listed = true;
    const quint16 gatewayPort = CameraAddresses::gatewayPort(m_maker.backendName, m_maker.port);
    for (const QString& gateway : CameraAddresses::wifiGateways())
        candidate(gateway, gatewayPort, {}, false);
    searchWithSsdp();
    for (const auto& candidate : m_candidates) {
        Candidate* raw = candidate.get();
        if (raw->probing || (raw->camera && raw->camera->connectionState() != 0))
            continue; // connected or connecting: certainly there
        raw->probing = true;
        const bool listed = raw->listed;
        upnp::probeMediaServer(
            &m_network, raw->host, raw->port, raw->path.isEmpty() ? m_maker.descriptionPaths : QStringList{raw->path},
            m_timeout, this,
            [accepts = m_maker.accepts, listed](const upnp::DeviceDescription& description) { return accepts(description, listed); },
            [this, raw](std::optional<upnp::FoundMediaServer> found) {
                raw->probing = false;
                if (found && (!raw->camera || raw->camera->options().descriptionUrl != found->descriptionUrl))
                    raw->camera = m_maker.makeCamera(*found);
                const bool reachable = found.has_value();
                if (raw->reachable != reachable) {
                    raw->reachable = reachable;
                    report();
                }
            });
    }
}

void MediaServerCameraDiscovery::report()
{
    if (!m_searching)
        return;
    Cameras cameras;
    for (const auto& candidate : m_candidates) {
        if (candidate->camera && (candidate->reachable || candidate->camera->connectionState() != 0))
            cameras.push_back(candidate->camera);
    }
    if (cameras == m_reported)
        return;
    m_reported = cameras;
    emit devicesChanged(cameras);
}

} // namespace vornakel
