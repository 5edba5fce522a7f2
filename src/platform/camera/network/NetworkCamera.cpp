#include "platform/camera/network/NetworkCamera.h"

#include <QTimer>

namespace vornakel {

NetworkCamera::NetworkCamera(QString identifierScheme, QString host, quint16 port, QString displayName)
    : m_identifierScheme(std::move(identifierScheme)), m_host(std::move(host)), m_port(port),
      m_displayName(std::move(displayName))
{
}

NetworkCamera::~NetworkCamera() = default;

void NetworkCamera::pollWhileConnected(std::chrono::milliseconds interval, std::function<void()> poll)
{
    if (!m_pollTimer)
        m_pollTimer = new QTimer(this);
    m_pollInterval = interval;
    connect(m_pollTimer, &QTimer::timeout, this, std::move(poll));
}

void NetworkCamera::setState(VKLConnectionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (m_pollTimer) {
        if (state == VKLConnectionState::Connected)
            m_pollTimer->start(m_pollInterval);
        else
            m_pollTimer->stop();
    }
    emit connectionStateChanged();
}

bool NetworkCamera::beginConnecting(ConnectCompletion completion)
{
    if (m_state == VKLConnectionState::Connected) {
        DispatchQueue::main()->async([completion] {
            if (completion)
                completion(std::nullopt, {});
        });
        return false;
    }
    m_connectCompletions.push_back(std::move(completion));
    if (m_state == VKLConnectionState::Connecting)
        return false;
    setState(VKLConnectionState::Connecting);
    return true;
}

void NetworkCamera::finishConnecting(std::optional<Error> error)
{
    // Taken first: closing the session may end the attempt again from inside, and a connect made from a slot of
    // the state change belongs to the next attempt.
    std::vector<ConnectCompletion> completions = std::exchange(m_connectCompletions, {});
    if (error) {
        closeSession(SessionEnd::AttemptFailed);
        m_storages.clear();
        setState(VKLConnectionState::NotConnected);
        connectionEnded();
    } else {
        m_currentCategories = VKLCommandCategoryStorageAccess;
        setState(VKLConnectionState::Connected);
    }
    for (const auto& completion : completions) {
        DispatchQueue::main()->async([completion, error] {
            if (completion)
                completion(error, {});
        });
    }
}

void NetworkCamera::connectionLost()
{
    if (m_state == VKLConnectionState::Connecting) {
        finishConnecting(errorWithVKLErrorCode(VKLErrorConnectionLost));
        return;
    }
    if (m_state == VKLConnectionState::NotConnected)
        return;
    endConnection(SessionEnd::Lost);
}

void NetworkCamera::endConnection(SessionEnd how)
{
    closeSession(how);
    m_currentCategories = 0;
    m_storages.clear();
    // A camera that went away takes its readings with it; one closed by a disconnect keeps its last.
    if (how == SessionEnd::Lost) {
        m_properties.batteryLevel()->setValue(std::nullopt);
        m_properties.powerSource()->setValue(std::nullopt);
    }
    setState(VKLConnectionState::NotConnected);
    connectionEnded();
}

void NetworkCamera::disconnectOnMain(std::function<void()> done)
{
    if (m_state == VKLConnectionState::Connecting)
        finishConnecting(errorWithVKLErrorCode(VKLErrorCancelled));
    else if (m_state == VKLConnectionState::Connected)
        endConnection(SessionEnd::Closed);
    done();
}

void NetworkCamera::disconnect(ErrorCallback callback, QueuePtr callbackQueue)
{
    std::weak_ptr<NetworkCamera> weak = std::static_pointer_cast<NetworkCamera>(shared_from_this());
    QueuePtr queue = callbackQueue ? callbackQueue : DispatchQueue::main();
    DispatchQueue::main()->async([weak, callback, queue] {
        auto done = [callback, queue] {
            queue->async([callback] {
                if (callback)
                    callback(std::nullopt);
            });
        };
        if (auto camera = weak.lock())
            camera->disconnectOnMain(std::move(done));
        else
            done();
    });
}

bool NetworkCamera::supportsCommandCategories(uint32_t categories) const
{
    return categories == VKLCommandCategoryStorageAccess;
}

bool NetworkCamera::currentCommandCategoriesContainsCategory(uint32_t category) const
{
    return m_state == VKLConnectionState::Connected && category != 0 && (m_currentCategories & category) == category;
}

void NetworkCamera::setCurrentCommandCategories(uint32_t categories, ErrorCallback callback)
{
    std::weak_ptr<NetworkCamera> weak = std::static_pointer_cast<NetworkCamera>(shared_from_this());
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

unsigned NetworkCamera::connectionState() const { return static_cast<unsigned>(m_state); }

std::optional<QString> NetworkCamera::friendlyIdentifier() const
{
    return QStringLiteral("%1:%2:%3").arg(m_identifierScheme, m_host).arg(m_port);
}

std::optional<QString> NetworkCamera::friendlyDisplayName() const { return m_displayName; }

VKLCameraService NetworkCamera::service() const
{
    VKLCameraService service;
    service.ipv4Address = m_host;
    return service;
}

std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> NetworkCamera::storageDevices() const
{
    if (m_state != VKLConnectionState::Connected || !(m_currentCategories & VKLCommandCategoryStorageAccess))
        return std::nullopt;
    return m_storages;
}

std::shared_ptr<VKLPropertyProxy> NetworkCamera::proxyForProperty(unsigned propertyIdentifier)
{
    return m_properties.proxy(propertyIdentifier);
}

} // namespace vornakel
