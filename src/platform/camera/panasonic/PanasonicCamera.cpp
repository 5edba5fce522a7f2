#include "platform/camera/panasonic/PanasonicCamera.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/panasonic/PanasonicCamCgiClient.h"
#include "platform/camera/panasonic/PanasonicReplies.h"

#include <QLoggingCategory>


Q_LOGGING_CATEGORY(lcPanasonic, "vornakel.camera.panasonic")

namespace vornakel {

using namespace panasonic;

namespace {

QueuePtr orMain(QueuePtr queue) { return queue ? queue : DispatchQueue::main(); }

} // namespace

std::shared_ptr<PanasonicCamera> PanasonicCamera::create(PanasonicCameraOptions options)
{
    return std::shared_ptr<PanasonicCamera>(new PanasonicCamera(std::move(options)));
}

PanasonicCamera::PanasonicCamera(PanasonicCameraOptions options) : m_options(std::move(options))
{
    m_displayName = QStringLiteral("LUMIX at %1").arg(m_options.host);
    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &PanasonicCamera::pollState);
}

PanasonicCamera::~PanasonicCamera()
{
    if (m_access)
        m_access->close();
}

void PanasonicCamera::setState(VKLConnectionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit connectionStateChanged();
}

void PanasonicCamera::connectWithClientName(const QString& clientName, ConnectCompletion completion,
                                            InterventionCallback userIntervention)
{
    if (m_state == VKLConnectionState::Connected) {
        DispatchQueue::main()->async([completion] {
            if (completion)
                completion(std::nullopt, {});
        });
        return;
    }
    m_connectCompletions.push_back(std::move(completion));
    if (m_state == VKLConnectionState::Connecting)
        return;
    setState(VKLConnectionState::Connecting);
    if (m_access) {
        m_access->close();
        m_access->deleteLater();
    }
    m_access = new PanasonicAccess(m_options.host, m_options.camCgiPort, m_options.access, this);
    const int attempt = ++m_attempt;
    m_access->open(clientName, m_options.guid, std::move(userIntervention),
                   [this, attempt](std::optional<Error> error, PanasonicAccess::Granted granted) {
                       if (attempt != m_attempt || m_state != VKLConnectionState::Connecting)
                           return;
                       if (!granted.cameraName.isEmpty())
                           m_displayName = granted.cameraName;
                       if (!error)
                           m_properties.batteryLevel()->setValue(granted.batteryLevel);
                       finishConnecting(error);
                   });
}

void PanasonicCamera::finishConnecting(std::optional<Error> error)
{
    std::vector<ConnectCompletion> completions = std::move(m_connectCompletions);
    m_connectCompletions.clear();
    if (error) {
        if (m_access)
            m_access->close();
        setState(VKLConnectionState::NotConnected);
    } else {
        m_currentCategories = VKLCommandCategoryStorageAccess;
        setState(VKLConnectionState::Connected);
        m_pollTimer.start(m_options.statePollInterval);
    }
    for (const auto& completion : completions) {
        DispatchQueue::main()->async([completion, error] {
            if (completion)
                completion(error, {});
        });
    }
}

void PanasonicCamera::pollState()
{
    if (m_state != VKLConnectionState::Connected || !m_access || m_pollOut)
        return;
    m_pollOut = true;
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    const int attempt = m_attempt;
    m_access->readState([weak, attempt](std::optional<Error> error, std::optional<int> batteryLevel) {
        auto camera = weak.lock();
        if (!camera || camera->m_attempt != attempt)
            return;
        camera->m_pollOut = false;
        if (camera->m_state != VKLConnectionState::Connected)
            return;
        if (error) {
            qCInfo(lcPanasonic) << "the camera stopped answering:" << error->description();
            camera->connectionLost();
            return;
        }
        camera->m_properties.batteryLevel()->setValue(batteryLevel);
        camera->m_pollTimer.start(camera->m_options.statePollInterval);
    });
}

void PanasonicCamera::connectionLost()
{
    if (m_state == VKLConnectionState::Connecting) {
        finishConnecting(errorWithVKLErrorCode(VKLErrorConnectionLost));
        return;
    }
    m_pollTimer.stop();
    m_pollOut = false;
    if (m_access)
        m_access->close();
    m_currentCategories = 0;
    m_storages.clear();
    m_properties.batteryLevel()->setValue(std::nullopt);
    m_properties.powerSource()->setValue(std::nullopt);
    setState(VKLConnectionState::NotConnected);
}

bool PanasonicCamera::supportsCommandCategories(uint32_t categories) const
{
    // Remote shooting needs the live view stream, which this program does not take.
    return categories == VKLCommandCategoryStorageAccess;
}

bool PanasonicCamera::currentCommandCategoriesContainsCategory(uint32_t category) const
{
    return m_state == VKLConnectionState::Connected && category != 0 && (m_currentCategories & category) == category;
}

void PanasonicCamera::setCurrentCommandCategories(uint32_t categories, ErrorCallback callback)
{
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    DispatchQueue::main()->async([weak, categories, callback] {
        auto camera = weak.lock();
        std::optional<Error> error;
        if (!camera || camera->m_state != VKLConnectionState::Connected)
            error = errorWithVKLErrorCode(VKLErrorNotConnected);
        else if (!camera->supportsCommandCategories(categories))
            error = errorWithVKLErrorCode(VKLErrorCommandCategoryUnsupported);
        else
            camera->m_currentCategories = categories;
        if (callback)
            callback(error);
    });
}

void PanasonicCamera::disconnect(ErrorCallback callback, QueuePtr callbackQueue)
{
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    QueuePtr queue = orMain(callbackQueue);
    DispatchQueue::main()->async([weak, callback, queue] {
        if (auto camera = weak.lock()) {
            if (camera->m_state == VKLConnectionState::Connecting)
                camera->finishConnecting(errorWithVKLErrorCode(VKLErrorCancelled));
            else if (camera->m_state == VKLConnectionState::Connected)
                camera->connectionLost();
        }
        queue->async([callback] {
            if (callback)
                callback(std::nullopt);
        });
    });
}

unsigned PanasonicCamera::connectionState() const { return static_cast<unsigned>(m_state); }

std::optional<QString> PanasonicCamera::friendlyIdentifier() const
{
    return QStringLiteral("panasonic:%1:%2").arg(m_options.host).arg(m_options.camCgiPort);
}

std::optional<QString> PanasonicCamera::friendlyDisplayName() const { return m_displayName; }

VKLCameraService PanasonicCamera::service() const
{
    VKLCameraService service;
    service.ipv4Address = m_options.host;
    return service;
}

std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> PanasonicCamera::storageDevices() const
{
    if (m_state != VKLConnectionState::Connected || !(m_currentCategories & VKLCommandCategoryStorageAccess))
        return std::nullopt;
    return m_storages;
}

std::shared_ptr<VKLPropertyProxy> PanasonicCamera::proxyForProperty(unsigned propertyIdentifier)
{
    return m_properties.proxy(propertyIdentifier);
}

// ---- Discovery ----------------------------------------------------------------------------------------------

struct PanasonicCameraDiscovery::Candidate {
    QString host;
    quint16 port = kCamCgiPort;
    std::shared_ptr<PanasonicCamera> camera;
    bool reachable = false;
    QPointer<PanasonicCamCgiClient> probe;
};

PanasonicCameraDiscovery::PanasonicCameraDiscovery(QObject* parent) : VKLCameraDiscovery(parent)
{
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
    for (const CameraAddress& listed : CameraAddresses::userListedFor(backendName(), kCamCgiPort))
        addresses.emplace_back(listed.host, listed.port);
    for (const QString& gateway : CameraAddresses::wifiGateways()) {
        if (std::none_of(addresses.begin(), addresses.end(), [&](const auto& each) { return each.first == gateway; }))
            addresses.emplace_back(gateway, CameraAddresses::gatewayPort(backendName(), kCamCgiPort));
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
        if ((raw->camera && raw->camera->connectionState() != 0) || raw->probe)
            continue; // connected or connecting: certainly there; or a probe is out
        // A short bound: a gateway that is no LUMIX may not answer at all.
        auto* probe = new PanasonicCamCgiClient(raw->host, raw->port, std::chrono::milliseconds(1500), this);
        raw->probe = probe;
        probe->get({{QStringLiteral("mode"), QStringLiteral("getstate")}}, [this, raw, probe](std::optional<Error> error, const QByteArray& body) {
            if (raw->probe != probe)
                return;
            raw->probe = nullptr;
            probe->deleteLater();
            // Any reply of the control page's own form is a LUMIX, whether or not it lets us in yet.
            const bool reachable = !error && parseCamReply(body).has_value();
            if (reachable && !raw->camera) {
                PanasonicCameraOptions options;
                options.host = raw->host;
                options.camCgiPort = raw->port;
                raw->camera = PanasonicCamera::create(options);
            }
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
