#include "platform/core/DispatchQueue.h"
#include "platform/services/FeedbackReport.h"
#include "platform/services/HelpBook.h"
#include "platform/services/RunningApplications.h"
#include "platform/services/SoftwareUpdater.h"
#include "platform/services/Workspace.h"

#include "support/RecordingWorkspace.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace vornakel {
namespace {

using test::RecordingWorkspace;

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(FeedbackReportTest, WritesTextFileUnderFreshNameAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Feedback"));
    const FeedbackReport report{QStringLiteral("  The grid is great.\n"), QStringLiteral("ann@example.com"),
                                QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC), QStringLiteral("1.0.0")};

    const FeedbackWriteResult first = Feedback::writeReport(report, folder);
    const FeedbackWriteResult second = Feedback::writeReport(report, folder);

    ASSERT_FALSE(first.error) << first.error->description().toStdString();
    ASSERT_FALSE(second.error);
    EXPECT_EQ(QFileInfo(*first.path).fileName(), QStringLiteral("Feedback 2026-03-04 05.06.07.txt"));
    EXPECT_EQ(QFileInfo(*second.path).fileName(), QStringLiteral("Feedback 2026-03-04 05.06.07 2.txt"));
    const QString text = readAll(*first.path);
    EXPECT_TRUE(text.contains(QStringLiteral("The grid is great.")));
    EXPECT_TRUE(text.contains(QStringLiteral("Reply to: ann@example.com")));
    EXPECT_TRUE(text.contains(QStringLiteral("Version: 1.0.0")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(FeedbackReportTest, RefusesEmptyMessageAndReportsUnwritableFolder)
{
    QTemporaryDir dir;
    const FeedbackReport empty{QStringLiteral(" \n "), {}, QDateTime::currentDateTimeUtc(), {}};
    const FeedbackWriteResult refused = Feedback::writeReport(empty, dir.path());
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, Feedback::EmptyMessage);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // A file where the folder should be: the folder cannot be made.
    const QString blocker = dir.filePath(QStringLiteral("file"));
    QFile(blocker).open(QIODevice::WriteOnly);
    const FeedbackReport report{QStringLiteral("hello"), {}, QDateTime::currentDateTimeUtc(), {}};
    const FeedbackWriteResult failed = Feedback::writeReport(report, blocker + QStringLiteral("/sub"));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, Feedback::WriteFailed);
    EXPECT_FALSE(failed.path);
}

class HelpBookTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordingWorkspace workspace;
    HelpBook book{workspace, QStringLiteral(":/help"), dir.filePath(QStringLiteral("Help"))};
};

TEST_F(HelpBookTest, BookNameIsPrefixedHelpIdentifier)
{
    EXPECT_EQ(HelpBook::helpBookName(), QStringLiteral("com.vornakel.zediriri-zir.help"));
}

TEST_F(HelpBookTest, AnchorsResolveToTheirPagesOnceRegistered)
{
    EXPECT_FALSE(book.urlForAnchor(QStringLiteral("Help_CopyFolder"))) << "no pages before registering";
    ASSERT_FALSE(book.registerBooks());

    const struct {
        QString anchor;
        QString page;
        QString fragment;
    } cases[] = {
        {QStringLiteral("Help_CopyFolder"), QStringLiteral("copy-folder.html"), QStringLiteral("Help_CopyFolder")},
        {QStringLiteral("Help_CopyPhotos"), QStringLiteral("copy-photos.html"), QStringLiteral("Help_CopyPhotos")},
        {QStringLiteral("Help_CopyLightroom"), QStringLiteral("copy-lightroom.html"), QStringLiteral("Help_CopyLightroom")},
        {QString(), QStringLiteral("index.html"), QString()},
        {QStringLiteral("Help_NoSuchAnchor"), QStringLiteral("index.html"), QString()},
        {QStringLiteral("Help_Copy"), QStringLiteral("index.html"), QString()}, // a prefix of real anchors
    };
    for (const auto& c : cases) {
        const std::optional<QUrl> url = book.urlForAnchor(c.anchor);
        ASSERT_TRUE(url) << c.anchor.toStdString();
        EXPECT_EQ(QFileInfo(url->toLocalFile()).fileName(), c.page) << c.anchor.toStdString();
        EXPECT_EQ(url->fragment(), c.fragment) << c.anchor.toStdString();
        EXPECT_TRUE(QFileInfo::exists(url->toLocalFile()));
    }
    EXPECT_FALSE(book.urlForAnchor(QStringLiteral("Help_CopyFolder"), QStringLiteral("com.other.help")));
}

TEST_F(HelpBookTest, OpenRegistersOnDemandAndOpensThroughWorkspace)
{
    EXPECT_TRUE(book.openHelpAnchor(QStringLiteral("Help_CopyPhotos"), HelpBook::helpBookName()));
    ASSERT_EQ(workspace.opened.size(), 1u);
    EXPECT_TRUE(workspace.opened[0].isLocalFile());
    EXPECT_EQ(workspace.opened[0].fragment(), QStringLiteral("Help_CopyPhotos"));

    EXPECT_FALSE(book.openHelpAnchor(QStringLiteral("Help_CopyPhotos"), QStringLiteral("other.help")));
    EXPECT_EQ(workspace.opened.size(), 1u);
}

TEST(HelpBookErrorsTest, MissingPagesAreAnError)
{
    QTemporaryDir dir;
    RecordingWorkspace workspace;
    HelpBook book(workspace, dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("Help")));
    const std::optional<Error> error = book.registerBooks();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, HelpBook::NoPages);
    EXPECT_FALSE(book.isRegistered());
}

TEST(SoftwareUpdaterTest, ReportsUpToDateLaterOnMainQueue)
{
    SoftwareUpdater updater;
    bool reported = false;
    updater.checkForUpdates([&](SoftwareUpdater::CheckResult result) {
        EXPECT_EQ(result, SoftwareUpdater::CheckResult::UpToDate);
        EXPECT_TRUE(DispatchQueue::isMainThread());
        reported = true;
    });
    EXPECT_FALSE(reported) << "never inside the caller's stack";
    EXPECT_TRUE(test::runUntil([&] { return reported; }));
}

TEST(SoftwareUpdaterTest, DelegateIsDroppedWithItsContext)
{
    SoftwareUpdater updater;
    auto context = std::make_unique<QObject>();
    updater.setWillInstallUpdateHandler(context.get(), [] {});
    EXPECT_TRUE(updater.hasWillInstallUpdateHandler());
    context.reset();
    EXPECT_FALSE(updater.hasWillInstallUpdateHandler());
}

TEST(SystemWorkspaceTest, LocatesDesktopEntriesAndExecutables)
{
    const QString applications = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    ASSERT_TRUE(QDir().mkpath(applications));
    const QString entryPath = QDir(applications).filePath(QStringLiteral("com.example.Viewer.desktop"));
    QFile entry(entryPath);
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer --new-window %U\n"
                "[Desktop Action Other]\nExec=viewer --other\n");
    entry.close();

    SystemWorkspace workspace;
    EXPECT_EQ(workspace.locateApplication(QStringLiteral("com.example.Viewer")), entryPath);
    EXPECT_EQ(workspace.locateApplication(QStringLiteral("com.example.Viewer.desktop")), entryPath);
    EXPECT_EQ(SystemWorkspace::commandFromDesktopEntry(entryPath),
              (QStringList{QStringLiteral("viewer"), QStringLiteral("--new-window")}));
    const std::optional<QString> shell = workspace.locateApplication(QStringLiteral("sh"));
    ASSERT_TRUE(shell);
    EXPECT_TRUE(QFileInfo(*shell).isExecutable());
    EXPECT_FALSE(workspace.locateApplication(QStringLiteral("com.example.Missing")));
    EXPECT_FALSE(workspace.locateApplication(QString()));

    const std::optional<Error> error = workspace.launchApplication(QStringLiteral("com.example.Missing"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, Workspace::ApplicationNotFound);
}

TEST(SystemWorkspaceTest, FindsRunningProcessesByExecutableName)
{
    SystemWorkspace workspace;
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const std::vector<qint64> pids = workspace.runningProcesses(self);
    EXPECT_NE(std::find(pids.begin(), pids.end(), qint64(::getpid())), pids.end());
    EXPECT_TRUE(workspace.runningProcesses(QStringLiteral("no-such-program-here")).empty());
}

TEST(RunningApplicationsTest, AttributesProcessesByTheEntryCommandNotByExecutableName)
{
    const QString shell = QFileInfo(QStandardPaths::findExecutable(QStringLiteral("sh"))).canonicalFilePath();
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("editor"));
    const QString other = dir.filePath(QStringLiteral("other"));
    for (const QString& path : {script, other}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    const QString sh = QStringLiteral("sh");
    const QString mode = QStringLiteral("--catalog");
    struct Case {
        const char* what;
        QStringList arguments;
        QString executable;
        QStringList command;
        bool matches;
    };
    const Case cases[] = {
        {"the program itself", {script, mode, QStringLiteral("x")}, script, {script, mode}, true},
        {"started by name on the path", {sh, QStringLiteral("-c"), QStringLiteral("true")}, shell, {sh, QStringLiteral("-c")}, true},
        {"script through its interpreter", {shell, script, mode}, shell, {script, mode}, true},
        {"same interpreter, other script", {shell, other, mode}, shell, {script, mode}, false},
        {"same interpreter, no script", {shell, QStringLiteral("-c"), QStringLiteral("true")}, shell, {script}, false},
        {"fixed argument missing", {script}, script, {script, mode}, false},
        {"fixed argument differs", {script, QStringLiteral("--other")}, script, {script, mode}, false},
        {"empty command", {script}, script, {}, false},
        {"no arguments", {}, script, {script}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SystemRunningApplications::commandLineMatches(c.arguments, c.executable, c.command), c.matches)
            << c.what;
}

TEST(RunningApplicationsTest, FindsAndTerminatesOnlyTheEntrysProcesses)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("editor.sh"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nwhile true; do sleep 1; done\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    const QString entries = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    ASSERT_TRUE(QDir().mkpath(entries));
    QFile entry(QDir(entries).filePath(QStringLiteral("com.example.ScriptEditor.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Editor\nExec=\"%1\" %u\n").arg(script).toUtf8());
    entry.close();

    // Another program run by the same interpreter must be left alone.
    QProcess editor;
    QProcess bystander;
    editor.start(script, {});
    bystander.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while true; do sleep 1; done")});
    ASSERT_TRUE(editor.waitForStarted());
    ASSERT_TRUE(bystander.waitForStarted());

    const qint64 editorPid = editor.processId();
    SystemRunningApplications applications;
    ASSERT_TRUE(test::runUntil([&] { return !applications.instances(QStringLiteral("com.example.ScriptEditor")).empty(); }));
    EXPECT_EQ(applications.instances(QStringLiteral("com.example.ScriptEditor")), std::vector<qint64>{editorPid});
    EXPECT_TRUE(applications.instances(QStringLiteral("com.example.Missing")).empty());

    EXPECT_TRUE(applications.terminate(editorPid));
    EXPECT_TRUE(test::runUntil([&] { return applications.isTerminated(editorPid); }));
    EXPECT_FALSE(applications.isTerminated(bystander.processId()));
    bystander.kill();
    bystander.waitForFinished();
    editor.waitForFinished();
}

} // namespace
} // namespace vornakel
