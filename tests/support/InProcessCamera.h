#pragma once

// A camera built in memory that answers inside the call or posted on the main queue, with a request log and
// failures by name: its folders and files are added by hand, the one named to fail answers with the library's
// error, and every request is written to the log in the order it was sent. Thumbnails and previews come on the
// library's delivery queue, as a real camera's do. Tests use it for the harshest orderings (answers inside the
// request); benchmarks use it for the model's own cost, without a link.

#include "support/StaticFileItem.h"
#include "platform/camera/VKLCamera.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// The requests an in-process camera was sent, in order: "list:<folder>", "meta:<file>", "thumb:<file>",
// "preview:<file>", "stream:<file>".
struct InProcessRequestLog {
    QStringList requests;
    int outstanding = 0; // listing requests not yet answered
    int maxOutstanding = 0;
    std::function<void(const QString&)> onRequest; // runs as each request is sent

    void add(const QString& request);
};

struct InProcessCameraOptions {
    bool synchronous = false; // answer inside the request instead of posting the answer on the main queue
    // None records nothing: a benchmark leaves it out so that its figures are the model's cost alone.
    std::shared_ptr<InProcessRequestLog> log = std::make_shared<InProcessRequestLog>();
};

class InProcessFile : public StaticFileItem {
public:
    // What the camera delivers for a thumbnail or preview request.
    struct Delivery {
        std::optional<Error> error;
        std::optional<QByteArray> data;
    };

    InProcessFile(std::optional<QString> name, std::optional<QDateTime> date = std::nullopt, uint64_t size = 1000,
                  std::shared_ptr<InProcessCameraOptions> options = std::make_shared<InProcessCameraOptions>());

    std::optional<QString> name() const override { return m_loaded || m_nameBeforeLoad ? m_name : std::nullopt; }
    bool metadataLoaded() const override { return m_loaded; }
    std::shared_ptr<VKLFileStorage> storage() const override { return m_storage.lock(); }
    void loadMetadata(ErrorCallback completion) override;
    // Like the library: the preflight is asked on the delivery queue just before the request goes out and is
    // then released; the delivery follows there in a later turn.
    void fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery) override;
    void fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery) override;
    // Streams the file's content (see `Stream`) in chunks: the preflight on its queue, then each chunk on the
    // delivery queue once the one before was answered, then the complete block on its queue. A chunk block that
    // answers 1 ends the stream with error 1004.
    void streamItem(StreamPreflightBlock preflight, QueuePtr preflightQueue, StreamChunkBlock chunk,
                    QueuePtr deliveryQueue, StreamCompleteBlock complete, QueuePtr completeQueue) override;

    // What a stream delivers and how it goes wrong.
    struct Stream {
        QByteArray content;                    // empty: `size()` bytes of a fixed pattern (nothing is held)
        qint64 chunkSize = 64 * 1024;
        std::optional<qint64> errorAfterBytes; // fails with 1014 once this many bytes were delivered
        std::optional<qint64> stallAfterBytes; // stops after this many bytes until `resumeStream()`
        qint64 shortByBytes = 0;               // ends this many bytes before `size()`, reporting success
        // Runs on the delivery queue after each chunk was answered, with the bytes delivered so far.
        std::function<void(qint64)> onChunkDelivered;
    };
    // Sets how this file streams; with content, `size()` becomes the content's size.
    void setStream(Stream stream);
    // The byte `offset` of the pattern a file without content streams.
    static char patternByte(qint64 offset) { return char((offset * 31 + 7) & 0xff); }
    // Lets a stalled stream go on (the stall does not come back); answers whether one was stalled.
    bool resumeStream();
    // Whether a stream has reached its stall and waits for `resumeStream()`.
    bool isStalled() const;

    const std::shared_ptr<InProcessCameraOptions>& options() const { return m_options; }
    // Files start with their metadata loaded and their name known before that.
    void setLoaded(bool loaded) { m_loaded = loaded; }
    void setNameBeforeLoad(bool known) { m_nameBeforeLoad = known; }
    void setMetadataError(bool fails) { m_metadataError = fails; }
    void setDate(std::optional<QDateTime> date) { m_dateCreated = std::move(date); }
    void setStorage(const std::shared_ptr<VKLFileStorage>& storage) { m_storage = storage; }
    // Without these a file delivers the bytes "thumbnail" and "preview".
    void setThumbnail(Delivery delivery) { m_thumbnail = std::make_unique<Delivery>(std::move(delivery)); }
    void setPreview(Delivery delivery) { m_preview = std::make_unique<Delivery>(std::move(delivery)); }

private:
    void finishLoadingMetadata(const ErrorCallback& completion);
    void fetch(const QString& kind, const Delivery& what, PreflightBlock preflight, ImageDeliveryBlock delivery);
    struct StreamRun;
    static void streamNext(const std::shared_ptr<StreamRun>& run);
    static void endStream(const std::shared_ptr<StreamRun>& run, std::optional<Error> error);

    std::shared_ptr<InProcessCameraOptions> m_options;
    std::weak_ptr<VKLFileStorage> m_storage;
    bool m_loaded = true;
    bool m_nameBeforeLoad = true;
    bool m_metadataError = false;
    // Held apart so that the hundred thousand files of a benchmark stay small.
    std::unique_ptr<Delivery> m_thumbnail;
    std::unique_ptr<Delivery> m_preview;
    std::unique_ptr<Stream> m_stream;
    mutable std::mutex m_stallMutex;
    std::function<void()> m_stalled; // the continuation of a stalled stream
    bool m_stallReleased = false;
};

class InProcessFolder : public StaticFolderItem {
public:
    InProcessFolder(QString name, std::shared_ptr<InProcessCameraOptions> options);

    void loadChildren(ErrorCallback completion) override;
    std::optional<std::vector<ItemPtr>> children() const override;

    std::shared_ptr<InProcessFolder> addFolder(const QString& name);
    std::shared_ptr<InProcessFile> addFile(const QString& name, std::optional<QDateTime> date = std::nullopt,
                                           uint64_t size = 1000);
    void reserve(size_t count) { m_children.reserve(count); }
    void setListingError(bool fails) { m_listingError = fails; }
    // A listing that succeeds but leaves `children` empty-handed.
    void setChildrenAbsent(bool absent) { m_childrenAbsent = absent; }

private:
    void finishListing(const ErrorCallback& completion);

    std::shared_ptr<InProcessCameraOptions> m_options;
    std::vector<ItemPtr> m_children;
    bool m_listed = false;
    bool m_listingError = false;
    bool m_childrenAbsent = false;
};

class InProcessStorage : public VKLFileStorage {
public:
    explicit InProcessStorage(std::shared_ptr<InProcessFolder> root, std::shared_ptr<VKLCamera> camera = nullptr)
        : m_root(std::move(root)), m_camera(camera) {}
    std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const override { return m_root; }
    std::shared_ptr<VKLCamera> camera() const override { return m_camera.lock(); }
    void setCamera(const std::shared_ptr<VKLCamera>& camera) { m_camera = camera; }

private:
    std::shared_ptr<InProcessFolder> m_root;
    std::weak_ptr<VKLCamera> m_camera;
};

// Connected and in storage mode from the start: connecting and switching modes complete inside the call.
class InProcessCamera : public VKLCamera {
public:
    explicit InProcessCamera(std::optional<QString> identifier = QStringLiteral("InProcessCamera"))
        : m_identifier(std::move(identifier)) {}

    void connectWithClientName(const QString&, ConnectCompletion completion, InterventionCallback) override
    {
        completion(std::nullopt, {});
    }
    bool supportsCommandCategories(uint32_t) const override { return true; }
    bool currentCommandCategoriesContainsCategory(uint32_t) const override { return true; }
    void setCurrentCommandCategories(uint32_t, ErrorCallback callback) override { callback(std::nullopt); }
    void disconnect(ErrorCallback, QueuePtr) override {}
    unsigned connectionState() const override { return unsigned(VKLConnectionState::Connected); }
    std::optional<QString> friendlyIdentifier() const override { return m_identifier; }
    std::optional<QString> friendlyDisplayName() const override { return m_identifier; }
    VKLCameraService service() const override { return {}; }
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override { return m_storages; }
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned) override { return nullptr; }

    void addStorage(std::shared_ptr<VKLFileStorage> storage);
    // Waits until every thumbnail and preview delivery already asked for has been made (a request takes two
    // turns of the delivery queue), so that none runs after the test that asked for it; false after 10 s.
    static bool waitForDeliveries();
    // None: the camera answers no storage list at all.
    void setStorageDevices(std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storages)
    {
        m_storages = std::move(storages);
    }

private:
    std::optional<QString> m_identifier;
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> m_storages =
        std::vector<std::shared_ptr<VKLFileStorage>>{};
};

} // namespace vornakel
