#include "CameraTestSupport.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

namespace vornakel::test {

namespace {

struct SampleCard {
    QTemporaryDir folder;
    tools::SampleCameraResult result;
};

const SampleCard& sampleCard()
{
    // Written once per test run; the folder goes when the process ends.
    static SampleCard card;
    static const bool generated = [] {
        tools::SampleCameraSpec spec;
        spec.outputFolder = card.folder.path();
        spec.shots = 6;
        spec.days = 2;
        spec.rawShare = 0.5;
        spec.shotsPerFolder = 3;
        card.result = tools::generateSampleCamera(spec);
        return true;
    }();
    (void)generated;
    return card;
}

} // namespace

const tools::SampleCameraResult& sampleCamera()
{
    EXPECT_TRUE(sampleCard().result.ok()) << sampleCard().result.error.toStdString();
    return sampleCard().result;
}

QString sampleCameraFolder() { return sampleCard().folder.path(); }

std::optional<Error> awaitError(const std::function<void(std::function<void(std::optional<Error>)>)>& call)
{
    auto result = std::make_shared<std::optional<std::optional<Error>>>();
    call([result](std::optional<Error> error) { *result = std::move(error); });
    EXPECT_TRUE(runUntil([&] { return result->has_value(); }));
    if (!result->has_value())
        return errorWithVKLErrorCode(VKLErrorTimeout);
    return **result;
}

std::optional<Error> connectCamera(VKLCamera& camera)
{
    return awaitError([&](auto done) {
        camera.connectWithClientName(QStringLiteral("Vornakel"),
                                     [done](std::optional<Error> error, std::vector<VKLCameraConnectionWarning>) { done(error); },
                                     {});
    });
}

std::shared_ptr<VKLFileSystemFolderItem> openStorage(VKLCamera& camera)
{
    EXPECT_EQ(connectCamera(camera), std::nullopt);
    if (!camera.currentCommandCategoriesContainsCategory(VKLCommandCategoryStorageAccess)) {
        EXPECT_EQ(awaitError([&](auto done) { camera.setCurrentCommandCategories(VKLCommandCategoryStorageAccess, done); }),
                  std::nullopt);
    }
    const auto storages = camera.storageDevices();
    if (!storages || storages->size() != 1) {
        ADD_FAILURE() << "no storage";
        return nullptr;
    }
    return storages->front()->rootDirectory();
}

std::vector<VKLFileSystemItem::ItemPtr> walkFiles(const std::shared_ptr<VKLFileSystemFolderItem>& folder)
{
    std::vector<VKLFileSystemItem::ItemPtr> files;
    if (!folder)
        return files;
    EXPECT_EQ(awaitError([&](auto done) { folder->loadChildren(done); }), std::nullopt);
    std::vector<std::shared_ptr<VKLFileSystemFolderItem>> subfolders;
    for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
        if (auto subfolder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child))
            subfolders.push_back(subfolder);
        else
            files.push_back(child);
    }
    for (const auto& subfolder : subfolders) {
        auto below = walkFiles(subfolder);
        files.insert(files.end(), below.begin(), below.end());
    }
    return files;
}

VKLFileSystemItem::ItemPtr findFile(const std::vector<VKLFileSystemItem::ItemPtr>& files, const QString& name)
{
    for (const auto& file : files) {
        if (file->name() == name)
            return file;
    }
    ADD_FAILURE() << "no file " << name.toStdString();
    return nullptr;
}

ImageResult fetchImage(const VKLFileSystemItem::ItemPtr& item, bool preview)
{
    // Filled on the library's delivery queue, read here on the main thread.
    struct Shared {
        std::mutex mutex;
        ImageResult result;
    };
    auto shared = std::make_shared<Shared>();
    auto delivery = [shared](const VKLFileSystemItem::ItemPtr&, std::optional<Error> error, std::optional<QByteArray> data) {
        std::lock_guard lock(shared->mutex);
        shared->result.error = std::move(error);
        shared->result.data = std::move(data);
        shared->result.queueLabel = DispatchQueue::currentLabel();
        shared->result.delivered = true;
    };
    if (preview)
        item->fetchPreview([](const VKLFileSystemItem::ItemPtr&) { return true; }, delivery);
    else
        item->fetchThumbnail([](const VKLFileSystemItem::ItemPtr&) { return true; }, delivery);
    EXPECT_TRUE(runUntil([&] {
        std::lock_guard lock(shared->mutex);
        return shared->result.delivered;
    }));
    std::lock_guard lock(shared->mutex);
    return shared->result;
}

StreamResult streamFile(const VKLFileSystemItem::ItemPtr& item, QueuePtr queue, int stopAfterChunks)
{
    // Chunks and the completion may come on worker queues; the result is read here on the main thread.
    auto result = std::make_shared<StreamResult>();
    auto mutex = std::make_shared<std::mutex>();
    auto context = std::make_shared<int>(42);
    item->streamItem([context] { return VKLFileSystemItem::StreamContext(context); }, queue,
                     [result, mutex, context, stopAfterChunks](const VKLFileSystemItem::ItemPtr&, const QByteArray& data,
                                                        const VKLFileSystemItem::StreamContext& received) {
                         std::lock_guard lock(*mutex);
                         result->data.append(data);
                         ++result->chunks;
                         if (received != context)
                             ADD_FAILURE() << "chunk got another context";
                         return result->chunks == stopAfterChunks ? 1 : 0;
                     },
                     queue,
                     [result, mutex, context](const VKLFileSystemItem::ItemPtr&, std::optional<Error> error,
                                       const VKLFileSystemItem::StreamContext& received) {
                         std::lock_guard lock(*mutex);
                         ++result->completions;
                         result->error = std::move(error);
                         result->contextUnchanged = received == context;
                     },
                     queue);
    EXPECT_TRUE(runUntil([&] {
        std::lock_guard lock(*mutex);
        return result->completions > 0;
    }));
    std::lock_guard lock(*mutex);
    return *result;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

} // namespace vornakel::test
