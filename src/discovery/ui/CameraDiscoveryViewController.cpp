#include "discovery/ui/CameraDiscoveryViewController.h"

#include "discovery/ui/DiscoveryWidgets.h"
#include "model/CameraPhotoLoad.h"
#include "platform/core/Strings.h"
#include "ui/BackgroundColorView.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QVBoxLayout>

namespace vornakel {

CameraDiscoveryViewController::CameraDiscoveryViewController(CameraDiscoveryEnvironment environment,
                                                             CameraDiscoveryView initialView, QWidget* parent)
    : QWidget(parent), m_environment(std::move(environment))
{
    setObjectName(QStringLiteral("CameraDiscovery"));
    m_controller =
        std::make_unique<CameraDiscoveryController>(m_environment.discovery.get(), m_environment.noteConnected);
    setFixedSize(kInitialSize);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_headerView = new BackgroundColorView(this);
    m_headerView->setObjectName(QStringLiteral("headerView"));
    QColor headerColour = palette().color(QPalette::Highlight);
    headerColour.setAlphaF(0.08);
    m_headerView->setBackgroundColor(headerColour);
    auto* headerLayout = new QVBoxLayout(m_headerView);
    headerLayout->setContentsMargins(16, 18, 16, 14);
    headerLayout->setSpacing(8);
    m_logoImage = new CameraLogoView(m_headerView);
    m_logoImage->setFixedSize(m_logoImage->sizeHint());
    auto* logoRow = new QHBoxLayout;
    logoRow->addStretch();
    logoRow->addWidget(m_logoImage);
    logoRow->addStretch();
    headerLayout->addLayout(logoRow);
    m_labelContainer = new QWidget(m_headerView);
    auto* labelLayout = new QVBoxLayout(m_labelContainer);
    labelLayout->setContentsMargins(0, 0, 0, 0);
    labelLayout->addWidget(makeTitleLabel(GeneralUI::text(QStringLiteral("DiscoveryHeaderTitle")), m_labelContainer));
    headerLayout->addWidget(m_labelContainer);
    layout->addWidget(m_headerView);

    m_stepContainerView = new QWidget(this);
    m_stepContainerView->setObjectName(QStringLiteral("stepContainerView"));
    m_stepLayout = new QVBoxLayout(m_stepContainerView);
    m_stepLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stepContainerView, 1);

    m_qr = new QRCameraDiscoveryViewController(
        {m_environment.frameSource, m_environment.wifi, m_environment.beep, m_environment.webcamFirstFrameTimeout}, this);
    m_manual = new ManualCameraDiscoveryViewController(m_environment.discovery.get(), m_environment.wifi, this);
    m_progress = new ConnectionProgressViewController(this);
    m_pairing = new PairingPromptViewController(this);
    m_error = new ConnectionErrorViewController(this);
    m_disconnecting = new DisconnectingViewController(m_environment.leaveWiFi, m_environment.disconnectingTiming, this);
    for (DiscoveryPane* pane : std::initializer_list<DiscoveryPane*>{m_qr, m_manual, m_progress, m_pairing, m_error, m_disconnecting})
        pane->setDiscoveryViewController(m_controller.get());
    for (QWidget* pane : std::initializer_list<QWidget*>{m_qr, m_manual, m_progress, m_pairing, m_error, m_disconnecting})
        pane->hide();

    connect(m_controller.get(), &CameraDiscoveryController::currentViewChanged, this, &CameraDiscoveryViewController::showPane);
    connect(m_controller.get(), &CameraDiscoveryController::awaitingCameraChanged, this, [this] {
        m_manual->updateConnectButton();
        m_error->updateTryAgainButton();
    });
    connect(m_controller.get(), &CameraDiscoveryController::photosArrived, this,
            [this](std::shared_ptr<CameraPhotoLoad> load) {
                if (m_environment.showConnectedCamera)
                    m_environment.showConnectedCamera(*this, std::move(load));
            });
    // A manual value shows the pane with its QR button; any other (a disconnection to wait for) stays.
    if (initialView.is<CameraDiscoveryView::ManualDiscovery>())
        initialView = CameraDiscoveryView::manualDiscovery(false);
    m_controller->setCurrentView(std::move(initialView));
}

CameraDiscoveryViewController::~CameraDiscoveryViewController()
{
    // The panes go before the controller they point at.
    for (QWidget* pane : std::initializer_list<QWidget*>{m_qr, m_manual, m_progress, m_pairing, m_error, m_disconnecting})
        delete pane;
}

QWidget* CameraDiscoveryViewController::paneFor(const CameraDiscoveryView& view)
{
    return std::visit(
        [this](const auto& value) -> QWidget* {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, CameraDiscoveryView::ManualDiscovery>) {
                m_manual->setQrButtonHidden(value.hideQRButton);
                return m_manual;
            } else if constexpr (std::is_same_v<Case, CameraDiscoveryView::ConnectionError>) {
                m_error->setFailure(value.reason);
                return m_error;
            } else if constexpr (std::is_same_v<Case, CameraDiscoveryView::Disconnecting>) {
                m_disconnecting->waitForDisconnection(value.camera, value.disconnectFromNetworkWhenDone);
                return m_disconnecting;
            } else if constexpr (std::is_same_v<Case, CameraDiscoveryView::QRDiscovery>) {
                return m_qr;
            } else if constexpr (std::is_same_v<Case, CameraDiscoveryView::Connecting>) {
                return m_progress;
            } else {
                return m_pairing;
            }
        },
        view.value);
}

void CameraDiscoveryViewController::showPane()
{
    // The previous pane goes first (its hide stops what it runs), then the new one is configured and added;
    // the same pane is removed and added again.
    if (m_currentPane) {
        if (m_currentPane == m_disconnecting)
            m_disconnecting->stopWaiting();
        m_stepLayout->removeWidget(m_currentPane);
        m_currentPane->hide();
    }
    m_currentPane = paneFor(m_controller->currentView());
    m_stepLayout->addWidget(m_currentPane);
    m_currentPane->show();
}

void CameraDiscoveryViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_headerAnimated) {
        m_headerAnimated = true;
        animateInHeader();
    }
}

void CameraDiscoveryViewController::animateInHeader()
{
    const double speed = m_environment.animationSpeed;
    if (speed <= 0)
        return;
    auto* labelOpacity = new QGraphicsOpacityEffect(m_labelContainer);
    auto* logoOpacity = new QGraphicsOpacityEffect(m_logoImage);
    m_labelContainer->setGraphicsEffect(labelOpacity);
    m_logoImage->setGraphicsEffect(logoOpacity);
    labelOpacity->setOpacity(0.0);
    logoOpacity->setOpacity(0.0);
    const int delay = int(250 / speed);
    const int duration = int(1250 / speed);

    auto* group = new QSequentialAnimationGroup(this);
    group->addPause(delay);
    auto* together = new QParallelAnimationGroup(group);
    for (QGraphicsOpacityEffect* effect : {labelOpacity, logoOpacity}) {
        auto* fade = new QPropertyAnimation(effect, "opacity", together);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->setDuration(duration);
        fade->setEasingCurve(QEasingCurve::OutCubic);
        together->addAnimation(fade);
    }
    // The label rises into place from 20 points lower; its layout position is read when the fade begins.
    auto* rise = new QPropertyAnimation(m_labelContainer, "pos", together);
    rise->setDuration(duration);
    rise->setEasingCurve(QEasingCurve::OutCubic);
    together->addAnimation(rise);
    connect(group, &QSequentialAnimationGroup::currentAnimationChanged, this, [this, rise](QAbstractAnimation* current) {
        if (current != rise->group())
            return;
        const QPoint rest = m_labelContainer->pos();
        rise->setStartValue(rest + QPoint(0, 20));
        rise->setEndValue(rest);
    });
    group->addAnimation(together);
    // Once faded in, the header is drawn as it is: an effect left in place would render it through a pixmap.
    connect(group, &QAbstractAnimation::finished, this, [this] {
        m_labelContainer->setGraphicsEffect(nullptr);
        m_logoImage->setGraphicsEffect(nullptr);
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace vornakel
