// The stream the network backends hand a camera file through: chunks in order, reading paused while the receiver
// falls behind, the listed size held to, and one completion after every chunk.
#include "platform/camera/network/CameraFileStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace vornakel {
namespace {

using test::runUntil;

// A receiver that takes nothing until it is let go.
struct HeldReceiver {
    std::mutex mutex;
    std::condition_variable released;
    bool held = true;
    QByteArray data;
    int chunks = 0;

    void release()
    {
        std::lock_guard lock(mutex);
        held = false;
        released.notify_all();
    }
};

QByteArray megabyte(int index) { return QByteArray(1024 * 1024, char('a' + index % 26)); }

TEST(CameraFileStream, PausesTheSourceWhileTheReceiverFallsBehindAndCompletesAfterEveryChunk)
{
    constexpr int kMegabytes = 24;
    auto receiver = std::make_shared<HeldReceiver>();
    std::optional<std::optional<Error>> completed;
    int completions = 0;
    bool chunksBeforeCompletion = false;
    auto stream = CameraFileStream::create(
        {}, [receiver](const auto&, const QByteArray& bytes, const auto&) {
            std::unique_lock lock(receiver->mutex);
            receiver->released.wait(lock, [&] { return !receiver->held; });
            receiver->data += bytes;
            ++receiver->chunks;
            return 0;
        },
        DispatchQueue::createSerial(QStringLiteral("test.receiver")),
        [&](const auto&, std::optional<Error> error, const auto&) {
            completed = error;
            ++completions;
            chunksBeforeCompletion = receiver->chunks == kMegabytes;
        },
        {}, uint64_t(kMegabytes) * 1024 * 1024);
    std::vector<bool> pauses;
    stream->setPauseHook([&](bool paused) { pauses.push_back(paused); });
    QByteArray sent;
    for (int i = 0; i < kMegabytes; ++i) {
        sent += megabyte(i);
        ASSERT_TRUE(stream->receive(megabyte(i)));
    }
    ASSERT_FALSE(pauses.empty());
    EXPECT_TRUE(pauses.front()) << "the source pauses while 16 MB wait";
    stream->end(std::nullopt);
    receiver->release();
    ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
    EXPECT_EQ(*completed, std::nullopt);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(chunksBeforeCompletion);
    EXPECT_TRUE(receiver->data == sent);
    EXPECT_EQ(pauses, (std::vector<bool>{true, false})) << "the source resumes once, at its end";
}

TEST(CameraFileStream, ALengthOtherThanTheListedSizeFailsTheFile)
{
    struct Case {
        const char* what;
        int sentBytes;
        bool acceptedAll;
        std::optional<Error> sourceError;
        int error;
    };
    const Case cases[] = {
        {"ended early", 900, true, std::nullopt, VKLErrorReadFailed},
        {"more than listed", 1100, false, std::nullopt, VKLErrorReadFailed},
        {"a generic failure of the source", 1000, true, errorWithVKLErrorCode(VKLErrorGeneric), VKLErrorReadFailed},
        {"a lost connection stays one", 500, true, errorWithVKLErrorCode(VKLErrorConnectionLost), VKLErrorConnectionLost},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        std::optional<std::optional<Error>> completed;
        auto stream = CameraFileStream::create({}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
                                               [&](const auto&, std::optional<Error> error, const auto&) { completed = error; },
                                               {}, 1000);
        EXPECT_EQ(stream->receive(QByteArray(each.sentBytes, 'x')), each.acceptedAll);
        stream->end(each.sourceError);
        ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
        ASSERT_TRUE(completed->has_value());
        EXPECT_EQ((*completed)->code, each.error);
    }
}

// Bytes read straight into the stream's room and bytes handed over come out as one file, in order, in chunks of
// 1 MB; a room filled with less than was lent (or nothing) leaves no stray bytes behind.
TEST(CameraFileStream, BytesReadIntoItsRoomJoinTheBytesHandedOverInOrder)
{
    constexpr qsizetype kSize = 3 * 1024 * 1024 + 12345;
    QByteArray file(kSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < kSize; ++i)
        file[i] = char(i * 7 % 253);
    auto received = std::make_shared<QByteArray>();
    auto chunkSizes = std::make_shared<std::vector<qsizetype>>();
    std::optional<std::optional<Error>> completed;
    auto stream = CameraFileStream::create(
        {}, [received, chunkSizes](const auto&, const QByteArray& bytes, const auto&) {
            *received += bytes;
            chunkSizes->push_back(bytes.size());
            return 0;
        },
        DispatchQueue::createSerial(QStringLiteral("test.receiver")),
        [&](const auto&, std::optional<Error> error, const auto&) { completed = error; }, {}, uint64_t(kSize));
    qsizetype at = 0;
    for (int step = 0; at < kSize; ++step) {
        const qsizetype wanted = std::min<qsizetype>(kSize - at, 1000 + step * 4099 % 300000);
        if (step % 3 == 0) {
            ASSERT_TRUE(stream->receive(QByteArrayView(file).sliced(at, wanted)));
            at += wanted;
            continue;
        }
        const std::span<char> room = stream->room(wanted);
        ASSERT_FALSE(room.empty());
        ASSERT_LE(qsizetype(room.size()), wanted);
        // Every fourth room is filled only in part, every fifth not at all; the rest are filled whole.
        const qsizetype filled = step % 5 == 0 ? 0 : step % 4 == 0 ? qsizetype(room.size()) / 2 : qsizetype(room.size());
        std::fill(room.begin(), room.end(), '#');
        std::copy_n(file.constData() + at, filled, room.data());
        ASSERT_TRUE(stream->receivedInRoom(filled));
        at += filled;
    }
    EXPECT_EQ(stream->received(), uint64_t(kSize));
    stream->end(std::nullopt);
    ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
    EXPECT_EQ(*completed, std::nullopt);
    EXPECT_TRUE(*received == file) << received->size() << " of " << kSize << " bytes";
    ASSERT_FALSE(chunkSizes->empty());
    for (size_t i = 0; i + 1 < chunkSizes->size(); ++i)
        EXPECT_EQ((*chunkSizes)[i], 1024 * 1024) << "chunk " << i;
}

TEST(CameraFileStream, BytesReadIntoItsRoomPastTheListedSizeFailTheFile)
{
    std::optional<std::optional<Error>> completed;
    auto stream = CameraFileStream::create({}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
                                           [&](const auto&, std::optional<Error> error, const auto&) { completed = error; },
                                           {}, 1000);
    const std::span<char> room = stream->room(1100);
    ASSERT_EQ(room.size(), 1100u);
    std::fill(room.begin(), room.end(), 'x');
    EXPECT_FALSE(stream->receivedInRoom(1100));
    stream->end(std::nullopt);
    ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
    ASSERT_TRUE(completed->has_value());
    EXPECT_EQ((*completed)->code, VKLErrorReadFailed);
}

} // namespace
} // namespace vornakel
