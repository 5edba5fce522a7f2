#pragma once

#include "platform/camera/VKLCamera.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace vornakel {

// The camera backends the program carries, by name. The application adds each at start-up and builds the one
// chosen at run time, or by default every backend that searches by default, merged into one discovery.
class CameraBackendRegistry {
public:
    using Factory = std::function<std::unique_ptr<VKLCameraDiscovery>()>;
    // Asked when the default discovery is built; a backend for real cameras answers true.
    using DefaultPredicate = std::function<bool()>;

    // The name that stands for the merged default.
    static QString defaultName() { return QStringLiteral("default"); }

    // A later backend of the same name replaces the earlier one.
    void add(const QString& name, Factory factory, DefaultPredicate searchesByDefault = {});
    // In the order added (the default's name is not among them).
    QStringList names() const;
    bool contains(const QString& name) const { return name == defaultName() || names().contains(name); }
    // The named backend's discovery; for an empty name or the default's name, the backends that search by
    // default merged in the order added; none for a name not added.
    std::unique_ptr<VKLCameraDiscovery> create(const QString& name) const;

private:
    struct Backend {
        QString name;
        Factory factory;
        DefaultPredicate searchesByDefault;
    };
    std::vector<Backend> m_backends;
};

// Several backends searching at once: their camera lists merged in the backends' order, a camera that two
// of them report listed once. Main thread only.
class MergedCameraDiscovery : public VKLCameraDiscovery {
    Q_OBJECT
public:
    explicit MergedCameraDiscovery(std::vector<std::unique_ptr<VKLCameraDiscovery>> backends, QObject* parent = nullptr);
    ~MergedCameraDiscovery() override;

    void beginSearching() override;
    void stopSearching() override;
    Cameras cameras() const override;

    // The merged backends, for tests and for a backend that looks itself up among them.
    std::vector<VKLCameraDiscovery*> backends() const;

private:
    void report();

    std::vector<std::unique_ptr<VKLCameraDiscovery>> m_backends;
    Cameras m_cameras;
};

} // namespace vornakel
