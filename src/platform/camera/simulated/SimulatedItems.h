#pragma once

#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/simulated/SimulatedContent.h"
#include "platform/camera/simulated/SimulatedLink.h"

#include <memory>

namespace vornakel::simulated {

// What a camera's storage and items share: the link, the content and the options in force.
struct CameraCore {
    std::shared_ptr<Link> link;
    std::shared_ptr<CameraContent> content;
    SimulatedCameraOptions options;
};

// The camera's one storage. Items hold it weakly (it holds the root, which holds the listed children), and it
// holds the camera weakly, so that nothing here keeps a camera alive.
class SimulatedStorage final : public VKLFileStorage {
public:
    // The storage of the connection `epoch`; its items fail once that connection is gone.
    static std::shared_ptr<SimulatedStorage> create(std::shared_ptr<CameraCore> core, std::weak_ptr<VKLCamera> camera,
                                                    uint64_t epoch);

    std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const override { return m_root; }
    std::shared_ptr<VKLCamera> camera() const override { return m_camera.lock(); }

    explicit SimulatedStorage(std::weak_ptr<VKLCamera> camera) : m_camera(std::move(camera)) {}

private:
    std::weak_ptr<VKLCamera> m_camera;
    std::shared_ptr<VKLFileSystemFolderItem> m_root;
};

} // namespace vornakel::simulated
