#include "support/InProcessCamera.h"

#include "platform/core/DispatchQueue.h"

#include <algorithm>
#include <future>
#include <utility>

namespace vornakel {
namespace {

// Finishes a request inside the call, or posted on the main queue with the item held until then. Inside the call
// nothing is wrapped or copied, so that a benchmark measures the caller, not this camera.
template <typename Item>
void answer(Item& item, bool synchronous, VKLFileSystemItem::ErrorCallback completion,
            void (Item::*finish)(const VKLFileSystemItem::ErrorCallback&))
{
    if (synchronous) {
        (item.*finish)(completion);
        return;
    }
    auto self = std::static_pointer_cast<Item>(item.shared_from_this());
    DispatchQueue::main()->async([self, finish, completion = std::move(completion)] { ((*self).*finish)(completion); });
}

} // namespace

void InProcessRequestLog::add(const QString& request)
{
    requests << request;
    if (onRequest)
        onRequest(request);
}

// ---- Files --------------------------------------------------------------------------------------------------

InProcessFile::InProcessFile(std::optional<QString> name, std::optional<QDateTime> date, uint64_t size,
                             std::shared_ptr<InProcessCameraOptions> options)
    : StaticFileItem(std::move(name), std::move(date), size)
    , m_options(std::move(options))
{
}

void InProcessFile::loadMetadata(ErrorCallback completion)
{
    if (m_options->log)
        m_options->log->add(QStringLiteral("meta:") + m_name.value_or(QString()));
    answer(*this, m_options->synchronous, std::move(completion), &InProcessFile::finishLoadingMetadata);
}

void InProcessFile::finishLoadingMetadata(const ErrorCallback& completion)
{
    if (m_metadataError) {
        completion(errorWithVKLErrorCode(VKLErrorMetadataUnavailable));
        return;
    }
    m_loaded = true;
    completion(std::nullopt);
}

void InProcessFile::fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery)
{
    fetch(QStringLiteral("thumb:"), m_thumbnail ? *m_thumbnail : Delivery{std::nullopt, QByteArrayLiteral("thumbnail")},
          std::move(preflight), std::move(delivery));
}

void InProcessFile::fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery)
{
    fetch(QStringLiteral("preview:"), m_preview ? *m_preview : Delivery{std::nullopt, QByteArrayLiteral("preview")},
          std::move(preflight), std::move(delivery));
}

void InProcessFile::fetch(const QString& kind, const Delivery& what, PreflightBlock preflight,
                          ImageDeliveryBlock delivery)
{
    if (m_options->log)
        m_options->log->add(kind + m_name.value_or(QString()));
    auto self = shared_from_this();
    auto heldPreflight = std::make_shared<PreflightBlock>(std::move(preflight));
    const QueuePtr queue = VKLLibrary::deliveryQueue();
    queue->async([self, what, heldPreflight, delivery, queue] {
        const bool wanted = !*heldPreflight || (*heldPreflight)(self);
        *heldPreflight = nullptr;
        if (!wanted)
            return;
        queue->async([self, what, delivery] { delivery(self, what.error, what.data); });
    });
}

struct InProcessFile::StreamRun {
    std::shared_ptr<InProcessFile> file;
    Stream stream;
    qint64 length = 0; // what the stream delivers in all
    qint64 delivered = 0;
    StreamChunkBlock chunk;
    QueuePtr deliveryQueue;
    StreamCompleteBlock complete;
    QueuePtr completeQueue;
    StreamContext context;
};

void InProcessFile::setStream(Stream stream)
{
    if (!stream.content.isEmpty())
        m_size = uint64_t(stream.content.size());
    m_stream = std::make_unique<Stream>(std::move(stream));
}

bool InProcessFile::isStalled() const
{
    std::lock_guard lock(m_stallMutex);
    return m_stalled != nullptr;
}

bool InProcessFile::resumeStream()
{
    std::function<void()> continuation;
    {
        std::lock_guard lock(m_stallMutex);
        m_stallReleased = true;
        continuation = std::move(m_stalled);
        m_stalled = nullptr;
    }
    if (!continuation)
        return false;
    continuation();
    return true;
}

void InProcessFile::streamItem(StreamPreflightBlock preflight, QueuePtr preflightQueue, StreamChunkBlock chunk,
                               QueuePtr deliveryQueue, StreamCompleteBlock complete, QueuePtr completeQueue)
{
    if (m_options->log)
        m_options->log->add(QStringLiteral("stream:") + m_name.value_or(QString()));
    auto run = std::make_shared<StreamRun>();
    run->file = std::static_pointer_cast<InProcessFile>(shared_from_this());
    run->stream = m_stream ? *m_stream : Stream{};
    const qint64 stated = run->stream.content.isEmpty() ? qint64(m_size) : run->stream.content.size();
    run->length = std::max<qint64>(0, stated - run->stream.shortByBytes);
    run->chunk = std::move(chunk);
    run->deliveryQueue = deliveryQueue ? std::move(deliveryQueue) : DispatchQueue::main();
    run->complete = std::move(complete);
    run->completeQueue = completeQueue ? std::move(completeQueue) : DispatchQueue::main();
    {
        std::lock_guard lock(m_stallMutex);
        m_stallReleased = false;
    }
    (preflightQueue ? preflightQueue : DispatchQueue::main())->async([run, preflight = std::move(preflight)] {
        if (preflight)
            run->context = preflight();
        streamNext(run);
    });
}

void InProcessFile::endStream(const std::shared_ptr<StreamRun>& run, std::optional<Error> error)
{
    run->completeQueue->async([run, error = std::move(error)] {
        if (run->complete)
            run->complete(run->file, error, run->context);
        // The blocks may hold what holds this file; let them go with the stream.
        run->chunk = nullptr;
        run->complete = nullptr;
        run->stream.onChunkDelivered = nullptr;
    });
}

void InProcessFile::streamNext(const std::shared_ptr<StreamRun>& run)
{
    const Stream& stream = run->stream;
    if (stream.errorAfterBytes && run->delivered >= *stream.errorAfterBytes) {
        endStream(run, errorWithVKLErrorCode(VKLErrorReadFailed));
        return;
    }
    if (stream.stallAfterBytes && run->delivered >= *stream.stallAfterBytes) {
        InProcessFile& file = *run->file;
        std::lock_guard lock(file.m_stallMutex);
        if (!file.m_stallReleased) {
            file.m_stalled = [run] { run->deliveryQueue->async([run] { streamNext(run); }); };
            return;
        }
    }
    if (run->delivered >= run->length) {
        endStream(run, std::nullopt);
        return;
    }
    qint64 size = std::min(std::max<qint64>(1, stream.chunkSize), run->length - run->delivered);
    if (stream.errorAfterBytes)
        size = std::min(size, std::max<qint64>(1, *stream.errorAfterBytes - run->delivered));
    if (stream.stallAfterBytes && *stream.stallAfterBytes > run->delivered)
        size = std::min(size, *stream.stallAfterBytes - run->delivered);
    QByteArray data;
    if (!stream.content.isEmpty()) {
        data = stream.content.mid(run->delivered, size);
    } else {
        data.resize(size);
        for (qint64 i = 0; i < size; ++i)
            data[i] = patternByte(run->delivered + i);
    }
    run->deliveryQueue->async([run, data = std::move(data)] {
        const int answer = run->chunk ? run->chunk(run->file, data, run->context) : 0;
        run->delivered += data.size();
        if (run->stream.onChunkDelivered)
            run->stream.onChunkDelivered(run->delivered);
        if (answer != 0)
            endStream(run, errorWithVKLErrorCode(VKLErrorCancelled));
        else
            streamNext(run);
    });
}

// ---- Folders ------------------------------------------------------------------------------------------------

InProcessFolder::InProcessFolder(QString name, std::shared_ptr<InProcessCameraOptions> options)
    : StaticFolderItem(std::move(name)), m_options(std::move(options))
{
}

void InProcessFolder::loadChildren(ErrorCallback completion)
{
    if (const std::shared_ptr<InProcessRequestLog>& log = m_options->log) {
        log->add(QStringLiteral("list:") + m_name.value_or(QString()));
        log->maxOutstanding = std::max(log->maxOutstanding, ++log->outstanding);
    }
    answer(*this, m_options->synchronous, std::move(completion), &InProcessFolder::finishListing);
}

void InProcessFolder::finishListing(const ErrorCallback& completion)
{
    if (m_options->log)
        --m_options->log->outstanding;
    if (m_listingError) {
        completion(errorWithVKLErrorCode(VKLErrorListingFailed));
        return;
    }
    m_listed = true;
    completion(std::nullopt);
}

std::optional<std::vector<VKLFileSystemItem::ItemPtr>> InProcessFolder::children() const
{
    if (!m_listed || m_childrenAbsent)
        return std::nullopt;
    return m_children;
}

std::shared_ptr<InProcessFolder> InProcessFolder::addFolder(const QString& name)
{
    auto folder = std::make_shared<InProcessFolder>(name, m_options);
    m_children.push_back(folder);
    return folder;
}

std::shared_ptr<InProcessFile> InProcessFolder::addFile(const QString& name, std::optional<QDateTime> date,
                                                        uint64_t size)
{
    auto file = std::make_shared<InProcessFile>(name, std::move(date), size, m_options);
    m_children.push_back(file);
    return file;
}

// ---- Camera -------------------------------------------------------------------------------------------------

bool InProcessCamera::waitForDeliveries()
{
    const QueuePtr queue = VKLLibrary::deliveryQueue();
    for (int turn = 0; turn < 2; ++turn) {
        auto reached = std::make_shared<std::promise<void>>();
        std::future<void> done = reached->get_future();
        queue->async([reached] { reached->set_value(); });
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            return false;
    }
    return true;
}

void InProcessCamera::addStorage(std::shared_ptr<VKLFileStorage> storage)
{
    if (!m_storages)
        m_storages.emplace();
    m_storages->push_back(std::move(storage));
}

} // namespace vornakel
