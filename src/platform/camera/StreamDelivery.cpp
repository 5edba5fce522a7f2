#include "platform/camera/StreamDelivery.h"

namespace vornakel {

namespace {
QueuePtr orMain(QueuePtr queue) { return queue ? queue : DispatchQueue::main(); }
} // namespace

std::shared_ptr<StreamDelivery> StreamDelivery::create(VKLFileSystemItem::ItemPtr item, VKLFileSystemItem::StreamChunkBlock chunk,
                                                       QueuePtr deliveryQueue, VKLFileSystemItem::StreamCompleteBlock complete,
                                                       QueuePtr completeQueue)
{
    std::shared_ptr<StreamDelivery> delivery(new StreamDelivery());
    delivery->m_item = std::move(item);
    delivery->m_chunk = std::move(chunk);
    delivery->m_deliveryQueue = orMain(std::move(deliveryQueue));
    delivery->m_complete = std::move(complete);
    delivery->m_completeQueue = orMain(std::move(completeQueue));
    return delivery;
}

void StreamDelivery::begin(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue, std::function<void()> start)
{
    auto self = shared_from_this();
    orMain(std::move(preflightQueue))->async([self, preflight = std::move(preflight), start = std::move(start)] {
        if (preflight)
            self->m_context = preflight();
        DispatchQueue::main()->async(start);
    });
}

void StreamDelivery::handOn(QByteArray bytes)
{
    m_inFlight += bytes.size();
    if (m_inFlight > kHighWater && !m_paused) {
        m_paused = true;
        if (m_pauseHandler)
            m_pauseHandler(true);
    }
    auto self = shared_from_this();
    m_deliveryQueue->async([self, bytes = std::move(bytes)] {
        const qint64 left = (self->m_inFlight -= bytes.size());
        if (!self->m_stopped && self->m_chunk && self->m_chunk(self->m_item, bytes, self->m_context) == 1) {
            self->m_stopped = true;
            DispatchQueue::main()->async([self] {
                if (self->m_stopHandler)
                    self->m_stopHandler();
            });
        }
        if (left < kLowWater) {
            DispatchQueue::main()->async([self] {
                if (self->m_paused && self->m_inFlight < kLowWater)
                    self->releasePause();
            });
        }
    });
}

void StreamDelivery::releasePause()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_pauseHandler)
        m_pauseHandler(false);
}

void StreamDelivery::finish(std::optional<Error> error)
{
    if (m_finished.exchange(true))
        return;
    auto self = shared_from_this();
    // After every chunk handed on: the delivery queue is serial. The chunk block's stop wins over a success.
    m_deliveryQueue->async([self, error] {
        const std::optional<Error> outcome = !error && self->m_stopped ? std::optional(errorWithVKLErrorCode(VKLErrorCancelled)) : error;
        self->m_completeQueue->async([self, error = outcome] {
            if (self->m_complete)
                self->m_complete(self->m_item, error, self->m_context);
            self->m_chunk = nullptr;
        });
    });
}

} // namespace vornakel
