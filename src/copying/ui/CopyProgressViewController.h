#pragma once

#include "copying/CopyOutcome.h"
#include "copying/PhotoCopyQueue.h"
#include "copying/ui/CopySheetEnvironment.h"
#include "copying/ui/FilenameConflictViewController.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace vornakel {

class CameraBatteryStatusView;
class VKLCamera;

// Carries a running copy: starts the queue once the sheet shows, names the camera and the file being copied,
// says which files of RAW+JPEG photos the copy takes when it leaves some on the camera, shows the overall
// progress with throughput and time remaining, keeps the computer awake, asks about existing files through the
// conflict sheet, and lets the user cancel. A clean copy closes the sheet when the queue is done (also when
// there was nothing to copy, or when the destination refused the copy, which is then said). A copy with files
// that failed or were not taken in keeps the sheet open with "n of m files copied", the files and their
// reasons and a way to show the folder; a copy stopped by the camera going away closes with an alert saying so.
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
    // Which files of RAW+JPEG photos the copy takes, when it leaves the others on the camera; else hidden.
    QLabel* variantsLabel() const { return m_variantsLabel; }
    // Once a copy with problems is over: the files and their reasons, and the buttons that close the sheet
    // and show the folder.
    QLabel* problemsLabel() const { return m_problemsLabel; }
    QPushButton* doneButton() const { return m_doneButton; }
    QPushButton* showFolderButton() const { return m_showFolderButton; }
    // What the copy did; set once it is over.
    const std::optional<CopyOutcome>& outcome() const { return m_outcome; }
    // How many problems the finished sheet names before "and k more".
    static constexpr int kProblemsShown = 5;
    FilenameConflictViewController* conflictSheet() const { return m_conflictSheet; }

    // The line for a file: its camera name, or both names when the target is named differently.
    static QString fileLine(const PhotoVariant& variant, const std::optional<QString>& target);
    // "12 MB/s, about 2 min left"; empty without a measurement.
    static QString throughputLine(std::optional<double> bytesPerSecond, std::optional<double> secondsRemaining);
    // "JPEG files only; RAW files left on the camera" when the grouping leaves files of some photo behind.
    static QString variantsLine(const std::vector<PhotoPtr>& photos, FileGroupBehaviour behaviour);

    // Esc cancels the copy; once it is over, Esc closes the report, and a reject from elsewhere leaves it.
    void reject() override;

signals:
    void conflictSheetOpened(vornakel::FilenameConflictViewController* sheet);
    // The copy is over; the sheet closes, or stays to show what went wrong.
    void copyFinished();
    // The alert that says a disconnect stopped the copy was opened on the window.
    void stoppedAlertOpened(QMessageBox* alert);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateFileName(const PhotoVariantPtr& variant, const std::optional<QString>& target);
    void updateProgress();
    void showFileNameConflict(const PhotoVariantPtr& variant, const QString& localPath,
                              Deferred<FileNameConflictResolution> resolution, Deferred<bool> remember);
    void startCompleted(bool started);
    void finish();
    void showOutcome(const QString& summary);
    void showStoppedAlert(QWidget* window);
    void showFolder();
    void cameraConnectionChanged();
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
    QLabel* m_variantsLabel;
    QLabel* m_problemsLabel;
    QPushButton* m_showFolderButton;
    QPushButton* m_doneButton;
    QPointer<FilenameConflictViewController> m_conflictSheet;
    std::optional<CopyOutcome> m_outcome;
    bool m_started = false;
    // The destination answered whether the copy may start.
    bool m_startAnswered = false;
    // The camera went away while the copy ran.
    bool m_cameraLost = false;
    bool m_finished = false;
    bool m_holdsSleep = false;
};

} // namespace vornakel
