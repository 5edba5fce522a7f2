#include "discovery/ui/QRCameraDiscoveryViewController.h"

#include "discovery/CameraNetworkJoin.h"
#include "discovery/QRFrameReader.h"
#include "discovery/ui/DiscoveryWidgets.h"
#include "platform/core/Strings.h"
#include "platform/webcam/VideoFrameSource.h"
#include "platform/wifi/WiFiInterface.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QLoggingCategory>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcDiscovery, "vornakel.discovery")
} // namespace

QRCameraDiscoveryViewController::QRCameraDiscoveryViewController(Dependencies dependencies, QWidget* parent)
    : DiscoveryPane(parent), m_dependencies(std::move(dependencies))
{
    setObjectName(QStringLiteral("DiscoveryByQR"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(10);

    m_previewContainer = new AspectFillImageView(this);
    m_previewContainer->setObjectName(QStringLiteral("previewContainer"));
    m_previewContainer->setMinimumHeight(160);
    m_previewContainer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_instructionsLabel = makeBodyLabel(GeneralUI::text(QStringLiteral("QRScanInstructions")), this);

    m_waitingSpinner = new SpinnerView(this);
    m_waitingLabel = makeBodyLabel(GeneralUI::text(QStringLiteral("QRWaitingDescription")), this);

    m_errorContainer = new QWidget(this);
    m_errorContainer->setObjectName(QStringLiteral("errorContainer"));
    auto* errorLayout = new QVBoxLayout(m_errorContainer);
    errorLayout->setContentsMargins(8, 0, 8, 0);
    // The text names the scanned network, which comes from outside.
    m_errorDescriptionLabel = makeBodyLabel(QString(), m_errorContainer);
    m_errorDescriptionLabel->setObjectName(QStringLiteral("errorDescriptionLabel"));
    errorLayout->addWidget(m_errorDescriptionLabel);

    m_connectManuallyButton = new QPushButton(GeneralUI::text(QStringLiteral("ConnectManuallyButtonTitle")), this);
    m_connectManuallyButton->setObjectName(QStringLiteral("connectManuallyButton"));

    layout->addWidget(m_previewContainer, 1);
    layout->addWidget(m_instructionsLabel);
    layout->addStretch();
    auto* spinnerRow = new QHBoxLayout;
    spinnerRow->addStretch();
    spinnerRow->addWidget(m_waitingSpinner);
    spinnerRow->addStretch();
    layout->addLayout(spinnerRow);
    layout->addWidget(m_waitingLabel);
    layout->addWidget(m_errorContainer);
    layout->addStretch();
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_connectManuallyButton);
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    connect(m_connectManuallyButton, &QPushButton::clicked, this,
            [this] { showView(CameraDiscoveryView::manualDiscovery(false)); });
    m_firstFrameTimer.setSingleShot(true);
    connect(&m_firstFrameTimer, &QTimer::timeout, this, [this] {
        if (m_state.is<QRReadingState::WaitingForWebcam>() && m_cameraIsRunning)
            setupFailed();
    });
    applyState();
}

QRCameraDiscoveryViewController::~QRCameraDiscoveryViewController() { stopCamera(); }

void QRCameraDiscoveryViewController::setCurrentState(QRReadingState state)
{
    m_state = std::move(state);
    applyState();
}

void QRCameraDiscoveryViewController::applyState()
{
    if (const auto* error = std::get_if<QRReadingState::Error>(&m_state.value))
        showError(error->reason);
    else if (m_state.is<QRReadingState::WaitingForScan>())
        showCameraUI();
    else
        showWaitingUI();
}

void QRCameraDiscoveryViewController::showWaitingUI()
{
    m_layout = Layout::waiting;
    m_errorContainer->hide();
    m_previewContainer->hide();
    m_instructionsLabel->hide();
    m_waitingSpinner->show();
    m_waitingLabel->setVisible(!m_state.is<QRReadingState::ConnectingToScannedWifiNetwork>());
    m_waitingSpinner->startAnimation();
    m_connectManuallyButton->show();
}

void QRCameraDiscoveryViewController::showCameraUI()
{
    m_layout = Layout::camera;
    m_errorContainer->hide();
    m_previewContainer->show();
    m_instructionsLabel->show();
    m_waitingSpinner->hide();
    m_waitingLabel->hide();
    m_waitingSpinner->stopAnimation();
    m_connectManuallyButton->show();
}

void QRCameraDiscoveryViewController::showError(const QRFailureReason& reason)
{
    m_layout = Layout::error;
    m_errorContainer->show();
    m_previewContainer->hide();
    m_instructionsLabel->hide();
    m_waitingSpinner->hide();
    m_waitingLabel->hide();
    m_waitingSpinner->stopAnimation();
    m_connectManuallyButton->show();
    if (const auto* cant = std::get_if<QRFailureReason::CantConnectToWifi>(&reason.value))
        m_errorDescriptionLabel->setText(unableToFindScannedNetworkDescription(cant->details));
    else
        m_errorDescriptionLabel->setText(unableToSetupWebcamDescription());
}

void QRCameraDiscoveryViewController::setupFailed()
{
    stopCamera();
    setCurrentState({QRReadingState::Error{{QRFailureReason::SetupFailed{}}}});
}

bool QRCameraDiscoveryViewController::startCamera()
{
    if (m_cameraIsRunning)
        return true;
    m_source = m_dependencies.frameSource ? m_dependencies.frameSource() : nullptr;
    if (!m_source)
        return false;
    m_reader = std::make_unique<QRFrameReader>(m_source.get());
    connect(m_reader.get(), &QRFrameReader::frameArrived, this, [this](const QImage& image) {
        if (!m_cameraIsRunning)
            return;
        m_previewContainer->setImage(image);
        if (m_state.is<QRReadingState::WaitingForWebcam>()) {
            m_firstFrameTimer.stop();
            setCurrentState({QRReadingState::WaitingForScan{}});
        }
    });
    connect(m_reader.get(), &QRFrameReader::wifiDetailsScanned, this, &QRCameraDiscoveryViewController::handleScanned);
    connect(m_source.get(), &VideoFrameSource::runtimeError, this, [this](const QString& message) {
        qCWarning(lcDiscovery, "Webcam error: %s", qPrintable(message));
        if (m_cameraIsRunning)
            setupFailed();
    });
    if (!m_source->start()) {
        m_reader.reset();
        m_source.reset();
        return false;
    }
    m_cameraIsRunning = true;
    m_firstFrameTimer.start(m_dependencies.firstFrameTimeout);
    return true;
}

void QRCameraDiscoveryViewController::stopCamera()
{
    m_firstFrameTimer.stop();
    if (!m_cameraIsRunning)
        return;
    m_cameraIsRunning = false;
    if (m_source)
        m_source->stop();
    // Scans still running report to nobody: the reader goes with the source.
    m_reader.reset();
    m_source.reset();
    m_previewContainer->clear();
}

void QRCameraDiscoveryViewController::handleScanned(const CameraWiFiDetails& details)
{
    // Codes read after the first one, or after the camera stopped, are late frames of the same scan.
    if (!m_state.is<QRReadingState::WaitingForScan>())
        return;
    if (m_dependencies.beep)
        m_dependencies.beep();
    stopCamera();
    setCurrentState({QRReadingState::ConnectingToScannedWifiNetwork{}});
    const std::shared_ptr<WiFiInterface> interface = m_dependencies.wifi ? m_dependencies.wifi() : nullptr;
    const QRFailureReason cantConnect{QRFailureReason::CantConnectToWifi{details}};
    if (!interface) {
        setCurrentState({QRReadingState::Error{cantConnect}});
        return;
    }
    CameraNetworkJoin::join(interface, details, this, [this, cantConnect](std::optional<CameraNetworkJoinFailure> failure) {
        if (failure) {
            setCurrentState({QRReadingState::Error{cantConnect}});
            return;
        }
        setCurrentState({QRReadingState::WaitingForWebcam{}});
        if (CameraDiscoveryController* controller = discoveryViewController())
            controller->noteCameraNetworkJoined();
    });
}

void QRCameraDiscoveryViewController::showEvent(QShowEvent* event)
{
    DiscoveryPane::showEvent(event);
    if (m_state.is<QRReadingState::WaitingForWebcam>() && !startCamera())
        setCurrentState({QRReadingState::Error{{QRFailureReason::SetupFailed{}}}});
    applyState();
}

void QRCameraDiscoveryViewController::hideEvent(QHideEvent* event)
{
    DiscoveryPane::hideEvent(event);
    stopCamera();
    // A join under way goes on; its result is shown the next time the pane comes into view.
    if (!m_state.is<QRReadingState::ConnectingToScannedWifiNetwork>())
        setCurrentState({QRReadingState::WaitingForWebcam{}});
}

} // namespace vornakel
