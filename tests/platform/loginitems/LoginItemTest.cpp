#include "platform/loginitems/HelperProcess.h"
#include "platform/loginitems/LoginItem.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

using namespace vornakel;
using vornakel::test::runUntil;

TEST(LoginItem, EntryIsWrittenAndRemovedWithTheSetting)
{
    LoginItem item(QStringLiteral("com.vornakel.test-watcher"), QStringLiteral("Test Helper"),
                   QStringLiteral("/opt/Vornakel \"Transfer\"/bin/helper $HOME"), {QStringLiteral("--app"), QStringLiteral("/a b/100%")});
    EXPECT_EQ(item.entryPath(), qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/com.vornakel.test-watcher.desktop"));
    EXPECT_FALSE(item.isEnabled());

    ASSERT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_TRUE(item.isEnabled());
    QFile file(item.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nType=Application\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nName=Test Helper\n")));
    EXPECT_TRUE(entry.contains(
        QStringLiteral("\nExec=\"/opt/Vornakel \\\\\"Transfer\\\\\"/bin/helper \\\\$HOME\" \"--app\" \"/a b/100%%\"\n")))
        << entry.toStdString();
    // Nothing but the entry is left in the folder (the temporary file was renamed).
    EXPECT_EQ(QDir(LoginItem::autostartFolder()).entryList(QDir::Files), QStringList{QStringLiteral("com.vornakel.test-watcher.desktop")});

    ASSERT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.setEnabled(false), std::nullopt);
}

TEST(LoginItem, UnwritableFolderIsReportedAsAnError)
{
    const QString folder = LoginItem::autostartFolder();
    QDir(folder).removeRecursively();
    QDir().mkpath(QFileInfo(folder).path());
    QFile blocker(folder); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LoginItem item(QStringLiteral("com.vornakel.test-watcher"), QStringLiteral("Helper"), QStringLiteral("/bin/true"));
    const auto error = item.setEnabled(true);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, LoginItemErrorWriteFailed);
    EXPECT_FALSE(item.isEnabled());
    QFile::remove(folder);
}

TEST(HelperProcess, RunningInstanceIsSeenAndAskedToQuitOrComeForward)
{
    const QString identifier = QStringLiteral("com.vornakel.test-helper");
    HelperProcess control(identifier, QStringLiteral("/nonexistent/helper"));
    EXPECT_FALSE(control.isRunning());
    EXPECT_FALSE(control.requestQuit());
    EXPECT_FALSE(control.requestActivation());

    HelperInstance instance(identifier);
    ASSERT_TRUE(instance.claim());
    EXPECT_TRUE(control.isRunning());
    HelperInstance second(identifier);
    EXPECT_FALSE(second.claim());

    bool activationRequested = false;
    bool quitRequested = false;
    QObject::connect(&instance, &HelperInstance::activationRequested, [&] { activationRequested = true; });
    QObject::connect(&instance, &HelperInstance::quitRequested, [&] { quitRequested = true; });
    EXPECT_TRUE(control.requestActivation());
    EXPECT_TRUE(runUntil([&] { return activationRequested; }));
    EXPECT_FALSE(quitRequested);
    EXPECT_TRUE(control.requestQuit());
    EXPECT_TRUE(runUntil([&] { return quitRequested; }));
}

TEST(HelperProcess, StaleSocketIsTakenOverAndFailedStartsAreErrors)
{
    const QString identifier = QStringLiteral("com.vornakel.test-stale");
    QFile stale(HelperProcess::socketPath(identifier));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    HelperInstance instance(identifier);
    EXPECT_TRUE(instance.claim());

    HelperProcess missing(identifier, QStringLiteral("/nonexistent/helper"));
    const auto error = missing.launch();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, LoginItemErrorLaunchFailed);
}

TEST(HelperProcess, AnInstanceAnswersOnlyForItsOwnHomeFolder)
{
    // Two sessions with different home folders share one runtime folder: each runs its own instance.
    const QString identifier = QStringLiteral("com.vornakel.test-homes");
    const QByteArray home = qgetenv("HOME");
    const QString first = HelperProcess::socketPath(identifier);
    HelperInstance instance(identifier);
    ASSERT_TRUE(instance.claim());

    qputenv("HOME", QDir::tempPath().toUtf8() + "/another-home");
    const QString second = HelperProcess::socketPath(identifier);
    EXPECT_NE(second, first);
    EXPECT_EQ(QFileInfo(second).path(), QFileInfo(first).path()) << "the same runtime folder";
    EXPECT_FALSE(HelperProcess(identifier, {}).isRunning()) << "the other home's instance does not count";
    HelperInstance other(identifier);
    EXPECT_TRUE(other.claim());
    qputenv("HOME", home);

    EXPECT_EQ(HelperProcess::socketPath(identifier), first);
    EXPECT_TRUE(QFileInfo(first).fileName().contains(QStringLiteral("-%1-").arg(::getuid())))
        << "keyed by the user too: " << first.toStdString();
}

// Mended: a helper that listens in another runtime folder (started under another home) was not seen, so every
// start of the application there started one more.
TEST(HelperProcess, SeesAndEndsThisUsersInstancesWhateverTheirRuntimeFolder)
{
    QTemporaryDir folder;
    const QString program = folder.filePath(QStringLiteral("watcher"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), program));
    HelperProcess control(QStringLiteral("com.vornakel.test-watcher-elsewhere"), program);
    EXPECT_FALSE(control.isRunning());

    QProcess running;
    running.start(program, {QStringLiteral("600")});
    ASSERT_TRUE(running.waitForStarted(10000));
    EXPECT_EQ(processesRunningProgram(program), QList<qint64>{running.processId()});
    EXPECT_TRUE(control.isRunning());
    EXPECT_TRUE(processesRunningProgram(folder.filePath(QStringLiteral("missing"))).isEmpty());

    EXPECT_TRUE(control.requestQuit());
    ASSERT_TRUE(running.waitForFinished(10000));
    EXPECT_EQ(running.exitStatus(), QProcess::CrashExit) << "ended by its signal";
    EXPECT_FALSE(control.isRunning());
}
