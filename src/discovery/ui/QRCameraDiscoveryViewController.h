#pragma once

#include "discovery/CameraQRDecoding.h"
#include "discovery/ui/DiscoveryPanes.h"

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <variant>

class QLabel;
class QPushButton;

namespace vornakel {

class AspectFillImageView;
class QRFrameReader;
class SpinnerView;
class VideoFrameSource;

// Reads a camera's Wi-Fi QR code through the computer's camera and joins that network; on success the
// manual search takes over, without its QR button, so the camera is found on the network just joined.
// "Connect Manually" stays reachable in every layout, also while the webcam starts and during the join.
class QRCameraDiscoveryViewController : public DiscoveryPane {
    Q_OBJECT
public:
    struct QRFailureReason {
        struct CantConnectToWifi {
            CameraWiFiDetails details;
            bool operator==(const CantConnectToWifi&) const = default;
        };
        struct SetupFailed {
            bool operator==(const SetupFailed&) const = default;
        };
        std::variant<CantConnectToWifi, SetupFailed> value;
        bool operator==(const QRFailureReason&) const = default;
    };
    struct QRReadingState {
        struct Error {
            QRFailureReason reason;
            bool operator==(const Error&) const = default;
        };
        struct WaitingForWebcam {
            bool operator==(const WaitingForWebcam&) const = default;
        };
        struct WaitingForScan {
            bool operator==(const WaitingForScan&) const = default;
        };
        struct ConnectingToScannedWifiNetwork {
            bool operator==(const ConnectingToScannedWifiNetwork&) const = default;
        };
        std::variant<Error, WaitingForWebcam, WaitingForScan, ConnectingToScannedWifiNetwork> value = WaitingForWebcam{};
        template <typename Case>
        bool is() const { return std::holds_alternative<Case>(value); }
        bool operator==(const QRReadingState&) const = default;
    };
    enum class Layout { waiting, camera, error };

    using FrameSourceFactory = std::function<std::unique_ptr<VideoFrameSource>()>;

    struct Dependencies {
        FrameSourceFactory frameSource;
        WiFiInterfaceProvider wifi;
        std::function<void()> beep;
        // A webcam that shows no picture within this time counts as not set up.
        std::chrono::milliseconds firstFrameTimeout{5000};
    };

    explicit QRCameraDiscoveryViewController(Dependencies dependencies, QWidget* parent = nullptr);
    ~QRCameraDiscoveryViewController() override;

    const QRReadingState& currentState() const { return m_state; }
    void setCurrentState(QRReadingState state);
    Layout layout() const { return m_layout; }
    bool cameraIsRunning() const { return m_cameraIsRunning; }

    bool startCamera();
    void stopCamera();
    // A code was read: beep, stop the camera and join the network. Accepted only while waiting for a code.
    void handleScanned(const CameraWiFiDetails& details);

    QPushButton* connectManuallyButton() const { return m_connectManuallyButton; }
    QLabel* errorDescriptionLabel() const { return m_errorDescriptionLabel; }
    AspectFillImageView* previewContainer() const { return m_previewContainer; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void applyState();
    void showWaitingUI();
    void showCameraUI();
    void showError(const QRFailureReason& reason);
    void setupFailed();

    Dependencies m_dependencies;
    QRReadingState m_state;
    Layout m_layout = Layout::waiting;
    bool m_cameraIsRunning = false;
    std::unique_ptr<VideoFrameSource> m_source;
    std::unique_ptr<QRFrameReader> m_reader;
    QTimer m_firstFrameTimer;

    AspectFillImageView* m_previewContainer;
    QPushButton* m_connectManuallyButton;
    SpinnerView* m_waitingSpinner;
    QWidget* m_errorContainer;
    QLabel* m_errorDescriptionLabel;
    QLabel* m_instructionsLabel;
    QLabel* m_waitingLabel;
};

} // namespace vornakel
