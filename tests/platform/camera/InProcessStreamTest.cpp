#include "CameraTestSupport.h"
#include "support/InProcessCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = InProcessFile::patternByte(i);
    return bytes;
}

} // namespace

TEST(InProcessStream, DeliversContentOrPatternAndEndsAsTheFaultsSay)
{
    struct Case {
        const char* name;
        InProcessFile::Stream stream;
        QByteArray expectedData;
        std::optional<int> expectedError;
    };
    const QByteArray content = QByteArrayLiteral("0123456789abcdefghij");
    auto withContent = [&](InProcessFile::Stream stream) {
        stream.content = content;
        stream.chunkSize = 6;
        return stream;
    };
    InProcessFile::Stream failing;
    failing.errorAfterBytes = 8;
    InProcessFile::Stream shortened;
    shortened.shortByBytes = 5;
    InProcessFile::Stream patterned;
    patterned.chunkSize = 400;
    const std::vector<Case> cases = {
        {"content", withContent({}), content, std::nullopt},
        {"error after 8 bytes", withContent(failing), content.left(8), int(VKLErrorReadFailed)},
        {"short by 5 bytes", withContent(shortened), content.left(15), std::nullopt},
        {"pattern of the stated size", patterned, pattern(1000), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = std::make_shared<InProcessFile>(QStringLiteral("IMG_0001.JPG"), std::nullopt, 1000);
        file->setStream(c.stream);
        const auto result = test::streamFile(file, DispatchQueue::createSerial(QStringLiteral("test.stream")));
        EXPECT_EQ(result.data, c.expectedData);
        EXPECT_EQ(result.completions, 1);
        EXPECT_TRUE(result.contextUnchanged);
        EXPECT_EQ(result.error ? std::optional<int>(result.error->code) : std::nullopt, c.expectedError);
    }
}

TEST(InProcessStream, AStalledStreamWaitsUntilResumedAndAStopEndsIt)
{
    auto file = std::make_shared<InProcessFile>(QStringLiteral("IMG_0002.JPG"), std::nullopt, 300);
    InProcessFile::Stream stream;
    stream.chunkSize = 100;
    stream.stallAfterBytes = 150;
    auto delivered = std::make_shared<std::atomic<qint64>>(0);
    stream.onChunkDelivered = [delivered](qint64 total) { delivered->store(total); };
    file->setStream(stream);
    EXPECT_FALSE(file->resumeStream());

    auto completed = std::make_shared<std::atomic<int>>(0);
    auto received = std::make_shared<QByteArray>();
    file->streamItem({}, {},
                     [received](const VKLFileSystemItem::ItemPtr&, const QByteArray& data, const VKLFileSystemItem::StreamContext&) {
                         received->append(data);
                         return 0;
                     },
                     {}, [completed](const VKLFileSystemItem::ItemPtr&, std::optional<Error> error, const VKLFileSystemItem::StreamContext&) {
                         EXPECT_FALSE(error);
                         ++*completed;
                     },
                     {});
    ASSERT_TRUE(runUntil([&] { return delivered->load() == 150; }));
    test::runFor(std::chrono::milliseconds(30));
    EXPECT_EQ(*completed, 0);
    EXPECT_EQ(delivered->load(), 150);
    EXPECT_TRUE(file->resumeStream());
    ASSERT_TRUE(runUntil([&] { return completed->load() == 1; }));
    EXPECT_EQ(*received, pattern(300));

    // A chunk block that answers 1 ends the stream as cancelled.
    const auto stopped = test::streamFile(file, {}, 1);
    EXPECT_EQ(stopped.chunks, 1);
    ASSERT_TRUE(stopped.error);
    EXPECT_EQ(stopped.error->code, int(VKLErrorCancelled));
}
