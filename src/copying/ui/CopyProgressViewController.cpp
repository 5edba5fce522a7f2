#include "copying/ui/CopyProgressViewController.h"
#include "copying/ui/SheetText.h"

#include "copying/ui/FilenameConflictViewController.h"
#include "mainwindow/CameraBatteryStatusView.h"
#include "platform/camera/VKLCamera.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "platform/power/SleepInhibitor.h"
#include "platform/services/Workspace.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vornakel {

namespace {


QString durationText(double seconds)
{
    const qint64 whole = qint64(std::ceil(std::max(seconds, 0.0)));
    if (whole < 60)
        return GeneralUI::format(QStringLiteral("TimeRemainingSecondsFormat"), {QString::number(whole)});
    if (whole < 3600)
        return GeneralUI::format(QStringLiteral("TimeRemainingMinutesFormat"), {QString::number((whole + 59) / 60)});
    return GeneralUI::format(QStringLiteral("TimeRemainingHoursFormat"),
                             {QString::number(whole / 3600), QString::number((whole % 3600 + 59) / 60)});
}
} // namespace

CopyProgressViewController::CopyProgressViewController(PhotoCopyQueuePtr queue, std::shared_ptr<VKLCamera> camera,
                                                       CopySheetEnvironment environment, QWidget* parent)
    : QDialog(parent), m_queue(std::move(queue)), m_camera(std::move(camera)), m_environment(std::move(environment)),
      m_sourceCameraLabel(plainLabel(this, "sourceCameraLabel")), m_batteryStatus(new CameraBatteryStatusView(this)),
      m_fileNameLabel(plainLabel(this, "fileNameLabel")), m_progressBar(new QProgressBar(this)),
      m_statusLabel(plainLabel(this, "statusLabel")), m_cancelButton(new QPushButton(ui("CancelButtonTitle"), this)),
      m_variantsLabel(plainLabel(this, "variantsLabel")), m_problemsLabel(plainLabel(this, "problemsLabel")),
      m_showFolderButton(new QPushButton(ui("CopyOutcomeShowFolderButtonTitle"), this)),
      m_doneButton(new QPushButton(ui("CopyOutcomeDoneButtonTitle"), this))
{
    setObjectName(QStringLiteral("CopyProgressSheet"));
    setWindowModality(Qt::WindowModal);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    QFont headline = m_sourceCameraLabel->font();
    headline.setBold(true);
    m_sourceCameraLabel->setFont(headline);
    m_fileNameLabel->setText(ui("CopyProgressPreparing"));
    m_fileNameLabel->setMinimumWidth(420);
    QFont secondary = m_statusLabel->font();
    secondary.setPointSizeF(secondary.pointSizeF() * 0.92);
    m_statusLabel->setFont(secondary);
    m_progressBar->setRange(0, 0);
    m_progressBar->setTextVisible(false);
    m_variantsLabel->setWordWrap(true);
    m_variantsLabel->setFont(secondary);
    if (m_queue) {
        m_variantsLabel->setText(variantsLine(m_queue->photos(), m_queue->options().groupBehaviour));
    }
    m_variantsLabel->setVisible(!m_variantsLabel->text().isEmpty());
    m_problemsLabel->setWordWrap(true);
    m_problemsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problemsLabel->hide();
    m_showFolderButton->setObjectName(QStringLiteral("showFolderButton"));
    m_showFolderButton->hide();
    m_doneButton->setObjectName(QStringLiteral("doneButton"));
    m_doneButton->hide();

    const std::optional<QString> cameraName = m_camera ? m_camera->friendlyDisplayName() : std::nullopt;
    m_sourceCameraLabel->setText(cameraName && !cameraName->isEmpty()
                                     ? GeneralUI::format(QStringLiteral("CopyingWithCameraNameTitle"), {*cameraName})
                                     : ui("CopyingWithoutCameraNameTitle"));
    m_batteryStatus->setCamera(m_camera);

    auto* top = new QHBoxLayout;
    top->addWidget(m_sourceCameraLabel, 1);
    top->addWidget(m_batteryStatus);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_statusLabel, 1);
    bottom->addWidget(m_showFolderButton);
    bottom->addWidget(m_doneButton);
    bottom->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addLayout(top);
    layout->addWidget(m_fileNameLabel);
    layout->addWidget(m_variantsLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_problemsLabel);
    layout->addLayout(bottom);
    setFixedWidth(520);

    connect(m_cancelButton, &QPushButton::clicked, this, &CopyProgressViewController::cancelCopy);
    connect(m_doneButton, &QPushButton::clicked, this, [this] { QDialog::done(QDialog::Accepted); });
    connect(m_showFolderButton, &QPushButton::clicked, this, &CopyProgressViewController::showFolder);
    if (m_camera)
        connect(m_camera.get(), &VKLCamera::connectionStateChanged, this, &CopyProgressViewController::cameraConnectionChanged);
}

CopyProgressViewController::~CopyProgressViewController()
{
    releaseSleep();
}

QString CopyProgressViewController::fileLine(const PhotoVariant& variant, const std::optional<QString>& target)
{
    if (!target)
        return variant.fileName();
    const QString targetName = QFileInfo(*target).fileName();
    if (targetName == variant.fileName())
        return variant.fileName();
    return GeneralUI::format(QStringLiteral("CopyProgressDifferentFileNames"), {variant.fileName(), targetName});
}

QString CopyProgressViewController::throughputLine(std::optional<double> bytesPerSecond,
                                                   std::optional<double> secondsRemaining)
{
    if (!bytesPerSecond || !secondsRemaining || *bytesPerSecond <= 0)
        return {};
    return GeneralUI::format(QStringLiteral("CopyProgressThroughputFormat"),
                             {QLocale().formattedDataSize(qint64(*bytesPerSecond), 1, QLocale::DataSizeSIFormat), durationText(*secondsRemaining)});
}

QString CopyProgressViewController::variantsLine(const std::vector<PhotoPtr>& photos, FileGroupBehaviour behaviour)
{
    if (behaviour == FileGroupBehaviour::copyAll)
        return {};
    const bool leavesSomeBehind =
        std::any_of(photos.begin(), photos.end(), [](const PhotoPtr& photo) { return photo && photo->previewVariant(); });
    if (!leavesSomeBehind)
        return {};
    return ui(behaviour == FileGroupBehaviour::preferPreview ? "CopyVariantsPreviewsOnly" : "CopyVariantsOriginalsOnly");
}

void CopyProgressViewController::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    startQueueIfAppropriate();
}

void CopyProgressViewController::startQueueIfAppropriate()
{
    // A conflict needs a window to ask in, so the copy starts only once the sheet shows.
    if (!m_queue || m_started || m_finished || !isVisible())
        return;
    m_started = true;
    if (m_environment.sleepInhibitor) {
        m_environment.sleepInhibitor->acquire(activityReason());
        m_holdsSleep = true;
    }

    QPointer<CopyProgressViewController> self(this);
    PhotoCopyQueue::Callbacks callbacks;
    callbacks.itemStarted = [self](const PhotoCopyQueuePtr&, const PhotoVariantPtr& variant,
                                   const std::optional<QString>& target) {
        if (self)
            self->updateFileName(variant, target);
    };
    callbacks.progressUpdated = [self](const PhotoCopyQueuePtr&) {
        if (self)
            self->updateProgress();
    };
    callbacks.itemFinished = [self](const PhotoCopyQueuePtr&, const PhotoCopyQueue::FileRecord&) {
        if (self)
            self->updateProgress();
    };
    callbacks.queueFinished = [self](const PhotoCopyQueuePtr&) {
        if (self)
            self->finish();
    };
    callbacks.fileNameConflict = [self](const PhotoCopyQueuePtr&, const PhotoVariantPtr& variant,
                                        const QString& existing, Deferred<FileNameConflictResolution> resolution,
                                        Deferred<bool> remember) {
        if (!self) {
            remember.fill(false);
            resolution.fill(FileNameConflictResolution::skip);
            return;
        }
        self->showFileNameConflict(variant, existing, resolution, remember);
    };
    if (m_environment.defaults)
        m_queue->setStalledStreamTimeout(PhotoCopyQueue::stalledStreamTimeout(*m_environment.defaults));
    m_queue->start(std::move(callbacks), [self, guard = DispatchQueue::Context(this)](bool started) {
        if (!DispatchQueue::isMainThread())
            DispatchQueue::main()->async(guard, [self, started] { self->startCompleted(started); });
        else if (self)
            self->startCompleted(started);
    });
}

void CopyProgressViewController::startCompleted(bool started)
{
    m_startAnswered = true;
    if (m_finished)
        return;
    if (!started) {
        // Never close silently: give the destination's reason, or at least say which one refused.
        const CopyDestinationPtr& destination = m_queue ? m_queue->options().destination : nullptr;
        const QString name = destination ? destination->name() : QString();
        const QString reason = destination ? destination->refusalMessage() : QString();
        QWidget* window = parentWidget();
        finish();
        auto* alert = new QMessageBox(QMessageBox::Warning, ui("CopyDestinationRefusedTitle"),
                                      ui("CopyDestinationRefusedTitle"), QMessageBox::Ok, window);
        alert->setObjectName(QStringLiteral("copyRefusedAlert"));
        alert->setTextFormat(Qt::PlainText);
        alert->setInformativeText(reason.isEmpty()
                                      ? GeneralUI::format(QStringLiteral("CopyDestinationRefusedDescription"), {name})
                                      : reason);
        alert->button(QMessageBox::Ok)->setText(ui("OKTitle"));
        alert->setWindowModality(Qt::WindowModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
        return;
    }
    updateProgress();
    // A copy that found nothing to copy is over at once.
    if (m_queue && m_queue->fileCount() == 0) {
        QPointer<CopyProgressViewController> self(this);
        QMetaObject::invokeMethod(this, [self] { if (self) self->finish(); }, Qt::QueuedConnection);
    }
}

void CopyProgressViewController::updateFileName(const PhotoVariantPtr& variant, const std::optional<QString>& target)
{
    if (variant)
        m_fileNameLabel->setText(fileLine(*variant, target));
}

void CopyProgressViewController::updateProgress()
{
    if (!m_queue)
        return;
    const ProgressPtr& progress = m_queue->progress();
    if (progress->isIndeterminate()) {
        m_progressBar->setRange(0, 0);
    } else {
        m_progressBar->setRange(0, 1000);
        m_progressBar->setValue(int(std::lround(progress->fractionCompleted() * 1000)));
    }
    QStringList parts;
    const std::optional<qint64> total = progress->fileTotalCount();
    if (total && *total > 0) {
        const qint64 current = std::min(progress->fileCompletedCount().value_or(1), *total);
        parts << GeneralUI::format(QStringLiteral("CopyProgressFilesFormat"),
                                   {QLocale().toString(current), QLocale().toString(*total)});
    }
    const QString speed = throughputLine(progress->throughput(), progress->estimatedTimeRemaining());
    if (!speed.isEmpty())
        parts << speed;
    m_statusLabel->setText(parts.join(QStringLiteral(" — ")));
}

void CopyProgressViewController::showFileNameConflict(const PhotoVariantPtr& variant, const QString& localPath,
                                                      Deferred<FileNameConflictResolution> resolution,
                                                      Deferred<bool> remember)
{
    if (m_finished || !m_cancelButton->isEnabled()) {
        // A cancelled copy asks nothing more.
        remember.fill(true);
        resolution.fill(FileNameConflictResolution::skip);
        return;
    }
    auto* sheet = new FilenameConflictViewController(variant, localPath, resolution, remember,
                                                     m_environment.workspace.get(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_conflictSheet = sheet;
    sheet->open();
    emit conflictSheetOpened(sheet);
}

void CopyProgressViewController::cancelCopy()
{
    if (m_finished)
        return;
    m_cancelButton->setEnabled(false);
    if (m_conflictSheet)
        m_conflictSheet->answer(FileNameConflictResolution::skip, true);
    if (m_queue)
        m_queue->cancel();
    // A copy that never started, or whose destination is still getting ready, has nothing to wait for: the
    // destination stops getting ready, and its late answer changes nothing.
    if (m_started && !m_startAnswered && m_queue && m_queue->options().destination)
        m_queue->options().destination->copySessionStartCancelled();
    if (!m_started || !m_startAnswered)
        finish();
}

void CopyProgressViewController::reject()
{
    // Once the copy is over the report stays until the user closes it (Done, Esc, the close button): a camera
    // that goes away afterwards, which rejects every sheet of the window, does not take it along.
    if (m_finished)
        return;
    // The connected view cancels a copy this way when the camera goes away.
    if (m_camera && m_camera->connectionState() != unsigned(VKLConnectionState::Connected))
        m_cameraLost = true;
    cancelCopy();
}

void CopyProgressViewController::keyPressEvent(QKeyEvent* event)
{
    if (m_finished && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        QDialog::done(QDialog::Rejected);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CopyProgressViewController::cameraConnectionChanged()
{
    if (m_finished || !m_camera || m_camera->connectionState() == unsigned(VKLConnectionState::Connected))
        return;
    m_cameraLost = true;
    cancelCopy();
}

void CopyProgressViewController::closeEvent(QCloseEvent* event)
{
    if (m_finished) {
        // Closing the finished report closes it (the base class would ask `reject`, which leaves it).
        QDialog::done(QDialog::Rejected);
        event->accept();
        return;
    }
    event->ignore();
    cancelCopy();
}

void CopyProgressViewController::releaseSleep()
{
    if (m_holdsSleep && m_environment.sleepInhibitor)
        m_environment.sleepInhibitor->release();
    m_holdsSleep = false;
}

void CopyProgressViewController::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    releaseSleep();
    if (m_conflictSheet)
        m_conflictSheet->answer(FileNameConflictResolution::skip, true);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(1000);
    if (m_queue)
        m_outcome = CopyOutcome::of(*m_queue);
    emit copyFinished();
    QWidget* window = parentWidget();
    const QString summary = m_queue && m_queue->options().destination ? m_queue->options().destination->sessionSummary()
                                                                      : QString();
    if (m_cameraLost) {
        QDialog::done(QDialog::Accepted);
        if (window)
            showStoppedAlert(window);
        return;
    }
    // A copy where anything went wrong is not closed like a success: the sheet stays and says what happened.
    if (m_outcome && m_outcome->hasProblems()) {
        showOutcome(summary);
        return;
    }
    QDialog::done(QDialog::Accepted);
    // Files copied but not taken in by the library or the editor are said, not passed off as a success.
    if (!summary.isEmpty() && window) {
        auto* alert = new QMessageBox(QMessageBox::Information, ui("CopySessionSummaryTitle"),
                                      ui("CopySessionSummaryTitle"), QMessageBox::Ok, window);
        alert->setObjectName(QStringLiteral("copySummaryAlert"));
        alert->setTextFormat(Qt::PlainText);
        alert->setInformativeText(summary);
        alert->button(QMessageBox::Ok)->setText(ui("OKTitle"));
        alert->setWindowModality(Qt::WindowModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
    }
}

void CopyProgressViewController::showOutcome(const QString& summary)
{
    const CopyOutcome& outcome = *m_outcome;
    m_fileNameLabel->setText(GeneralUI::format(QStringLiteral("CopyOutcomeCopiedFormat"),
                                               {QLocale().toString(outcome.copied), QLocale().toString(outcome.total)}));
    QFont headline = m_fileNameLabel->font();
    headline.setBold(true);
    m_fileNameLabel->setFont(headline);
    QStringList lines = outcome.problemLines(kProblemsShown);
    if (!summary.isEmpty())
        lines << summary;
    m_problemsLabel->setText(lines.join(QLatin1Char('\n')));
    m_problemsLabel->show();
    m_progressBar->hide();
    m_statusLabel->clear();
    m_cancelButton->hide();
    m_showFolderButton->setVisible(outcome.folder.has_value());
    m_doneButton->show();
    m_doneButton->setDefault(true);
    m_doneButton->setFocus();
    adjustSize();
}

void CopyProgressViewController::showFolder()
{
    if (!m_outcome || !m_outcome->folder)
        return;
    m_environment.workspace.get().openUrl(QUrl::fromLocalFile(*m_outcome->folder));
}

void CopyProgressViewController::showStoppedAlert(QWidget* window)
{
    const CopyOutcome outcome = m_outcome.value_or(CopyOutcome{});
    // A copy stopped before its files were queued still names how many it was to copy.
    const qint64 total = outcome.total > 0 || !m_queue
        ? outcome.total
        : qint64(PhotoCopyQueue::variantsToCopy(m_queue->photos(), m_queue->options().groupBehaviour).size());
    const QString title = GeneralUI::format(QStringLiteral("CopyStoppedByDisconnectTitle"),
                                            {QLocale().toString(outcome.copied), QLocale().toString(total)});
    auto* alert = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window);
    alert->setObjectName(QStringLiteral("copyStoppedAlert"));
    alert->setTextFormat(Qt::PlainText);
    QStringList lines{ui("CopyStoppedByDisconnectDescription")};
    lines << outcome.problemLines(kProblemsShown);
    alert->setInformativeText(lines.join(QLatin1Char('\n')));
    alert->button(QMessageBox::Ok)->setText(ui("OKTitle"));
    if (outcome.folder && outcome.copied > 0) {
        QPushButton* show = alert->addButton(ui("CopyOutcomeShowFolderButtonTitle"), QMessageBox::ActionRole);
        show->setObjectName(QStringLiteral("showFolderButton"));
        connect(show, &QPushButton::clicked, alert, [workspace = m_environment.workspace, folder = *outcome.folder] {
            workspace.get().openUrl(QUrl::fromLocalFile(folder));
        });
    }
    alert->setDefaultButton(QMessageBox::Ok);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
    emit stoppedAlertOpened(alert);
}

} // namespace vornakel
