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

#include <QAction>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
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
    // A sheet is a window of its own: Quit's shortcut reaches the window's menu only when the sheet carries it too.
    m_quitAction = window->findChild<QAction*>(QStringLiteral("QuitMenuItem"));
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
        offerQuit(sheet);
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

void CopyFlowController::offerQuit(QWidget* sheet)
{
    if (m_quitAction && sheet)
        sheet->addAction(m_quitAction);
}

void CopyFlowController::trackProgress(CopyProgressViewController* sheet)
{
    m_progress = sheet;
    offerQuit(sheet);
    connect(sheet, &CopyProgressViewController::conflictSheetOpened, this,
            [this](FilenameConflictViewController* conflict) { offerQuit(conflict); });
    connect(sheet, &CopyProgressViewController::copyFinished, this, [this] {
        if (m_quitAlert)
            m_quitAlert->reject();
    });
}

QMessageBox* CopyFlowController::makeQuitAlert(QWidget* window)
{
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
    return alert;
}

void CopyFlowController::stopCopyThen(std::function<void()> then)
{
    auto once = std::make_shared<std::function<void()>>(std::move(then));
    auto go = [once] {
        if (*once) {
            auto call = std::move(*once);
            *once = nullptr;
            call();
        }
    };
    QPointer<CopyProgressViewController> progress = m_progress;
    if (!progress || progress->hasFinished()) {
        QTimer::singleShot(0, this, go);
        return;
    }
    // Cancelled files end one by one and remove what they wrote; the wait is for that, within a limit.
    connect(progress, &CopyProgressViewController::copyFinished, this, [this, go] { QTimer::singleShot(0, this, go); });
    QTimer::singleShot(m_quitWaitLimit, this, go);
    progress->cancelCopy();
}

bool CopyFlowController::interceptClose(QWidget* window, std::function<void()> closeNow)
{
    if (!isCopying())
        return false;
    if (m_quitAlert)
        return true;
    QMessageBox* alert = makeQuitAlert(window);
    auto* stop = alert->findChild<QPushButton*>(QStringLiteral("stopCopyButton"));
    connect(stop, &QPushButton::clicked, this, [this, closeNow = std::move(closeNow)] { stopCopyThen(closeNow); });
    alert->open();
    emit quitAlertOpened(alert);
    return true;
}

void CopyFlowController::sessionWillEnd(SessionEndRequest& request)
{
    if (!isCopying())
        return;
    if (request.allowsInteraction()) {
        QWidget* window = m_progress ? m_progress->parentWidget() : nullptr;
        if (m_quitAlert)
            m_quitAlert->reject();
        QPointer<QMessageBox> alert = makeQuitAlert(window);
        alert->setAttribute(Qt::WA_DeleteOnClose, false);
        auto* stop = alert->findChild<QPushButton*>(QStringLiteral("stopCopyButton"));
        // The session manager waits for the answer, so the question is asked here and now.
        QTimer::singleShot(0, this, [this, alert] {
            if (alert)
                emit quitAlertOpened(alert);
        });
        alert->exec();
        const bool stopping = alert && alert->clickedButton() == stop;
        delete alert.data();
        request.release();
        if (!stopping) {
            request.cancel();
            return;
        }
    }
    if (!isCopying())
        return;
    QEventLoop wait;
    stopCopyThen([&wait] { wait.quit(); });
    wait.exec();
}

void CopyFlowController::watchSessionEnd()
{
#ifndef QT_NO_SESSIONMANAGER
    class Request : public SessionEndRequest {
    public:
        explicit Request(QSessionManager& manager) : m_manager(manager) {}
        bool allowsInteraction() override { return m_manager.allowsInteraction(); }
        void release() override { m_manager.release(); }
        void cancel() override { m_manager.cancel(); }

    private:
        QSessionManager& m_manager;
    };
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) {
                Request request(manager);
                sessionWillEnd(request);
            },
            Qt::DirectConnection);
#endif
}

} // namespace vornakel
