#include "platform/camera/upnp/MediaServerCameraDiscovery.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/ssdp/SsdpSearch.h"
#include "platform/camera/upnp/MediaServerCamera.h"

#include <QNetworkProxy>
#include <QTimer>

#include <algorithm>

namespace vornakel {

MediaServerCameraDiscovery::MediaServerCameraDiscovery(MediaServerMaker maker, QObject* parent)
    : ProbingCameraDiscovery(std::chrono::milliseconds(1500), parent), m_maker(std::move(maker))
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_ssdp = new SsdpSearch(this);
    connect(m_ssdp, &SsdpSearch::replyReceived, this, [this](const SsdpReply& reply) {
        // Only a description on the host that answered: an answer cannot send the probe elsewhere.
        const QUrl location(reply.location);
        const QHostAddress host(location.host());
        if (!isSearching() || !reply.alive || location.scheme() != QLatin1String("http") || host.isNull()
            || !host.isEqual(reply.sender, QHostAddress::ConvertV4MappedToIPv4) || location.port() <= 0)
            return;
        Candidate& found = candidate(host.toString(), quint16(location.port()));
        if (!location.path().isEmpty())
            found.path = location.path();
        probeAll();
    });
}

void MediaServerCameraDiscovery::searchWithSsdp()
{
    if (m_ssdp->isSearching())
        return;
    const QStringList targets{upnp::mediaServerDeviceType()};
    const auto duration = std::min<std::chrono::milliseconds>(probeInterval(), std::chrono::seconds(2));
    if (m_searchPort != 0)
        m_ssdp->searchAt(m_searchAddress, m_searchPort, targets, duration);
    else
        m_ssdp->search(targets, duration);
}

MediaServerCameraDiscovery::~MediaServerCameraDiscovery() = default;

void MediaServerCameraDiscovery::searchingStops() { m_ssdp->stop(); }

void MediaServerCameraDiscovery::gatherCandidates()
{
    for (const CameraAddress& listed : CameraAddresses::userListedFor(m_maker.listedScheme, m_maker.port))
        candidate(listed.host, listed.port).listed = true;
    const quint16 gatewayPort = CameraAddresses::gatewayPort(m_maker.backendName, m_maker.port);
    for (const QString& gateway : CameraAddresses::wifiGateways())
        candidate(gateway, gatewayPort);
    searchWithSsdp();
}

void MediaServerCameraDiscovery::probe(const Candidate& candidate, ProbeAnswer answer)
{
    const bool listed = candidate.listed;
    upnp::probeMediaServer(
        &m_network, candidate.host, candidate.port, candidate.path.isEmpty() ? m_maker.descriptionPaths : QStringList{candidate.path},
        probeTimeout(), this,
        [accepts = m_maker.accepts, listed](const upnp::DeviceDescription& description) { return accepts(description, listed); },
        [this, candidate = &candidate, answer](std::optional<upnp::FoundMediaServer> found) {
            if (!found) {
                answer(nullptr);
                return;
            }
            const auto known = std::static_pointer_cast<MediaServerCamera>(candidate->camera);
            answer(known && known->options().descriptionUrl == found->descriptionUrl ? candidate->camera : m_maker.makeCamera(*found));
        });
}

} // namespace vornakel
