#include "platform/core/DispatchQueue.h"
#include "support/TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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

TEST(DispatchQueue, SerialQueuePostsInsteadOfRunningInTheCallersStack)
{
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.nested"));
    std::mutex mutex;
    QStringList steps;
    queue->async([&] {
        queue->async([&] {
            std::lock_guard lock(mutex);
            steps << QStringLiteral("inner");
        });
        std::lock_guard lock(mutex);
        steps << QStringLiteral("outer done");
    });
    ASSERT_TRUE(runUntil([&] { std::lock_guard lock(mutex); return steps.size() == 2; }));
    EXPECT_EQ(steps, (QStringList{QStringLiteral("outer done"), QStringLiteral("inner")}));
}

TEST(DispatchQueue, BlocksPostedToTheMainQueueFromAWorkerRunOnTheMainThread)
{
    std::atomic<bool> ran = false;
    std::atomic<bool> onMain = false;
    std::atomic<bool> workerWasMain = true;
    DispatchQueue::global()->async([&] {
        workerWasMain = DispatchQueue::isMainThread() || DispatchQueue::main()->isCurrent();
        DispatchQueue::main()->async([&] {
            onMain = DispatchQueue::isMainThread() && DispatchQueue::main()->isCurrent()
                && DispatchQueue::currentLabel() == DispatchQueue::main()->label();
            ran = true;
        });
    });
    ASSERT_TRUE(runUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain.load());
    EXPECT_FALSE(workerWasMain.load());
}

TEST(DispatchQueue, GlobalQueueRunsBlocksSideBySide)
{
    // Each block waits (with a deadline) for the other to have started: only concurrent execution lets both see it.
    std::atomic<int> arrived = 0;
    std::atomic<int> sawBoth = 0;
    std::atomic<int> finished = 0;
    auto queue = DispatchQueue::global(DispatchQueue::QoS::UserInitiated);
    EXPECT_TRUE(queue->isConcurrent());
    for (int i = 0; i < 2; ++i) {
        queue->async([&] {
            ++arrived;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (arrived < 2 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (arrived == 2 && queue->isCurrent())
                ++sawBoth;
            ++finished;
        });
    }
    ASSERT_TRUE(runUntil([&] { return finished == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(sawBoth.load(), 2);
}

TEST(DispatchQueue, AsyncAfterOnTheMainQueueRunsThereAndZeroDelayStillPosts)
{
    const auto start = std::chrono::steady_clock::now();
    std::atomic<long long> elapsedMs = -1;
    bool onMain = false;
    DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(30), [&] {
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        onMain = DispatchQueue::isMainThread();
    });
    bool immediate = false;
    DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(0), [&] { immediate = true; });
    EXPECT_FALSE(immediate);
    ASSERT_TRUE(runUntil([&] { return elapsedMs.load() >= 0; }));
    EXPECT_TRUE(immediate);
    EXPECT_TRUE(onMain);
    EXPECT_GE(elapsedMs.load(), 30);
}

TEST(DispatchQueue, DelayedBlockOnAWorkerQueueRunsWhileTheGuiThreadIsBusy)
{
    // The GUI thread waits on the worker without turning its event loop, as a caller blocked on a future does.
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.delay-while-busy"));
    std::promise<bool> ran;
    std::future<bool> done = ran.get_future();
    queue->asyncAfter(std::chrono::milliseconds(10), [&] { ran.set_value(queue->isCurrent()); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(done.get());
}

TEST(DispatchQueue, DelayedBlocksRunInTheOrderOfTheirDeadlines)
{
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.delay-order"));
    std::mutex mutex;
    std::vector<int> order;
    // Deadlines far apart compared with the time it takes to post the blocks, even on a busy machine: the first
    // one posted comes due last.
    for (const int delay : {400, 100, 250}) {
        queue->asyncAfter(std::chrono::milliseconds(delay), [&, delay] {
            std::lock_guard lock(mutex);
            order.push_back(delay);
        });
    }
    ASSERT_TRUE(runUntil([&] { std::lock_guard lock(mutex); return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{100, 250, 400}));
}

TEST(DispatchQueue, ABlockDueSoonerThanAllWaitingOnesRunsOnTime)
{
    // The delay thread sleeps until the earliest deadline it knows; a block that comes due before it must wake it.
    auto queue = DispatchQueue::createSerial(QStringLiteral("test.delay-earlier"));
    std::promise<void> first;
    std::future<void> firstRan = first.get_future();
    queue->asyncAfter(std::chrono::milliseconds(1), [&] { first.set_value(); });
    ASSERT_EQ(firstRan.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    auto late = std::make_shared<std::atomic<bool>>(false);
    queue->asyncAfter(std::chrono::minutes(2), [late] { *late = true; });
    // Time for the thread to go to sleep until the late deadline, which is the case that matters; the test
    // holds however long it takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::promise<void> ran;
    std::future<void> done = ran.get_future();
    queue->asyncAfter(std::chrono::milliseconds(10), [&] { ran.set_value(); });
    EXPECT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(*late);
}

TEST(DispatchQueue, LabelsCarryTheProgramsPrefix)
{
    for (const QueuePtr& queue : {DispatchQueue::main(), DispatchQueue::global(DispatchQueue::QoS::Utility)})
        EXPECT_TRUE(queue->label().startsWith(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX "."))) << queue->label().toStdString();
}

TEST(DispatchQueue, BlocksBoundToAContextAreDroppedOnceItIsGone)
{
    // Each case posts two blocks with a context, destroys it or not before the loop turns, and then posts a
    // marker without one, due last: once the marker has run, every block before it has run or been dropped.
    struct Case {
        const char* name;
        bool delayed;
        bool fromWorker;
        bool destroy;
    };
    const Case cases[] = {
        {"posted, context destroyed", false, false, true},
        {"posted, context alive", false, false, false},
        {"delayed, context destroyed", true, false, true},
        {"delayed, context alive", true, false, false},
        {"posted from a worker, context destroyed", false, true, true},
        {"posted from a worker, context alive", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto context = std::make_unique<QObject>();
        std::atomic<int> ran = 0;
        std::atomic<bool> posted = false;
        const auto post = [&c, &ran](DispatchQueue::Context guard) {
            for (int i = 0; i < 2; ++i) {
                if (c.delayed)
                    DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(5), guard, [&ran] { ++ran; });
                else
                    DispatchQueue::main()->async(guard, [&ran] { ++ran; });
            }
        };
        if (c.fromWorker) {
            // The guard is taken here, on the context's thread; the worker only holds it.
            DispatchQueue::global()->async([&post, &posted, guard = DispatchQueue::Context(context.get())] {
                post(guard);
                posted = true;
            });
            // The context goes while the worker may still be posting.
            if (c.destroy)
                context.reset();
            // The marker below is posted after the worker's blocks, so it runs after them.
            ASSERT_TRUE(runUntil([&] { return posted.load(); }));
        } else {
            post(context.get());
            if (c.destroy)
                context.reset();
        }
        bool marker = false;
        DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(c.delayed ? 20 : 0), [&marker] { marker = true; });
        ASSERT_TRUE(runUntil([&] { return marker; }));
        EXPECT_EQ(ran.load(), c.destroy ? 0 : 2);
    }
}

TEST(DispatchQueue, InteractiveBlocksGoAheadOfQueuedBackgroundBlocks)
{
    // The first background blocks take every thread of the pool and hold it until the gate opens; the rest wait
    // in the pool. An interactive block posted after all of them must be the next to start once a thread is
    // free: each background block that starts after the gate waits for it, and gives up only if it never came.
    constexpr int kBackground = 200;
    const int width = int(DispatchQueue::maximumConcurrentBlocks());
    ASSERT_LT(width, kBackground);
    std::promise<void> opening;
    std::promise<void> interactiveRan;
    const std::shared_future<void> gate = opening.get_future().share();
    const std::shared_future<void> interactive = interactiveRan.get_future().share();
    std::atomic<int> started = 0;
    std::atomic<int> finished = 0;
    std::atomic<int> overtaken = 0;
    std::atomic<int> finishedBeforeInteractive = -1;
    bool opened = false;
    const auto open = [&] {
        if (!std::exchange(opened, true))
            opening.set_value();
    };
    // However the test ends, no block is left waiting on what the test owns.
    const auto drain = qScopeGuard([&] {
        open();
        runUntil([&] { return finished.load() == kBackground && finishedBeforeInteractive.load() >= 0; },
                 std::chrono::seconds(60));
    });
    for (int i = 0; i < kBackground; ++i) {
        DispatchQueue::global(DispatchQueue::QoS::Background)->async([&, gate, interactive, width] {
            if (started++ < width)
                gate.wait_for(std::chrono::seconds(30));
            else if (interactive.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
                ++overtaken;
            ++finished;
        });
    }
    ASSERT_TRUE(runUntil([&] { return started.load() == width; }));
    DispatchQueue::global(DispatchQueue::QoS::UserInteractive)->async([&] {
        finishedBeforeInteractive = finished.load();
        interactiveRan.set_value();
    });
    open();
    ASSERT_TRUE(runUntil([&] { return finished.load() == kBackground && finishedBeforeInteractive.load() >= 0; },
                         std::chrono::seconds(60)));
    EXPECT_EQ(overtaken.load(), 0);
    EXPECT_LE(finishedBeforeInteractive.load(), width) << "only the blocks that held a thread went first";
}
