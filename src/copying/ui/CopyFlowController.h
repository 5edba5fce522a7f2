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

class QFileDialog;
class QMessageBox;

namespace vornakel {

class CameraScreens;
class MainWindowController;
class PhotoSortingModel;

// The folder destination as the copy sheet offers it: a new destination read from the defaults, with its pane.
CopyDestinationOffer folderCopyDestinationOffer(UserDefaults& defaults, PhotoSortingModel& presets);

// Starts the copies the connected-camera view asks for: the whole flow through the configuration sheet, or
// "Copy to Folder…" straight into a chosen folder. Its sheets hang on the main window, not on the view, so a
// disconnect that replaces the view cancels the copy without pulling the sheets away. Before the window closes
// (or the program quits) while a copy runs, it asks, cancels and waits for the copy to end, for a bounded time.
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

signals:
    void configurationSheetOpened(vornakel::CopyConfigurationViewController* sheet);
    void progressSheetOpened(vornakel::CopyProgressViewController* sheet);
    void folderDialogOpened(QFileDialog* dialog);
    void quitAlertOpened(QMessageBox* alert);

private:
    void openProgress(PhotoCopyQueuePtr queue, const std::shared_ptr<VKLCamera>& camera, QWidget* window);
    void trackProgress(CopyProgressViewController* sheet);

    CopyDestinationOffers m_offers;
    CopySheetEnvironment m_environment;
    PhotoSortingModel& m_presets;
    QPointer<CopyConfigurationViewController> m_configuration;
    QPointer<CopyProgressViewController> m_progress;
    QPointer<QMessageBox> m_quitAlert;
    std::chrono::milliseconds m_quitWaitLimit = kQuitWaitLimit;
};

} // namespace vornakel
