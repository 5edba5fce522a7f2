// The headless copy tool against simulated camera folders: files of one name in two camera folders are all
// kept and the summary says how, and a camera that stops sending fails its files instead of holding the tool
// (which sleeps while it waits).
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString output;
    double cpuSeconds = 0; // user and system time the tool used
};

double childCpuSeconds()
{
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

ToolRun runTool(const QStringList& arguments)
{
    ToolRun run;
    const double before = childCpuSeconds();
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(VKL_COPY_CAMERA_TOOL), arguments);
    if (!tool.waitForFinished(120000)) {
        tool.kill();
        tool.waitForFinished();
        run.output = QStringLiteral("the tool did not end");
        return run;
    }
    run.exitCode = tool.exitCode();
    run.output = QString::fromUtf8(tool.readAll());
    run.cpuSeconds = childCpuSeconds() - before;
    return run;
}

// Writes a camera file; `name` is raw bytes, so that names that are not UTF-8 can be made.
void cameraFile(const QString& folder, const QByteArray& name, const QByteArray& content)
{
    QDir().mkpath(folder);
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.toStdString();
    ASSERT_EQ(::write(fd, content.constData(), size_t(content.size())), content.size());
    ::close(fd);
}

void writeIni(const QString& camera, const QByteArray& settings)
{
    QFile ini(camera + QStringLiteral("/camera.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nstartsInStorageMode=true\n" + settings);
}

struct Folder {
    QStringList names;    // sorted
    QStringList contents; // sorted: which file landed under which of two equal names is not fixed
};

Folder folderOf(const QString& path)
{
    Folder folder;
    QDir dir(path);
    folder.names = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : folder.names) {
        QFile file(dir.filePath(name));
        folder.contents << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString());
    }
    folder.contents.sort();
    return folder;
}

} // namespace

TEST(CopyCameraTool, FilesOfOneNameInTwoCameraFoldersAreAllKeptAndTheSummarySaysSo)
{
    const QString replacement = QString(QChar(0xFFFD));
    struct Case {
        const char* answer;
        bool fileThereBefore;
        QStringList names;
        QStringList contents;
        QString summary;
        bool asksAboutAFileFromBefore;
    };
    const QStringList allNames = {QStringLiteral("IMG_0001 2.JPG"), QStringLiteral("IMG_0001.JPG"),
                                  replacement + QStringLiteral(" 2.JPG"), replacement + QStringLiteral(".JPG")};
    const QStringList allContents = {QStringLiteral("bad one"), QStringLiteral("bad two"), QStringLiteral("first"),
                                     QStringLiteral("second")};
    const QString keptBoth = QStringLiteral(
        "4 files: 4 copied, 0 skipped, 0 failed, 0 cancelled; "
        "2 copied under a new name because another file of this copy had taken theirs;");
    const std::vector<Case> cases = {
        {"overwrite", false, allNames, allContents, keptBoth, false},
        // The file from before is replaced by the first camera file, never by the second.
        {"overwrite", true, allNames, allContents, keptBoth, true},
        {"unique", false, allNames, allContents, keptBoth, false},
        {"skip", false, {QStringLiteral("IMG_0001.JPG"), replacement + QStringLiteral(".JPG")}, {}, QStringLiteral(
             "4 files: 2 copied, 2 skipped, 0 failed, 0 cancelled; "
             "2 skipped because another file of this copy had taken their name;"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.answer) + (c.fileThereBefore ? ", a file there before" : ""));
        QTemporaryDir dir;
        const QString camera = dir.filePath(QStringLiteral("camera"));
        const QString out = dir.filePath(QStringLiteral("out"));
        cameraFile(camera + QStringLiteral("/DCIM/100CANON"), "IMG_0001.JPG", "first");
        cameraFile(camera + QStringLiteral("/DCIM/101CANON"), "IMG_0001.JPG", "second");
        // Both are listed with U+FFFD for the byte that is not UTF-8.
        cameraFile(camera + QStringLiteral("/DCIM/101CANON"), "\xff.JPG", "bad one");
        cameraFile(camera + QStringLiteral("/DCIM/101CANON"), "\xfe.JPG", "bad two");
        writeIni(camera, {});
        QDir().mkpath(out);
        if (c.fileThereBefore)
            cameraFile(out, "IMG_0001.JPG", "old");

        const ToolRun run = runTool({QStringLiteral("--conflict"), QString::fromLatin1(c.answer), camera, out});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(c.summary)) << run.output.toStdString();
        EXPECT_EQ(run.output.contains(QStringLiteral("IMG_0001.JPG exists at")), c.asksAboutAFileFromBefore)
            << run.output.toStdString();
        const Folder folder = folderOf(out);
        EXPECT_EQ(folder.names, c.names);
        if (!c.contents.isEmpty()) {
            EXPECT_EQ(folder.contents, c.contents);
        }
    }
}

TEST(CopyCameraTool, ACameraThatStopsSendingFailsItsFilesAndTheToolSleepsMeanwhile)
{
    QTemporaryDir dir;
    const QString camera = dir.filePath(QStringLiteral("camera"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QByteArray bytes = QByteArray("camera bytes ").repeated(100);
    for (const char* name : {"A.JPG", "B.JPG", "C.JPG"})
        cameraFile(camera + QStringLiteral("/DCIM/100TEST"), name, bytes);
    // B stops after 200 bytes for far longer than the bound; the camera's link stays taken meanwhile, so C gets
    // no byte either.
    writeIni(camera, "chunkSize=100\nstreamStallAfterBytes=200\nstreamStallMs=60000\nstreamFaultFiles=B.JPG\n");

    constexpr double kBound = 2.5;
    const ToolRun run = runTool({QStringLiteral("--stalled-stream-timeout"), QString::number(kBound), camera, out});
    EXPECT_EQ(run.exitCode, 2) << run.output.toStdString();
    for (const char* name : {"B.JPG", "C.JPG"}) {
        EXPECT_TRUE(run.output.contains(QString::fromLatin1(name) + QStringLiteral(" failed: the camera stopped sending")))
            << run.output.toStdString();
    }
    EXPECT_TRUE(run.output.contains(QStringLiteral("3 files: 1 copied, 0 skipped, 2 failed, 0 cancelled;")))
        << run.output.toStdString();
    EXPECT_EQ(folderOf(out).names, QStringList{QStringLiteral("A.JPG")}) << "no temporary, no partial file";
    // Two bounds of waiting: a tool that polled instead of sleeping spends them on the processor (well over
    // 2 x kBound), one that sleeps spends little more than its start-up (under a second, unloaded).
    EXPECT_LT(run.cpuSeconds, kBound) << run.cpuSeconds << " s of processor time";
}
