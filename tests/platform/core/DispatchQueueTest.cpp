#include "platform/core/DispatchQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace vornakel;
using vornakel::test::runUntil;

TEST(DispatchQueue, SerialQueueRunsBlocksInPostingOrderOffTheMainThread)
{
    auto queue = DispatchQueue::createSerial(copyQueueLabel());
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> onMain = 0;
    std::atomic<int> labelled = 0;
    for (int i = 0; i < 200; ++i) {
        queue->async([&, i] {
            if (DispatchQueue::isMainThread())
                ++onMain;
            if (DispatchQueue::currentLabel() == copyQueueLabel() && queue->isCurrent())
                ++labelled;
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    }
    ASSERT_TRUE(runUntil([&] { std::lock_guard lock(mutex); return order.size() == 200; }));
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(onMain, 0);
    EXPECT_EQ(labelled, 200);
}

TEST(DispatchQueue, MainQueuePostsInsteadOfRunningInTheCallersStack)
{
    QStringList steps;
    DispatchQueue::main()->async([&] {
        DispatchQueue::main()->async([&] { steps << QStringLiteral("inner"); });
        steps << QStringLiteral("outer done");
        EXPECT_TRUE(DispatchQueue::main()->isCurrent());
    });
    steps << QStringLiteral("posted");
    ASSERT_TRUE(runUntil([&] { return steps.size() == 3; }));
    EXPECT_EQ(steps, (QStringList{QStringLiteral("posted"), QStringLiteral("outer done"), QStringLiteral("inner")}));
}

TEST(DispatchQueue, AsyncAfterWaitsAtLeastTheDelay)
{
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.delay"));
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> ran = false;
    std::atomic<long long> elapsedMs = 0;
    queue->asyncAfter(std::chrono::milliseconds(60), [&] {
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        ran = queue->isCurrent();
    });
    ASSERT_TRUE(runUntil([&] { return ran.load(); }));
    EXPECT_GE(elapsedMs.load(), 60);
}
