#include "model/CameraFileScanning.h"
#include "model/FileSystemItemMetadataDelivery.h"
#include "support/InProcessCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace vornakel {
namespace {

using Items = FileSystemItemMetadataDelivery::Items;

struct LoadRun {
    std::vector<QStringList> deliveries;
    std::optional<bool> completion;
    std::optional<int> errorCode; // why loading stopped
    int completions = 0;
};

// `count` files named f1…fN whose metadata is still to be loaded.
Items unloadedFiles(int count, const std::shared_ptr<InProcessCameraOptions>& options)
{
    Items items;
    items.reserve(size_t(count));
    for (int i = 1; i <= count; ++i) {
        auto file = std::make_shared<InProcessFile>(QStringLiteral("f%1").arg(i), std::nullopt, 1000, options);
        file->setLoaded(false);
        items.push_back(file);
    }
    return items;
}

class MetadataDeliveryTest : public ::testing::TestWithParam<bool> {
protected:
    std::shared_ptr<InProcessCameraOptions> options = std::make_shared<InProcessCameraOptions>();
    std::vector<std::shared_ptr<InProcessFile>> files;

    void SetUp() override { options->synchronous = GetParam(); }

    // `count` files named f1…fN; those in `loaded` already carry their metadata, those in `failing` fail.
    Items makeItems(int count, std::set<int> loaded = {}, std::set<int> failing = {})
    {
        Items items;
        for (int i = 1; i <= count; ++i) {
            auto file = std::make_shared<InProcessFile>(QStringLiteral("f%1").arg(i), std::nullopt, 1000, options);
            file->setLoaded(loaded.count(i) > 0);
            file->setMetadataError(failing.count(i) > 0);
            files.push_back(file);
            items.push_back(file);
        }
        return items;
    }

    static FileSystemItemMetadataDelivery::Delivery recorder(const std::shared_ptr<LoadRun>& run)
    {
        return [run](const Items& items) {
            QStringList names;
            for (const auto& item : items)
                names << *item->name();
            run->deliveries.push_back(names);
        };
    }

    std::shared_ptr<LoadRun> start(const std::shared_ptr<FileSystemItemMetadataDelivery>& delivery)
    {
        auto run = std::make_shared<LoadRun>();
        delivery->startLoading(recorder(run), [run](const Result<void>& outcome) {
            run->completion = outcome.hasValue();
            if (!outcome)
                run->errorCode = outcome.error().code;
            ++run->completions;
        });
        return run;
    }
};

QStringList range(int from, int to)
{
    QStringList names;
    for (int i = from; i <= to; ++i)
        names << QStringLiteral("f%1").arg(i);
    return names;
}

TEST_P(MetadataDeliveryTest, ChunkSizes)
{
    struct Case {
        int count;
        int chunkSize;
        std::vector<QStringList> expected;
    };
    const std::vector<Case> cases = {
        {25, 10, {range(1, 10), range(11, 20), range(21, 25)}},
        {20, 10, {range(1, 10), range(11, 20)}},
        {3, 0, {range(1, 1), range(2, 2), range(3, 3)}},
        {2, -5, {range(1, 1), range(2, 2)}},
        {0, 10, {QStringList{}}},
    };
    for (const Case& c : cases) {
        auto delivery = FileSystemItemMetadataDelivery::create(makeItems(c.count), c.chunkSize);
        EXPECT_EQ(delivery->hasCompleted(), c.count == 0);
        auto run = start(delivery);
        ASSERT_TRUE(test::runUntil([&] { return run->completion.has_value(); })) << c.count << "/" << c.chunkSize;
        EXPECT_EQ(run->deliveries, c.expected) << c.count << "/" << c.chunkSize;
        EXPECT_EQ(*run->completion, true);
        EXPECT_EQ(run->completions, 1);
    }
}

TEST_P(MetadataDeliveryTest, FailedItemsAreLeftOutAndLoadingGoesOn)
{
    auto delivery = FileSystemItemMetadataDelivery::create(makeItems(12, {}, {3, 7}), 10);
    auto run = start(delivery);
    ASSERT_TRUE(test::runUntil([&] { return run->completion.has_value(); }));
    QStringList expected = range(1, 12);
    expected.removeAll(QStringLiteral("f3"));
    expected.removeAll(QStringLiteral("f7"));
    EXPECT_EQ(run->deliveries, std::vector<QStringList>{expected});
    EXPECT_TRUE(*run->completion);
}

TEST_P(MetadataDeliveryTest, PreloadedItemsComeFirstInOneCallThenChunks)
{
    auto delivery = FileSystemItemMetadataDelivery::create(makeItems(6, {2, 4, 5}), 2);
    EXPECT_FALSE(delivery->hasCompleted());
    auto run = start(delivery);
    ASSERT_TRUE(test::runUntil([&] { return run->completion.has_value(); }));
    EXPECT_EQ(run->deliveries, (std::vector<QStringList>{{"f2", "f4", "f5"}, {"f1", "f3"}, {"f6"}}));
    EXPECT_EQ(options->log->requests, (QStringList{"meta:f1", "meta:f3", "meta:f6"}));

    auto allLoaded = FileSystemItemMetadataDelivery::create(makeItems(5, {1, 2, 3, 4, 5}), 2);
    allLoaded->cancel();
    auto second = start(allLoaded);
    EXPECT_EQ(second->deliveries, std::vector<QStringList>{range(1, 5)});
    EXPECT_EQ(second->completion, std::optional<bool>(true));
}

TEST_P(MetadataDeliveryTest, CancelBeforeStartSendsNothingAndFails)
{
    const Items items = makeItems(4, {1});
    auto delivery = FileSystemItemMetadataDelivery::create(items, 10);
    delivery->cancel();
    auto run = start(delivery);
    ASSERT_TRUE(test::runUntil([&] { return run->completion.has_value(); }));
    EXPECT_EQ(run->deliveries, std::vector<QStringList>{{"f1"}});
    EXPECT_FALSE(*run->completion);
    EXPECT_EQ(run->errorCode, std::optional<int>(VKLErrorCancelled)) << "the caller learns why it stopped";
    EXPECT_TRUE(options->log->requests.isEmpty());
}

TEST_P(MetadataDeliveryTest, OwnerLettingGoInsideADeliveryStopsBeforeTheNextRequest)
{
    auto delivery = FileSystemItemMetadataDelivery::create(makeItems(5), 2);
    int deliveries = 0;
    std::optional<bool> result;
    std::optional<Error> error;
    delivery->startLoading(
        [&](const Items&) {
            ++deliveries;
            delivery.reset();
        },
        [&](const Result<void>& outcome) {
            result = outcome.hasValue();
            error = outcome.failure();
        });
    ASSERT_TRUE(test::runUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorOwnerGone);
    EXPECT_EQ(deliveries, 1);
    EXPECT_EQ(options->log->requests, (QStringList{"meta:f1", "meta:f2"}));
}

INSTANTIATE_TEST_SUITE_P(PostedAndSynchronous, MetadataDeliveryTest, ::testing::Bool());

TEST(MetadataDeliveryChain, CancelWhileItem15InFlightDropsTheUnfinishedChunk)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    const Items items = unloadedFiles(25, options);
    auto delivery = FileSystemItemMetadataDelivery::create(items, 10);
    options->log->onRequest = [&](const QString& request) {
        if (request == QLatin1String("meta:f15"))
            delivery->cancel();
    };
    std::vector<int> sizes;
    std::optional<bool> result;
    delivery->startLoading([&](const Items& chunk) { sizes.push_back(int(chunk.size())); },
                           [&](const Result<void>& outcome) { result = outcome.hasValue(); });
    ASSERT_TRUE(test::runUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_EQ(sizes, std::vector<int>{10});
    EXPECT_EQ(options->log->requests.size(), 15);
    EXPECT_EQ(delivery->itemsThisChunk().size(), 5u);
}

TEST(MetadataDeliveryChain, OwnerGoneEndsAfterTheRequestInFlight)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    const Items items = unloadedFiles(5, options);
    auto delivery = FileSystemItemMetadataDelivery::create(items, 10);
    int deliveries = 0;
    std::optional<bool> result;
    delivery->startLoading([&](const Items&) { ++deliveries; }, [&](const Result<void>& outcome) { result = outcome.hasValue(); });
    options->log->onRequest = [&](const QString& request) {
        if (request == QLatin1String("meta:f2"))
            delivery.reset();
    };
    ASSERT_TRUE(test::runUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_EQ(deliveries, 0);
    EXPECT_EQ(options->log->requests.size(), 2);
}

TEST(MetadataDeliveryChain, HundredThousandSynchronousAnswersDoNotRecurse)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    options->synchronous = true;
    const Items items = unloadedFiles(100000, options);
    auto delivery = FileSystemItemMetadataDelivery::create(items, 10);
    size_t delivered = 0;
    std::optional<bool> result;
    delivery->startLoading([&](const Items& chunk) { delivered += chunk.size(); }, [&](const Result<void>& outcome) { result = outcome.hasValue(); });
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(*result);
    EXPECT_EQ(delivered, 100000u);
}

// A pair whose RAW was already loaded and whose JPEG comes in a later chunk still ends as one photo when the
// chunks go through PhotoGrouping.
TEST(MetadataDeliveryChain, PairSplitBetweenPreloadedAndLaterChunkGroupsAsOnePhoto)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    const QDateTime date = QDateTime::currentDateTimeUtc();
    Items items;
    auto raw = std::make_shared<InProcessFile>(QStringLiteral("IMG_1.CR2"), date, 1000, options);
    items.push_back(raw);
    for (int i = 2; i <= 4; ++i) {
        auto other = std::make_shared<InProcessFile>(QStringLiteral("IMG_%1.JPG").arg(i), date, 1000, options);
        other->setLoaded(false);
        items.push_back(other);
    }
    auto jpeg = std::make_shared<InProcessFile>(QStringLiteral("IMG_1.JPG"), date, 1000, options);
    jpeg->setLoaded(false);
    jpeg->setNameBeforeLoad(false);
    items.push_back(jpeg);

    auto delivery = FileSystemItemMetadataDelivery::create(items, 2);
    PhotoGrouping grouping;
    std::optional<bool> result;
    delivery->startLoading([&](const Items& chunk) { grouping.add(chunk); }, [&](const Result<void>& outcome) { result = outcome.hasValue(); });
    ASSERT_TRUE(test::runUntil([&] { return result.has_value(); }));
    ASSERT_EQ(grouping.photoCount(), 4u);
    int pairs = 0;
    for (const PhotoPtr& photo : grouping.photos())
        pairs += photo->previewVariant() ? 1 : 0;
    EXPECT_EQ(pairs, 1);
}

} // namespace
} // namespace vornakel
