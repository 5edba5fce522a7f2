#include "mainwindow/CameraScreens.h"

#include "mainwindow/MainWindowController.h"
#include "model/CameraPhotoLoad.h"

namespace vornakel {

CameraScreens::CameraScreens(CameraDiscoveryEnvironment discovery, ConnectedCameraEnvironment connected)
    : m_discovery(std::move(discovery)), m_connected(std::move(connected))
{
    m_discovery.showConnectedCamera = [this](QWidget& discoveryScreen, std::shared_ptr<CameraPhotoLoad> load) {
        MainWindowController* window = MainWindowController::forWidget(&discoveryScreen);
        if (!window)
            return;
        std::unique_ptr<MainViewController> view = makeConnectedView();
        view->takeOver(std::move(load));
        window->transition(std::move(view));
    };
    m_connected.makeDiscovery = [this](CameraDiscoveryView view) -> std::unique_ptr<QWidget> {
        return makeDiscovery(std::move(view));
    };
}

std::unique_ptr<CameraDiscoveryViewController> CameraScreens::makeDiscovery(CameraDiscoveryView initialView)
{
    return std::make_unique<CameraDiscoveryViewController>(m_discovery, std::move(initialView));
}

std::unique_ptr<MainViewController> CameraScreens::makeConnectedView()
{
    return std::make_unique<MainViewController>(m_connected);
}

} // namespace vornakel
