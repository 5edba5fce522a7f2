// Copies from the generated sample camera through the real window: connect, pick a day, Copy, choose a folder
// and a preset in the sheet, copy; then the same photos again, where one "remember" + Skip settles every
// existing file. Also a disconnect and a window close in the middle of a copy, and the sheets' screenshots.
#include "CopySheetsTestSupport.h"
#include "support/NoGatewayPolicy.h"

#include "copying/ui/CopyFlowController.h"
#include "copying/ui/FolderCopyDestinationConfigurationViewController.h"
#include "discovery/ui/CameraDiscoveryViewController.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/DayListPhotoBrowser.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/SimulatedNetworkState.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "platform/windowing/BlockedWindowCloseForwarder.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "support/DiscoveryTestSupport.h"
#include "support/ScopedImageCache.h"
#include "support/WindowManagerRequests.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>

#include <map>
#include <set>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

// Path below the folder → size and modification time, for "nothing changed on disk".
std::map<QString, std::pair<qint64, qint64>> snapshot(const QString& folder)
{
    std::map<QString, std::pair<qint64, qint64>> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        files[QDir(folder).relativeFilePath(info.filePath())] = {info.size(), info.lastModified().toMSecsSinceEpoch()};
    }
    return files;
}

class CopyFlowEndToEndTest : public ::testing::Test {
protected:
    CopyFlowEndToEndTest() : defaults(dir.filePath(QStringLiteral("defaults.ini"))), presets(defaults)
    {
        SimulatedNetworkState::shared().setCurrentSsid(std::nullopt);
        SimulatedCameraDiscovery::shared().removeAllCameras();
        SimulatedCameraDiscovery::shared().setReportDelay(10ms);
        QDir().mkpath(outPath());
    }
    ~CopyFlowEndToEndTest() override
    {
        copying.reset();
        window.reset();
        screens.reset();
        SimulatedCameraDiscovery::shared().removeAllCameras();
    }

    QString outPath() const { return dir.filePath(QStringLiteral("Photos")); }

    // The sample camera; `ini` adds camera.ini settings (slow or stalled streams).
    tools::SampleCameraResult makeCamera(const std::map<QString, QVariant>& ini = {})
    {
        tools::SampleCameraSpec spec;
        spec.outputFolder = dir.filePath(QStringLiteral("camera"));
        auto result = tools::generateSampleCamera(spec);
        QSettings settings(QDir(spec.outputFolder).filePath(QStringLiteral("camera.ini")), QSettings::IniFormat);
        for (const auto& [key, value] : ini)
            settings.setValue(key, value);
        settings.sync();
        cameraFolder = spec.outputFolder;
        return result;
    }

    // Connects through the discovery screen and waits for every photo.
    void connect()
    {
        CameraDiscoveryEnvironment discovery(SimulatedCameraDiscovery::shared());
        discovery.wifi = [this] { return wifi; };
        discovery.disconnectingTiming = {50ms, 2000ms};
        discovery.animationSpeed = 0;
        ConnectedCameraEnvironment connected;
        connected.wifi = &policy;
        connected.defaults = &defaults;
        screens = std::make_unique<CameraScreens>(std::move(discovery), std::move(connected));
        CopySheetEnvironment environment(workspace);
        environment.defaults = &defaults;
        environment.sleepInhibitor = sleep;
        copying = std::make_unique<CopyFlowController>(
            [this] { return std::vector<CopyDestinationOffer>{folderCopyDestinationOffer(defaults, presets)}; },
            environment, presets);
        window = std::make_unique<MainWindowController>(screens->makeDiscovery(), policy, defaults, [this] { ++quits; });
        // Quit goes through the window's close, as the application's menu has it.
        QAction* quit = window->window()->menuBar()->addAction(QStringLiteral("Quit"));
        quit->setObjectName(QStringLiteral("QuitMenuItem"));
        // Ctrl+Q as on an X11 desktop; the offscreen platform binds nothing to QKeySequence::Quit.
        quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        QObject::connect(quit, &QAction::triggered, window->window(), &QWidget::close);
        copying->attach(*screens, *window);
        window->setAnimationSpeed(0);
        window->window()->show();
        QObject::connect(copying.get(), &CopyFlowController::configurationSheetOpened,
                         [this](CopyConfigurationViewController* sheet) { configuration = sheet; });
        QObject::connect(copying.get(), &CopyFlowController::progressSheetOpened, [this](CopyProgressViewController* sheet) {
            progress = sheet;
            QObject::connect(sheet, &CopyProgressViewController::conflictSheetOpened,
                             [this](FilenameConflictViewController* opened) { conflicts.push_back(opened); });
        });
        SimulatedCameraDiscovery::shared().addCamera(SimulatedCamera::fromFolder(cameraFolder));
        ASSERT_TRUE(runUntil([&] { return connectedView() && connectedView()->imageDeliveryHasCompleted(); }, 90s));
    }
    // Connects a camera whose every stream stalls for good after its first bytes, and copies its newest day into
    // the remembered folder: the copy only ends by a cancel.
    void startCopyThatRunsUntilCancelled()
    {
        ASSERT_TRUE(makeCamera({{QStringLiteral("streamStallAfterBytes"), 1024}, {QStringLiteral("streamStallMs"), 0}}).ok());
        connect();
        ASSERT_GT(selectNewestDay(), 0);
        defaults.setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(outPath()));
        CopyConfigurationViewController* sheet = openSheet();
        ASSERT_TRUE(sheet && sheet->copyButton()->isEnabled());
        sheet->copyButton()->click();
        ASSERT_TRUE(runUntil([&] { return progress && progress->fileNameLabel()->text() != QStringLiteral("Preparing…"); }, 20s));
    }
    MainViewController* connectedView() const { return qobject_cast<MainViewController*>(window->contentViewController()); }

    // Selects every photo of the newest day in the list; answers how many.
    int selectNewestDay()
    {
        // The list follows the photos within its refresh interval; bring it up to date first.
        if (auto* browser = dynamic_cast<DayListPhotoBrowser*>(connectedView()->imageGrid()))
            browser->refresh();
        auto* list = connectedView()->findChild<QTreeWidget*>(QStringLiteral("photoList"));
        if (!list || !runUntil([&] { return list->topLevelItemCount() > 0; }))
            return 0;
        QTreeWidgetItem* day = list->topLevelItem(0);
        for (int row = 0; row < day->childCount(); ++row)
            day->child(row)->setSelected(true);
        return day->childCount();
    }

    // Copy in the toolbar, up to the configuration sheet.
    CopyConfigurationViewController* openSheet()
    {
        configuration = nullptr;
        connectedView()->copyAction()->trigger();
        return configuration;
    }
    FolderCopyDestinationConfigurationViewController* folderPane() const
    {
        return qobject_cast<FolderCopyDestinationConfigurationViewController*>(configuration->currentPane());
    }

    QTemporaryDir dir;
    test::ScopedImageCache cache{dir.filePath(QStringLiteral("cache"))};
    UserDefaults defaults;
    PhotoSortingModel presets;
    NoGatewayPolicy policy;
    std::shared_ptr<SimulatedWiFi> wifi = std::make_shared<SimulatedWiFi>(QStringLiteral("wlan-copy"));
    std::shared_ptr<RecordingSleepInhibitor> sleep = std::make_shared<RecordingSleepInhibitor>();
    RecordingWorkspace workspace;
    QString cameraFolder;
    std::unique_ptr<CameraScreens> screens;
    std::unique_ptr<MainWindowController> window;
    std::unique_ptr<CopyFlowController> copying;
    QPointer<CopyConfigurationViewController> configuration;
    QPointer<CopyProgressViewController> progress;
    std::vector<QPointer<FilenameConflictViewController>> conflicts;
    int quits = 0;
};

TEST_F(CopyFlowEndToEndTest, CopyADayIntoDatedFoldersThenAgainSkippingEveryExistingFile)
{
    // The newest shot's JPEG pauses mid-stream for a moment, long enough to look at the progress sheet.
    auto sample = makeCamera();
    ASSERT_TRUE(sample.ok()) << sample.error.toStdString();
    std::sort(sample.shots.begin(), sample.shots.end(),
              [](const auto& a, const auto& b) { return a.captureTime > b.captureTime; });
    const QDate newestDay = sample.shots.front().captureTime.date();
    std::vector<tools::SampleShot> dayShots;
    for (const auto& shot : sample.shots)
        if (shot.captureTime.date() == newestDay)
            dayShots.push_back(shot);
    const QString slowFile = QFileInfo(dayShots.front().jpegPath).fileName();
    makeCamera({{QStringLiteral("streamStallAfterBytes"), 4096},
                {QStringLiteral("streamStallMs"), 1500},
                {QStringLiteral("streamFaultFiles"), slowFile}});
    connect();
    ASSERT_EQ(selectNewestDay(), int(dayShots.size()));

    CopyConfigurationViewController* sheet = openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->parentWidget(), window->window()) << "sheets hang on the main window, not on the view";
    ASSERT_EQ(sheet->stackItems().size(), 1u);
    EXPECT_FALSE(sheet->copyButton()->isEnabled()) << "no folder chosen yet";
    FolderCopyDestinationConfigurationViewController* pane = folderPane();
    ASSERT_TRUE(pane);
    QFileDialog* dialog = nullptr;
    QObject::connect(pane, &FolderCopyDestinationConfigurationViewController::folderDialogOpened,
                     [&](QFileDialog* opened) { dialog = opened; });
    pane->chooseFolderButton()->click();
    ASSERT_TRUE(dialog);
    dialog->setDirectory(outPath());
    dialog->selectFile(outPath());
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_TRUE(sheet->copyButton()->isEnabled());
    // The flat preset, then back to year/month/day: each choice is written as it is made.
    QComboBox* presetMenu = pane->photoSortingPresetMenu();
    for (const auto& preset : {UserDefinedPhotoSorting::flat(), UserDefinedPhotoSorting::byPaddedNumericDate()}) {
        const int row = presetMenu->findText(preset->name());
        ASSERT_GE(row, 0);
        presetMenu->setCurrentIndex(row);
        emit presetMenu->activated(row);
        EXPECT_EQ(defaults.stringForKey(FolderCopyDestination::photoSortingUserDefaultsKey()), preset->presetId());
    }
    EXPECT_TRUE(saveScreenshot(sheet, QStringLiteral("copy-configuration-folder")));

    sheet->copyButton()->click();
    ASSERT_TRUE(progress);
    ASSERT_TRUE(runUntil([&] { return progress && progress->fileNameLabel()->text() == slowFile; }, 20s));
    EXPECT_TRUE(sleep->isHeld());
    EXPECT_TRUE(progress->sourceCameraLabel()->text().startsWith(QStringLiteral("Copying from ")));
    EXPECT_TRUE(saveScreenshot(progress, QStringLiteral("copy-progress")));
    ASSERT_TRUE(runUntil([&] { return !progress; }, 30s));
    EXPECT_FALSE(sleep->isHeld());

    // Every file of the day under year/month/day, dated with its capture time.
    int expectedFiles = 0;
    for (const auto& shot : dayShots) {
        for (const QString& source : {shot.jpegPath, shot.rawPath}) {
            if (source.isEmpty())
                continue;
            ++expectedFiles;
            const QString target = QDir(outPath()).filePath(shot.captureTime.toString(QStringLiteral("yyyy/MM/dd/"))
                                                             + QFileInfo(source).fileName());
            const QFileInfo copied(target);
            ASSERT_TRUE(copied.exists()) << target.toStdString();
            EXPECT_EQ(copied.size(), QFileInfo(source).size()) << target.toStdString();
            EXPECT_EQ(copied.lastModified().toSecsSinceEpoch(), shot.captureTime.toSecsSinceEpoch()) << target.toStdString();
        }
    }
    const auto afterFirst = snapshot(outPath());
    EXPECT_EQ(int(afterFirst.size()), expectedFiles) << "only the chosen day, and no leftovers";

    // Again: the sheet remembers folder and preset; the first existing file asks, "remember" + Skip does the rest.
    sheet = openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(folderPane()->destinationPathControl()->text(), outPath());
    EXPECT_EQ(folderPane()->photoSortingPresetMenu()->currentText(), UserDefinedPhotoSorting::byPaddedNumericDate()->name());
    ASSERT_TRUE(sheet->copyButton()->isEnabled());
    sheet->copyButton()->click();
    ASSERT_TRUE(runUntil([&] { return !conflicts.empty() && conflicts[0]; }, 20s));
    FilenameConflictViewController* conflict = conflicts[0];
    ASSERT_TRUE(runUntil([&] { return conflict->cameraThumbnailLoaded() && conflict->localThumbnailLoaded(); }, 10s));
    conflict->rememberChoiceCheckbox()->setChecked(true);
    EXPECT_TRUE(saveScreenshot(conflict, QStringLiteral("copy-conflict")));
    conflict->skipButton()->click();
    ASSERT_TRUE(runUntil([&] { return !progress; }, 20s));
    EXPECT_EQ(conflicts.size(), 1u) << "asked once";
    EXPECT_EQ(snapshot(outPath()), afterFirst) << "nothing changed on disk";
}

TEST_F(CopyFlowEndToEndTest, DisconnectDuringACopyCancelsItAndTheSheetGoesWhenTheCopyHasEnded)
{
    ASSERT_NO_FATAL_FAILURE(startCopyThatRunsUntilCancelled());

    const auto camera = std::dynamic_pointer_cast<SimulatedCamera>(connectedView()->camera());
    ASSERT_TRUE(camera);
    camera->dropConnection();
    ASSERT_TRUE(runUntil([&] { return qobject_cast<CameraDiscoveryViewController*>(window->contentViewController()); }));
    ASSERT_TRUE(progress) << "the progress sheet outlives the view";
    EXPECT_FALSE(progress->cancelButton()->isEnabled());
    EXPECT_EQ(progress->camera(), camera);
    ASSERT_TRUE(runUntil([&] { return !progress; }, 15s));
    EXPECT_FALSE(sleep->isHeld());
    EXPECT_TRUE(snapshot(outPath()).empty()) << "no partial file left";

    // The user is told, on the window that now looks for cameras again, how far the copy came.
    auto* alert = window->window()->findChild<QMessageBox*>(QStringLiteral("copyStoppedAlert"));
    ASSERT_TRUE(alert) << "a disconnect does not end a copy without a word";
    EXPECT_TRUE(alert->isVisible());
    EXPECT_TRUE(alert->text().startsWith(QStringLiteral("The copy stopped after 0 of "))) << alert->text().toStdString();
    EXPECT_TRUE(alert->informativeText().contains(QStringLiteral("No partly copied file"))) << alert->informativeText().toStdString();
    EXPECT_TRUE(saveScreenshot(alert, QStringLiteral("copy-stopped-by-disconnect")));
    alert->button(QMessageBox::Ok)->click();
}

TEST_F(CopyFlowEndToEndTest, ClosingTheWindowDuringACopyAsksCancelsAndWaits)
{
    ASSERT_NO_FATAL_FAILURE(startCopyThatRunsUntilCancelled());

    QMessageBox* alert = nullptr;
    QObject::connect(copying.get(), &CopyFlowController::quitAlertOpened, [&](QMessageBox* opened) { alert = opened; });
    // "Continue Copying" keeps everything as it was.
    window->window()->close();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(window->window()->isVisible());
    alert->findChild<QPushButton*>(QStringLiteral("continueCopyButton"))->click();
    runFor(50ms);
    EXPECT_EQ(quits, 0);
    ASSERT_TRUE(progress && progress->cancelButton()->isEnabled());

    alert = nullptr;
    window->window()->close();
    ASSERT_TRUE(alert);
    alert->findChild<QPushButton*>(QStringLiteral("stopCopyButton"))->click();
    EXPECT_EQ(quits, 0) << "waits for the cancelled copy";
    ASSERT_TRUE(runUntil([&] { return quits == 1; }, 15s));
    EXPECT_FALSE(progress);
    EXPECT_FALSE(sleep->isHeld());
    EXPECT_TRUE(snapshot(outPath()).empty()) << "no partial file left";
}

// The session manager's side of a session's end, as a test plays it.
struct RecordingSessionEnd : SessionEndRequest {
    bool allowsInteraction() override { return interaction; }
    void release() override { ++released; }
    void cancel() override { ++cancelled; }
    bool interaction = true;
    int released = 0;
    int cancelled = 0;
};

TEST_F(CopyFlowEndToEndTest, QuitInTheCopySheetAndTheEndOfTheSessionAskAboutTheCopyToo)
{
    ASSERT_NO_FATAL_FAILURE(startCopyThatRunsUntilCancelled());

    QPointer<QMessageBox> alert;
    QString answer; // the button to click as soon as the question shows; none leaves it open
    QObject::connect(copying.get(), &CopyFlowController::quitAlertOpened, [&](QMessageBox* opened) {
        alert = opened;
        if (!answer.isEmpty())
            QTimer::singleShot(0, opened, [opened, answer] { opened->findChild<QPushButton*>(answer)->click(); });
    });

    // Quit's shortcut while the copy's sheet has the focus.
    QApplication::setActiveWindow(progress);
    QKeyEvent quitKey(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::sendEvent(progress, &quitKey);
    ASSERT_TRUE(alert) << "Quit did nothing while the sheet had the focus";
    alert->findChild<QPushButton*>(QStringLiteral("continueCopyButton"))->click();
    ASSERT_TRUE(runUntil([&] { return !alert; }));
    EXPECT_EQ(quits, 0);

    // Under X11, the window manager's close button while the sheet blocks the window asks as well.
    if (BlockedWindowCloseForwarder::install(window->window())) {
        ASSERT_TRUE(test::sendWindowManagerCloseRequest(window->window()));
        ASSERT_TRUE(runUntil([&] { return alert != nullptr; })) << "the close button did nothing under the sheet";
        EXPECT_TRUE(saveScreenshot(alert, QStringLiteral("copy-close-button-asks")));
        alert->findChild<QPushButton*>(QStringLiteral("continueCopyButton"))->click();
        ASSERT_TRUE(runUntil([&] { return !alert; }));
        EXPECT_EQ(quits, 0);
    }

    // The session ends: "Continue Copying" keeps the session and the copy.
    answer = QStringLiteral("continueCopyButton");
    RecordingSessionEnd keepOn;
    copying->sessionWillEnd(keepOn);
    EXPECT_EQ(keepOn.cancelled, 1);
    EXPECT_EQ(keepOn.released, 1);
    ASSERT_TRUE(progress && progress->cancelButton()->isEnabled());

    // "Stop Copy and Quit": the answer comes once the copy has ended and removed its partial files.
    answer = QStringLiteral("stopCopyButton");
    RecordingSessionEnd stop;
    copying->sessionWillEnd(stop);
    EXPECT_EQ(stop.cancelled, 0);
    EXPECT_EQ(stop.released, 1);
    EXPECT_TRUE(!progress || progress->hasFinished());
    EXPECT_FALSE(sleep->isHeld());
    EXPECT_TRUE(snapshot(outPath()).empty()) << "no partial file left";
}

TEST_F(CopyFlowEndToEndTest, CopyToFolderPutsEveryFileStraightIntoTheChosenFolder)
{
    const auto sample = makeCamera();
    ASSERT_TRUE(sample.ok());
    connect();
    const int selected = selectNewestDay();
    ASSERT_GT(selected, 0);
    // Drag-out's grouping: the JPEG of a RAW+JPEG pair only.
    defaults.setInteger(PhotoCopyQueue::dragAndDropGroupingBehaviourUserDefaultsKey(), 2);
    QFileDialog* dialog = nullptr;
    QObject::connect(copying.get(), &CopyFlowController::folderDialogOpened, [&](QFileDialog* opened) { dialog = opened; });
    connectedView()->copyToFolderAction()->trigger();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->parentWidget(), window->window());
    dialog->setDirectory(outPath());
    dialog->selectFile(outPath());
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(runUntil([&] { return progress != nullptr; }));
    // The sheet says that the RAW files stay on the camera.
    EXPECT_EQ(progress->variantsLabel()->text(), QStringLiteral("JPEG files only; RAW files left on the camera"));
    ASSERT_TRUE(runUntil([&] { return !progress; }, 20s));
    const auto copied = snapshot(outPath());
    EXPECT_EQ(int(copied.size()), selected) << "one file per photo";
    for (const auto& [relative, sizeAndTime] : copied) {
        EXPECT_FALSE(relative.contains(QLatin1Char('/'))) << relative.toStdString();
        EXPECT_TRUE(relative.endsWith(QStringLiteral(".JPG"))) << relative.toStdString();
    }
}

} // namespace
