#pragma once

#include "discovery/CameraDiscoveryController.h"
#include "discovery/ui/DiscoveryPanes.h"
#include "discovery/ui/QRCameraDiscoveryViewController.h"
#include "ui/MainWindowViewController.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

class QLabel;
class QVBoxLayout;

namespace vornakel {

class BackgroundColorView;
class CameraLogoView;
class CameraPhotoLoad;

// What the discovery screen needs from the rest of the program.
struct CameraDiscoveryEnvironment {
    explicit CameraDiscoveryEnvironment(VKLCameraDiscovery& discovery) : discovery(discovery) {}

    // Where cameras are searched for; outlives the screen.
    std::reference_wrapper<VKLCameraDiscovery> discovery;
    CameraDiscoveryController::NoteConnected noteConnected;
    WiFiInterfaceProvider wifi;
    // Takes the computer off the camera's network (after a disconnection, when asked); must not block.
    std::function<void()> leaveWiFi;
    QRCameraDiscoveryViewController::FrameSourceFactory frameSource;
    std::function<void()> beep;
    // Shows the connected camera's view; called when the first photos arrive, with the load to take over.
    std::function<void(QWidget& discoveryScreen, std::shared_ptr<CameraPhotoLoad> load)> showConnectedCamera;
    DisconnectingViewController::Timing disconnectingTiming;
    std::chrono::milliseconds webcamFirstFrameTimeout{5000};
    // 1.0 is the header's normal speed; 0 shows it at once (tests, screenshots).
    double animationSpeed = 1.0;
};

// The main window's first content: a header and one pane at a time, chosen by the controller's current view.
class CameraDiscoveryViewController : public QWidget, public MainWindowViewController {
    Q_OBJECT
public:
    static constexpr QSize kInitialSize{339, 420};

    explicit CameraDiscoveryViewController(CameraDiscoveryEnvironment environment,
                                           CameraDiscoveryView initialView = CameraDiscoveryView::manualDiscovery(false),
                                           QWidget* parent = nullptr);
    ~CameraDiscoveryViewController() override;

    CameraDiscoveryController& controller() { return *m_controller; }
    const CameraDiscoveryView& currentView() const { return m_controller->currentView(); }
    void setCurrentView(CameraDiscoveryView view) { m_controller->setCurrentView(std::move(view)); }
    // The pane on screen now.
    QWidget* currentPane() const { return m_currentPane; }

    ManualCameraDiscoveryViewController* manualDiscoveryViewController() const { return m_manual; }
    ConnectionProgressViewController* connectionProgressViewController() const { return m_progress; }
    PairingPromptViewController* pairingPromptViewController() const { return m_pairing; }
    ConnectionErrorViewController* connectionErrorViewController() const { return m_error; }
    DisconnectingViewController* disconnectingViewController() const { return m_disconnecting; }
    QRCameraDiscoveryViewController* qrDiscoveryViewController() const { return m_qr; }
    QWidget* labelContainer() const { return m_labelContainer; }

    // MainWindowViewController
    QToolBar* toolbar() override { return nullptr; }
    bool wantsVisibleTitle() const override { return true; }
    bool wantsTransparentToolbar() const override { return true; }
    bool wantsWindowControls() const override { return false; }
    QSize wantsInitialSize() const override { return kInitialSize; }

    // Fades the header in (0.25 s late, over 1.25 s at normal speed), the label rising 20 points.
    void animateInHeader();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showPane();
    QWidget* paneFor(const CameraDiscoveryView& view);

    CameraDiscoveryEnvironment m_environment;
    std::unique_ptr<CameraDiscoveryController> m_controller;
    BackgroundColorView* m_headerView;
    CameraLogoView* m_logoImage;
    QWidget* m_labelContainer;
    QWidget* m_stepContainerView;
    QVBoxLayout* m_stepLayout;
    QWidget* m_currentPane = nullptr;
    bool m_headerAnimated = false;

    ManualCameraDiscoveryViewController* m_manual;
    ConnectionProgressViewController* m_progress;
    PairingPromptViewController* m_pairing;
    ConnectionErrorViewController* m_error;
    DisconnectingViewController* m_disconnecting;
    QRCameraDiscoveryViewController* m_qr;
};

} // namespace vornakel
