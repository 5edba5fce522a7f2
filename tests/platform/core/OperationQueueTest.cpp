#include "platform/core/OperationQueue.h"
#include "support/TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <mutex>
#include <thread>
#include <vector>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

// Records the order in which operations ran, from any thread.
class Journal {
public:
    void add(int entry)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(entry);
    }
    std::vector<int> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    size_t size() const { return entries().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_entries;
};

// An operation that runs one block.
class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : m_block(std::move(block)) {}
    static std::shared_ptr<BlockOperation> create(std::function<void()> block)
    {
        return std::make_shared<BlockOperation>(std::move(block));
    }

protected:
    void main() override { m_block(); }

private:
    std::function<void()> m_block;
};

// An asynchronous operation that stays executing until the test completes it.
class ManualOperation : public Operation {
public:
    bool isAsynchronous() const override { return true; }
    void complete() { finish(); }
    std::atomic<bool> started = false;

protected:
    void main() override { started = true; }
};

} // namespace

TEST(OperationQueue, DependenciesDecideTheOrder)
{
    OperationQueue queue;
    Journal journal;
    auto first = BlockOperation::create([&] { journal.add(1); });
    auto second = BlockOperation::create([&] { journal.add(2); });
    auto third = BlockOperation::create([&] { journal.add(3); });
    third->addDependency(second);
    second->addDependency(first);
    queue.addOperation(third);
    queue.addOperation(second);
    EXPECT_FALSE(third->isReady());
    queue.addOperation(first);
    ASSERT_TRUE(runUntil([&] { return third->isFinished(); }));
    EXPECT_EQ(journal.entries(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(runUntil([&] { return queue.operationCount() == 0; }));
}

TEST(OperationQueue, OneAtATimeRunsInAddingOrderWithoutOverlap)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Journal journal;
    std::atomic<int> running = 0;
    std::atomic<int> mostRunning = 0;
    for (int i = 0; i < 20; ++i) {
        queue.addOperation(BlockOperation::create([&, i] {
            const int now = ++running;
            mostRunning = std::max(mostRunning.load(), now);
            // Gives a second operation the chance to overlap if the limit were not kept.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            journal.add(i);
            --running;
        }));
    }
    ASSERT_TRUE(runUntil([&] { return journal.size() == 20; }));
    EXPECT_EQ(mostRunning.load(), 1);
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(journal.entries(), expected);
}

TEST(OperationQueue, WithoutALimitOperationsRunSideBySide)
{
    OperationQueue queue;
    std::atomic<int> arrived = 0;
    std::atomic<int> sawBoth = 0;
    for (int i = 0; i < 2; ++i) {
        queue.addOperation(BlockOperation::create([&] {
            ++arrived;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (arrived < 2 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (arrived == 2)
                ++sawBoth;
        }));
    }
    ASSERT_TRUE(runUntil([&] { return queue.operationCount() == 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(sawBoth.load(), 2);
}

TEST(OperationQueue, ACancelledOperationFinishesWithoutRunningAndLetsDependentsGoOn)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto blocker = std::make_shared<ManualOperation>();
    std::atomic<bool> cancelledRan = false;
    std::atomic<bool> dependentRan = false;
    auto cancelled = BlockOperation::create([&] { cancelledRan = true; });
    auto dependent = BlockOperation::create([&] { dependentRan = true; });
    dependent->addDependency(cancelled);
    queue.addOperation(blocker);
    queue.addOperation(cancelled);
    queue.addOperation(dependent);
    ASSERT_TRUE(runUntil([&] { return blocker->started.load(); }));
    EXPECT_TRUE(blocker->isExecuting());

    cancelled->cancel();
    EXPECT_TRUE(cancelled->isCancelled());
    EXPECT_FALSE(cancelled->isFinished()) << "it waits for its turn like any other";
    blocker->complete();

    ASSERT_TRUE(runUntil([&] { return dependentRan.load(); }));
    EXPECT_FALSE(cancelledRan.load());
    EXPECT_TRUE(cancelled->isFinished());
    EXPECT_FALSE(cancelled->isExecuting());
    EXPECT_FALSE(blocker->isExecuting());
}

TEST(OperationQueue, ChainedAsynchronousOperationsFinishOneAfterAnother)
{
    // The copy engine's shape: one asynchronous operation per file, each waiting for the one before, each
    // finishing later from another queue.
    OperationQueue queue;
    auto delivery = DispatchQueue::createSerial(QStringLiteral("test.delivery"));
    Journal journal;
    std::atomic<int> executing = 0;
    std::atomic<int> mostExecuting = 0;

    class FileOperation : public Operation {
    public:
        FileOperation(int index, QueuePtr delivery, Journal& journal, std::atomic<int>& executing, std::atomic<int>& most)
            : m_index(index), m_delivery(std::move(delivery)), m_journal(journal), m_executing(executing), m_most(most) {}
        bool isAsynchronous() const override { return true; }

    protected:
        void main() override
        {
            const int now = ++m_executing;
            m_most = std::max(m_most.load(), now);
            auto self = std::static_pointer_cast<FileOperation>(shared_from_this());
            m_delivery->asyncAfter(std::chrono::milliseconds(2), [self] {
                self->m_journal.add(self->m_index);
                --self->m_executing;
                self->finish();
            });
        }

    private:
        int m_index;
        QueuePtr m_delivery;
        Journal& m_journal;
        std::atomic<int>& m_executing;
        std::atomic<int>& m_most;
    };

    OperationPtr previous;
    std::vector<OperationPtr> operations;
    for (int i = 0; i < 5; ++i) {
        auto operation = std::make_shared<FileOperation>(i, delivery, journal, executing, mostExecuting);
        if (previous)
            operation->addDependency(previous);
        operations.push_back(operation);
        previous = operation;
    }
    for (const auto& operation : operations)
        queue.addOperation(operation);
    ASSERT_TRUE(runUntil([&] { return operations.back()->isFinished(); }));
    EXPECT_EQ(journal.entries(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(mostExecuting.load(), 1);
}

TEST(OperationQueue, CountsWhatIsLeftAndQueuesAnOperationOnce)
{
    OperationQueue queue;
    auto held = std::make_shared<ManualOperation>();
    auto journal = std::make_shared<Journal>();
    EXPECT_TRUE(queue.addOperation(held));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(queue.addOperation(BlockOperation::create([journal, i] { journal->add(i); })));
    EXPECT_FALSE(queue.addOperation(held)) << "an operation is queued once";
    OperationQueue other;
    EXPECT_FALSE(other.addOperation(held)) << "and by one queue";

    // The held operation keeps the queue from emptying however long the others take to be cleared away.
    ASSERT_TRUE(runUntil([&] { return held->started && journal->size() == 3 && queue.operationCount() == 1; }));
    held->complete();
    ASSERT_TRUE(runUntil([&] { return queue.operationCount() == 0; }));
    EXPECT_FALSE(queue.addOperation(held)) << "a finished operation is not run again";
}

namespace {

// Counts every question about its end, whoever asks: the queue's or a dependent's.
class CountedOperation : public Operation {
public:
    CountedOperation(std::atomic<size_t>& questions, std::atomic<size_t>& ran) : m_questions(questions), m_ran(ran) {}
    bool isFinished() const override
    {
        ++m_questions;
        return Operation::isFinished();
    }

protected:
    void main() override { ++m_ran; }

private:
    std::atomic<size_t>& m_questions;
    std::atomic<size_t>& m_ran;
};

} // namespace

TEST(OperationQueue, EachChangeCostsTheSameHoweverManyOperationsWait)
{
    // The copy's shape: thousands of operations, each after the one before, one at a time, all queued while the
    // first is held. Asking every waiting operation on every change would ask about n * n / 2 times.
    constexpr size_t kCount = 20000;
    std::atomic<size_t> questions = 0;
    std::atomic<size_t> ran = 0;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto blocker = std::make_shared<ManualOperation>();
    ASSERT_TRUE(queue.addOperation(blocker));
    ASSERT_TRUE(runUntil([&] { return blocker->started.load(); }));
    std::vector<OperationPtr> operations;
    operations.reserve(kCount);
    OperationPtr previous = blocker;
    for (size_t i = 0; i < kCount; ++i) {
        auto operation = std::make_shared<CountedOperation>(questions, ran);
        operation->addDependency(previous);
        ASSERT_TRUE(queue.addOperation(operation));
        operations.push_back(operation);
        previous = operation;
    }
    EXPECT_EQ(queue.operationCount(), int(kCount + 1));
    const size_t whileAdding = questions.load();
    EXPECT_LE(whileAdding, 2 * kCount) << "adding asks about the added operation only";

    blocker->complete();
    ASSERT_TRUE(runUntil([&] { return queue.operationCount() == 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(ran.load(), kCount);
    // Each operation is asked a fixed number of times: when it is added, when it becomes ready, when it ends.
    EXPECT_LE(questions.load() - whileAdding, 3 * kCount);
}

TEST(OperationQueue, CancellingAllOrDestroyingTheQueueFinishesWhatWasWaiting)
{
    std::atomic<int> ran = 0;
    std::vector<OperationPtr> waiting;
    auto blocker = std::make_shared<ManualOperation>();
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(blocker);
        for (int i = 0; i < 3; ++i) {
            waiting.push_back(BlockOperation::create([&] { ++ran; }));
            queue.addOperation(waiting.back());
        }
        ASSERT_TRUE(runUntil([&] { return blocker->started.load(); }));
        queue.cancelAllOperations();
        EXPECT_TRUE(blocker->isCancelled());
        EXPECT_TRUE(blocker->isExecuting()) << "a running operation decides itself when to stop";
    }
    blocker->complete();
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(waiting.begin(), waiting.end(), [](const OperationPtr& o) { return o->isFinished(); });
    }));
    EXPECT_EQ(ran.load(), 0);
}

namespace {

// Records the hooks an operation gets.
class HookedOperation : public Operation {
public:
    bool isAsynchronous() const override { return true; }
    std::atomic<int> cancels = 0;
    std::atomic<int> finishedUnrun = 0;
    std::atomic<bool> ran = false;

protected:
    void main() override
    {
        ran = true;
        finish();
    }
    void didCancel() override { ++cancels; }
    void willFinishWithoutRunning() override
    {
        // The operation is not finished yet, so it can still report.
        EXPECT_FALSE(isFinished());
        ++finishedUnrun;
    }
};

} // namespace

TEST(OperationQueue, HooksTellACancelledOperationThatItWillNotRun)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto blocker = std::make_shared<ManualOperation>();
    auto waiting = std::make_shared<HookedOperation>();
    auto runs = std::make_shared<HookedOperation>();
    queue.addOperation(blocker);
    queue.addOperation(waiting);
    queue.addOperation(runs);
    ASSERT_TRUE(runUntil([&] { return blocker->started.load(); }));

    waiting->cancel();
    waiting->cancel();
    EXPECT_EQ(waiting->cancels, 1);
    blocker->complete();
    ASSERT_TRUE(runUntil([&] { return waiting->isFinished() && runs->isFinished(); }));
    EXPECT_EQ(waiting->finishedUnrun, 1);
    EXPECT_FALSE(waiting->ran);
    EXPECT_TRUE(runs->ran);
    EXPECT_EQ(runs->finishedUnrun, 0);
    EXPECT_EQ(runs->cancels, 0);
    // Cancelling what has finished does nothing.
    runs->cancel();
    EXPECT_EQ(runs->cancels, 0);
}
