#include "platform/camera/simulated/SimulatedCamera.h"

#include "platform/camera/simulated/SimulatedItems.h"
#include "platform/camera/CameraBackendRegistry.h"
#include "platform/camera/SimulatedNetworkState.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

#include <atomic>
#include <cmath>
#include <limits>

namespace vornakel {

using simulated::CameraContent;
using simulated::CameraCore;
using simulated::Link;
using simulated::SimulatedStorage;

// ---- Options ------------------------------------------------------------------------------------------------

namespace {

QStringList listValue(const QSettings& settings, const QString& key, const QStringList& fallback)
{
    if (!settings.contains(key))
        return fallback;
    // QSettings gives a list for "a, b" and a string for "a"; either way each entry is trimmed.
    const QVariant value = settings.value(key);
    QStringList raw = value.typeId() == QMetaType::QStringList ? value.toStringList()
                                                               : value.toString().split(QLatin1Char(','));
    QStringList result;
    for (const QString& entry : raw) {
        if (!entry.trimmed().isEmpty())
            result.append(entry.trimmed());
    }
    return result;
}

std::optional<int> optionalIntValue(const QSettings& settings, const QString& key, std::optional<int> fallback)
{
    if (!settings.contains(key))
        return fallback;
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

SimulatedCameraOptions SimulatedCameraOptions::fromFolder(const QString& folderPath, SimulatedCameraOptions defaults)
{
    SimulatedCameraOptions options = std::move(defaults);
    const QString iniPath = QDir(folderPath).filePath(QStringLiteral("camera.ini"));
    if (!QFileInfo::exists(iniPath))
        return options;
    const QSettings settings(iniPath, QSettings::IniFormat);
    options.friendlyIdentifier = settings.value(QStringLiteral("identifier"), options.friendlyIdentifier).toString();
    options.friendlyDisplayName = settings.value(QStringLiteral("name"), options.friendlyDisplayName).toString();
    options.ipv4Address = settings.value(QStringLiteral("ipv4Address"), options.ipv4Address).toString();
    options.ssid = settings.value(QStringLiteral("ssid"), options.ssid).toString();
    options.password = settings.value(QStringLiteral("password"), options.password).toString();
    options.latencyMs = settings.value(QStringLiteral("latencyMs"), options.latencyMs).toInt();
    options.throughputBytesPerSecond =
        settings.value(QStringLiteral("throughputBytesPerSecond"), options.throughputBytesPerSecond).toLongLong();
    options.chunkSize = settings.value(QStringLiteral("chunkSize"), options.chunkSize).toInt();
    options.pairingPrompt = settings.value(QStringLiteral("pairingPrompt"), options.pairingPrompt).toBool();
    options.pairingDelayMs = settings.value(QStringLiteral("pairingDelayMs"), options.pairingDelayMs).toInt();
    options.connectErrorCode = settings.value(QStringLiteral("connectErrorCode"), options.connectErrorCode).toInt();
    const QString access = settings.value(QStringLiteral("storageAccess")).toString().trimmed().toLower();
    if (access == QLatin1String("supported"))
        options.storageAccess = StorageAccess::Supported;
    else if (access == QLatin1String("unsupported"))
        options.storageAccess = StorageAccess::Unsupported;
    else if (access == QLatin1String("refused"))
        options.storageAccess = StorageAccess::Refused;
    options.startsInStorageMode =
        settings.value(QStringLiteral("startsInStorageMode"), options.startsInStorageMode).toBool();
    options.disconnectAfterSeconds =
        settings.value(QStringLiteral("disconnectAfterSeconds"), options.disconnectAfterSeconds).toDouble();
    options.metadataFailures = listValue(settings, QStringLiteral("metadataFailures"), options.metadataFailures);
    options.listingErrors = listValue(settings, QStringLiteral("listingErrors"), options.listingErrors);
    options.metadataPreloaded = settings.value(QStringLiteral("metadataPreloaded"), options.metadataPreloaded).toBool();
    options.batteryLevel = optionalIntValue(settings, QStringLiteral("batteryLevel"), options.batteryLevel);
    options.powerSource = optionalIntValue(settings, QStringLiteral("powerSource"), options.powerSource);
    options.streamErrorAfterBytes =
        settings.value(QStringLiteral("streamErrorAfterBytes"), options.streamErrorAfterBytes).toLongLong();
    options.streamStallAfterBytes =
        settings.value(QStringLiteral("streamStallAfterBytes"), options.streamStallAfterBytes).toLongLong();
    options.streamStallMs = settings.value(QStringLiteral("streamStallMs"), options.streamStallMs).toInt();
    options.streamShortByBytes =
        settings.value(QStringLiteral("streamShortByBytes"), options.streamShortByBytes).toLongLong();
    options.streamFaultFiles = listValue(settings, QStringLiteral("streamFaultFiles"), options.streamFaultFiles);
    return options;
}

std::optional<std::chrono::milliseconds> SimulatedCameraOptions::disconnectDelay() const
{
    // Compared as doubles before any conversion: casting a value beyond the integer's range is undefined.
    const double milliseconds = disconnectAfterSeconds * 1000.0;
    if (!std::isfinite(milliseconds) || milliseconds <= 0 || milliseconds > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(1, static_cast<qint64>(milliseconds)));
}

SimulatedCameraOptions SimulatedCameraOptions::fromFolder(const QString& folderPath)
{
    return fromFolder(folderPath, SimulatedCameraOptions());
}

// ---- Camera -------------------------------------------------------------------------------------------------

namespace {

std::atomic<int> gCameraCount{0};

std::shared_ptr<CameraCore> makeCore(std::shared_ptr<CameraContent> content, const SimulatedCameraOptions& options)
{
    auto core = std::make_shared<CameraCore>();
    core->content = std::move(content);
    core->options = options;
    core->link = std::make_shared<Link>(QStringLiteral("com.vornakel.core.link.%1").arg(++gCameraCount),
                                        std::chrono::milliseconds(std::max(0, options.latencyMs)),
                                        options.throughputBytesPerSecond);
    return core;
}

} // namespace

std::shared_ptr<SimulatedCamera> SimulatedCamera::fromFolder(const QString& folderPath, SimulatedCameraOptions options)
{
    const QString absolute = QDir(folderPath).absolutePath();
    SimulatedCameraOptions resolved = SimulatedCameraOptions::fromFolder(absolute, std::move(options));
    if (resolved.friendlyIdentifier.isEmpty())
        resolved.friendlyIdentifier = QFileInfo(absolute).fileName();
    return std::shared_ptr<SimulatedCamera>(
        new SimulatedCamera(std::shared_ptr<simulated::CameraContent>(CameraContent::onDisk(absolute)),
                            std::move(resolved), absolute));
}

std::shared_ptr<SimulatedCamera> SimulatedCamera::fromContent(SimulatedCameraContent content, SimulatedCameraOptions options)
{
    return std::shared_ptr<SimulatedCamera>(
        new SimulatedCamera(CameraContent::inMemory(std::move(content)), std::move(options), QString()));
}

SimulatedCamera::SimulatedCamera(std::shared_ptr<simulated::CameraContent> content, SimulatedCameraOptions options,
                                 QString folderPath)
    : m_options(std::move(options)), m_folderPath(std::move(folderPath)), m_content(std::move(content))
{
    if (m_options.friendlyIdentifier.isEmpty())
        m_options.friendlyIdentifier = QStringLiteral("SimulatedCamera");
    if (m_options.friendlyDisplayName.isEmpty())
        m_options.friendlyDisplayName = QStringLiteral("Simulated Camera %1").arg(m_options.friendlyIdentifier);
    m_core = makeCore(m_content, m_options);
    m_link = m_core->link;
}

SimulatedCamera::~SimulatedCamera()
{
    // Requests still waiting on the link fail instead of reaching a camera that is gone.
    m_link->disconnect();
}

void SimulatedCamera::connectWithClientName(const QString& clientName, ConnectCompletion completion,
                                            InterventionCallback userIntervention)
{
    m_lastClientName = clientName;
    auto main = DispatchQueue::main();
    if (m_state == VKLConnectionState::Connected) {
        main->async([completion] {
            if (completion)
                completion(std::nullopt, {});
        });
        return;
    }
    if (m_state == VKLConnectionState::Connecting) {
        // A second request while connecting waits for the connection under way rather than failing it.
        m_joinedConnectCompletions.push_back(std::move(completion));
        return;
    }
    const uint64_t attempt = ++m_connectionAttempt;
    m_connectAborted = false;
    setState(VKLConnectionState::Connecting);
    std::weak_ptr<SimulatedCamera> weak = std::static_pointer_cast<SimulatedCamera>(shared_from_this());
    const SimulatedCameraOptions options = m_options;
    m_link->submit([weak, attempt, options, completion, userIntervention, link = m_link](Link::Done done) {
        link->afterLatency([weak, attempt, options, completion, userIntervention, done] {
            DispatchQueue::main()->async([weak, attempt, options, completion, userIntervention] {
                auto camera = weak.lock();
                if (!camera || camera->m_connectionAttempt != attempt)
                    return;
                if (options.connectErrorCode != 0) {
                    camera->finishConnecting(attempt, completion, errorWithVKLErrorCode(options.connectErrorCode));
                    return;
                }
                if (!options.pairingPrompt) {
                    camera->finishConnecting(attempt, completion, std::nullopt);
                    return;
                }
                auto rejected = std::make_shared<std::atomic<bool>>(false);
                if (userIntervention)
                    userIntervention(true, [rejected] { rejected->store(true); });
                DispatchQueue::main()->asyncAfter(
                    std::chrono::milliseconds(std::max(0, options.pairingDelayMs)),
                    [weak, attempt, completion, userIntervention, rejected] {
                        auto camera = weak.lock();
                        if (!camera || camera->m_connectionAttempt != attempt)
                            return;
                        if (userIntervention)
                            userIntervention(false, {});
                        camera->finishConnecting(attempt, completion,
                                                 rejected->load() ? std::optional(errorWithVKLErrorCode(VKLErrorPairingRejected))
                                                                  : std::nullopt);
                    });
            });
            done();
        });
    });
}

void SimulatedCamera::finishConnecting(uint64_t attempt, ConnectCompletion completion, std::optional<Error> error)
{
    if (!error && m_connectAborted)
        error = errorWithVKLErrorCode(VKLErrorConnectionLost);
    std::vector<ConnectCompletion> completions = std::move(m_joinedConnectCompletions);
    m_joinedConnectCompletions.clear();
    completions.insert(completions.begin(), std::move(completion));
    auto report = [&completions, &error] {
        for (const auto& each : completions) {
            if (each)
                each(error, {});
        }
    };
    if (error) {
        setState(VKLConnectionState::NotConnected);
        report();
        return;
    }
    const uint64_t epoch = m_link->connect();
    m_currentCategories = VKLCommandCategoryRemoteShooting
        | (m_options.startsInStorageMode && m_options.storageAccess != SimulatedCameraOptions::StorageAccess::Unsupported
               ? VKLCommandCategoryStorageAccess
               : 0u);
    m_storage = SimulatedStorage::create(m_core, weak_from_this(), epoch);
    m_properties.batteryLevel()->setValue(m_options.batteryLevel);
    m_properties.powerSource()->setValue(m_options.powerSource);
    setState(VKLConnectionState::Connected);
    if (const auto delay = m_options.disconnectDelay()) {
        std::weak_ptr<SimulatedCamera> weak = std::static_pointer_cast<SimulatedCamera>(shared_from_this());
        DispatchQueue::main()->asyncAfter(*delay, [weak, attempt] {
            auto camera = weak.lock();
            if (camera && camera->m_connectionAttempt == attempt && camera->m_state == VKLConnectionState::Connected)
                camera->dropConnection();
        });
    }
    report();
}

bool SimulatedCamera::supportsCommandCategories(uint32_t categories) const
{
    uint32_t supported = VKLCommandCategoryRemoteShooting;
    if (m_options.storageAccess != SimulatedCameraOptions::StorageAccess::Unsupported)
        supported |= VKLCommandCategoryStorageAccess;
    return categories != 0 && (categories & supported) == categories;
}

bool SimulatedCamera::currentCommandCategoriesContainsCategory(uint32_t category) const
{
    return m_state == VKLConnectionState::Connected && category != 0 && (m_currentCategories & category) == category;
}

void SimulatedCamera::setCurrentCommandCategories(uint32_t categories, ErrorCallback callback)
{
    std::weak_ptr<SimulatedCamera> weak = std::static_pointer_cast<SimulatedCamera>(shared_from_this());
    const uint64_t epoch = m_link->epoch();
    m_link->submit([weak, epoch, categories, callback, link = m_link](Link::Done done) {
        link->afterLatency([weak, epoch, categories, callback, link, done] {
            DispatchQueue::main()->async([weak, epoch, categories, callback, link] {
                std::optional<Error> error;
                auto camera = weak.lock();
                if (!camera || !link->isConnected(epoch))
                    error = errorWithVKLErrorCode(VKLErrorNotConnected);
                else if (!camera->supportsCommandCategories(categories))
                    error = errorWithVKLErrorCode(VKLErrorCommandCategoryUnsupported);
                else if ((categories & VKLCommandCategoryStorageAccess)
                         && camera->m_options.storageAccess == SimulatedCameraOptions::StorageAccess::Refused)
                    error = errorWithVKLErrorCode(VKLErrorCommandCategoryRefused);
                else
                    camera->m_currentCategories = categories;
                if (callback)
                    callback(error);
            });
            done();
        });
    });
}

void SimulatedCamera::disconnect(ErrorCallback callback, QueuePtr callbackQueue)
{
    std::weak_ptr<SimulatedCamera> weak = std::static_pointer_cast<SimulatedCamera>(shared_from_this());
    QueuePtr queue = callbackQueue ? callbackQueue : DispatchQueue::main();
    DispatchQueue::main()->async([weak, callback, queue] {
        if (auto camera = weak.lock()) {
            if (camera->m_state != VKLConnectionState::NotConnected)
                camera->dropConnection();
        }
        queue->async([callback] {
            if (callback)
                callback(std::nullopt);
        });
    });
}

void SimulatedCamera::dropConnection()
{
    if (m_state == VKLConnectionState::NotConnected)
        return;
    if (m_state == VKLConnectionState::Connecting) {
        // The pending connection request ends with a lost connection when it comes back.
        m_connectAborted = true;
        return;
    }
    m_link->disconnect();
    m_currentCategories = 0;
    m_properties.batteryLevel()->setValue(std::nullopt);
    m_properties.powerSource()->setValue(std::nullopt);
    setState(VKLConnectionState::NotConnected);
}

void SimulatedCamera::setState(VKLConnectionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit connectionStateChanged();
}

unsigned SimulatedCamera::connectionState() const { return static_cast<unsigned>(m_state); }

std::optional<QString> SimulatedCamera::friendlyIdentifier() const { return m_options.friendlyIdentifier; }

std::optional<QString> SimulatedCamera::friendlyDisplayName() const { return m_options.friendlyDisplayName; }

VKLCameraService SimulatedCamera::service() const
{
    VKLCameraService service;
    if (!m_options.ipv4Address.isEmpty())
        service.ipv4Address = m_options.ipv4Address;
    return service;
}

std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> SimulatedCamera::storageDevices() const
{
    if (m_state != VKLConnectionState::Connected || !(m_currentCategories & VKLCommandCategoryStorageAccess) || !m_storage)
        return std::nullopt;
    return std::vector<std::shared_ptr<VKLFileStorage>>{m_storage};
}

std::shared_ptr<VKLPropertyProxy> SimulatedCamera::proxyForProperty(unsigned propertyIdentifier)
{
    return m_properties.proxy(propertyIdentifier);
}

void SimulatedCamera::setBatteryLevel(std::optional<int> level)
{
    m_options.batteryLevel = level;
    if (m_state == VKLConnectionState::Connected)
        m_properties.batteryLevel()->setValue(level);
}

void SimulatedCamera::setPowerSource(std::optional<int> source)
{
    m_options.powerSource = source;
    if (m_state == VKLConnectionState::Connected)
        m_properties.powerSource()->setValue(source);
}

// ---- Discovery ----------------------------------------------------------------------------------------------

SimulatedCameraDiscovery& SimulatedCameraDiscovery::shared()
{
    VKLCameraDiscovery& installed = VKLCameraDiscovery::sharedInstance();
    if (auto* simulated = qobject_cast<SimulatedCameraDiscovery*>(&installed))
        return *simulated;
    if (auto* merged = qobject_cast<MergedCameraDiscovery*>(&installed)) {
        for (VKLCameraDiscovery* backend : merged->backends()) {
            if (auto* simulated = qobject_cast<SimulatedCameraDiscovery*>(backend))
                return *simulated;
        }
    }
    // Never destroyed: cameras may be used until the process ends.
    static SimulatedCameraDiscovery* discovery = new SimulatedCameraDiscovery;
    return *discovery;
}

SimulatedCameraDiscovery::SimulatedCameraDiscovery(QObject* parent) : VKLCameraDiscovery(parent)
{
    connect(&SimulatedNetworkState::shared(), &SimulatedNetworkState::currentSsidChanged, this,
            [this] { scheduleReport(false); });
}

void SimulatedCameraDiscovery::beginSearching()
{
    if (!m_searching) {
        m_searching = true;
        ++m_searchGeneration;
    }
    loadEnvironmentCameras();
    scheduleReport(true);
}

void SimulatedCameraDiscovery::stopSearching()
{
    m_searching = false;
    ++m_searchGeneration;
}

std::vector<std::shared_ptr<VKLCamera>> SimulatedCameraDiscovery::cameras() const { return m_reported; }

void SimulatedCameraDiscovery::addCamera(std::shared_ptr<SimulatedCamera> camera)
{
    if (!camera)
        return;
    m_cameras.push_back(std::move(camera));
    scheduleReport(false);
}

void SimulatedCameraDiscovery::removeAllCameras()
{
    m_cameras.clear();
    m_environmentCameras.clear();
    m_environmentLoaded = false;
    scheduleReport(false);
}

QStringList SimulatedCameraDiscovery::environmentCameraFolders()
{
    QStringList result;
    const QString folders = qEnvironmentVariable("VORNAKEL_SIMULATED_CAMERAS");
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QFileInfo(folder).isDir())
            result << folder;
    return result;
}

std::vector<SimulatedCameraNetwork> SimulatedCameraDiscovery::networksOfCameraFolders(const QStringList& cameraFolders)
{
    std::vector<SimulatedCameraNetwork> networks;
    for (const QString& folder : cameraFolders) {
        const SimulatedCameraOptions options = SimulatedCameraOptions::fromFolder(folder);
        if (!options.ssid.isEmpty())
            networks.push_back({options.ssid, options.password, options.ipv4Address});
    }
    return networks;
}

void SimulatedCameraDiscovery::loadEnvironmentCameras()
{
    if (m_environmentLoaded)
        return;
    m_environmentLoaded = true;
    for (const QString& folder : environmentCameraFolders())
        m_environmentCameras.push_back(SimulatedCamera::fromFolder(folder));
}

std::vector<std::shared_ptr<VKLCamera>> SimulatedCameraDiscovery::reachableCameras() const
{
    const std::optional<QString> ssid = SimulatedNetworkState::shared().currentSsid();
    std::vector<std::shared_ptr<VKLCamera>> result;
    std::vector<std::shared_ptr<SimulatedCamera>> all = m_environmentCameras;
    all.insert(all.end(), m_cameras.begin(), m_cameras.end());
    for (const auto& camera : all) {
        const QString& cameraSsid = camera->options().ssid;
        if (cameraSsid.isEmpty() || (ssid && *ssid == cameraSsid))
            result.push_back(camera);
    }
    return result;
}

void SimulatedCameraDiscovery::scheduleReport(bool always)
{
    if (!m_searching)
        return;
    const uint64_t generation = m_searchGeneration;
    DispatchQueue::main()->asyncAfter(m_reportDelay, this, [this, generation, always] {
        if (!m_searching || generation != m_searchGeneration)
            return;
        Cameras current = reachableCameras();
        if (!always && current == m_reported)
            return;
        m_reported = std::move(current);
        // An observer may change the list while it is being told; each gets this report's copy.
        const Cameras reported = m_reported;
        emit devicesChanged(reported);
    });
}

} // namespace vornakel
