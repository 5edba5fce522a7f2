#include "platform/core/ConfinedFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>

using namespace vornakel;

namespace {

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

class ConfinedFileTest : public ::testing::Test {
protected:
    ConfinedFileTest()
    {
        writeFile(outside.filePath(QStringLiteral("decoy")), "decoy");
        QDir().mkpath(outside.filePath(QStringLiteral("folder")));
    }
    // Everything outside the root is as it was: the decoy unchanged and nothing added.
    void expectOutsideUntouched()
    {
        EXPECT_EQ(contentsOf(outside.filePath(QStringLiteral("decoy"))), QByteArray("decoy"));
        EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{QStringLiteral("decoy"), QStringLiteral("folder")}));
        EXPECT_TRUE(QDir(outside.filePath(QStringLiteral("folder"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
    QString at(const QString& relative) const { return root.filePath(relative); }

    QTemporaryDir root;
    QTemporaryDir outside;
};

} // namespace

TEST_F(ConfinedFileTest, ALinkAtTheNameIsReplacedNeverWrittenThrough)
{
    for (const auto durability : {ConfinedFile::Durability::disposable, ConfinedFile::Durability::durable}) {
        SCOPED_TRACE(int(durability));
        QDir(at(QStringLiteral("a"))).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(at(QStringLiteral("a"))));
        ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("decoy")), at(QStringLiteral("a/file"))));
        EXPECT_FALSE(ConfinedFile::read(root.path(), at(QStringLiteral("a/file")), 100));
        EXPECT_FALSE(ConfinedFile::isRegularFile(root.path(), at(QStringLiteral("a/file"))));

        ASSERT_EQ(ConfinedFile::replace(root.path(), at(QStringLiteral("a/file")), "ours", durability), std::nullopt);
        expectOutsideUntouched();
        EXPECT_FALSE(QFileInfo(at(QStringLiteral("a/file"))).isSymLink());
        EXPECT_EQ(ConfinedFile::read(root.path(), at(QStringLiteral("a/file")), 100), std::optional<QByteArray>("ours"));
        // Missing folders are made on the way; no temporary is left anywhere.
        ASSERT_EQ(ConfinedFile::replace(root.path(), QStringLiteral("a/b/c/file"), "deep", durability), std::nullopt);
        EXPECT_EQ(contentsOf(at(QStringLiteral("a/b/c/file"))), QByteArray("deep"));
        EXPECT_EQ(QDir(at(QStringLiteral("a"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{QStringLiteral("b"), QStringLiteral("file")}));
    }
}

TEST_F(ConfinedFileTest, NothingIsReachedThroughALinkedFolderOrOutsideTheRoot)
{
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("folder")), at(QStringLiteral("linked"))));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("decoy")), at(QStringLiteral("linkedFile"))));
    writeFile(outside.filePath(QStringLiteral("folder/inside")), "decoy");
    const struct {
        const char* title;
        QString path;
        int readError;
    } cases[] = {
        {"a linked folder", at(QStringLiteral("linked/inside")), ELOOP},
        {"a linked folder further up", at(QStringLiteral("linked/x/inside")), ELOOP},
        {"a linked file used as a folder", at(QStringLiteral("linkedFile/inside")), ELOOP},
        {"a climb out of the root", at(QStringLiteral("../decoy")), EINVAL},
        {"a relative climb", QStringLiteral("x/../../decoy"), EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_TRUE(ConfinedFile::replace(root.path(), c.path, "ours", ConfinedFile::Durability::disposable));
        EXPECT_TRUE(ConfinedFile::makeFolder(root.path(), c.path + QStringLiteral("/sub")));
        int readError = 0;
        EXPECT_FALSE(ConfinedFile::read(root.path(), c.path, 100, &readError));
        EXPECT_EQ(readError, c.readError);
        EXPECT_FALSE(ConfinedFile::isRegularFile(root.path(), c.path));
    }
    ASSERT_TRUE(QFile::remove(outside.filePath(QStringLiteral("folder/inside"))));
    expectOutsideUntouched();
}

TEST_F(ConfinedFileTest, AReplacedFileKeepsItsPermissionsAndOnlyRegularFilesAreRead)
{
    writeFile(at(QStringLiteral("kept")), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(at(QStringLiteral("kept"))).constData(), 0640), 0);
    ASSERT_EQ(ConfinedFile::replace(root.path(), at(QStringLiteral("kept")), "new", ConfinedFile::Durability::durable),
              std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(at(QStringLiteral("kept"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    ASSERT_EQ(::mkfifo(QFile::encodeName(at(QStringLiteral("fifo"))).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(at(QStringLiteral("folder"))));
    const struct {
        const char* name;
        qint64 maxBytes;
        std::optional<QByteArray> contents;
        int error;
    } cases[] = {
        {"kept", 3, QByteArray("new"), 0},
        {"kept", 2, std::nullopt, EFBIG},
        {"fifo", 100, std::nullopt, EINVAL},
        {"folder", 100, std::nullopt, EINVAL},
        {"missing", 100, std::nullopt, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int error = 0;
        EXPECT_EQ(ConfinedFile::read(root.path(), at(QLatin1String(c.name)), c.maxBytes, &error), c.contents);
        EXPECT_EQ(error, c.error);
    }
    // A folder in the way of the file's name fails the write and leaves no temporary.
    EXPECT_TRUE(ConfinedFile::replace(root.path(), at(QStringLiteral("folder")), "x", ConfinedFile::Durability::disposable));
    EXPECT_TRUE(QDir(at(QStringLiteral("folder"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("fifo"), QStringLiteral("folder"), QStringLiteral("kept")}));
}
