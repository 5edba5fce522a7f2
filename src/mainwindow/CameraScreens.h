#pragma once

#include "discovery/ui/CameraDiscoveryViewController.h"
#include "mainwindow/MainViewController.h"

#include <memory>

namespace vornakel {

// Makes the two kinds of main-window content and wires them to each other: the discovery screen hands the
// window to a new connected-camera view when the first photos arrive, and that view hands it back to a new
// discovery screen when its camera goes away. Outlives every screen it makes.
class CameraScreens {
public:
    // `connected.makeDiscovery` is filled in here.
    CameraScreens(CameraDiscoveryEnvironment discovery, ConnectedCameraEnvironment connected);

    std::unique_ptr<CameraDiscoveryViewController> makeDiscovery(
        CameraDiscoveryView initialView = CameraDiscoveryView::manualDiscovery(false));
    std::unique_ptr<MainViewController> makeConnectedView();

    // The browser the connected view embeds (the photo grid once it exists).
    void setBrowserFactory(std::function<std::unique_ptr<PhotoBrowser>(QWidget* parent)> factory)
    {
        m_connected.makeBrowser = std::move(factory);
    }
    void setCopyEntryPoint(std::function<void(const CopyRequest&)> copy) { m_connected.copy = std::move(copy); }

private:
    CameraDiscoveryEnvironment m_discovery;
    ConnectedCameraEnvironment m_connected;
};

} // namespace vornakel
