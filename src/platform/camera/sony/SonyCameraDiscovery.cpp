#include "platform/camera/sony/SonyCameraDiscovery.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/upnp/ContentDirectoryClient.h"
#include "platform/camera/upnp/MediaServerCamera.h"

#include <QNetworkProxy>
#include <QTimer>

#include <algorithm>

namespace vornakel {

struct SonyCameraDiscovery::Candidate {
    QString host;
    quint16 port = kMakersPort;
    bool listed = false; // the user's entry rather than a gateway
    std::shared_ptr<MediaServerCamera> camera;
    bool reachable = false;
    bool probing = false;
};

bool SonyCameraDiscovery::isSonyMediaServer(const upnp::DeviceDescription& description)
{
    return description.manufacturer.contains(QLatin1String("Sony"), Qt::CaseInsensitive) && description.contentDirectory();
}

SonyCameraDiscovery::SonyCameraDiscovery(QObject* parent) : VKLCameraDiscovery(parent)
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &SonyCameraDiscovery::probeAll);
}

SonyCameraDiscovery::~SonyCameraDiscovery() = default;

void SonyCameraDiscovery::beginSearching()
{
    m_searching = true;
    probeAll();
    m_timer->start(m_interval);
}

void SonyCameraDiscovery::stopSearching()
{
    m_searching = false;
    m_timer->stop();
}

void SonyCameraDiscovery::probeAll()
{
    if (!m_searching)
        return;
    struct Address {
        QString host;
        quint16 port;
        bool listed;
    };
    std::vector<Address> addresses;
    for (const CameraAddress& listed : CameraAddresses::userListedFor(listedScheme(), kMakersPort))
        addresses.push_back({listed.host, listed.port, true});
    const quint16 gatewayPort = CameraAddresses::gatewayPort(backendName(), kMakersPort);
    for (const QString& gateway : CameraAddresses::wifiGateways()) {
        if (std::none_of(addresses.begin(), addresses.end(), [&](const Address& each) { return each.host == gateway && each.port == gatewayPort; }))
            addresses.push_back({gateway, gatewayPort, false});
    }
    for (const Address& address : addresses) {
        const auto found = std::find_if(m_candidates.begin(), m_candidates.end(), [&](const auto& each) {
            return each->host == address.host && each->port == address.port;
        });
        if (found == m_candidates.end()) {
            auto candidate = std::make_unique<Candidate>();
            candidate->host = address.host;
            candidate->port = address.port;
            candidate->listed = address.listed;
            m_candidates.push_back(std::move(candidate));
        }
    }
    for (const auto& candidate : m_candidates) {
        Candidate* raw = candidate.get();
        if (raw->probing || (raw->camera && raw->camera->connectionState() != 0))
            continue; // connected or connecting: certainly there
        raw->probing = true;
        const bool listed = raw->listed;
        upnp::probeMediaServer(
            &m_network, raw->host, raw->port, descriptionPaths(), m_timeout, this,
            [listed](const upnp::DeviceDescription& description) {
                if (isSonyMediaServer(description))
                    return true;
                // A listed address may be any media server, but not one another maker's backend takes.
                return listed && !description.manufacturer.contains(QLatin1String("Panasonic"), Qt::CaseInsensitive);
            },
            [this, raw](std::optional<upnp::FoundMediaServer> found) {
                raw->probing = false;
                if (found && (!raw->camera || raw->camera->options().descriptionUrl != found->descriptionUrl)) {
                    MediaServerCameraOptions options;
                    options.descriptionUrl = found->descriptionUrl;
                    options.identifierScheme = backendName();
                    options.displayName = found->description.friendlyName.simplified().left(128);
                    raw->camera = MediaServerCamera::create(options);
                }
                const bool reachable = found.has_value();
                if (raw->reachable != reachable) {
                    raw->reachable = reachable;
                    report();
                }
            });
    }
}

void SonyCameraDiscovery::report()
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
