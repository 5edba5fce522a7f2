// The stream the network backends hand a camera file through: chunks in order, reading paused while the receiver
// falls behind, the listed size held to, and one completion after every chunk.
#include "platform/camera/network/CameraFileStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace vornakel
