#include "platform/camera/CameraBackendRegistry.h"

#include <algorithm>

namespace vornakel {

void CameraBackendRegistry::add(const QString& name, Factory factory)
{
    const auto found = std::find_if(m_backends.begin(), m_backends.end(),
                                    [&](const auto& backend) { return backend.first == name; });
    if (found != m_backends.end())
        found->second = std::move(factory);
    else
        m_backends.emplace_back(name, std::move(factory));
}

QStringList CameraBackendRegistry::names() const
{
    QStringList names;
    for (const auto& backend : m_backends)
        names << backend.first;
    return names;
}

std::unique_ptr<VKLCameraDiscovery> CameraBackendRegistry::create(const QString& name) const
{
    if (m_backends.empty())
        return nullptr;
    if (name.isEmpty())
        return m_backends.front().second();
    for (const auto& backend : m_backends) {
        if (backend.first == name)
            return backend.second();
    }
    return nullptr;
}

} // namespace vornakel
