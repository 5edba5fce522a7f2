#pragma once

#include "discovery/CameraDiscoveryView.h"
#include "mainwindow/CameraBatteryStatusView.h"
#include "mainwindow/PhotoBrowser.h"
#include "ui/MainWindowViewController.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;

namespace vornakel {

class CameraPhotoLoad;
class UserDefaults;
class WiFiNetworkPolicy;
class WindowDraggableButton;

// A copy the user asked for: the whole flow through the copy sheet, or straight into a chosen folder.
struct CopyRequest {
    enum class Kind { fullFlow, toFolder };
    Kind kind = Kind::fullFlow;
    std::vector<PhotoPtr> photos;
    std::shared_ptr<VKLCamera> camera;
    QWidget* window = nullptr; // the main window, to attach sheets to
};

// What the connected camera's view needs from the rest of the program.
struct ConnectedCameraEnvironment {
    WiFiNetworkPolicy* wifi = nullptr;
    UserDefaults* defaults = nullptr;
    // Makes the photo browser to embed.
    std::function<std::unique_ptr<PhotoBrowser>(QWidget* parent)> makeBrowser;
    // Makes the discovery screen to hand the window back to, showing the given pane.
    std::function<std::unique_ptr<QWidget>(CameraDiscoveryView view)> makeDiscovery;
    // The one entry point of every copy; none leaves Copy and "Copy to Folder…" disabled.
    std::function<void(const CopyRequest&)> copy;
};

// The main window's content while a camera is connected: owns the camera, its running photo load and the
// browser that shows the photos; the toolbar names the camera, shows its battery, and offers Disconnect and
// Copy. When the camera goes away it hands the window back to the discovery screen's disconnecting pane.
class MainViewController : public QWidget, public MainWindowViewController {
    Q_OBJECT
public:
    static constexpr QSize kInitialSize{960, 675};

    explicit MainViewController(ConnectedCameraEnvironment environment, QWidget* parent = nullptr);
    ~MainViewController() override;

    // Takes over the camera and its load from the discovery screen: shows the photos so far and every later
    // change. A camera that is already disconnected hands the window back at once.
    void takeOver(std::shared_ptr<CameraPhotoLoad> load);

    const std::shared_ptr<VKLCamera>& camera() const { return m_camera; }
    PhotoBrowser* imageGrid() const { return m_imageGrid.get(); }
    bool imageDeliveryHasCompleted() const { return m_imageDeliveryHasCompleted; }
    bool disconnectionWasExpected() const { return m_disconnectionWasExpected; }

    WindowDraggableButton* cameraNameTitlebarButton() const { return m_cameraNameTitlebarButton; }
    CameraBatteryStatusView* cameraBatteryStatus() const { return m_cameraBatteryStatus; }
    QAction* disconnectAction() const { return m_disconnectAction; }
    QAction* copyAction() const { return m_copyAction; }
    QAction* copyToFolderAction() const { return m_copyToFolderAction; }

    // The Disconnect button.
    void disconnectFromCamera();
    // Copy and "Copy to Folder…": the copy entry point once every photo is listed, else the "still loading"
    // alert.
    void startFullCopyFlow();
    void startCopyToFolder();
    void handleDisconnectionStarted(bool disconnectFromNetworkIfAllowed);

    // MainWindowViewController
    QToolBar* toolbar() override { return m_toolbar; }
    QList<QMenu*> menus() override { return {m_selectMenu}; }
    bool wantsVisibleTitle() const override { return false; }
    bool wantsTransparentToolbar() const override { return false; }
    bool wantsWindowControls() const override { return true; }
    QSize wantsInitialSize() const override { return kInitialSize; }
    std::shared_ptr<VKLCamera> connectedCamera() const override { return m_camera; }

signals:
    // The "still loading" alert was opened (for tests and screenshots).
    void deliveryIncompleteAlertShown(QWidget* alert);

private:
    void connectionStateChanged();
    void requestCopy(CopyRequest::Kind kind);
    void forceTerminateCopyOperation();

    ConnectedCameraEnvironment m_environment;
    QToolBar* m_toolbar;
    QMenu* m_selectMenu;
    WindowDraggableButton* m_cameraNameTitlebarButton;
    CameraBatteryStatusView* m_cameraBatteryStatus;
    QLabel* m_photoCountLabel;
    QToolButton* m_copyButton;
    QAction* m_disconnectAction;
    QAction* m_copyAction;
    QAction* m_copyToFolderAction;
    std::unique_ptr<PhotoBrowser> m_imageGrid;
    std::shared_ptr<VKLCamera> m_camera;
    std::shared_ptr<CameraPhotoLoad> m_load;
    QMetaObject::Connection m_stateObservation;
    bool m_imageDeliveryHasCompleted = false;
    bool m_disconnectionWasExpected = false;
    bool m_handedBack = false;
};

} // namespace vornakel
