#pragma once

#include "copying/PhotoCopyQueue.h"
#include "copying/ui/CopyConfigurationViewController.h"
#include "copying/ui/CopyDestinationOffer.h"
#include "copying/ui/CopyProgressViewController.h"
#include "copying/ui/CopySheetEnvironment.h"
#include "mainwindow/MainViewController.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>

class QAction;
class QFileDialog;
class QMessageBox;

namespace vornakel {

class CameraScreens;
class MainWindowController;
class PhotoSortingModel;

// What the session manager's request to end the session (logout, shutdown) lets the program do; the one the
// desktop sends is a QSessionManager, which only Qt can make.
class SessionEndRequest {
public:
    virtual ~SessionEndRequest() = default;
    // Whether the program may ask the user now; may wait for the session manager's turn.
    virtual bool allowsInteraction() = 0;
    // Done asking: other programs may ask theirs.
    virtual void release() = 0;
    // The user wants to go on: the session does not end.
    virtual void cancel() = 0;
};

// The folder destination as the copy sheet offers it: a new destination read from the defaults, with its pane.
CopyDestinationOffer folderCopyDestinationOffer(UserDefaults& defaults, PhotoSortingModel& presets);

// Starts the copies the connected-camera view asks for: the whole flow through the configuration sheet, or
// "Copy to Folder…" straight into a chosen folder. Its sheets hang on the main window, not on the view, so a
// disconnect that replaces the view cancels the copy without pulling the sheets away. Before the window closes
// (or the program quits, or the desktop session ends) while a copy runs, it asks, cancels and waits for the copy
// to end, for a bounded time. Quit's shortcut works in its sheets as in the window.
class CopyFlowController : public QObject {
    Q_OBJECT
public:
    // How long quitting waits for a cancelled copy to end before it goes anyway.
    static constexpr std::chrono::milliseconds kQuitWaitLimit{8000};

    CopyFlowController(CopyDestinationOffers offers, CopySheetEnvironment environment, PhotoSortingModel& presets);
    ~CopyFlowController() override;

    // The connected view's copy entry point.
    void startCopy(const CopyRequest& request);
    // Becomes the copy entry point of every connected view the screens make, and guards the window's close.
    void attach(CameraScreens& screens, MainWindowController& mainWindow);

    bool isCopying() const;
    CopyConfigurationViewController* configurationSheet() const { return m_configuration; }
    CopyProgressViewController* progressSheet() const { return m_progress; }

    // Asked before the main window closes: answers false when no copy runs (close now). Otherwise it asks on
    // `window`, and on "stop" cancels the copy and calls `closeNow` once the copy ended or the wait limit passed;
    // answers true (the close waits).
    bool interceptClose(QWidget* window, std::function<void()> closeNow);
    void setQuitWaitLimit(std::chrono::milliseconds limit) { m_quitWaitLimit = limit; }
    // The desktop session ends while the program runs. With a copy running it asks as a close does, when the
    // request lets it; "stop" (or no leave to ask) cancels the copy and waits for it within the quit limit
    // before it answers, "continue" cancels the session's end. Returns once decided.
    void sessionWillEnd(SessionEndRequest& request);
    // Answers the application's session-end requests with `sessionWillEnd`.
    void watchSessionEnd();

signals:
    void configurationSheetOpened(vornakel::CopyConfigurationViewController* sheet);
    void progressSheetOpened(vornakel::CopyProgressViewController* sheet);
    void folderDialogOpened(QFileDialog* dialog);
    void quitAlertOpened(QMessageBox* alert);

private:
    void openProgress(PhotoCopyQueuePtr queue, const std::shared_ptr<VKLCamera>& camera, QWidget* window);
    void trackProgress(CopyProgressViewController* sheet);
    // The question before a running copy is stopped to close or quit.
    QMessageBox* makeQuitAlert(QWidget* window);
    // Cancels the running copy and calls `then` once it ended or the quit limit passed, whichever comes first.
    void stopCopyThen(std::function<void()> then);
    // Quit's shortcut in a sheet of the window.
    void offerQuit(QWidget* sheet);

    CopyDestinationOffers m_offers;
    CopySheetEnvironment m_environment;
    PhotoSortingModel& m_presets;
    QPointer<CopyConfigurationViewController> m_configuration;
    QPointer<CopyProgressViewController> m_progress;
    QPointer<QMessageBox> m_quitAlert;
    QPointer<QAction> m_quitAction;
    std::chrono::milliseconds m_quitWaitLimit = kQuitWaitLimit;
};

} // namespace vornakel
