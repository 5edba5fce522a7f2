// What one copy owes to the files it writes and the folders it writes into: two camera files that come to one
// name are both kept (or the later one skipped), a camera that stops sending fails only its file, and the
// temporaries of copies that died go whenever a copy targets their folder.
#include "CopyTestSupport.h"

#include "sorting/PhotoSortingToken.h"
#include "sorting/UserDefinedPhotoSorting.h"
#include "sorting/UserDefinedSortingStep.h"

#include <atomic>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;
using Kind = PhotoVariantCopyOperation::State::Kind;

namespace {

// A camera file whose bytes are its own text, in a folder of the card.
PhotoVariantPtr cameraFile(const std::shared_ptr<InProcessFolder>& folder, const QString& name, const QByteArray& content)
{
    InProcessFile::Stream stream;
    stream.content = content;
    auto item = folder->addFile(name);
    item->setStream(stream);
    return PhotoVariant::create(item);
}

} // namespace

TEST(CopySession, FilesOfOneCopyThatComeToOneNameNeverReplaceEachOther)
{
    using R = FileNameConflictResolution;
    struct Case {
        const char* name;
        R answer;
        bool remember;
        bool fileThereBefore;
        bool rawAndJpegWithoutExtension; // one photo's two files under a preset that drops the extension
        // "name: content" afterwards; "old" is the file that was there before.
        QStringList expected;
        bool secondWritten;
        bool secondNameTakenByThisCopy;
    };
    const std::vector<Case> cases = {
        {"overwrite, remembered", R::overwrite, true, false, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        {"overwrite, asked each time", R::overwrite, false, false, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        // The file from before is replaced; the one this copy wrote in its place is not.
        {"overwrite, a file there before", R::overwrite, true, true, false,
         {"IMG_0001 2.JPG: second", "IMG_0001.JPG: first"}, true, true},
        {"unique name, a file there before", R::useUniqueName, true, true, false,
         {"IMG_0001 2.JPG: first", "IMG_0001 3.JPG: second", "IMG_0001.JPG: old"}, true, false},
        {"skip", R::skip, true, false, false, {"IMG_0001.JPG: first"}, false, true},
        {"RAW and JPEG without extension, overwrite", R::overwrite, true, false, true,
         {"IMG_0001: first", "IMG_0001 2: second"}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFixture fixture;
        if (c.fileThereBefore)
            CopyFixture::write(fixture.outFile("IMG_0001.JPG"), "old");
        auto destination = fixture.flatDestination();
        std::vector<PhotoPtr> photos;
        const auto first = fixture.root()->addFolder(QStringLiteral("100CANON"));
        if (c.rawAndJpegWithoutExtension) {
            photos.push_back(Photo::create(cameraFile(first, "IMG_0001.ARW", "first"),
                                           cameraFile(first, "IMG_0001.JPG", "second")));
            destination->setSorting(UserDefinedPhotoSorting::create(
                QStringLiteral("Names only"), QStringLiteral("test.names-only"),
                UserDefinedSortingStep::create({tokenObject(PhotoSortingToken::originalDisplayName)}), {}));
        } else {
            photos.push_back(Photo::create(cameraFile(first, "IMG_0001.JPG", "first")));
            const auto second = fixture.root()->addFolder(QStringLiteral("101CANON"));
            photos.push_back(Photo::create(cameraFile(second, "IMG_0001.JPG", "second")));
        }
        auto queue = PhotoCopyQueue::create(photos, {destination, FileGroupBehaviour::copyAll});
        fixture.run(queue, ConflictAnswer{c.answer, c.remember});

        EXPECT_EQ(fixture.contents(), c.expected);
        ASSERT_EQ(queue->operations().size(), 2u);
        const auto& second = queue->operations()[1];
        EXPECT_EQ(second->state().kind, Kind::copiedSuccessfully) << stateName(second->state().kind);
        EXPECT_EQ(second->finalDestination().has_value(), c.secondWritten);
        // What the summary tells apart: a file renamed or skipped for another file of this copy.
        EXPECT_EQ(second->targetTakenByThisCopy(), c.secondNameTakenByThisCopy);
        EXPECT_FALSE(queue->operations()[0]->targetTakenByThisCopy());
        EXPECT_TRUE(queue->wroteFile(*queue->operations()[0]->finalDestination()));
    }
}

TEST(CopySession, AStalledStreamFailsItsFileAndTheCopyGoesOn)
{
    CopyFixture fixture;
    InProcessFile::Stream stall;
    stall.chunkSize = 100;
    stall.stallAfterBytes = 300;
    auto delivered = std::make_shared<std::atomic<qint64>>(0);
    stall.onChunkDelivered = [delivered](qint64 bytes) { *delivered = bytes; };
    auto stalled = fixture.file(QStringLiteral("STALL.JPG"), 1000, std::nullopt, stall);
    auto queue = PhotoCopyQueue::create({Photo::create(PhotoVariant::create(stalled)), fixture.photo(QStringLiteral("NEXT.JPG"))},
                                        {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    // Long enough that the next file, which streams at once, never comes near it on a loaded machine.
    queue->setStalledStreamTimeout(1s);
    fixture.run(queue);

    ASSERT_EQ(queue->operations().size(), 2u);
    const auto state = queue->operations()[0]->state();
    EXPECT_EQ(state.kind, Kind::failed) << stateName(state.kind);
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->domain, PhotoVariantCopyOperation::errorDomain());
    EXPECT_EQ(state.error->code, int(PhotoVariantCopyOperation::streamStalled));
    EXPECT_TRUE(state.error->description().contains(QStringLiteral("the camera stopped sending")))
        << state.error->description().toStdString();
    EXPECT_EQ(queue->operations()[1]->state().kind, Kind::copiedSuccessfully);
    EXPECT_EQ(fixture.entries(), QStringList{QStringLiteral("NEXT.JPG")}) << "no temporary, no partial file";

    // The camera sending again later changes nothing.
    EXPECT_TRUE(stalled->resumeStream());
    ASSERT_TRUE(runUntil([&] { return *delivered > 300; }));
    EXPECT_EQ(fixture.entries(), QStringList{QStringLiteral("NEXT.JPG")});
}

TEST(CopySession, TheStalledStreamBoundIsAUserDefaultInSeconds)
{
    struct Case {
        QVariant stored;
        std::chrono::milliseconds expected;
    };
    const std::vector<Case> cases = {
        {QVariant(), 30s},
        {QVariant(5), 5s},
        {QVariant(0.25), 250ms},
        {QVariant(0), 30s},
        {QVariant(-3), 30s},
        {QVariant(QStringLiteral("soon")), 30s},
        {QVariant(1e12), 86400s},
    };
    CopyFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        if (c.stored.isValid())
            fixture.defaults().setValue(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(), c.stored);
        else
            fixture.defaults().removeObject(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey());
        EXPECT_EQ(PhotoCopyQueue::stalledStreamTimeout(fixture.defaults()), c.expected);
    }
    EXPECT_EQ(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(), QStringLiteral("StalledStreamTimeout"));
}

TEST(CopySession, StaleTemporariesGoWheneverACopyTargetsTheirFolder)
{
    struct Case {
        const char* name;
        std::chrono::hours clockAhead;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"a day and more old", 25h, true},
        {"under a day old: may be another copy's", 23h, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFixture fixture;
        // Every file of the copy is there already and skipped, so nothing is written into the folder.
        CopyFixture::write(fixture.outFile("IMG_0001.JPG"), "old");
        const QString leftover = fixture.outFile(StagedFile::temporaryPrefix() + QStringLiteral("crashed"));
        CopyFixture::write(leftover, "part of a file");
        auto queue = PhotoCopyQueue::create({fixture.photo(QStringLiteral("IMG_0001.JPG"))},
                                            {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        const auto ahead = c.clockAhead;
        queue->setLeftoverClock([ahead] { return std::chrono::system_clock::now() + ahead; });
        fixture.run(queue, ConflictAnswer{FileNameConflictResolution::skip});
        EXPECT_FALSE(queue->operations().front()->finalDestination().has_value());
        EXPECT_EQ(QFileInfo::exists(leftover), !c.removed);
        EXPECT_EQ(CopyFixture::read(fixture.outFile("IMG_0001.JPG")), QByteArray("old"));
    }
}
