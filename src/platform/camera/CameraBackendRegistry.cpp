#include "platform/camera/CameraBackendRegistry.h"

#include <algorithm>

namespace vornakel {

void CameraBackendRegistry::add(const QString& name, Factory factory, DefaultPredicate searchesByDefault)
{
    const auto found = std::find_if(m_backends.begin(), m_backends.end(),
                                    [&](const Backend& backend) { return backend.name == name; });
    if (found != m_backends.end()) {
        found->factory = std::move(factory);
        found->searchesByDefault = std::move(searchesByDefault);
    } else {
        m_backends.push_back({name, std::move(factory), std::move(searchesByDefault)});
    }
}

QStringList CameraBackendRegistry::names() const
{
    QStringList names;
    for (const Backend& backend : m_backends)
        names << backend.name;
    return names;
}

std::unique_ptr<VKLCameraDiscovery> CameraBackendRegistry::create(const QString& name) const
{
    if (name.isEmpty() || name == defaultName()) {
        std::vector<std::unique_ptr<VKLCameraDiscovery>> parts;
        for (const Backend& backend : m_backends) {
            if (backend.searchesByDefault && backend.searchesByDefault()) {
                if (auto discovery = backend.factory())
                    parts.push_back(std::move(discovery));
            }
        }
        return std::make_unique<MergedCameraDiscovery>(std::move(parts));
    }
    for (const Backend& backend : m_backends) {
        if (backend.name == name)
            return backend.factory();
    }
    return nullptr;
}

// ---- Merged discovery ---------------------------------------------------------------------------------------

MergedCameraDiscovery::MergedCameraDiscovery(std::vector<std::unique_ptr<VKLCameraDiscovery>> backends, QObject* parent)
    : VKLCameraDiscovery(parent), m_backends(std::move(backends))
{
    for (const auto& backend : m_backends)
        connect(backend.get(), &VKLCameraDiscovery::devicesChanged, this, [this] { report(); });
}

MergedCameraDiscovery::~MergedCameraDiscovery() = default;

void MergedCameraDiscovery::beginSearching()
{
    for (const auto& backend : m_backends)
        backend->beginSearching();
}

void MergedCameraDiscovery::stopSearching()
{
    for (const auto& backend : m_backends)
        backend->stopSearching();
}

VKLCameraDiscovery::Cameras MergedCameraDiscovery::cameras() const { return m_cameras; }

std::vector<VKLCameraDiscovery*> MergedCameraDiscovery::backends() const
{
    std::vector<VKLCameraDiscovery*> result;
    for (const auto& backend : m_backends)
        result.push_back(backend.get());
    return result;
}

void MergedCameraDiscovery::report()
{
    Cameras merged;
    for (const auto& backend : m_backends) {
        for (const auto& camera : backend->cameras()) {
            // Two backends reaching one camera (same address and identifier) show it once: the first one's.
            const bool known = std::any_of(merged.begin(), merged.end(), [&](const auto& other) {
                return other == camera
                    || (other->service().ipv4Address && other->service().ipv4Address == camera->service().ipv4Address
                        && other->friendlyIdentifier() == camera->friendlyIdentifier());
            });
            if (!known)
                merged.push_back(camera);
        }
    }
    m_cameras = merged;
    emit devicesChanged(merged);
}

} // namespace vornakel
