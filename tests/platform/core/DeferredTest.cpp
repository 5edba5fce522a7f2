#include "platform/core/Deferred.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace vornakel;
using vornakel::test::runUntil;

TEST(Deferred, TheFirstFillWinsAndLaterOnesAreIgnored)
{
    Deferred<int> deferred;
    EXPECT_FALSE(deferred.isFilled());
    EXPECT_EQ(deferred.peek(), std::nullopt);
    const Deferred<int> copy = deferred;
    EXPECT_TRUE(copy.fill(1));
    EXPECT_FALSE(deferred.fill(2));
    EXPECT_TRUE(deferred.isFilled());
    EXPECT_EQ(deferred.peek(), 1);
    EXPECT_EQ(deferred.waitForever(), 1);
}

TEST(Deferred, WaitingGivesNothingAfterTheDeadlineAndTheValueOnceAnotherThreadFillsIt)
{
    Deferred<QString> deferred;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(deferred.waitFor(std::chrono::milliseconds(20)), std::nullopt);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    DispatchQueue::global()->async([deferred] { deferred.fill(QStringLiteral("from a worker")); });
    EXPECT_EQ(deferred.waitFor(std::chrono::seconds(5)), QStringLiteral("from a worker"));
}

TEST(Deferred, UponRunsOnTheGivenQueueAndNeverInTheCallersStack)
{
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.upon"));
    Deferred<int> deferred;
    std::atomic<int> before = 0;
    std::atomic<bool> beforeOnQueue = false;
    deferred.upon(queue, [&](const int& value) {
        beforeOnQueue = queue->isCurrent();
        before = value;
    });
    deferred.fill(7);
    ASSERT_TRUE(runUntil([&] { return before.load() == 7; }));
    EXPECT_TRUE(beforeOnQueue.load());

    // Already filled: the block is still posted, here to the main queue, rather than run at once.
    bool after = false;
    deferred.upon(DispatchQueue::main(), [&](const int& value) { after = value == 7 && DispatchQueue::isMainThread(); });
    EXPECT_FALSE(after);
    EXPECT_TRUE(runUntil([&] { return after; }));
}
