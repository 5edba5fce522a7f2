// The progress and conflict sheets: when the copy starts and ends, what the lines show, and that every way
// of leaving a conflict answers it, so the copy thread never waits for a sheet that is gone.
#include "CopySheetsTestSupport.h"

#include "platform/core/Strings.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

class CopyProgressSheetTest : public ::testing::Test, public SheetFixture {
protected:
    // A progress sheet on the window for a copy of the photos to `destination`.
    CopyProgressViewController* sheetFor(std::vector<PhotoPtr> photos, const CopyDestinationPtr& destination)
    {
        auto queue = PhotoCopyQueue::create(std::move(photos), {destination, FileGroupBehaviour::copyAll});
        queue->setCancelWatchdogDelay(100ms);
        auto* sheet = new CopyProgressViewController(queue, camera, environment, &window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(sheet, &CopyProgressViewController::conflictSheetOpened,
                         [this](FilenameConflictViewController* opened) { conflicts.push_back(opened); });
        return sheet;
    }
    // Puts an older file of that name in the target folder.
    void existing(const QString& name) { write(outFile(name), "old"); }

    std::vector<QPointer<FilenameConflictViewController>> conflicts;
};

TEST_F(CopyProgressSheetTest, StartsOnlyOnceShownAndClosesWhenDone)
{
    const auto target = destination(QStringLiteral("folder"));
    QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0001.JPG"))}, target);
    sheet->startQueueIfAppropriate();
    EXPECT_FALSE(sheet->hasStarted()) << "no window to ask a conflict in yet";
    EXPECT_FALSE(sleep->isHeld());
    sheet->open();
    EXPECT_TRUE(sheet->hasStarted());
    EXPECT_TRUE(sleep->isHeld());
    EXPECT_EQ(sleep->reasons, QStringList{QStringLiteral("Vornakel Transfer Copy")});
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_FALSE(sleep->isHeld());
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0001.JPG"))), pattern(1000));
}

TEST_F(CopyProgressSheetTest, ClosesWhenThereIsNothingToCopyOrTheDestinationRefuses)
{
    {
        SCOPED_TRACE("nothing to copy");
        QPointer<CopyProgressViewController> sheet = sheetFor({}, destination(QStringLiteral("folder")));
        sheet->open();
        ASSERT_TRUE(runUntil([&] { return !sheet; }));
        EXPECT_FALSE(sleep->isHeld());
    }
    {
        SCOPED_TRACE("refused");
        const auto refusing = destination(QStringLiteral("Photo Library"));
        refusing->acceptsSession = false;
        QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0002.JPG"))}, refusing);
        sheet->open();
        ASSERT_TRUE(runUntil([&] { return !sheet; }));
        EXPECT_FALSE(sleep->isHeld());
        auto* alert = window.findChild<QMessageBox*>(QStringLiteral("copyRefusedAlert"));
        ASSERT_TRUE(alert) << "the user learns why nothing was copied";
        EXPECT_TRUE(alert->informativeText().contains(QStringLiteral("Photo Library")));
        EXPECT_FALSE(QFileInfo::exists(outFile(QStringLiteral("IMG_0002.JPG"))));
        delete alert;
    }
    {
        SCOPED_TRACE("refused with a reason");
        const auto refusing = destination(QStringLiteral("Photo Library"));
        refusing->acceptsSession = false;
        refusing->reason = QStringLiteral("Choose a folder for <b>referenced</b> imports first.");
        QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0003.JPG"))}, refusing);
        sheet->open();
        ASSERT_TRUE(runUntil([&] { return !sheet; }));
        auto* alert = window.findChild<QMessageBox*>(QStringLiteral("copyRefusedAlert"));
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->informativeText(), refusing->reason);
        delete alert;
    }
}

TEST_F(CopyProgressSheetTest, WhatTheDestinationCouldNotTakeInIsSaidWhenTheCopyIsOver)
{
    const auto reporting = destination(QStringLiteral("Photo Library"));
    reporting->summary = QStringLiteral("1 photo was not imported; its files are in /tmp/kept.");
    QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0004.JPG"))}, reporting);
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_TRUE(QFileInfo::exists(outFile(QStringLiteral("IMG_0004.JPG"))));
    auto* alert = window.findChild<QMessageBox*>(QStringLiteral("copySummaryAlert"));
    ASSERT_TRUE(alert) << "files not taken in are not passed off as a success";
    EXPECT_EQ(alert->informativeText(), reporting->summary);

    const auto quiet = destination(QStringLiteral("folder"));
    delete alert;
    sheet = sheetFor({photo(QStringLiteral("IMG_0005.JPG"))}, quiet);
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_FALSE(window.findChild<QMessageBox*>(QStringLiteral("copySummaryAlert")));
}

TEST_F(CopyProgressSheetTest, FileLineNamesTheTargetWhenItDiffers)
{
    const auto variant = PhotoVariant::create(file(QStringLiteral("IMG_0001.JPG")));
    const struct {
        const char* name;
        std::optional<QString> target;
        QString shown;
    } cases[] = {
        {"same name", QStringLiteral("/x/2024/05/IMG_0001.JPG"), QStringLiteral("IMG_0001.JPG")},
        {"renamed by a preset or a unique name", QStringLiteral("/x/IMG_0001 2.JPG"),
         QStringLiteral("IMG_0001.JPG → IMG_0001 2.JPG")},
        {"skipped: no target", std::nullopt, QStringLiteral("IMG_0001.JPG")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CopyProgressViewController::fileLine(*variant, c.target), c.shown) << c.name;
    EXPECT_EQ(CopyProgressViewController::throughputLine(std::nullopt, 10), QString());
    const QString speed = CopyProgressViewController::throughputLine(2.0 * 1000 * 1000, 90);
    EXPECT_TRUE(speed.contains(QStringLiteral("MB/s"))) << speed.toStdString();
    EXPECT_TRUE(speed.endsWith(QStringLiteral("about 2 min left"))) << speed.toStdString();
}

TEST_F(CopyProgressSheetTest, SourceLineNamesTheCameraWhenItHasAName)
{
    const struct {
        const char* name;
        std::shared_ptr<VKLCamera> camera;
        QString shown;
    } cases[] = {
        {"named", std::make_shared<InProcessCamera>(QStringLiteral("VK-1")), QStringLiteral("Copying from VK-1")},
        {"no name", std::make_shared<InProcessCamera>(std::nullopt), QStringLiteral("Copying from the camera")},
        {"empty name", std::make_shared<InProcessCamera>(QString()), QStringLiteral("Copying from the camera")},
        {"no camera", nullptr, QStringLiteral("Copying from the camera")},
    };
    for (const auto& c : cases) {
        camera = c.camera;
        auto* sheet = sheetFor({}, destination(QStringLiteral("folder")));
        EXPECT_EQ(sheet->sourceCameraLabel()->text(), c.shown) << c.name;
        delete sheet;
    }
}

TEST_F(CopyProgressSheetTest, NamesWithMarkupShowLiterally)
{
    camera = std::make_shared<InProcessCamera>(QStringLiteral("<b>Bold</b> cam"));
    const QString markup = QStringLiteral("<b>x<b>.JPG");
    existing(markup);
    QPointer<CopyProgressViewController> sheet = sheetFor({photo(markup)}, destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return !conflicts.empty(); }));
    EXPECT_EQ(sheet->fileNameLabel()->textFormat(), Qt::PlainText);
    const QLabel* labels[] = {sheet->sourceCameraLabel(), conflicts[0]->titleLabel(),
                              conflicts[0]->onCameraImageName(), conflicts[0]->onMacImageName()};
    for (const QLabel* label : labels) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        EXPECT_TRUE(label->text().contains(QStringLiteral("<"))) << label->objectName().toStdString();
    }
    EXPECT_EQ(sheet->sourceCameraLabel()->text(), QStringLiteral("Copying from <b>Bold</b> cam"));
    conflicts[0]->skip();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
}

TEST_F(CopyProgressSheetTest, EscOnTheConflictSheetSkipsAndTheCopyGoesOn)
{
    existing(QStringLiteral("IMG_0001.JPG"));
    existing(QStringLiteral("IMG_0002.JPG"));
    QPointer<CopyProgressViewController> sheet = sheetFor(
        {photo(QStringLiteral("IMG_0001.JPG")), photo(QStringLiteral("IMG_0002.JPG")), photo(QStringLiteral("IMG_0003.JPG"))},
        destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return conflicts.size() == 1 && conflicts[0]; }));
    EXPECT_EQ(conflicts[0]->onCameraImageName()->text(), QStringLiteral("IMG_0001.JPG"));
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(conflicts[0], &esc);
    // Not remembered: the next existing file asks again; the window's close button skips as well.
    ASSERT_TRUE(runUntil([&] { return conflicts.size() == 2 && conflicts[1]; }));
    EXPECT_FALSE(conflicts[0]);
    conflicts[1]->close();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0001.JPG"))), QByteArray("old"));
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0002.JPG"))), QByteArray("old"));
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0003.JPG"))), pattern(1000));
    EXPECT_FALSE(sleep->isHeld());
}

TEST_F(CopyProgressSheetTest, AnswersWithAndWithoutRemembering)
{
    existing(QStringLiteral("A.JPG"));
    existing(QStringLiteral("B.JPG"));
    existing(QStringLiteral("C.JPG"));
    QPointer<CopyProgressViewController> sheet = sheetFor(
        {photo(QStringLiteral("A.JPG")), photo(QStringLiteral("B.JPG")), photo(QStringLiteral("C.JPG"))},
        destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return conflicts.size() == 1 && conflicts[0]; }));
    conflicts[0]->overwriteButton()->click();
    ASSERT_TRUE(runUntil([&] { return conflicts.size() == 2 && conflicts[1]; }));
    conflicts[1]->rememberChoiceCheckbox()->setChecked(true);
    conflicts[1]->uniqueNameButton()->click();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_EQ(conflicts.size(), 2u) << "the remembered answer settles C without asking";
    EXPECT_EQ(read(outFile(QStringLiteral("A.JPG"))), pattern(1000));
    EXPECT_EQ(read(outFile(QStringLiteral("B.JPG"))), QByteArray("old"));
    EXPECT_EQ(read(outFile(QStringLiteral("B 2.JPG"))), pattern(1000));
    EXPECT_EQ(read(outFile(QStringLiteral("C 2.JPG"))), pattern(1000));
}

TEST_F(CopyProgressSheetTest, CancelDuringAConflictClosesEverythingAndLetsTheComputerSleep)
{
    existing(QStringLiteral("IMG_0001.JPG"));
    existing(QStringLiteral("IMG_0002.JPG"));
    QPointer<CopyProgressViewController> sheet = sheetFor(
        {photo(QStringLiteral("IMG_0001.JPG")), photo(QStringLiteral("IMG_0002.JPG"))}, destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return conflicts.size() == 1 && conflicts[0]; }));
    EXPECT_TRUE(sleep->isHeld());
    sheet->cancelButton()->click();
    EXPECT_FALSE(sheet && sheet->cancelButton()->isEnabled());
    ASSERT_TRUE(runUntil([&] { return !sheet && !conflicts[0]; }));
    EXPECT_EQ(conflicts.size(), 1u) << "no further question in a cancelled copy";
    EXPECT_FALSE(sleep->isHeld());
    EXPECT_EQ(sleep->releaseCalls, 1);
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0001.JPG"))), QByteArray("old"));
    EXPECT_EQ(read(outFile(QStringLiteral("IMG_0002.JPG"))), QByteArray("old"));
    EXPECT_TRUE(temporaries(entries()).isEmpty());
}

TEST_F(CopyProgressSheetTest, EscOnTheProgressSheetCancelsInsteadOfClosing)
{
    // A stream that stalls keeps the copy running until it is cancelled.
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 200;
    auto stalled = file(QStringLiteral("SLOW.JPG"), 1000, std::nullopt, stall);
    QPointer<CopyProgressViewController> sheet =
        sheetFor({Photo::create(PhotoVariant::create(stalled), nullptr)}, destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return sheet->fileNameLabel()->text() == QStringLiteral("SLOW.JPG"); }));
    ASSERT_TRUE(runUntil([&] { return stalled->isStalled(); }));
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(sheet, &esc);
    ASSERT_TRUE(sheet) << "the sheet stays until the copy has ended";
    EXPECT_FALSE(sheet->cancelButton()->isEnabled());
    // The stream goes on, sees the cancel and stops; the copy ends and takes the sheet with it.
    EXPECT_TRUE(stalled->resumeStream());
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_FALSE(QFileInfo::exists(outFile(QStringLiteral("SLOW.JPG"))));
    EXPECT_TRUE(temporaries(entries()).isEmpty());
}

TEST_F(CopyProgressSheetTest, ConflictSheetShowsBothThumbnailsAndRevealsTheExistingFile)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    ASSERT_TRUE(picture.save(outFile(QStringLiteral("IMG_0001.JPG")), "JPG"));
    QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0001.JPG"))}, destination(QStringLiteral("folder")));
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return !conflicts.empty(); }));
    FilenameConflictViewController* conflict = conflicts[0];
    ASSERT_TRUE(runUntil([&] { return conflict->cameraThumbnailLoaded() && conflict->localThumbnailLoaded(); }));
    EXPECT_FALSE(conflict->onMacThumbnailView()->pixmap().isNull());
    EXPECT_FALSE(conflict->onCameraThumbnailView()->pixmap().isNull());
    conflict->revealButton()->click();
    ASSERT_EQ(workspace.revealed.size(), 1u);
    EXPECT_EQ(workspace.revealed[0], outFile(QStringLiteral("IMG_0001.JPG")));
    conflict->skip();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
}

TEST_F(CopyProgressSheetTest, ReplaceNeverReplacesAFileThisCopyWrote)
{
    struct Case {
        const char* name;
        bool fileThereBefore; // the one question is then about it, else about the first camera file
        bool rememberReplace;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"Replace for all remaining conflicts", true, true, {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}},
        {"Replace asked about this copy's own file", false, false, {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(outPath()).removeRecursively();
        QDir().mkpath(outPath());
        conflicts.clear();
        if (c.fileThereBefore)
            existing(QStringLiteral("IMG_0001.JPG"));
        // One name in two camera folders.
        std::vector<PhotoPtr> photos;
        const std::pair<const char*, const char*> cameraFiles[] = {{"100CANON", "first"}, {"101CANON", "second"}};
        for (const auto& [folder, content] : cameraFiles) {
            InProcessFile::Stream stream;
            stream.content = content;
            auto item = root()->addFolder(QString::fromLatin1(folder))->addFile(QStringLiteral("IMG_0001.JPG"));
            item->setStream(stream);
            photos.push_back(Photo::create(PhotoVariant::create(item)));
        }
        QPointer<CopyProgressViewController> sheet = sheetFor(photos, destination(QStringLiteral("folder")));
        sheet->open();
        ASSERT_TRUE(runUntil([&] { return conflicts.size() == 1 && conflicts[0]; }));
        conflicts[0]->rememberChoiceCheckbox()->setChecked(c.rememberReplace);
        conflicts[0]->overwriteButton()->click();
        ASSERT_TRUE(runUntil([&] { return !sheet; }));
        EXPECT_EQ(conflicts.size(), 1u);
        EXPECT_EQ(contents(), c.expected);
    }
}

TEST_F(CopyProgressSheetTest, ACameraThatStopsSendingFailsItsFileAfterTheStoredBoundAndTheCopyEnds)
{
    defaults().setValue(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(), 1.0);
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 200;
    auto stalled = file(QStringLiteral("SLOW.JPG"), 1000, std::nullopt, stall);
    QPointer<CopyProgressViewController> sheet = sheetFor(
        {Photo::create(PhotoVariant::create(stalled)), photo(QStringLiteral("NEXT.JPG"))}, destination(QStringLiteral("folder")));
    const PhotoCopyQueuePtr queue = sheet->queue();
    sheet->open();
    // The failed file keeps the sheet open, named; Done closes it.
    ASSERT_TRUE(runUntil([&] { return !sheet || sheet->hasFinished(); }));
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->problemsLabel()->text().startsWith(QStringLiteral("SLOW.JPG: "))) << sheet->problemsLabel()->text().toStdString();
    sheet->doneButton()->click();
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    // The failed file is the one record the copy keeps.
    ASSERT_EQ(queue->tally().failed.size(), 1u);
    const auto state = queue->tally().failed.front().state();
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->code, int(PhotoVariantCopyOperation::streamStalled));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("NEXT.JPG")}) << "no temporary, no partial file";
    EXPECT_FALSE(sleep->isHeld());
    stalled->resumeStream();
}

} // namespace

namespace {

TEST_F(CopyProgressSheetTest, TheConflictSheetNamesTheExistingFileWholeAndTitlesItsWindow)
{
    // A sorting preset made the target's name: the file that exists is not called what the camera calls it.
    const QString targetName = QStringLiteral("2024-06-01_Trip_to_the_Northern_Lakes-IMG_0040.JPG");
    existing(targetName);
    FilenameConflictViewController sheet(PhotoVariant::create(file(QStringLiteral("IMG_0040.JPG"))),
                                         outFile(targetName), {}, {}, workspace, &window);
    sheet.show();
    ASSERT_TRUE(runUntil([&] { return sheet.cameraThumbnailLoaded() && sheet.localThumbnailLoaded(); }));

    EXPECT_EQ(sheet.titleLabel()->text(), GeneralUI::format(QStringLiteral("CopyConflictTitle"), {targetName}));
    EXPECT_EQ(sheet.windowTitle(), GeneralUI::text(QStringLiteral("CopyConflictWindowTitle")));
    EXPECT_NE(sheet.windowTitle(), GeneralUI::text(QStringLiteral("CopyConflictOnComputerTitle")))
        << "the window is titled as the sheet, not as one of its columns";
    for (const QLabel* caption : {sheet.onCameraImageName(), sheet.onMacImageName()}) {
        // Nothing of the name is cut: its widest unbreakable piece fits the caption, which is tall enough for
        // the lines the name wraps to.
        EXPECT_LE(caption->minimumSizeHint().width(), caption->width()) << caption->toolTip().toStdString();
        EXPECT_GE(caption->height(), caption->heightForWidth(caption->width())) << caption->toolTip().toStdString();
    }
    EXPECT_EQ(sheet.onMacImageName()->text().remove(QChar(0x200B)), targetName);

    // The sheet as a user sees it; under a window manager the whole screen too, title bar and all.
    const QDir shots(QStringLiteral(VKL_SCREENSHOT_DIR));
    ASSERT_TRUE(shots.mkpath(QStringLiteral(".")));
    EXPECT_TRUE(sheet.grab().save(shots.filePath(QStringLiteral("copy-conflict-preset-name.png"))));
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        ASSERT_TRUE(runUntil([&] { return sheet.windowHandle() && sheet.windowHandle()->isExposed(); }));
        runFor(500ms); // the window manager frames the window in its own time
        EXPECT_TRUE(sheet.screen()->grabWindow(0).save(shots.filePath(QStringLiteral("copy-conflict-preset-name-screen.png"))));
    }
    EXPECT_EQ(sheet.onMacImageName()->accessibleName(), targetName) << "read out without the break marks";
    EXPECT_EQ(sheet.onCameraImageName()->text(), QStringLiteral("IMG_0040.JPG"));
}

TEST_F(CopyProgressSheetTest, ACopyWithFailedFilesStaysOpenNamingTheFilesTheirReasonsAndTheFolder)
{
    InProcessFile::Stream failing;
    failing.chunkSize = 500;
    failing.errorAfterBytes = 700;
    write(outFile(QStringLiteral("not-a-folder")), "a file where the copies' folder should be");
    const struct {
        const char* name;
        std::vector<QString> good;
        std::vector<QString> streamFaults;
        bool targetIsAFile;
        QString headline;
        QString reasonPart;
        int lines;
    } cases[] = {
        {"a stream error mid-file", {QStringLiteral("GOOD.JPG")}, {QStringLiteral("BROKEN.JPG")}, false,
         QStringLiteral("1 of 2 files copied"), QStringLiteral("BROKEN.JPG: "), 1},
        {"a target that is not a folder", {QStringLiteral("A.JPG"), QStringLiteral("B.JPG")}, {}, true,
         QStringLiteral("0 of 2 files copied"), QStringLiteral("Not a directory"), 2},
        {"more failures than are named",
         {},
         {QStringLiteral("F1.JPG"), QStringLiteral("F2.JPG"), QStringLiteral("F3.JPG"), QStringLiteral("F4.JPG"),
          QStringLiteral("F5.JPG"), QStringLiteral("F6.JPG"), QStringLiteral("F7.JPG")},
         false, QStringLiteral("0 of 7 files copied"), QStringLiteral("and 2 more"), 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PhotoPtr> photos;
        for (const QString& name : c.streamFaults)
            photos.push_back(Photo::create(PhotoVariant::create(file(name, 2000, std::nullopt, failing)), nullptr));
        for (const QString& name : c.good)
            photos.push_back(photo(name));
        const auto target = c.targetIsAFile
            ? std::make_shared<RecordingDestination>(QStringLiteral("folder"), outFile(QStringLiteral("not-a-folder")))
            : destination(QStringLiteral("folder"));
        QPointer<CopyProgressViewController> sheet = sheetFor(photos, target);
        sheet->open();
        ASSERT_TRUE(runUntil([&] { return sheet && sheet->hasFinished(); }));
        ASSERT_TRUE(sheet) << "a copy with failed files does not close like a success";
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_FALSE(sleep->isHeld());
        EXPECT_EQ(sheet->fileNameLabel()->text(), c.headline);
        const QString problems = sheet->problemsLabel()->text();
        EXPECT_TRUE(sheet->problemsLabel()->isVisible());
        EXPECT_EQ(sheet->problemsLabel()->textFormat(), Qt::PlainText);
        EXPECT_TRUE(problems.contains(c.reasonPart)) << problems.toStdString();
        EXPECT_EQ(problems.split(QLatin1Char('\n')).size(), c.lines) << problems.toStdString();
        EXPECT_FALSE(sheet->cancelButton()->isVisible());
        if (std::string(c.name) == "a stream error mid-file") {
            EXPECT_TRUE(saveScreenshot(sheet, QStringLiteral("copy-finished-with-failures")));
        }
        // The folder that holds the copies (for a target that is not a folder, the one that holds it) is shown.
        ASSERT_TRUE(sheet->showFolderButton()->isVisible());
        workspace.opened.clear();
        sheet->showFolderButton()->click();
        ASSERT_EQ(workspace.opened.size(), 1u);
        EXPECT_EQ(workspace.opened[0], QUrl::fromLocalFile(outPath()));
        // A camera going away now (which rejects the window's sheets) leaves the report; Done, the close button or
        // Esc closes it.
        sheet->reject();
        ASSERT_TRUE(sheet && sheet->isVisible());
        if (c.lines == 1) {
            sheet->doneButton()->click();
        } else if (c.lines == 2) {
            sheet->close();
        } else {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(sheet, &esc);
        }
        ASSERT_TRUE(runUntil([&] { return !sheet; }));
        EXPECT_TRUE(temporaries(entries()).isEmpty());
    }
}

TEST_F(CopyProgressSheetTest, CancelWhileTheDestinationGetsReadyEndsAtOnceAndShowsNoError)
{
    const auto waiting = destination(QStringLiteral("Photo Editor"));
    waiting->holdsStart = true;
    QPointer<CopyProgressViewController> sheet = sheetFor({photo(QStringLiteral("IMG_0001.JPG"))}, waiting);
    sheet->open();
    ASSERT_TRUE(waiting->heldStart);
    sheet->cancelButton()->click();
    EXPECT_EQ(waiting->startCancelled, 1) << "the destination stops getting ready";
    ASSERT_TRUE(runUntil([&] { return !sheet; }));
    EXPECT_FALSE(sleep->isHeld());
    // The start's late answer, a refusal now, is no error the user has to read.
    waiting->heldStart(false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.findChild<QMessageBox*>(QStringLiteral("copyRefusedAlert")));
    EXPECT_FALSE(QFileInfo::exists(outFile(QStringLiteral("IMG_0001.JPG"))));
}

TEST_F(CopyProgressSheetTest, SaysWhichFilesOfRawAndJpegPhotosTheCopyLeavesOnTheCamera)
{
    const PhotoPtr pair = photo(QStringLiteral("IMG_0001.CR2"), 1000, std::nullopt, QStringLiteral("IMG_0001.JPG"));
    const PhotoPtr single = photo(QStringLiteral("IMG_0002.JPG"));
    const struct {
        const char* name;
        std::vector<PhotoPtr> photos;
        FileGroupBehaviour behaviour;
        QString shown;
    } cases[] = {
        {"JPEG of a pair", {single, pair}, FileGroupBehaviour::preferPreview,
         QStringLiteral("JPEG files only; RAW files left on the camera")},
        {"RAW of a pair", {pair}, FileGroupBehaviour::preferOriginal,
         QStringLiteral("RAW files only; JPEG files left on the camera")},
        {"every file", {pair}, FileGroupBehaviour::copyAll, QString()},
        {"no pair to split", {single}, FileGroupBehaviour::preferPreview, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto queue = PhotoCopyQueue::create(c.photos, {destination(QStringLiteral("folder")), c.behaviour});
        CopyProgressViewController sheet(queue, camera, environment, &window);
        EXPECT_EQ(sheet.variantsLabel()->text(), c.shown);
        EXPECT_EQ(sheet.variantsLabel()->isVisibleTo(&sheet), !c.shown.isEmpty());
    }
}

TEST_F(CopyProgressSheetTest, TimeLeftCountsOnlyTheBytesStillToCopy)
{
    existing(QStringLiteral("A.JPG"));
    existing(QStringLiteral("B.JPG"));
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 200;
    auto slow = file(QStringLiteral("C.JPG"), 1000, std::nullopt, stall);
    auto queue = PhotoCopyQueue::create({photo(QStringLiteral("A.JPG")), photo(QStringLiteral("B.JPG")),
                                         Photo::create(PhotoVariant::create(slow), nullptr)},
                                        {destination(QStringLiteral("folder")), FileGroupBehaviour::copyAll});
    auto record = start(queue, ConflictAnswer{FileNameConflictResolution::skip, true});
    // Two skipped files leave nothing of theirs to copy; of the third, 200 of 1000 bytes have come. The count can
    // be read before the camera's side has parked the stream, so the stall is waited for too.
    EXPECT_TRUE(runUntil([&] { return queue->bytesRemaining() == 800 && slow->isStalled(); }))
        << "remaining: " << queue->bytesRemaining().value_or(-1);
    EXPECT_EQ(queue->bytesRemaining(), 800);
    EXPECT_TRUE(slow->resumeStream());
    ASSERT_TRUE(runUntil([&] { return record->queueFinished > 0; }));
    EXPECT_EQ(queue->bytesRemaining(), 0);
}

} // namespace
