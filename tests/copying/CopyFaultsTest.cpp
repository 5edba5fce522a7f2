#include "CopyTestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornakel;
using namespace vornakel::test;
using Kind = PhotoVariantCopyOperation::State::Kind;

namespace {

// What the copy kept of its one file, and that file's progress.
struct CopiedOne {
    PhotoCopyQueue::FileRecord file;
    ProgressPtr progress;
};

std::optional<CopiedOne> copyOne(CopyFixture& fixture, const PhotoPtr& photo, FileNameConflictResolution answer,
                                 std::shared_ptr<CopyRecord>* recordOut = nullptr)
{
    auto queue = PhotoCopyQueue::create({photo}, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    auto record = fixture.run(queue, ConflictAnswer{answer});
    if (recordOut)
        *recordOut = record;
    EXPECT_EQ(record->files.size(), 1u);
    EXPECT_EQ(record->itemProgresses.size(), 1u);
    if (record->files.empty() || record->itemProgresses.empty())
        return std::nullopt;
    return CopiedOne{record->files.front(), record->itemProgresses.front()};
}

} // namespace

TEST(CopyFaults, AFailedStreamLeavesTheTargetAsItWasAndNoTemporary)
{
    const QByteArray original = QByteArray("original bytes ").repeated(100);
    InProcessFile::Stream failing;
    failing.chunkSize = 1000;
    failing.errorAfterBytes = 2500;
    InProcessFile::Stream shortened;
    shortened.chunkSize = 1000;
    shortened.shortByBytes = 1;
    struct Case {
        const char* name;
        InProcessFile::Stream stream;
        bool targetExists;
        FileNameConflictResolution answer;
        int expectedErrorCode;
        QString expectedDomain;
    };
    const std::vector<Case> cases = {
        {"error mid-file, overwrite", failing, true, FileNameConflictResolution::overwrite, int(VKLErrorReadFailed), vklErrorDomain()},
        {"error mid-file, new file", failing, false, FileNameConflictResolution::skip, int(VKLErrorReadFailed), vklErrorDomain()},
        {"short stream, overwrite", shortened, true, FileNameConflictResolution::overwrite,
         int(PhotoVariantCopyOperation::streamIncomplete), PhotoVariantCopyOperation::errorDomain()},
        {"short stream, new file", shortened, false, FileNameConflictResolution::skip,
         int(PhotoVariantCopyOperation::streamIncomplete), PhotoVariantCopyOperation::errorDomain()},
        {"short stream, unique name", shortened, true, FileNameConflictResolution::useUniqueName,
         int(PhotoVariantCopyOperation::streamIncomplete), PhotoVariantCopyOperation::errorDomain()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFixture fixture;
        if (c.targetExists)
            CopyFixture::write(fixture.outFile("IMG_0001.JPG"), original);
        auto variant = PhotoVariant::create(fixture.file(QStringLiteral("IMG_0001.JPG"), 5000, std::nullopt, c.stream));
        auto copied = copyOne(fixture, Photo::create(variant), c.answer);
        ASSERT_TRUE(copied);
        const auto state = copied->file.state();
        EXPECT_EQ(state.kind, Kind::failed) << stateName(state.kind);
        ASSERT_TRUE(state.error);
        EXPECT_EQ(state.error->domain, c.expectedDomain);
        EXPECT_EQ(state.error->code, c.expectedErrorCode);
        EXPECT_TRUE(copied->progress->isFinished());
        EXPECT_EQ(fixture.entries(), c.targetExists ? QStringList{"IMG_0001.JPG"} : QStringList{});
        if (c.targetExists) {
            EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001.JPG")), original);
        }
    }
}

TEST(CopyFaults, AFileSizeLimitFailsTheCopyAndLeavesNoFile)
{
    CopyFixture fixture;
    auto variant = PhotoVariant::create(fixture.file(QStringLiteral("BIG.ARW"), 300 * 1024));
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    auto copied = copyOne(fixture, Photo::create(variant), FileNameConflictResolution::skip);
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(copied);
    const auto state = copied->file.state();
    EXPECT_EQ(state.kind, Kind::failed) << stateName(state.kind);
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->code, int(PhotoVariantCopyOperation::fileWriteFailed));
    EXPECT_EQ(state.error->userInfo.value(QStringLiteral("underlyingCode")).toInt(), EFBIG);
    EXPECT_TRUE(fixture.entries().isEmpty()) << fixture.entries().join(QLatin1Char(' ')).toStdString();
}

TEST(CopyFaults, ASymbolicLinkAtTheTargetIsNeverFollowed)
{
    struct Case {
        FileNameConflictResolution answer;
        bool linkRemains;
        const char* uniqueName; // where the copy lands besides the link, if anywhere
    };
    const std::vector<Case> cases = {
        {FileNameConflictResolution::skip, true, nullptr},
        {FileNameConflictResolution::useUniqueName, true, "IMG_0001 2.JPG"},
        {FileNameConflictResolution::overwrite, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.answer));
        CopyFixture fixture;
        // A dangling link: following it would create the file elsewhere.
        const QString elsewhere = fixture.path(QStringLiteral("elsewhere/victim.JPG"));
        QDir().mkpath(fixture.path(QStringLiteral("elsewhere")));
        ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(),
                            QFile::encodeName(fixture.outFile("IMG_0001.JPG")).constData()), 0);
        std::shared_ptr<CopyRecord> record;
        auto copied = copyOne(fixture, fixture.photo(QStringLiteral("IMG_0001.JPG")), c.answer, &record);
        EXPECT_EQ(record->count(QStringLiteral("conflict:IMG_0001.JPG")), 1);
        EXPECT_FALSE(QFileInfo::exists(elsewhere));
        EXPECT_EQ(QFileInfo(fixture.outFile("IMG_0001.JPG")).isSymLink(), c.linkRemains);
        if (!c.linkRemains) {
            EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001.JPG")), CopyFixture::pattern(1000));
        }
        if (c.uniqueName) {
            EXPECT_EQ(CopyFixture::read(fixture.outFile(QString::fromLatin1(c.uniqueName))), CopyFixture::pattern(1000));
        }
        EXPECT_EQ(copied->file.state().kind, Kind::copiedSuccessfully);
    }
}

TEST(CopyFaults, TheCopyCarriesTheCaptureDateAsItsModificationTime)
{
    CopyFixture fixture;
    const QDateTime captured(QDate(2019, 7, 14), QTime(16, 45, 30, 250), Qt::UTC);
    auto copied = copyOne(fixture, fixture.photo(QStringLiteral("IMG_0001.JPG"), 1000, captured),
                             FileNameConflictResolution::skip);
    ASSERT_EQ(copied->file.state().kind, Kind::copiedSuccessfully);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(fixture.outFile("IMG_0001.JPG")).constData(), &info), 0);
    EXPECT_EQ(qint64(info.st_mtim.tv_sec), captured.toSecsSinceEpoch());
    EXPECT_EQ(info.st_mtim.tv_nsec, 250000000);

    // Without a date the copy keeps the time it was written.
    CopyFixture undated;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    copyOne(undated, undated.photo(QStringLiteral("IMG_0002.JPG")), FileNameConflictResolution::skip);
    EXPECT_GE(QFileInfo(undated.outFile("IMG_0002.JPG")).lastModified().toSecsSinceEpoch(), before - 1);
}

TEST(CopyFaults, AFolderThatCannotBeMadeFailsTheCopyWithoutAFile)
{
    CopyFixture fixture;
    fixture.defaults().setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(fixture.outPath()));
    auto destination = FolderCopyDestination::create(fixture.defaults(), fixture.presets());
    // The year folder's name is taken by a file.
    CopyFixture::write(fixture.outFile("2020"), "not a folder");
    const QDateTime captured(QDate(2020, 1, 2), QTime(12, 0), Qt::UTC);
    auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("IMG_0001.JPG"), 1000, captured)},
                                        {destination, FileGroupBehaviour::copyAll});
    const auto record = fixture.run(queue);
    ASSERT_EQ(record->files.size(), 1u);
    const auto state = record->files.front().state();
    EXPECT_EQ(state.kind, Kind::failed) << stateName(state.kind);
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->code, ENOTDIR);
    EXPECT_EQ(fixture.entries(), QStringList({"2020"}));
}
