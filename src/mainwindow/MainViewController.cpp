#include "mainwindow/MainViewController.h"

#include "discovery/WiFiNetworkAutoLaunching.h"
#include "mainwindow/DayListPhotoBrowser.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "model/CameraPhotoLoad.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "ui/WindowDragging.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vornakel {
namespace {
QString ui(const char* key) { return GeneralUI::text(QString::fromLatin1(key)); }
} // namespace

// ---- Connected camera view ----------------------------------------------------------------------------------

MainViewController::MainViewController(ConnectedCameraEnvironment environment, QWidget* parent)
    : QWidget(parent), m_environment(std::move(environment))
{
    setObjectName(QStringLiteral("MainView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_imageGrid = m_environment.makeBrowser ? m_environment.makeBrowser(this)
                                            : std::make_unique<DayListPhotoBrowser>(this);
    if (QWidget* grid = m_imageGrid->widget()) {
        grid->setParent(this);
        layout->addWidget(grid);
    }

    m_selectMenu = new QMenu(ui("QuickSelectMenu"), this);
    m_selectMenu->setObjectName(QStringLiteral("SelectMenu"));
    m_selectMenu->addActions(m_imageGrid->browsingActions());

    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("MainViewToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolbar->hide();

    m_disconnectAction = new QAction(ui("DisconnectButtonTitle"), this);
    m_disconnectAction->setObjectName(QStringLiteral("disconnectAction"));
    m_disconnectAction->setToolTip(ui("DisconnectButtonToolTip"));
    connect(m_disconnectAction, &QAction::triggered, this, &MainViewController::disconnectFromCamera);
    m_toolbar->addAction(m_disconnectAction);

    auto* spacerLeft = new QWidget(m_toolbar);
    spacerLeft->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(spacerLeft);
    m_cameraNameTitlebarButton = new WindowDraggableButton(m_toolbar);
    m_cameraNameTitlebarButton->setObjectName(QStringLiteral("cameraNameTitlebarButton"));
    m_cameraNameTitlebarButton->setFlat(true);
    QFont nameFont = m_cameraNameTitlebarButton->font();
    nameFont.setBold(true);
    m_cameraNameTitlebarButton->setFont(nameFont);
    m_cameraNameTitlebarButton->setText(ui("AppName"));
    m_toolbar->addWidget(m_cameraNameTitlebarButton);
    m_cameraBatteryStatus = new CameraBatteryStatusView(m_toolbar);
    m_cameraBatteryStatus->setObjectName(QStringLiteral("cameraBatteryStatus"));
    m_toolbar->addWidget(m_cameraBatteryStatus);
    m_photoCountLabel = new QLabel(m_toolbar);
    m_photoCountLabel->setTextFormat(Qt::PlainText);
    m_photoCountLabel->setForegroundRole(QPalette::PlaceholderText);
    m_photoCountLabel->setContentsMargins(8, 0, 0, 0);
    m_toolbar->addWidget(m_photoCountLabel);
    auto* spacerRight = new QWidget(m_toolbar);
    spacerRight->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(spacerRight);

    m_copyAction = new QAction(ui("CopyButtonTitle"), this);
    m_copyAction->setObjectName(QStringLiteral("copyAction"));
    m_copyAction->setToolTip(ui("CopyButtonToolTip"));
    m_copyToFolderAction = new QAction(ui("CopyToFolderMenuTitle"), this);
    m_copyToFolderAction->setObjectName(QStringLiteral("copyToFolderAction"));
    connect(m_copyAction, &QAction::triggered, this, &MainViewController::startFullCopyFlow);
    connect(m_copyToFolderAction, &QAction::triggered, this, &MainViewController::startCopyToFolder);
    auto* copyMenu = new QMenu(this);
    copyMenu->addAction(m_copyToFolderAction);
    m_copyButton = new QToolButton(m_toolbar);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    m_copyButton->setDefaultAction(m_copyAction);
    m_copyButton->setMenu(copyMenu);
    m_copyButton->setPopupMode(QToolButton::MenuButtonPopup);
    m_toolbar->addWidget(m_copyButton);
    // Until copying exists, both copy commands stay disabled rather than pretend to work.
    const bool canCopy = bool(m_environment.copy);
    m_copyAction->setEnabled(canCopy);
    m_copyToFolderAction->setEnabled(canCopy);
    m_copyButton->setEnabled(canCopy);
    m_photoCountLabel->setText(GeneralUI::counted(QStringLiteral("PhotoCountFormat"), 0));
}

MainViewController::~MainViewController()
{
    disconnect(m_stateObservation);
    if (m_load)
        disconnect(m_load.get(), nullptr, this, nullptr);
}

void MainViewController::takeOver(std::shared_ptr<CameraPhotoLoad> load)
{
    if (!load || m_load)
        return;
    m_load = std::move(load);
    m_camera = m_load->camera();
    m_imageGrid->setCamera(m_camera);
    m_cameraBatteryStatus->setCamera(m_camera);
    const QString name = m_camera ? m_camera->friendlyDisplayName().value_or(QString()) : QString();
    // A button's text is never markup; an ampersand would make a shortcut, so it is doubled.
    m_cameraNameTitlebarButton->setText(name.isEmpty() ? ui("AppName") : QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
    m_cameraNameTitlebarButton->setToolTip(name);

    const auto showCount = [this] {
        m_photoCountLabel->setText(GeneralUI::counted(QStringLiteral("PhotoCountFormat"), qint64(m_load->photoCount())));
    };
    m_imageGrid->applyGroupingUpdate({m_load->photos(), {}});
    showCount();
    connect(m_load.get(), &CameraPhotoLoad::photosChanged, this, [this, showCount](const PhotoGrouping::Update& update) {
        m_imageGrid->applyGroupingUpdate(update);
        showCount();
    });
    m_imageDeliveryHasCompleted = m_load->hasCompleted();
    connect(m_load.get(), &CameraPhotoLoad::completed, this, [this] { m_imageDeliveryHasCompleted = true; });

    if (m_camera) {
        m_stateObservation = connect(m_camera.get(), &VKLCamera::connectionStateChanged, this,
                                     &MainViewController::connectionStateChanged);
        // The camera may have gone while the view was being made; its change was then missed.
        if (m_camera->connectionState() != unsigned(VKLConnectionState::Connected))
            QTimer::singleShot(0, this, &MainViewController::connectionStateChanged);
    }
}

void MainViewController::connectionStateChanged()
{
    if (m_disconnectionWasExpected || m_handedBack || !m_camera)
        return;
    if (m_camera->connectionState() != unsigned(VKLConnectionState::Connected))
        handleDisconnectionStarted(false);
}

void MainViewController::disconnectFromCamera()
{
    if (m_handedBack || !m_camera)
        return;
    m_disconnectionWasExpected = true;
    const bool gateway = m_environment.wifi && m_environment.wifi->isCurrentWiFiGateway(m_camera);
    m_camera->disconnect({}, DispatchQueue::main());
    handleDisconnectionStarted(gateway);
}

void MainViewController::handleDisconnectionStarted(bool disconnectFromNetworkIfAllowed)
{
    if (m_handedBack)
        return;
    m_handedBack = true;
    disconnect(m_stateObservation);
    forceTerminateCopyOperation();
    // Letting go of the load ends it after the request in flight.
    if (m_load)
        disconnect(m_load.get(), nullptr, this, nullptr);
    m_load.reset();

    const bool allowed = m_environment.defaults
        && m_environment.defaults->boolForKey(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey);
    const bool disconnectWhenDone = allowed && m_disconnectionWasExpected && disconnectFromNetworkIfAllowed;
    const CameraDiscoveryView view = CameraDiscoveryView::disconnecting(m_camera, disconnectWhenDone);
    std::unique_ptr<QWidget> discovery = m_environment.makeDiscovery ? m_environment.makeDiscovery(view) : nullptr;
    if (MainWindowController* window = MainWindowController::forWidget(this); window && discovery)
        window->transition(std::move(discovery));
}

void MainViewController::forceTerminateCopyOperation()
{
    // Sheets hang on the main window; any still open belongs to a copy of this camera.
    QWidget* mainWindow = window();
    if (!mainWindow || mainWindow == this)
        return;
    for (QDialog* sheet : mainWindow->findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        if (sheet->isVisible() && sheet->windowModality() == Qt::WindowModal)
            sheet->reject();
}

void MainViewController::startFullCopyFlow() { requestCopy(CopyRequest::Kind::fullFlow); }

void MainViewController::startCopyToFolder() { requestCopy(CopyRequest::Kind::toFolder); }

void MainViewController::requestCopy(CopyRequest::Kind kind)
{
    if (!m_environment.copy || m_handedBack)
        return;
    QWidget* mainWindow = window();
    if (!m_imageDeliveryHasCompleted) {
        auto* alert = new QMessageBox(QMessageBox::Information, ui("ImageDeliveryIncompleteAlertTitle"),
                                      ui("ImageDeliveryIncompleteAlertDescription"), QMessageBox::Ok, mainWindow);
        alert->button(QMessageBox::Ok)->setText(ui("OKTitle"));
        alert->setTextFormat(Qt::PlainText);
        alert->setWindowModality(Qt::WindowModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
        emit deliveryIncompleteAlertShown(alert);
        return;
    }
    m_environment.copy({kind, m_imageGrid->photosForCopying(), m_camera, mainWindow});
}

} // namespace vornakel
