#include "copying/ui/CopyFlowController.h"
#include "copying/ui/SheetText.h"

#include "copying/FolderCopyDestination.h"
#include "copying/PhotoCopyQueue.h"
#include "copying/ui/CopyConfigurationViewController.h"
#include "copying/ui/CopyProgressViewController.h"
#include "copying/ui/FolderCopyDestinationConfigurationViewController.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/MainWindowController.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace vornakel {

CopyDestinationOffer folderCopyDestinationOffer(UserDefaults& defaults, PhotoSortingModel& presets)
{
    CopyDestinationOffer offer;
    offer.destination = FolderCopyDestination::create(defaults, presets);
    offer.makePane = [&defaults, &presets](const CopyDestinationPtr& destination) -> std::unique_ptr<QWidget> {
        auto folder = std::dynamic_pointer_cast<FolderCopyDestination>(destination);
        return std::make_unique<FolderCopyDestinationConfigurationViewController>(folder, defaults, presets);
    };
    return offer;
}

CopyFlowController::CopyFlowController(CopyDestinationOffers offers, CopySheetEnvironment environment,
                                       PhotoSortingModel& presets)
    : m_offers(std::move(offers)), m_environment(std::move(environment)), m_presets(presets)
{
}

CopyFlowController::~CopyFlowController() = default;

void CopyFlowController::attach(CameraScreens& screens, MainWindowController& mainWindow)
{
    QPointer<CopyFlowController> self(this);
    screens.setCopyEntryPoint([self](const CopyRequest& request) {
        if (self)
            self->startCopy(request);
    });
    QPointer<QMainWindow> window = mainWindow.window();
    mainWindow.setCloseGuard([self, window](std::function<void()> closeNow) {
        return self && window && self->interceptClose(window, std::move(closeNow));
    });
}

bool CopyFlowController::isCopying() const
{
    return m_progress && !m_progress->hasFinished();
}

void CopyFlowController::startCopy(const CopyRequest& request)
{
    // One copy at a time: a sheet already open takes the window.
    if (m_configuration || isCopying())
        return;
    if (request.kind == CopyRequest::Kind::fullFlow) {
        auto* sheet = new CopyConfigurationViewController(m_offers ? m_offers() : std::vector<CopyDestinationOffer>{},
                                                          m_environment, request.window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setSourcePhotos(request.photos);
        sheet->setCamera(request.camera);
        connect(sheet, &CopyConfigurationViewController::progressSheetOpened, this,
                [this](CopyProgressViewController* progress) {
                    trackProgress(progress);
                    emit progressSheetOpened(progress);
                });
        m_configuration = sheet;
        sheet->open();
        emit configurationSheetOpened(sheet);
        return;
    }

    // "Copy to Folder…": every file straight into the chosen folder, grouped as drag-out is.
    auto* dialog = new QFileDialog(request.window, ui("ChooseFolderMessage"));
    dialog->setObjectName(QStringLiteral("copyToFolderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, ui("ChooseFolderPrompt"));
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<QWidget> window = request.window;
    connect(dialog, &QFileDialog::fileSelected, this,
            [this, photos = request.photos, camera = request.camera, window](const QString& path) {
                if (path.isEmpty() || !m_environment.defaults || isCopying())
                    return;
                const QUrl folder = QUrl::fromLocalFile(path);
                PhotoCopyQueue::Options options =
                    FolderCopyDestination::flatCopyQueueOptions(folder, *m_environment.defaults, m_presets);
                // Opened once the folder dialog has gone, so the progress sheet is the window's only sheet.
                QTimer::singleShot(0, this, [this, queue = PhotoCopyQueue::create(photos, options), camera, window] {
                    openProgress(queue, camera, window);
                });
            });
    dialog->open();
    emit folderDialogOpened(dialog);
}

void CopyFlowController::openProgress(PhotoCopyQueuePtr queue, const std::shared_ptr<VKLCamera>& camera, QWidget* window)
{
    auto* sheet = new CopyProgressViewController(std::move(queue), camera, m_environment, window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    trackProgress(sheet);
    sheet->open();
    emit progressSheetOpened(sheet);
}

void CopyFlowController::trackProgress(CopyProgressViewController* sheet)
{
    m_progress = sheet;
    connect(sheet, &CopyProgressViewController::copyFinished, this, [this] {
        if (m_quitAlert)
            m_quitAlert->reject();
    });
}

bool CopyFlowController::interceptClose(QWidget* window, std::function<void()> closeNow)
{
    if (!isCopying())
        return false;
    if (m_quitAlert)
        return true;
    auto* alert = new QMessageBox(QMessageBox::Warning, ui("CopyQuitAlertTitle"), ui("CopyQuitAlertTitle"),
                                  QMessageBox::NoButton, window);
    alert->setObjectName(QStringLiteral("copyQuitAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(ui("CopyQuitAlertDescription"));
    QPushButton* stop = alert->addButton(ui("CopyQuitAlertStopButtonTitle"), QMessageBox::DestructiveRole);
    stop->setObjectName(QStringLiteral("stopCopyButton"));
    QPushButton* keepOn = alert->addButton(ui("CopyQuitAlertContinueButtonTitle"), QMessageBox::RejectRole);
    keepOn->setObjectName(QStringLiteral("continueCopyButton"));
    alert->setDefaultButton(keepOn);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_quitAlert = alert;
    auto closeOnce = std::make_shared<std::function<void()>>(std::move(closeNow));
    connect(stop, &QPushButton::clicked, this, [this, closeOnce] {
        QPointer<CopyProgressViewController> progress = m_progress;
        auto go = [closeOnce] {
            if (*closeOnce) {
                auto close = std::move(*closeOnce);
                *closeOnce = nullptr;
                close();
            }
        };
        if (!progress || progress->hasFinished()) {
            QTimer::singleShot(0, this, go);
            return;
        }
        // Cancelled files end one by one and remove what they wrote; quitting waits for that, within a limit.
        connect(progress, &CopyProgressViewController::copyFinished, this, [this, go] { QTimer::singleShot(0, this, go); });
        QTimer::singleShot(m_quitWaitLimit, this, go);
        progress->cancelCopy();
    });
    alert->open();
    emit quitAlertOpened(alert);
    return true;
}

} // namespace vornakel
