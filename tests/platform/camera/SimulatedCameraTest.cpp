#include "CameraTestSupport.h"

#include "platform/camera/simulated/SimulatedCamera.h"
#include "support/TestSupport.h"
#include "platform/exiv2/Exiv2Library.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::awaitError;
using test::runUntil;

QSize jpegSize(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer, "JPEG");
    return reader.size();
}

QByteArray largestEmbeddedPreview(const QString& path)
{
    auto image = Exiv2Library::open(path);
    image->readMetadata();
    Exiv2::PreviewManager previews(*image);
    const auto list = previews.getPreviewProperties();
    if (list.empty())
        return {};
    const Exiv2::PreviewImage preview = previews.getPreviewImage(list.back());
    return QByteArray(reinterpret_cast<const char*>(preview.pData()), static_cast<qsizetype>(preview.size()));
}

QByteArray exifThumbnail(const QString& path)
{
    auto image = Exiv2Library::open(path);
    image->readMetadata();
    Exiv2::ExifThumbC thumb(image->exifData());
    const Exiv2::DataBuf data = thumb.copy();
    return QByteArray(reinterpret_cast<const char*>(data.pData_), static_cast<qsizetype>(data.size_));
}

const tools::SampleShot& shotWithRaw()
{
    for (const auto& shot : test::sampleCamera().shots) {
        if (!shot.rawPath.isEmpty())
            return shot;
    }
    ADD_FAILURE() << "the sample camera has no RAW shot";
    return test::sampleCamera().shots.front();
}

TEST(SimulatedCamera, ConnectsThroughThePairingPromptAndServesItsCard)
{
    SimulatedCameraOptions options;
    options.pairingPrompt = true;
    options.pairingDelayMs = 50;
    auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), options);

    // Connect: the prompt comes up, goes away, and only then the connection completes.
    std::vector<bool> prompts;
    std::optional<std::optional<Error>> connected;
    bool promptShownBeforeCompletion = false;
    int stateChanges = 0;
    QObject::connect(camera.get(), &VKLCamera::connectionStateChanged, [&] { ++stateChanges; });
    camera->connectWithClientName(
        QStringLiteral("Vornakel"),
        [&](std::optional<Error> error, std::vector<VKLCameraConnectionWarning>) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            promptShownBeforeCompletion = prompts == std::vector<bool>{true, false};
            connected = error;
        },
        [&](bool showing, std::function<void()>) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            prompts.push_back(showing);
        });
    EXPECT_TRUE(prompts.empty()) << "callbacks are posted, never run inside the call";
    ASSERT_TRUE(runUntil([&] { return connected.has_value(); }));
    EXPECT_EQ(*connected, std::nullopt);
    EXPECT_TRUE(promptShownBeforeCompletion);
    EXPECT_EQ(camera->connectionState(), 2u);
    EXPECT_GE(stateChanges, 1);
    EXPECT_EQ(camera->lastClientName(), QStringLiteral("Vornakel"));

    // Storage access has to be asked for; until then there is no storage.
    EXPECT_TRUE(camera->supportsCommandCategories(VKLCommandCategoryStorageAccess));
    EXPECT_FALSE(camera->currentCommandCategoriesContainsCategory(VKLCommandCategoryStorageAccess));
    EXPECT_EQ(camera->storageDevices(), std::nullopt);
    EXPECT_EQ(awaitError([&](auto done) { camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, done); }),
              std::nullopt);
    ASSERT_TRUE(camera->storageDevices());
    ASSERT_EQ(camera->storageDevices()->size(), 1u);
    const auto storage = camera->storageDevices()->front();
    EXPECT_EQ(storage->camera(), camera);

    // Walk: every file of the card, with names and sizes, metadata not yet loaded.
    const auto files = test::walkFiles(storage->rootDirectory());
    ASSERT_EQ(files.size(), static_cast<size_t>(test::sampleCamera().files.size()));
    for (const QString& path : test::sampleCamera().files) {
        const auto item = test::findFile(files, QFileInfo(path).fileName());
        ASSERT_TRUE(item);
        EXPECT_EQ(item->size(), static_cast<uint64_t>(QFileInfo(path).size()));
        EXPECT_TRUE(item->isKnownImageType());
        EXPECT_FALSE(item->metadataLoaded());
        EXPECT_EQ(item->dateCreated(), std::nullopt);
        EXPECT_EQ(item->storage(), storage);
    }

    // Metadata: the capture time from EXIF.
    for (const auto& shot : test::sampleCamera().shots) {
        const auto item = test::findFile(files, QFileInfo(shot.jpegPath).fileName());
        EXPECT_EQ(awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt);
        EXPECT_TRUE(item->metadataLoaded());
        ASSERT_TRUE(item->dateCreated());
        EXPECT_EQ(item->dateCreated()->toSecsSinceEpoch(), shot.captureTime.toSecsSinceEpoch())
            << shot.baseName.toStdString();
    }

    // Thumbnail: the embedded one, a decodable JPEG no larger than 160 pixels.
    const auto& shot = shotWithRaw();
    const auto jpeg = test::findFile(files, QFileInfo(shot.jpegPath).fileName());
    const auto thumbnail = test::fetchImage(jpeg, false);
    EXPECT_EQ(thumbnail.error, std::nullopt);
    ASSERT_TRUE(thumbnail.data);
    EXPECT_EQ(*thumbnail.data, exifThumbnail(shot.jpegPath));
    const QSize thumbnailSize = jpegSize(*thumbnail.data);
    EXPECT_TRUE(thumbnailSize.isValid());
    EXPECT_LE(std::max(thumbnailSize.width(), thumbnailSize.height()), 160);
    EXPECT_EQ(thumbnail.queueLabel, QStringLiteral("com.vornakel.core.delivery"));

    // Previews: a JPEG file is its own preview; a RAW file's is its largest embedded JPEG.
    const auto jpegPreview = test::fetchImage(jpeg, true);
    ASSERT_TRUE(jpegPreview.data);
    EXPECT_EQ(*jpegPreview.data, test::readFile(shot.jpegPath));
    const auto raw = test::findFile(files, QFileInfo(shot.rawPath).fileName());
    const auto rawPreview = test::fetchImage(raw, true);
    EXPECT_EQ(rawPreview.error, std::nullopt);
    ASSERT_TRUE(rawPreview.data);
    EXPECT_EQ(*rawPreview.data, largestEmbeddedPreview(shot.rawPath));
    EXPECT_GT(jpegSize(*rawPreview.data).width(), 160);
    const auto rawThumbnail = test::fetchImage(raw, false);
    ASSERT_TRUE(rawThumbnail.data);
    EXPECT_TRUE(jpegSize(*rawThumbnail.data).isValid());

    // Streaming: the RAW file byte for byte, in more than one chunk.
    const auto stream = test::streamFile(raw);
    EXPECT_EQ(stream.error, std::nullopt);
    EXPECT_EQ(stream.completions, 1);
    EXPECT_TRUE(stream.contextUnchanged);
    EXPECT_EQ(stream.data, test::readFile(shot.rawPath));

    EXPECT_EQ(awaitError([&](auto done) { camera->disconnect(done, DispatchQueue::main()); }), std::nullopt);
    EXPECT_EQ(camera->connectionState(), 0u);
}

TEST(SimulatedCamera, ReportsConnectionFailures)
{
    {
        SimulatedCameraOptions options;
        options.connectErrorCode = VKLErrorCameraSoftwareTooOld;
        auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), options);
        const auto error = test::connectCamera(*camera);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 1013);
        EXPECT_EQ(error->domain, vklErrorDomain());
        EXPECT_EQ(camera->connectionState(), 0u);
        EXPECT_EQ(camera->storageDevices(), std::nullopt);
    }
    {
        // The program never calls the prompt's cancel block, but a camera whose user declines ends this way.
        SimulatedCameraOptions options;
        options.pairingPrompt = true;
        options.pairingDelayMs = 20;
        auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), options);
        const auto error = awaitError([&](auto done) {
            camera->connectWithClientName(
                QStringLiteral("Vornakel"), [done](std::optional<Error> e, auto) { done(e); },
                [](bool showing, std::function<void()> cancel) {
                    if (showing)
                        cancel();
                });
        });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, VKLErrorPairingRejected);
        EXPECT_EQ(camera->connectionState(), 0u);
    }
}

TEST(SimulatedCamera, CompletesARequestMadeWhileConnectingWithTheConnectionUnderWay)
{
    SimulatedCameraOptions options;
    options.latencyMs = 20;
    auto camera = SimulatedCamera::fromContent({}, options);
    std::vector<std::optional<Error>> results;
    auto record = [&](std::optional<Error> error, std::vector<VKLCameraConnectionWarning>) { results.push_back(error); };
    camera->connectWithClientName(QStringLiteral("Vornakel"), record, {});
    camera->connectWithClientName(QStringLiteral("Vornakel"), record, {});
    ASSERT_TRUE(runUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<std::optional<Error>>{std::nullopt, std::nullopt}));
    EXPECT_EQ(camera->connectionState(), 2u);
}

TEST(SimulatedCamera, StorageAccessFollowsTheOptions)
{
    using Access = SimulatedCameraOptions::StorageAccess;
    const struct {
        Access access;
        bool startsInStorageMode;
        bool supported;
        bool currentAfterConnect;
        int setErrorCode; // 0: the switch succeeds
    } cases[] = {
        {Access::Supported, false, true, false, 0},
        {Access::Supported, true, true, true, 0},
        {Access::Unsupported, false, false, false, VKLErrorCommandCategoryUnsupported},
        {Access::Refused, false, true, false, VKLErrorCommandCategoryRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.access));
        SimulatedCameraOptions options;
        options.storageAccess = c.access;
        options.startsInStorageMode = c.startsInStorageMode;
        auto camera = SimulatedCamera::fromContent({}, options);
        ASSERT_EQ(test::connectCamera(*camera), std::nullopt);
        EXPECT_EQ(camera->supportsCommandCategories(VKLCommandCategoryStorageAccess), c.supported);
        EXPECT_EQ(camera->currentCommandCategoriesContainsCategory(VKLCommandCategoryStorageAccess), c.currentAfterConnect);
        EXPECT_EQ(camera->storageDevices().has_value(), c.currentAfterConnect);
        const auto error =
            awaitError([&](auto done) { camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, done); });
        EXPECT_EQ(error ? error->code : 0, c.setErrorCode);
        EXPECT_EQ(camera->storageDevices().has_value(), c.setErrorCode == 0);
    }
}

TEST(SimulatedCamera, FailsTheNamedMetadataAndListings)
{
    const auto& shots = test::sampleCamera().shots;
    const QString failingFile = QFileInfo(shots[0].jpegPath).fileName();
    const QString failingFolder = QFileInfo(QFileInfo(shots.back().jpegPath).path()).fileName();
    SimulatedCameraOptions options;
    options.metadataFailures = {failingFile};
    options.listingErrors = {QStringLiteral("DCIM/") + failingFolder};
    auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), options);
    const auto root = test::openStorage(*camera);
    ASSERT_TRUE(root);

    ASSERT_EQ(awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    const auto dcim = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(root->children()->front());
    ASSERT_TRUE(dcim);
    ASSERT_EQ(awaitError([&](auto done) { dcim->loadChildren(done); }), std::nullopt);
    int listingFailures = 0;
    std::vector<VKLFileSystemItem::ItemPtr> files;
    const auto folders = dcim->children().value();
    for (const auto& child : folders) {
        auto folder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child);
        ASSERT_TRUE(folder);
        const auto error = awaitError([&](auto done) { folder->loadChildren(done); });
        if (child->name() == failingFolder) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code, VKLErrorListingFailed);
            EXPECT_EQ(folder->children(), std::nullopt);
            ++listingFailures;
        } else {
            EXPECT_EQ(error, std::nullopt);
            const auto children = folder->children().value();
            files.insert(files.end(), children.begin(), children.end());
        }
    }
    EXPECT_EQ(listingFailures, 1);

    const auto failing = test::findFile(files, failingFile);
    ASSERT_TRUE(failing);
    const auto error = awaitError([&](auto done) { failing->loadMetadata(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorMetadataUnavailable);
    EXPECT_FALSE(failing->metadataLoaded());
    const auto other = test::findFile(files, QFileInfo(shots[1].jpegPath).fileName());
    EXPECT_EQ(awaitError([&](auto done) { other->loadMetadata(done); }), std::nullopt);
}

TEST(SimulatedCamera, ListsPreloadedMetadataWhenAsked)
{
    SimulatedCameraOptions options;
    options.metadataPreloaded = true;
    auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_FALSE(files.empty());
    for (const auto& shot : test::sampleCamera().shots) {
        const auto item = test::findFile(files, QFileInfo(shot.jpegPath).fileName());
        EXPECT_TRUE(item->metadataLoaded());
        ASSERT_TRUE(item->dateCreated());
        EXPECT_EQ(item->dateCreated()->toSecsSinceEpoch(), shot.captureTime.toSecsSinceEpoch());
    }
}

TEST(SimulatedCamera, DropsTheConnectionAfterTheGivenTime)
{
    // One file in memory: the walk is over long before the drop, even in a slow sanitizer build.
    SimulatedCameraContent content;
    content.root.files.push_back({QStringLiteral("IMG_0001.JPG"), 1000, QDateTime::currentDateTime(), {}});
    SimulatedCameraOptions options;
    options.disconnectAfterSeconds = 0.5;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromContent(content, options);
    bool changedOnMain = false;
    QObject::connect(camera.get(), &VKLCamera::connectionStateChanged, camera.get(),
                     [&] { changedOnMain = DispatchQueue::isMainThread(); }, Qt::DirectConnection);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(camera->connectionState(), 2u);
    ASSERT_TRUE(runUntil([&] { return camera->connectionState() == 0; }, std::chrono::milliseconds(3000)));
    EXPECT_TRUE(changedOnMain);
    EXPECT_EQ(camera->storageDevices(), std::nullopt);
    EXPECT_EQ(camera->proxyForProperty(VKLPropertyBatteryLevel)->value(), std::nullopt);

    // Items of a dropped connection fail rather than reach the card, also once the camera is connected again.
    const auto error = awaitError([&](auto done) { files.front()->loadMetadata(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorNotConnected);
    ASSERT_EQ(test::connectCamera(*camera), std::nullopt);
    const auto stream = test::streamFile(files.front());
    ASSERT_TRUE(stream.error);
    EXPECT_EQ(stream.completions, 1);
    EXPECT_EQ(stream.chunks, 0);
}

TEST(SimulatedCamera, ADisconnectTimeBeyondATimersRangeMeansNever)
{
    using std::chrono::milliseconds;
    const struct {
        double seconds;
        std::optional<milliseconds> delay;
    } cases[] = {
        {0.2, milliseconds(200)},
        {0.0001, milliseconds(1)},
        {86400, milliseconds(86400000)},
        {0, std::nullopt},
        {-3, std::nullopt},
        {1e300, std::nullopt},
        {3e6, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& c : cases) {
        SimulatedCameraOptions options;
        options.disconnectAfterSeconds = c.seconds;
        EXPECT_EQ(options.disconnectDelay(), c.delay) << c.seconds;
    }

    // A connection with such a value simply stays up.
    SimulatedCameraOptions huge;
    huge.disconnectAfterSeconds = 1e300;
    auto camera = SimulatedCamera::fromFolder(test::sampleCameraFolder(), huge);
    ASSERT_EQ(test::connectCamera(*camera), std::nullopt);
    EXPECT_EQ(camera->connectionState(), 2u);
}

TEST(SimulatedCamera, EndsAStreamOnceWhenStoppedOrDisconnected)
{
    SimulatedCameraContent content;
    content.root.files.push_back({QStringLiteral("BIG.CR2"), 1024 * 1024, QDateTime::currentDateTime(), {}});
    SimulatedCameraOptions options;
    options.chunkSize = 64 * 1024;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromContent(content, options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 1u);

    // Stopped by the receiver: no chunk after the stop, and it does not end as a success.
    const auto stopped = test::streamFile(files.front(), {}, 2);
    EXPECT_EQ(stopped.chunks, 2);
    test::runFor(std::chrono::milliseconds(50));
    EXPECT_EQ(stopped.completions, 1);
    ASSERT_TRUE(stopped.error);
    EXPECT_EQ(stopped.error->code, VKLErrorCancelled);
    EXPECT_TRUE(stopped.contextUnchanged);

    // Whole, the pattern arrives in order.
    const auto whole = test::streamFile(files.front());
    EXPECT_EQ(whole.error, std::nullopt);
    EXPECT_EQ(whole.chunks, 16);
    ASSERT_EQ(whole.data.size(), 1024 * 1024);
    for (qint64 position : {0LL, 1LL, 64LL * 1024 - 1, 64LL * 1024, 500000LL, 1024LL * 1024 - 1})
        EXPECT_EQ(whole.data[position], static_cast<char>(position * 31 % 251)) << position;

    // Disconnected in the middle: the stream ends with a lost connection.
    auto completions = std::make_shared<int>(0);
    auto chunks = std::make_shared<int>(0);
    auto error = std::make_shared<std::optional<Error>>();
    files.front()->streamItem([] { return VKLFileSystemItem::StreamContext(); }, DispatchQueue::main(),
                              [&, chunks](const auto&, const QByteArray&, const auto&) {
                                  if (++*chunks == 3)
                                      camera->dropConnection();
                                  return 0;
                              },
                              DispatchQueue::main(),
                              [completions, error](const auto&, std::optional<Error> e, const auto&) {
                                  ++*completions;
                                  *error = e;
                              },
                              DispatchQueue::main());
    ASSERT_TRUE(runUntil([&] { return *completions > 0; }));
    test::runFor(std::chrono::milliseconds(50));
    EXPECT_EQ(*completions, 1);
    EXPECT_EQ(*chunks, 3);
    ASSERT_TRUE(*error);
    EXPECT_EQ((*error)->code, VKLErrorConnectionLost);
}

TEST(SimulatedCamera, CallsBackOnTheQueuesItNames)
{
    SimulatedCameraContent content;
    content.root.files.push_back({QStringLiteral("A.JPG"), 300 * 1024, QDateTime::currentDateTime(), {}});
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromContent(content, options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 1u);
    const auto item = files.front();

    bool metadataOnMain = false;
    EXPECT_EQ(awaitError([&](auto done) {
                  item->loadMetadata([&, done](std::optional<Error> e) {
                      metadataOnMain = DispatchQueue::isMainThread();
                      done(e);
                  });
              }),
              std::nullopt);
    EXPECT_TRUE(metadataOnMain);

    // Thumbnail preflight and delivery on the library's queue; a preflight that says no gets no delivery.
    const auto thumbnail = test::fetchImage(item, false);
    EXPECT_EQ(thumbnail.queueLabel, VKLLibrary::deliveryQueue()->label());
    bool declinedDelivered = false;
    bool declinedAsked = false;
    item->fetchPreview(
        [&](const auto&) {
            declinedAsked = VKLLibrary::deliveryQueue()->isCurrent();
            return false;
        },
        [&](const auto&, auto, auto) { declinedDelivered = true; });
    const auto after = test::fetchImage(item, true); // behind the declined one on the link
    EXPECT_TRUE(after.data);
    EXPECT_TRUE(declinedAsked);
    EXPECT_FALSE(declinedDelivered);

    // Stream blocks on the three queues the caller gives.
    auto preflightQueue = DispatchQueue::createSerial(QStringLiteral("test.preflight"));
    auto chunkQueue = DispatchQueue::createSerial(QStringLiteral("test.chunks"));
    auto completeQueue = DispatchQueue::createSerial(QStringLiteral("test.complete"));
    auto labels = std::make_shared<QStringList>();
    auto mutex = std::make_shared<std::mutex>();
    auto record = [labels, mutex](const QString& what) {
        std::lock_guard lock(*mutex);
        labels->append(what + QLatin1Char('@') + DispatchQueue::currentLabel());
    };
    auto finished = std::make_shared<std::atomic<bool>>(false);
    item->streamItem([record] { record(QStringLiteral("preflight")); return VKLFileSystemItem::StreamContext(); },
                     preflightQueue,
                     [record](const auto&, const QByteArray&, const auto&) { record(QStringLiteral("chunk")); return 0; },
                     chunkQueue,
                     [record, finished](const auto&, auto, const auto&) { record(QStringLiteral("complete")); *finished = true; },
                     completeQueue);
    ASSERT_TRUE(runUntil([&] { return finished->load(); }));
    std::lock_guard lock(*mutex);
    EXPECT_EQ(*labels, (QStringList{QStringLiteral("preflight@test.preflight"), QStringLiteral("chunk@test.chunks"),
                                    QStringLiteral("chunk@test.chunks"), QStringLiteral("complete@test.complete")}));
}

TEST(SimulatedCamera, ServesWholeFilesOnOneCallerQueueAlsoWhenOneGrewSinceItWasListed)
{
    // On a link without latency a file that fits in one chunk is served in one go on the caller's queue; one
    // that grew past a chunk after the listing goes on through the link. Either way the file arrives whole,
    // once, with the context of its preflight, and a stop still ends it as cancelled.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto write = [&](const QString& name, const QByteArray& data) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(data), data.size());
    };
    const auto pattern = [](qsizetype size, char seed) {
        QByteArray data(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            data[i] = char(seed + i * 7);
        return data;
    };
    const QByteArray small = pattern(1000, 1);
    const QByteArray grown = pattern(150 * 1024, 2);
    write(QStringLiteral("SMALL.JPG"), small);
    write(QStringLiteral("GROWN.JPG"), grown.left(1000));
    write(QStringLiteral("EMPTY.JPG"), {});
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    options.chunkSize = 64 * 1024;
    auto camera = SimulatedCamera::fromFolder(folder.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 3u);
    write(QStringLiteral("GROWN.JPG"), grown);

    const QueuePtr queue = DispatchQueue::createSerial(QStringLiteral("test.copy"));
    struct Case {
        const char* name;
        QByteArray expected;
        int chunks;
    };
    for (const Case& c : {Case{"SMALL.JPG", small, 1}, Case{"GROWN.JPG", grown, 3}, Case{"EMPTY.JPG", {}, 0}}) {
        SCOPED_TRACE(c.name);
        const auto item = *std::find_if(files.begin(), files.end(),
                                        [&](const auto& file) { return file->name() == QLatin1String(c.name); });
        const auto streamed = test::streamFile(item, queue);
        EXPECT_EQ(streamed.error, std::nullopt);
        EXPECT_EQ(streamed.completions, 1);
        EXPECT_TRUE(streamed.contextUnchanged);
        EXPECT_EQ(streamed.chunks, c.chunks);
        EXPECT_EQ(streamed.data, c.expected);
    }
    const auto smallItem = *std::find_if(files.begin(), files.end(),
                                         [](const auto& file) { return file->name() == QLatin1String("SMALL.JPG"); });
    const auto stopped = test::streamFile(smallItem, queue, 1);
    EXPECT_EQ(stopped.completions, 1);
    ASSERT_TRUE(stopped.error);
    EXPECT_EQ(stopped.error->code, VKLErrorCancelled);
}

TEST(SimulatedCamera, TakesRequestsOneAtATimeOnItsLink)
{
    SimulatedCameraContent content;
    content.root.files.push_back({QStringLiteral("A.JPG"), 1000, QDateTime::currentDateTime(), {}});
    content.root.files.push_back({QStringLiteral("B.JPG"), 100 * 1024, QDateTime::currentDateTime(), {}});
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    options.latencyMs = 100;
    options.throughputBytesPerSecond = 1024 * 1024;
    auto camera = SimulatedCamera::fromContent(content, options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 2u);

    QElapsedTimer timer;
    timer.start();
    int answered = 0;
    qint64 firstAnswer = 0;
    for (const auto& item : files) {
        item->loadMetadata([&](std::optional<Error>) {
            if (++answered == 1)
                firstAnswer = timer.elapsed();
        });
    }
    ASSERT_TRUE(runUntil([&] { return answered == 2; }));
    EXPECT_GE(firstAnswer, 100);
    EXPECT_GE(timer.elapsed(), 200);

    // 100 KiB at 1 MiB/s take about 100 ms on top of the latency.
    timer.restart();
    const auto stream = test::streamFile(files[1]);
    EXPECT_EQ(stream.error, std::nullopt);
    EXPECT_GE(timer.elapsed(), 190);
}

TEST(SimulatedCamera, PublishesBatteryPropertiesWhileConnected)
{
    SimulatedCameraOptions options;
    options.batteryLevel = 3;
    options.powerSource = 1;
    auto camera = SimulatedCamera::fromContent({}, options);
    const auto level = camera->proxyForProperty(VKLPropertyBatteryLevel);
    const auto power = camera->proxyForProperty(VKLPropertyPowerSource);
    EXPECT_EQ(level->propertyIdentifier(), 4u);
    EXPECT_EQ(power->propertyIdentifier(), 5u);
    EXPECT_EQ(level->value(), std::nullopt);
    ASSERT_EQ(test::connectCamera(*camera), std::nullopt);
    EXPECT_EQ(level->value(), 3);
    EXPECT_EQ(power->value(), 1);

    int changes = 0;
    QObject::connect(level.get(), &VKLPropertyProxy::valueChanged, [&] { ++changes; });
    camera->setBatteryLevel(4);
    EXPECT_EQ(level->value(), 4);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(camera->proxyForProperty(VKLPropertyBatteryLevel), level);
    EXPECT_EQ(camera->proxyForProperty(77)->value(), std::nullopt);
}

TEST(SimulatedCamera, DescribesItselfFromItsOptions)
{
    QTemporaryDir folder;
    QFile ini(folder.filePath(QStringLiteral("camera.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nidentifier=VK1-0042\nname=Anna's VK-1\nipv4Address=10.0.0.1\nssid=VK1-0042-Net\n"
              "latencyMs=5\nstorageAccess=refused\nmetadataFailures=A.JPG, B.JPG\nlistingErrors=DCIM\n"
              "batteryLevel=-1\npowerSource=1\ndisconnectAfterSeconds=2.5\npairingPrompt=true\n");
    ini.close();
    auto camera = SimulatedCamera::fromFolder(folder.path());
    EXPECT_EQ(camera->friendlyIdentifier(), QStringLiteral("VK1-0042"));
    EXPECT_EQ(camera->friendlyDisplayName(), QStringLiteral("Anna's VK-1"));
    EXPECT_EQ(camera->service().ipv4Address, QStringLiteral("10.0.0.1"));
    const auto& options = camera->options();
    EXPECT_EQ(options.ssid, QStringLiteral("VK1-0042-Net"));
    EXPECT_EQ(options.latencyMs, 5);
    EXPECT_EQ(options.storageAccess, SimulatedCameraOptions::StorageAccess::Refused);
    EXPECT_EQ(options.metadataFailures, (QStringList{QStringLiteral("A.JPG"), QStringLiteral("B.JPG")}));
    EXPECT_EQ(options.listingErrors, QStringList{QStringLiteral("DCIM")});
    EXPECT_EQ(options.batteryLevel, std::nullopt);
    EXPECT_EQ(options.powerSource, 1);
    EXPECT_DOUBLE_EQ(options.disconnectAfterSeconds, 2.5);
    EXPECT_TRUE(options.pairingPrompt);

    // The options file is not one of the camera's files; without an identifier the folder names the camera.
    QTemporaryDir card;
    QFile storageMode(card.filePath(QStringLiteral("camera.ini")));
    ASSERT_TRUE(storageMode.open(QIODevice::WriteOnly));
    storageMode.write("[General]\nstartsInStorageMode=true\n");
    storageMode.close();
    QFile photo(card.filePath(QStringLiteral("A.JPG")));
    ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
    photo.write("not really a JPEG");
    photo.close();
    auto plain = SimulatedCamera::fromFolder(card.path());
    EXPECT_EQ(plain->friendlyIdentifier(), QFileInfo(card.path()).fileName());
    const auto files = test::walkFiles(test::openStorage(*plain));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front()->name(), QStringLiteral("A.JPG"));
}

} // namespace
} // namespace vornakel

namespace vornakel {

TEST(SimulatedCamera, StreamFaultsComeFromCameraIni)
{
    QTemporaryDir folder;
    const QByteArray bytes = QByteArray("0123456789").repeated(1000);
    for (const char* name : {"A.JPG", "B.JPG"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    struct Case {
        const char* ini;
        QByteArray expectedA;
        std::optional<int> errorA;
        QByteArray expectedB;
    };
    const std::vector<Case> cases = {
        {"streamErrorAfterBytes=3000\nstreamFaultFiles=A.JPG\n", bytes.left(3000), int(VKLErrorReadFailed), bytes},
        {"streamShortByBytes=100\n", bytes.left(9900), std::nullopt, bytes.left(9900)},
        {"streamStallAfterBytes=2000\nstreamStallMs=30\nstreamFaultFiles=B.JPG\n", bytes, std::nullopt, bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        QFile ini(folder.filePath(QStringLiteral("camera.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QByteArray("[General]\nchunkSize=1000\nstartsInStorageMode=true\n") + c.ini);
        ini.close();
        auto camera = SimulatedCamera::fromFolder(folder.path());
        const auto files = test::walkFiles(test::openStorage(*camera));
        ASSERT_EQ(files.size(), 2u);
        const auto a = test::streamFile(test::findFile(files, QStringLiteral("A.JPG")));
        EXPECT_EQ(a.data, c.expectedA);
        EXPECT_EQ(a.error ? std::optional<int>(a.error->code) : std::nullopt, c.errorA);
        const auto b = test::streamFile(test::findFile(files, QStringLiteral("B.JPG")));
        EXPECT_EQ(b.data, c.expectedB);
        EXPECT_EQ(b.error, std::nullopt);
        EXPECT_EQ(b.completions, 1);
    }
    const auto options = SimulatedCameraOptions::fromFolder(folder.path());
    EXPECT_EQ(options.streamStallAfterBytes, 2000);
    EXPECT_EQ(options.streamStallMs, 30);
    EXPECT_EQ(options.streamFaultFiles, QStringList({"B.JPG"}));
    EXPECT_EQ(options.streamErrorAfterBytes, -1);
}

} // namespace vornakel
