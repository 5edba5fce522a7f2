#pragma once

#include "discovery/CameraDiscoveryController.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace vornakel {

class SpinnerView;
class WiFiInterface;

// The process's Wi-Fi interface, or none when the computer has none.
using WiFiInterfaceProvider = std::function<std::shared_ptr<WiFiInterface>()>;

// What every pane shares: the weak link to the controller whose current view the pane moves on.
class DiscoveryPane : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    CameraDiscoveryController* discoveryViewController() const { return m_discoveryViewController; }
    void setDiscoveryViewController(CameraDiscoveryController* controller) { m_discoveryViewController = controller; }

protected:
    // Moves the screen on, when the controller is still there.
    void showView(CameraDiscoveryView view);

private:
    QPointer<CameraDiscoveryController> m_discoveryViewController;
};

// Waits while the camera library searches the current network; names the Wi-Fi network the computer is on
// and offers the switch to QR reading. Searching and Wi-Fi events run exactly while the pane is on screen.
class ManualCameraDiscoveryViewController : public DiscoveryPane {
    Q_OBJECT
public:
    ManualCameraDiscoveryViewController(VKLCameraDiscovery& discovery, WiFiInterfaceProvider wifi,
                                        QWidget* parent = nullptr);

    bool qrButtonHidden() const { return m_qrButtonHidden; }
    void setQrButtonHidden(bool hidden);
    QPushButton* qrButton() const { return m_qrButton; }
    QLabel* wifiInfoLabel() const { return m_wifiInfoLabel; }
    // Connects to a camera held back after a failure or a disconnection; shown only while there is one.
    QPushButton* connectButton() const { return m_connectButton; }

    void updateUIWithSSIDWithNamed(const std::optional<QString>& ssid);
    void updateConnectButton();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refreshSSID();

    VKLCameraDiscovery& m_discovery;
    WiFiInterfaceProvider m_wifi;
    std::shared_ptr<WiFiInterface> m_monitored;
    QLabel* m_wifiInfoLabel;
    QPushButton* m_qrButton;
    QPushButton* m_connectButton;
    SpinnerView* m_spinner;
    bool m_qrButtonHidden = false;
    uint64_t m_ssidRequest = 0; // only the answer to the latest request is shown
};

// Shown while a connection is made; Cancel gives up on it.
class ConnectionProgressViewController : public DiscoveryPane {
    Q_OBJECT
public:
    explicit ConnectionProgressViewController(QWidget* parent = nullptr);
    QPushButton* cancelButton() const { return m_cancelButton; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    SpinnerView* m_spinner;
    QPushButton* m_cancelButton;
};

// Asks the user to confirm the pairing on the camera's screen; Cancel gives up on the connection.
class PairingPromptViewController : public DiscoveryPane {
    Q_OBJECT
public:
    explicit PairingPromptViewController(QWidget* parent = nullptr);
    QPushButton* cancelButton() const { return m_cancelButton; }

private:
    QPushButton* m_cancelButton;
};

class ConnectionErrorViewController : public DiscoveryPane {
    Q_OBJECT
public:
    explicit ConnectionErrorViewController(QWidget* parent = nullptr);

    void setFailure(FailureReason reason);
    std::optional<FailureReason> reason() const { return m_reason; }
    QLabel* failureTitleLabel() const { return m_failureTitleLabel; }
    QLabel* failureReasonLabel() const { return m_failureReasonLabel; }
    QPushButton* backButton() const { return m_backButton; }
    // Connects to the failed camera again; shown while it is still on the network.
    QPushButton* tryAgainButton() const { return m_tryAgainButton; }
    void updateTryAgainButton();

    static QString titleKey(FailureReason reason);
    static QString descriptionKey(FailureReason reason);

private:
    QLabel* m_failureTitleLabel;
    QLabel* m_failureReasonLabel;
    QPushButton* m_backButton;
    QPushButton* m_tryAgainButton;
    std::optional<FailureReason> m_reason;
};

// Waits until a camera has disconnected, leaves the camera's Wi-Fi network when asked, then returns to the
// manual search. The wait is bounded: a camera that never reports the end of its connection does not keep
// the screen here.
class DisconnectingViewController : public DiscoveryPane {
    Q_OBJECT
public:
    struct Timing {
        // How long the pane stays when the camera is already disconnected.
        std::chrono::milliseconds alreadyDisconnected{1000};
        // The longest wait for a camera that is still connected.
        std::chrono::milliseconds maximumWait{10000};
    };

    // `leaveWiFi` takes the computer off the camera's network (it must not block the caller).
    explicit DisconnectingViewController(std::function<void()> leaveWiFi, Timing timing, QWidget* parent = nullptr);
    explicit DisconnectingViewController(std::function<void()> leaveWiFi, QWidget* parent = nullptr)
        : DisconnectingViewController(std::move(leaveWiFi), Timing{}, parent) {}

    void waitForDisconnection(const std::shared_ptr<VKLCamera>& camera, bool disconnectWiFi);
    // Gives the wait up without finishing it: the screen has moved on to another pane, which the end of the
    // wait must not replace, and the network is left alone.
    void stopWaiting();
    bool disconnectWiFiWhenDone() const { return m_disconnectWiFiWhenDone; }
    const std::shared_ptr<VKLCamera>& camera() const { return m_camera; }
    bool isWaiting() const { return m_timer.isActive() || m_camera != nullptr; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void cameraStateChanged();
    void stopObserving();
    void finish();

    std::function<void()> m_leaveWiFi;
    Timing m_timing;
    bool m_disconnectWiFiWhenDone = false;
    std::shared_ptr<VKLCamera> m_camera;
    QMetaObject::Connection m_observation;
    QTimer m_timer;
    SpinnerView* m_spinner;
};

} // namespace vornakel
