#include "platform/camera/panasonic/PanasonicCamera.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/upnp/ContentDirectoryClient.h"

#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPanasonic, "vornakel.camera.panasonic")

namespace vornakel {

bool PanasonicCamera::isPanasonicMediaServer(const upnp::DeviceDescription& description)
{
    return description.manufacturer.contains(QLatin1String("Panasonic"), Qt::CaseInsensitive) && description.contentDirectory();
}

PanasonicCameraOptions PanasonicCamera::optionsFor(const QUrl& descriptionUrl, std::optional<upnp::DeviceDescription> description)
{
    PanasonicCameraOptions options;
    options.mediaServer.descriptionUrl = descriptionUrl;
    options.mediaServer.identifierScheme = PanasonicCameraDiscovery::backendName();
    options.mediaServer.description = std::move(description);
    const int port = descriptionUrl.port(kMediaServerPort);
    options.camCgiPort = port == kMediaServerPort ? 80 : quint16(port);
    return options;
}

std::shared_ptr<PanasonicCamera> PanasonicCamera::create(PanasonicCameraOptions options)
{
    return std::shared_ptr<PanasonicCamera>(new PanasonicCamera(std::move(options)));
}

PanasonicCamera::PanasonicCamera(PanasonicCameraOptions options)
    : MediaServerCamera(options.mediaServer), m_panasonic(std::move(options))
{
}

PanasonicCamera::~PanasonicCamera()
{
    if (m_access)
        m_access->close();
}

void PanasonicCamera::prepareConnection(const QString& clientName, const InterventionCallback& intervention,
                                        std::function<void(std::optional<Error>)> done)
{
    if (m_access) {
        m_access->close();
        m_access->deleteLater();
    }
    m_access = new PanasonicAccess(m_panasonic.mediaServer.descriptionUrl.host(), m_panasonic.camCgiPort, m_panasonic.access, this);
    QPointer<PanasonicAccess> access = m_access;
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    m_access->open(clientName, m_panasonic.guid, intervention,
                   [weak, access, done](std::optional<Error> error, PanasonicAccess::Granted granted) {
                       auto camera = weak.lock();
                       if (!camera || access != camera->m_access)
                           return;
                       if (!error)
                           camera->properties().batteryLevel()->setValue(granted.batteryLevel);
                       done(error);
                   });
}

void PanasonicCamera::poll(std::function<void(bool)> done)
{
    if (!m_access) {
        QTimer::singleShot(0, this, [done] { done(false); });
        return;
    }
    QPointer<PanasonicAccess> access = m_access;
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    m_access->readState([weak, access, done](std::optional<Error> error, std::optional<int> batteryLevel) {
        auto camera = weak.lock();
        if (!camera)
            return;
        if (error)
            qCInfo(lcPanasonic) << "the camera stopped answering:" << error->description();
        else if (access == camera->m_access)
            camera->properties().batteryLevel()->setValue(batteryLevel);
        done(!error);
    });
}

void PanasonicCamera::connectionEnded()
{
    if (m_access)
        m_access->close();
}

// ---- Discovery ----------------------------------------------------------------------------------------------

struct PanasonicCameraDiscovery::Candidate {
    QString host;
    quint16 port = PanasonicCamera::kMediaServerPort;
    std::shared_ptr<PanasonicCamera> camera;
    bool reachable = false;
    bool probing = false;
};

PanasonicCameraDiscovery::PanasonicCameraDiscovery(QObject* parent) : VKLCameraDiscovery(parent)
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &PanasonicCameraDiscovery::probeAll);
}

PanasonicCameraDiscovery::~PanasonicCameraDiscovery() = default;

void PanasonicCameraDiscovery::beginSearching()
{
    m_searching = true;
    probeAll();
    m_timer->start(m_interval);
}

void PanasonicCameraDiscovery::stopSearching()
{
    m_searching = false;
    m_timer->stop();
}

void PanasonicCameraDiscovery::probeAll()
{
    if (!m_searching)
        return;
    std::vector<std::pair<QString, quint16>> addresses;
    for (const CameraAddress& listed : CameraAddresses::userListedFor(backendName(), PanasonicCamera::kMediaServerPort))
        addresses.emplace_back(listed.host, listed.port);
    const quint16 gatewayPort = CameraAddresses::gatewayPort(backendName(), PanasonicCamera::kMediaServerPort);
    for (const QString& gateway : CameraAddresses::wifiGateways()) {
        const std::pair<QString, quint16> address{gateway, gatewayPort};
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    for (const auto& [host, port] : addresses) {
        const auto found = std::find_if(m_candidates.begin(), m_candidates.end(), [&](const auto& each) {
            return each->host == host && each->port == port;
        });
        if (found == m_candidates.end()) {
            auto candidate = std::make_unique<Candidate>();
            candidate->host = host;
            candidate->port = port;
            m_candidates.push_back(std::move(candidate));
        }
    }
    for (const auto& candidate : m_candidates) {
        Candidate* raw = candidate.get();
        if (raw->probing || (raw->camera && raw->camera->connectionState() != 0))
            continue; // connected or connecting: certainly there
        raw->probing = true;
        upnp::probeMediaServer(&m_network, raw->host, raw->port, PanasonicCamera::descriptionPaths(), m_timeout, this,
                               &PanasonicCamera::isPanasonicMediaServer, [this, raw](std::optional<upnp::FoundMediaServer> found) {
                                   raw->probing = false;
                                   if (found && (!raw->camera || raw->camera->options().descriptionUrl != found->descriptionUrl))
                                       raw->camera = PanasonicCamera::create(PanasonicCamera::optionsFor(found->descriptionUrl, found->description));
                                   const bool reachable = found.has_value();
                                   if (raw->reachable != reachable) {
                                       raw->reachable = reachable;
                                       report();
                                   }
                               });
    }
}

void PanasonicCameraDiscovery::report()
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
