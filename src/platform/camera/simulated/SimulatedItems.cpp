#include "platform/camera/simulated/SimulatedItems.h"

#include <algorithm>
#include <mutex>

namespace vornakel::simulated {
namespace {

QueuePtr orMain(const QueuePtr& queue) { return queue ? queue : DispatchQueue::main(); }

QString normalizedFolderPath(QString path)
{
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Whether a request made in `epoch` may go on; otherwise the error it ends with.
std::optional<Error> linkError(const CameraCore& core, uint64_t epoch, bool connectedAtSubmit)
{
    if (core.link->isConnected(epoch))
        return std::nullopt;
    return errorWithVKLErrorCode(connectedAtSubmit ? VKLErrorConnectionLost : VKLErrorNotConnected);
}

// The state of one stream while its chunks travel between the link and the caller's queues.
struct StreamState {
    std::shared_ptr<CameraCore> core;
    VKLFileSystemItem::ItemPtr item;
    uint64_t epoch = 0;
    bool connectedAtSubmit = false;
    VKLFileSystemItem::StreamChunkBlock chunk;
    QueuePtr deliveryQueue;
    VKLFileSystemItem::StreamCompleteBlock complete;
    QueuePtr completeQueue;
    Link::Done done;
    VKLFileSystemItem::StreamContext context;
    std::unique_ptr<ContentReader> reader;
    std::chrono::steady_clock::time_point start;
    qint64 bytesSent = 0;
    // Faults the options ask for (none when negative).
    qint64 errorAt = -1;
    qint64 stallAt = -1;
    qint64 endAt = -1;
    bool stalled = false;
};

// Sets the stream faults of the options on a stream of the entry, when they apply to it.
void applyStreamFaults(StreamState& state, const QString& name, uint64_t size)
{
    const SimulatedCameraOptions& options = state.core->options;
    if (!options.streamFaultFiles.isEmpty() && !options.streamFaultFiles.contains(name))
        return;
    state.errorAt = options.streamErrorAfterBytes;
    state.stallAt = options.streamStallAfterBytes;
    if (options.streamShortByBytes > 0)
        state.endAt = std::max<qint64>(0, qint64(size) - options.streamShortByBytes);
}

void finishStream(const std::shared_ptr<StreamState>& state, std::optional<Error> error)
{
    state->reader.reset();
    state->completeQueue->async([state, error] {
        if (state->complete)
            state->complete(state->item, error, state->context);
    });
    state->done();
}

// A stream stalled for good still ends when the connection drops, as a camera going out of range ends it.
void watchStalledStream(const std::shared_ptr<StreamState>& state)
{
    state->core->link->queue()->asyncAfter(std::chrono::milliseconds(100), [state] {
        if (auto error = linkError(*state->core, state->epoch, state->connectedAtSubmit)) {
            finishStream(state, error);
            return;
        }
        watchStalledStream(state);
    });
}

void deliverChunkAndGoOn(const std::shared_ptr<StreamState>& state, const QByteArray& data);

// The bytes a stream sends at most in one chunk.
qint64 chunkSizeOf(const SimulatedCameraOptions& options)
{
    return options.chunkSize > 0 ? options.chunkSize : 256 * 1024;
}

void streamNextChunk(const std::shared_ptr<StreamState>& state)
{
    if (auto error = linkError(*state->core, state->epoch, state->connectedAtSubmit)) {
        finishStream(state, error);
        return;
    }
    if (state->errorAt >= 0 && state->bytesSent >= state->errorAt) {
        finishStream(state, errorWithVKLErrorCode(VKLErrorReadFailed));
        return;
    }
    if (state->stallAt >= 0 && state->bytesSent >= state->stallAt && !state->stalled) {
        state->stalled = true;
        // A camera that stops answering: the link stays taken, so the stall holds up every later request too.
        if (state->core->options.streamStallMs > 0)
            state->core->link->queue()->asyncAfter(std::chrono::milliseconds(state->core->options.streamStallMs),
                                                   [state] { streamNextChunk(state); });
        else
            watchStalledStream(state);
        return;
    }
    if (state->endAt >= 0 && state->bytesSent >= state->endAt) {
        finishStream(state, std::nullopt);
        return;
    }
    qint64 wanted = chunkSizeOf(state->core->options);
    for (qint64 limit : {state->errorAt, state->stalled ? qint64(-1) : state->stallAt, state->endAt}) {
        if (limit > state->bytesSent)
            wanted = std::min(wanted, limit - state->bytesSent);
    }
    std::optional<QByteArray> data = state->reader->read(wanted);
    if (!data) {
        finishStream(state, errorWithVKLErrorCode(VKLErrorReadFailed));
        return;
    }
    if (data->isEmpty()) {
        finishStream(state, std::nullopt);
        return;
    }
    const auto delay = state->core->link->transferDelay(state->start, state->bytesSent, data->size());
    state->bytesSent += data->size();
    state->core->link->queue()->asyncAfter(delay, [state, data = std::move(*data)] {
        if (auto error = linkError(*state->core, state->epoch, state->connectedAtSubmit)) {
            finishStream(state, error);
            return;
        }
        state->deliveryQueue->async([state, data] { deliverChunkAndGoOn(state, data); });
    });
}

// On the delivery queue: hands the chunk over, then the link reads on.
void deliverChunkAndGoOn(const std::shared_ptr<StreamState>& state, const QByteArray& data)
{
    const int answer = state->chunk ? state->chunk(state->item, data, state->context) : 0;
    state->core->link->queue()->async([state, answer] {
        // A stream stopped by its receiver did not deliver the whole file: it ends as cancelled, so that no
        // caller takes the part it has for the file.
        if (answer != 0)
            finishStream(state, errorWithVKLErrorCode(VKLErrorCancelled));
        else
            streamNextChunk(state);
    });
}

// What files and folders share: the entry, the metadata request and the data requests.
template <typename Base>
class ItemBase : public Base {
public:
    using typename VKLFileSystemItem::ErrorCallback;
    using typename VKLFileSystemItem::ImageDeliveryBlock;
    using typename VKLFileSystemItem::PreflightBlock;
    using typename VKLFileSystemItem::StreamChunkBlock;
    using typename VKLFileSystemItem::StreamCompleteBlock;
    using typename VKLFileSystemItem::StreamPreflightBlock;

    ItemBase(std::shared_ptr<CameraCore> core, std::weak_ptr<VKLFileStorage> storage, uint64_t epoch, Entry entry)
        : m_core(std::move(core)), m_storage(std::move(storage)), m_epoch(epoch), m_entry(std::move(entry))
    {
    }

    std::optional<QString> name() const override { return m_entry.name; }
    uint64_t size() const override
    {
        std::lock_guard lock(m_mutex);
        return m_entry.size;
    }
    std::optional<QDateTime> dateCreated() const override
    {
        std::lock_guard lock(m_mutex);
        return m_entry.dateCreated;
    }
    std::optional<int> orientation() const override
    {
        std::lock_guard lock(m_mutex);
        return m_entry.orientation;
    }
    std::optional<VKLShootingData> shootingData() const override
    {
        std::lock_guard lock(m_mutex);
        return m_entry.shootingData;
    }
    bool isKnownImageType() const override { return !m_entry.isFolder && isKnownImageName(m_entry.name); }
    bool metadataLoaded() const override
    {
        std::lock_guard lock(m_mutex);
        return m_entry.metadataLoaded;
    }
    std::shared_ptr<VKLFileStorage> storage() const override { return m_storage.lock(); }

    void loadMetadata(ErrorCallback completion) override
    {
        auto self = this->shared_from_this();
        auto core = m_core;
        const uint64_t epoch = m_epoch;
        const bool connected = core->link->isConnected(epoch);
        core->link->submit([this, self, core, epoch, connected, completion](Link::Done done) {
            core->link->afterLatency([this, self, core, epoch, connected, completion, done] {
                std::optional<Error> error = linkError(*core, epoch, connected);
                if (!error && core->options.metadataFailures.contains(m_entry.name))
                    error = errorWithVKLErrorCode(VKLErrorMetadataUnavailable);
                if (!error) {
                    const Result<Metadata> metadata = core->content->readMetadata(m_entry);
                    error = metadata.failure();
                    if (metadata) {
                        std::lock_guard lock(m_mutex);
                        m_entry.size = metadata->size;
                        m_entry.dateCreated = metadata->dateCreated;
                        m_entry.orientation = metadata->orientation;
                        m_entry.shootingData = metadata->shootingData;
                        m_entry.metadataLoaded = true;
                    }
                }
                DispatchQueue::main()->async([completion, error] {
                    if (completion)
                        completion(error);
                });
                done();
            });
        });
    }

    void fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), false);
    }

    void fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), true);
    }

    void streamItem(StreamPreflightBlock preflight, QueuePtr preflightQueue, StreamChunkBlock chunk,
                    QueuePtr deliveryQueue, StreamCompleteBlock complete, QueuePtr completeQueue) override
    {
        auto state = std::make_shared<StreamState>();
        state->core = m_core;
        state->item = this->shared_from_this();
        state->epoch = m_epoch;
        state->connectedAtSubmit = m_core->link->isConnected(state->epoch);
        state->chunk = std::move(chunk);
        state->deliveryQueue = orMain(deliveryQueue);
        state->complete = std::move(complete);
        state->completeQueue = orMain(completeQueue);
        preflightQueue = orMain(preflightQueue);
        m_core->link->submit([this, state, preflight = std::move(preflight), preflightQueue](Link::Done done) {
            state->done = std::move(done);
            if (auto error = linkError(*state->core, state->epoch, state->connectedAtSubmit)) {
                finishStream(state, error);
                return;
            }
            preflightQueue->async([this, state, preflight, preflightQueue] {
                if (preflight)
                    state->context = preflight();
                if (preflightQueue->isCurrent() && streamWholeAtOnce(state))
                    return;
                state->core->link->afterLatency([this, state] {
                    if (auto error = linkError(*state->core, state->epoch, state->connectedAtSubmit)) {
                        finishStream(state, error);
                        return;
                    }
                    state->reader = state->core->content->open(m_entry);
                    if (!state->reader) {
                        finishStream(state, errorWithVKLErrorCode(VKLErrorFileNotFound));
                        return;
                    }
                    applyStreamFaults(*state, m_entry.name, this->size());
                    state->start = std::chrono::steady_clock::now();
                    streamNextChunk(state);
                });
            });
        });
    }

protected:
    const Entry& entry() const { return m_entry; } // name, path and kind never change

    // A file that fits in one chunk, on a link without latency, speed limit or faults, with the caller taking
    // chunk and completion on the queue that ran its preflight: the camera's whole answer is there at once, so it
    // is read, delivered and completed in this one hand-over rather than in a trip back to the link for each
    // step (most of the time of a small file). Answers false, having done nothing, where that does not hold.
    bool streamWholeAtOnce(const std::shared_ptr<StreamState>& state)
    {
        const SimulatedCameraOptions& options = state->core->options;
        const qint64 chunkSize = chunkSizeOf(options);
        const bool faults = options.streamErrorAfterBytes >= 0 || options.streamStallAfterBytes >= 0
            || options.streamShortByBytes > 0;
        if (faults || state->core->link->latency().count() > 0 || state->core->link->throughput() > 0
            || qint64(this->size()) > chunkSize || !state->deliveryQueue->isCurrent()
            || !state->completeQueue->isCurrent())
            return false;
        // The link is held by this request until `done`, so the content is still read one request at a time.
        std::optional<Error> error = linkError(*state->core, state->epoch, state->connectedAtSubmit);
        std::unique_ptr<ContentReader> reader = error ? nullptr : state->core->content->open(m_entry);
        if (!error && !reader)
            error = errorWithVKLErrorCode(VKLErrorFileNotFound);
        std::optional<QByteArray> data = error ? std::nullopt : reader->read(chunkSize);
        if (!error && !data)
            error = errorWithVKLErrorCode(VKLErrorReadFailed);
        // A file that grew since it was listed goes on through the link like any larger one.
        if (!error && data->size() == chunkSize) {
            state->reader = std::move(reader);
            state->start = std::chrono::steady_clock::now();
            state->bytesSent = data->size();
            deliverChunkAndGoOn(state, *data);
            return true;
        }
        reader.reset();
        if (!error && !data->isEmpty()) {
            state->bytesSent = data->size();
            // A stream stopped by its receiver did not deliver the whole file: it ends as cancelled.
            if (state->chunk && state->chunk(state->item, *data, state->context) != 0)
                error = errorWithVKLErrorCode(VKLErrorCancelled);
        }
        if (state->complete)
            state->complete(state->item, error, state->context);
        state->done();
        return true;
    }

    const std::shared_ptr<CameraCore>& core() const { return m_core; }
    const std::weak_ptr<VKLFileStorage>& storageRef() const { return m_storage; }
    uint64_t epoch() const { return m_epoch; }
    mutable std::mutex m_mutex;

private:
    void fetchImage(PreflightBlock preflight, ImageDeliveryBlock delivery, bool preview)
    {
        auto self = this->shared_from_this();
        auto core = m_core;
        const uint64_t epoch = m_epoch;
        const bool connected = core->link->isConnected(epoch);
        auto deliver = [self, delivery](std::optional<Error> error, std::optional<QByteArray> data) {
            VKLLibrary::deliveryQueue()->async([self, delivery, error, data] {
                if (delivery)
                    delivery(self, error, error ? std::nullopt : data);
            });
        };
        core->link->submit([this, self, core, epoch, connected, preflight, deliver, preview](Link::Done done) {
            if (auto error = linkError(*core, epoch, connected)) {
                deliver(error, std::nullopt);
                done();
                return;
            }
            VKLLibrary::deliveryQueue()->async([this, self, core, epoch, connected, preflight, deliver, preview, done] {
                if (preflight && !preflight(self)) {
                    done();
                    return;
                }
                core->link->afterLatency([this, self, core, epoch, connected, deliver, preview, done] {
                    if (auto error = linkError(*core, epoch, connected)) {
                        deliver(error, std::nullopt);
                        done();
                        return;
                    }
                    const Result<QByteArray> image =
                        preview ? core->content->preview(m_entry) : core->content->thumbnail(m_entry);
                    const auto delay = core->link->transferDelay(std::chrono::steady_clock::now(), 0,
                                                                 image ? image->size() : 0);
                    core->link->queue()->asyncAfter(delay, [core, epoch, connected, deliver, image, done] {
                        if (auto error = linkError(*core, epoch, connected))
                            deliver(error, std::nullopt);
                        else
                            deliver(image.failure(), image.valueOr(QByteArray()));
                        done();
                    });
                });
            });
        });
    }

    std::shared_ptr<CameraCore> m_core;
    std::weak_ptr<VKLFileStorage> m_storage;
    // Items belong to the connection they were listed in, like a camera's object handles.
    uint64_t m_epoch;
    Entry m_entry;
};

class FileItem final : public ItemBase<VKLFileSystemItem> {
public:
    using ItemBase::ItemBase;
};

class FolderItem final : public ItemBase<VKLFileSystemFolderItem> {
public:
    using ItemBase::ItemBase;

    void loadChildren(ErrorCallback completion) override
    {
        auto self = std::static_pointer_cast<FolderItem>(shared_from_this());
        auto coreRef = core();
        const uint64_t epoch = self->epoch();
        const bool connected = coreRef->link->isConnected(epoch);
        coreRef->link->submit([self, coreRef, epoch, connected, completion](Link::Done done) {
            coreRef->link->afterLatency([self, coreRef, epoch, connected, completion, done] {
                std::optional<Error> error = linkError(*coreRef, epoch, connected);
                if (!error && self->isListingError())
                    error = errorWithVKLErrorCode(VKLErrorListingFailed);
                if (!error) {
                    Result<std::vector<Entry>> listing =
                        coreRef->content->list(self->entry(), coreRef->options.metadataPreloaded);
                    error = listing.failure();
                    if (listing) {
                        std::vector<ItemPtr> children;
                        children.reserve(listing->size());
                        for (Entry& child : *listing) {
                            if (child.isFolder)
                                children.push_back(std::make_shared<FolderItem>(coreRef, self->storageRef(), epoch, std::move(child)));
                            else
                                children.push_back(std::make_shared<FileItem>(coreRef, self->storageRef(), epoch, std::move(child)));
                        }
                        std::lock_guard lock(self->m_mutex);
                        self->m_children = std::move(children);
                    }
                }
                DispatchQueue::main()->async([completion, error] {
                    if (completion)
                        completion(error);
                });
                done();
            });
        });
    }

    std::optional<std::vector<ItemPtr>> children() const override
    {
        std::lock_guard lock(m_mutex);
        return m_children;
    }

private:
    bool isListingError() const
    {
        const QString path = entry().relativePath;
        for (const QString& failing : core()->options.listingErrors) {
            const QString normalized = normalizedFolderPath(failing);
            if (normalized == path || (!path.isEmpty() && normalized == entry().name))
                return true;
        }
        return false;
    }

    std::optional<std::vector<ItemPtr>> m_children;
};

} // namespace

std::shared_ptr<SimulatedStorage> SimulatedStorage::create(std::shared_ptr<CameraCore> core,
                                                           std::weak_ptr<VKLCamera> camera, uint64_t epoch)
{
    auto storage = std::make_shared<SimulatedStorage>(std::move(camera));
    Entry root = core->content->root();
    root.metadataLoaded = core->options.metadataPreloaded;
    storage->m_root = std::make_shared<FolderItem>(core, std::weak_ptr<VKLFileStorage>(storage), epoch, std::move(root));
    return storage;
}

} // namespace vornakel::simulated
