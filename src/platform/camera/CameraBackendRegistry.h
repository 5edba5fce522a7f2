#pragma once

#include "platform/camera/VKLCamera.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace vornakel {

// The camera backends the program carries, by name. The application adds each at start-up and builds the one
// chosen at run time; a backend for real cameras is one more `add` beside the simulated one.
class CameraBackendRegistry {
public:
    using Factory = std::function<std::unique_ptr<VKLCameraDiscovery>()>;

    // A later backend of the same name replaces the earlier one.
    void add(const QString& name, Factory factory);
    // In the order added.
    QStringList names() const;
    // The named backend's discovery (the first added for an empty name); none for a name not added.
    std::unique_ptr<VKLCameraDiscovery> create(const QString& name) const;

private:
    std::vector<std::pair<QString, Factory>> m_backends;
};

} // namespace vornakel
