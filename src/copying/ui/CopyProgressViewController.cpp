#include "copying/ui/CopyProgressViewController.h"
#include "copying/ui/SheetText.h"

#include "copying/ui/FilenameConflictViewController.h"
#include "mainwindow/CameraBatteryStatusView.h"
#include "platform/camera/VKLCamera.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "platform/power/SleepInhibitor.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

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
      m_statusLabel(plainLabel(this, "statusLabel")), m_cancelButton(new QPushButton(ui("CancelButtonTitle"), this))
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
    bottom->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addLayout(top);
    layout->addWidget(m_fileNameLabel);
    layout->addWidget(m_progressBar);
    layout->addLayout(bottom);
    setFixedWidth(520);

    connect(m_cancelButton, &QPushButton::clicked, this, &CopyProgressViewController::cancelCopy);
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
    callbacks.itemFinished = [self](const PhotoCopyQueuePtr&) {
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
    if (m_queue && m_queue->operations().empty()) {
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
                                                     m_environment.workspace, this);
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
    // A copy that never started has nothing to wait for.
    if (!m_started)
        finish();
}

void CopyProgressViewController::reject()
{
    cancelCopy();
}

void CopyProgressViewController::closeEvent(QCloseEvent* event)
{
    if (m_finished) {
        QDialog::closeEvent(event);
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
    emit copyFinished();
    QWidget* window = parentWidget();
    const QString summary = m_queue && m_queue->options().destination ? m_queue->options().destination->sessionSummary()
                                                                      : QString();
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

} // namespace vornakel
