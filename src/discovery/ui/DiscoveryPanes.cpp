#include "discovery/ui/DiscoveryPanes.h"

#include "discovery/ui/DiscoveryWidgets.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"
#include "platform/wifi/WiFiInterface.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornakel {
namespace {

QString ui(const char* key) { return GeneralUI::text(QString::fromLatin1(key)); }

QVBoxLayout* paneLayout(QWidget* pane)
{
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(24, 16, 24, 20);
    layout->setSpacing(10);
    return layout;
}

QHBoxLayout* centred(QWidget* widget)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(widget);
    row->addStretch();
    return row;
}

QPushButton* addCancelButton(DiscoveryPane* pane, QVBoxLayout* layout)
{
    auto* button = new QPushButton(ui("CancelButtonTitle"), pane);
    button->setObjectName(QStringLiteral("cancelButton"));
    layout->addLayout(centred(button));
    QObject::connect(button, &QPushButton::clicked, pane, [pane] {
        if (CameraDiscoveryController* controller = pane->discoveryViewController())
            controller->cancelConnection();
    });
    return button;
}

} // namespace

void DiscoveryPane::showView(CameraDiscoveryView view)
{
    if (m_discoveryViewController)
        m_discoveryViewController->setCurrentView(std::move(view));
}

// ---- Manual search ------------------------------------------------------------------------------------------

ManualCameraDiscoveryViewController::ManualCameraDiscoveryViewController(VKLCameraDiscovery& discovery,
                                                                         WiFiInterfaceProvider wifi, QWidget* parent)
    : DiscoveryPane(parent), m_discovery(discovery), m_wifi(std::move(wifi))
{
    setObjectName(QStringLiteral("DiscoveryByManualSearching"));
    auto* layout = paneLayout(this);
    m_spinner = new SpinnerView(this);
    layout->addStretch();
    layout->addLayout(centred(m_spinner));
    layout->addWidget(makeTitleLabel(ui("ManualDiscoveryTitle"), this));
    layout->addWidget(makeBodyLabel(ui("ManualDiscoveryDescription"), this));
    m_wifiInfoLabel = makeBodyLabel(QString(), this);
    m_wifiInfoLabel->setObjectName(QStringLiteral("wifiInfoLabel"));
    m_wifiInfoLabel->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_wifiInfoLabel);
    layout->addStretch();
    m_connectButton = new QPushButton(this);
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    m_connectButton->hide();
    layout->addLayout(centred(m_connectButton));
    m_qrButton = new QPushButton(ui("ScanQRCodeButtonTitle"), this);
    m_qrButton->setObjectName(QStringLiteral("qrButton"));
    layout->addLayout(centred(m_qrButton));
    connect(m_qrButton, &QPushButton::clicked, this, [this] { DiscoveryPane::showView(CameraDiscoveryView::qrDiscovery()); });
    connect(m_connectButton, &QPushButton::clicked, this, [this] {
        if (CameraDiscoveryController* controller = discoveryViewController())
            controller->connectOnUsersWord();
    });
    updateUIWithSSIDWithNamed(std::nullopt);
}

void ManualCameraDiscoveryViewController::setQrButtonHidden(bool hidden)
{
    m_qrButtonHidden = hidden;
    m_qrButton->setHidden(hidden);
}

void ManualCameraDiscoveryViewController::updateUIWithSSIDWithNamed(const std::optional<QString>& ssid)
{
    m_wifiInfoLabel->setText(ssid ? GeneralUI::format(QStringLiteral("WiFiConnectedInformation"), {*ssid})
                                  : ui("NoWiFiConnectedInformation"));
}

void ManualCameraDiscoveryViewController::updateConnectButton()
{
    CameraDiscoveryController* controller = discoveryViewController();
    const std::shared_ptr<VKLCamera> camera = controller ? controller->cameraAwaitingUsersWord() : nullptr;
    if (camera) {
        const QString name = camera->friendlyDisplayName().value_or(camera->friendlyIdentifier().value_or(QString()));
        // Button texts are never read as markup; an ampersand would become a shortcut, so double it.
        m_connectButton->setText(GeneralUI::format(QStringLiteral("ConnectToCameraButtonTitle"),
                                                   {QString(name).replace(QLatin1Char('&'), QStringLiteral("&&"))}));
    }
    m_connectButton->setVisible(camera != nullptr);
}

void ManualCameraDiscoveryViewController::refreshSSID()
{
    const std::shared_ptr<WiFiInterface> interface = m_wifi ? m_wifi() : nullptr;
    const uint64_t request = ++m_ssidRequest;
    if (!interface) {
        updateUIWithSSIDWithNamed(std::nullopt);
        return;
    }
    // Reading the network name asks the system's network service and may wait on it.
    const DispatchQueue::Context guard(this);
    ManualCameraDiscoveryViewController* const self = this;
    DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([interface, guard, self, request] {
        const std::optional<QString> ssid = interface->ssid();
        DispatchQueue::main()->async(guard, [self, request, ssid] {
            if (self->m_ssidRequest == request)
                self->updateUIWithSSIDWithNamed(ssid);
        });
    });
}

void ManualCameraDiscoveryViewController::showEvent(QShowEvent* event)
{
    DiscoveryPane::showEvent(event);
    m_spinner->startAnimation();
    m_discovery.beginSearching();
    m_monitored = m_wifi ? m_wifi() : nullptr;
    if (m_monitored) {
        // Both events lead to the same update; they come on the main thread.
        connect(m_monitored.get(), &WiFiInterface::ssidChanged, this, &ManualCameraDiscoveryViewController::refreshSSID);
        connect(m_monitored.get(), &WiFiInterface::linkChanged, this, &ManualCameraDiscoveryViewController::refreshSSID);
    }
    refreshSSID();
    updateConnectButton();
}

void ManualCameraDiscoveryViewController::hideEvent(QHideEvent* event)
{
    DiscoveryPane::hideEvent(event);
    m_spinner->stopAnimation();
    m_discovery.stopSearching();
    if (m_monitored)
        disconnect(m_monitored.get(), nullptr, this, nullptr);
    m_monitored.reset();
}

// ---- Connecting and pairing ---------------------------------------------------------------------------------

ConnectionProgressViewController::ConnectionProgressViewController(QWidget* parent) : DiscoveryPane(parent)
{
    setObjectName(QStringLiteral("ConnectionProgress"));
    auto* layout = paneLayout(this);
    m_spinner = new SpinnerView(this);
    layout->addStretch();
    layout->addLayout(centred(m_spinner));
    layout->addWidget(makeTitleLabel(ui("ConnectingTitle"), this));
    layout->addWidget(makeBodyLabel(ui("ConnectingDescription"), this));
    layout->addStretch();
    m_cancelButton = addCancelButton(this, layout);
}

void ConnectionProgressViewController::showEvent(QShowEvent* event)
{
    DiscoveryPane::showEvent(event);
    m_spinner->startAnimation();
}

void ConnectionProgressViewController::hideEvent(QHideEvent* event)
{
    DiscoveryPane::hideEvent(event);
    m_spinner->stopAnimation();
}

PairingPromptViewController::PairingPromptViewController(QWidget* parent) : DiscoveryPane(parent)
{
    setObjectName(QStringLiteral("PairingPrompt"));
    auto* layout = paneLayout(this);
    layout->addStretch();
    layout->addWidget(makeTitleLabel(ui("PairingPromptTitle"), this));
    layout->addWidget(makeBodyLabel(ui("PairingPromptDescription"), this));
    layout->addStretch();
    m_cancelButton = addCancelButton(this, layout);
}

// ---- Connection error ---------------------------------------------------------------------------------------

ConnectionErrorViewController::ConnectionErrorViewController(QWidget* parent) : DiscoveryPane(parent)
{
    setObjectName(QStringLiteral("ConnectionError"));
    auto* layout = paneLayout(this);
    layout->addStretch();
    m_failureTitleLabel = makeTitleLabel(QString(), this);
    m_failureTitleLabel->setObjectName(QStringLiteral("failureTitleLabel"));
    m_failureReasonLabel = makeBodyLabel(QString(), this);
    m_failureReasonLabel->setObjectName(QStringLiteral("failureReasonLabel"));
    layout->addWidget(m_failureTitleLabel);
    layout->addWidget(m_failureReasonLabel);
    layout->addStretch();
    m_tryAgainButton = new QPushButton(ui("TryAgainButtonTitle"), this);
    m_tryAgainButton->setObjectName(QStringLiteral("tryAgainButton"));
    m_tryAgainButton->hide();
    m_backButton = new QPushButton(ui("BackButtonTitle"), this);
    m_backButton->setObjectName(QStringLiteral("backButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_tryAgainButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(m_backButton, &QPushButton::clicked, this,
            [this] { DiscoveryPane::showView(CameraDiscoveryView::manualDiscovery(false)); });
    connect(m_tryAgainButton, &QPushButton::clicked, this, [this] {
        if (CameraDiscoveryController* controller = discoveryViewController())
            controller->connectOnUsersWord();
    });
}

QString ConnectionErrorViewController::titleKey(FailureReason reason)
{
    switch (reason) {
    case FailureReason::connectionFailed: return QStringLiteral("GenericConnectionErrorTitle");
    case FailureReason::cameraSoftwareTooOld: return QStringLiteral("CameraSoftwareTooOldErrorTitle");
    case FailureReason::storageAccessNotAllowed: return QStringLiteral("NoStorageAccessErrorTitle");
    case FailureReason::noImages: return QStringLiteral("NoImagesErrorTitle");
    }
    return QStringLiteral("GenericConnectionErrorTitle");
}

QString ConnectionErrorViewController::descriptionKey(FailureReason reason)
{
    switch (reason) {
    case FailureReason::connectionFailed: return QStringLiteral("GenericConnectionErrorDescription");
    case FailureReason::cameraSoftwareTooOld: return QStringLiteral("CameraSoftwareTooOldErrorDescription");
    case FailureReason::storageAccessNotAllowed: return QStringLiteral("NoStorageAccessErrorDescription");
    case FailureReason::noImages: return QStringLiteral("NoImagesErrorDescription");
    }
    return QStringLiteral("GenericConnectionErrorDescription");
}

void ConnectionErrorViewController::setFailure(FailureReason reason)
{
    m_reason = reason;
    m_failureTitleLabel->setText(GeneralUI::text(titleKey(reason)));
    m_failureReasonLabel->setText(GeneralUI::text(descriptionKey(reason)));
    updateTryAgainButton();
}

void ConnectionErrorViewController::updateTryAgainButton()
{
    CameraDiscoveryController* controller = discoveryViewController();
    m_tryAgainButton->setVisible(controller && controller->cameraAwaitingUsersWord());
}

// ---- Disconnecting ------------------------------------------------------------------------------------------

DisconnectingViewController::DisconnectingViewController(std::function<void()> leaveWiFi, Timing timing,
                                                         QWidget* parent)
    : DiscoveryPane(parent), m_leaveWiFi(std::move(leaveWiFi)), m_timing(timing)
{
    setObjectName(QStringLiteral("Disconnecting"));
    auto* layout = paneLayout(this);
    m_spinner = new SpinnerView(this);
    layout->addStretch();
    layout->addLayout(centred(m_spinner));
    layout->addWidget(makeTitleLabel(ui("DisconnectingTitle"), this));
    layout->addStretch();
    m_timer.setSingleShot(true);
    // The waits are minimums: a coarse timer may end them up to 5% early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        stopObserving();
        finish();
    });
}

void DisconnectingViewController::waitForDisconnection(const std::shared_ptr<VKLCamera>& camera, bool disconnectWiFi)
{
    // A new wait replaces an earlier one entirely.
    stopObserving();
    m_disconnectWiFiWhenDone = disconnectWiFi;
    if (camera && camera->connectionState() != unsigned(VKLConnectionState::NotConnected)) {
        m_camera = camera;
        m_observation = connect(camera.get(), &VKLCamera::connectionStateChanged, this,
                                &DisconnectingViewController::cameraStateChanged);
        m_timer.start(m_timing.maximumWait);
        return;
    }
    m_timer.start(m_timing.alreadyDisconnected);
}

void DisconnectingViewController::stopWaiting()
{
    stopObserving();
    m_disconnectWiFiWhenDone = false;
}

void DisconnectingViewController::cameraStateChanged()
{
    if (!m_camera || m_camera->connectionState() != unsigned(VKLConnectionState::NotConnected))
        return;
    stopObserving();
    finish();
}

void DisconnectingViewController::stopObserving()
{
    m_timer.stop();
    disconnect(m_observation);
    m_camera.reset();
}

void DisconnectingViewController::finish()
{
    if (m_disconnectWiFiWhenDone && m_leaveWiFi)
        m_leaveWiFi();
    m_disconnectWiFiWhenDone = false;
    DiscoveryPane::showView(CameraDiscoveryView::manualDiscovery(false));
}

void DisconnectingViewController::showEvent(QShowEvent* event)
{
    DiscoveryPane::showEvent(event);
    m_spinner->startAnimation();
}

void DisconnectingViewController::hideEvent(QHideEvent* event)
{
    DiscoveryPane::hideEvent(event);
    m_spinner->stopAnimation();
}

} // namespace vornakel
