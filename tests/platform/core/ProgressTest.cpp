#include "platform/core/Progress.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace vornakel;

TEST(Progress, ChildrenCountTheirPendingUnitsOnceWhenComplete)
{
    auto parent = Progress::create(2);
    auto first = Progress::create(100);
    auto second = Progress::create(-1);
    parent->addChild(first, 1);
    parent->addChild(second, 1);
    EXPECT_EQ(parent->completedUnitCount(), 0);

    first->setCompletedUnitCount(50);
    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.25);
    first->setCompletedUnitCount(100);
    first->setCompletedUnitCount(100);
    first->addCompletedUnitCount(0);
    EXPECT_EQ(parent->completedUnitCount(), 1);
    EXPECT_FALSE(parent->isFinished());
    // A complete child is let go; what it did stays in the parent's counts.
    EXPECT_EQ(parent->children(), std::vector<ProgressPtr>{second});
    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.5);

    // An indeterminate child adds nothing until it has a total it reached.
    second->addCompletedUnitCount(10);
    EXPECT_EQ(parent->completedUnitCount(), 1);
    second->setUnitCounts(10, 10);
    EXPECT_EQ(parent->completedUnitCount(), 2);
    EXPECT_TRUE(parent->isFinished());
    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1.0);
    EXPECT_TRUE(parent->children().empty());
    // A child let go is no longer the parent's to cancel, nor counted twice when it changes again.
    parent->cancel();
    EXPECT_FALSE(first->isCancelled());
    first->setUnitCounts(200, 200);
    EXPECT_EQ(parent->completedUnitCount(), 2);

    // A child has one parent.
    auto other = Progress::create(1);
    other->addChild(first, 1);
    EXPECT_TRUE(other->children().empty());
}

TEST(Progress, CancellingReachesChildrenAndRunsTheHandlerOnce)
{
    auto parent = Progress::create(1);
    auto child = Progress::create(10);
    parent->addChild(child, 1);
    int parentHandler = 0;
    int childHandler = 0;
    parent->setCancellationHandler([&] { ++parentHandler; });
    child->setCancellationHandler([&] { ++childHandler; });
    parent->cancel();
    parent->cancel();
    EXPECT_TRUE(child->isCancelled());
    EXPECT_EQ(parentHandler, 1);
    EXPECT_EQ(childHandler, 1);

    // A handler set after the cancel runs at once; a child added later is cancelled too.
    int late = 0;
    parent->setCancellationHandler([&] { ++late; });
    EXPECT_EQ(late, 1);
    auto lateChild = Progress::create(1);
    parent->addChild(lateChild, 0);
    EXPECT_TRUE(lateChild->isCancelled());
}

TEST(Progress, CountsFromManyThreadsAddUp)
{
    auto parent = Progress::create(1);
    auto child = Progress::create(8 * 1000);
    parent->addChild(child, 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                child->addCompletedUnitCount(1);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(child->completedUnitCount(), 8000);
    EXPECT_EQ(parent->completedUnitCount(), 1);
}

TEST(Progress, ChildrenCompletingInAnyOrderAreLetGoAndTheOthersStillCount)
{
    // The last child takes the place of one let go; a change of the moved child must still reach the parent.
    auto parent = Progress::create(5);
    std::vector<ProgressPtr> children;
    for (int i = 0; i < 5; ++i) {
        children.push_back(Progress::create(10));
        parent->addChild(children.back(), 1);
    }
    size_t left = children.size();
    for (const size_t done : {1u, 4u, 0u, 3u, 2u}) {
        SCOPED_TRACE(done);
        children[done]->setCompletedUnitCount(10);
        --left;
        EXPECT_EQ(parent->children().size(), left);
        EXPECT_EQ(parent->completedUnitCount(), qint64(children.size() - left));
        for (const ProgressPtr& child : parent->children())
            child->setCompletedUnitCount(5);
        EXPECT_DOUBLE_EQ(parent->fractionCompleted(), (double(children.size() - left) + 0.5 * double(left)) / 5.0);
    }
    EXPECT_TRUE(parent->isFinished());
}
