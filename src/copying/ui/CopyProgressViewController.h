#pragma once

#include "copying/PhotoCopyQueue.h"
#include "copying/ui/CopySheetEnvironment.h"
#include "copying/ui/FilenameConflictViewController.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vornakel {

class CameraBatteryStatusView;
class VKLCamera;

// Carries a running copy: starts the queue once the sheet shows, names the camera and the file being copied,
// shows the overall progress with throughput and time remaining, keeps the computer awake, asks about existing
// files through the conflict sheet, lets the user cancel, and closes when the queue is done (also when there
// was nothing to copy, or when the destination refused the copy, which is then said).
//
// The sheet owns the queue and keeps the camera for as long as the copy runs, so a disconnect that replaces the
// window's content does not pull them away; Esc and the close button cancel rather than close.
class CopyProgressViewController : public QDialog {
    Q_OBJECT
public:
    static QString activityReason() { return QStringLiteral("Vornakel Transfer Copy"); }

    CopyProgressViewController(PhotoCopyQueuePtr queue, std::shared_ptr<VKLCamera> camera, CopySheetEnvironment environment,
                               QWidget* parent);
    ~CopyProgressViewController() override;

    const PhotoCopyQueuePtr& queue() const { return m_queue; }
    const std::shared_ptr<VKLCamera>& camera() const { return m_camera; }

    // Starts the copy when the sheet is on screen and the copy has not started; safe to call again.
    void startQueueIfAppropriate();
    // Cancels every file; the sheet closes once the queue has accounted for them. An open conflict sheet is
    // answered with skip for this and every later conflict, and closed.
    void cancelCopy();
    bool hasStarted() const { return m_started; }
    bool hasFinished() const { return m_finished; }

    QLabel* fileNameLabel() const { return m_fileNameLabel; }
    QLabel* sourceCameraLabel() const { return m_sourceCameraLabel; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    FilenameConflictViewController* conflictSheet() const { return m_conflictSheet; }

    // The line for a file: its camera name, or both names when the target is named differently.
    static QString fileLine(const PhotoVariant& variant, const std::optional<QString>& target);
    // "12 MB/s, about 2 min left"; empty without a measurement.
    static QString throughputLine(std::optional<double> bytesPerSecond, std::optional<double> secondsRemaining);

    // Esc cancels the copy.
    void reject() override;

signals:
    void conflictSheetOpened(vornakel::FilenameConflictViewController* sheet);
    // The copy is over and the sheet closes.
    void copyFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void updateFileName(const PhotoVariantPtr& variant, const std::optional<QString>& target);
    void updateProgress();
    void showFileNameConflict(const PhotoVariantPtr& variant, const QString& localPath,
                              Deferred<FileNameConflictResolution> resolution, Deferred<bool> remember);
    void startCompleted(bool started);
    void finish();
    void releaseSleep();

    PhotoCopyQueuePtr m_queue;
    std::shared_ptr<VKLCamera> m_camera;
    CopySheetEnvironment m_environment;
    QLabel* m_sourceCameraLabel;
    CameraBatteryStatusView* m_batteryStatus;
    QLabel* m_fileNameLabel;
    QProgressBar* m_progressBar;
    QLabel* m_statusLabel;
    QPushButton* m_cancelButton;
    QPointer<FilenameConflictViewController> m_conflictSheet;
    bool m_started = false;
    bool m_finished = false;
    bool m_holdsSleep = false;
};

} // namespace vornakel
