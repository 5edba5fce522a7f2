#include "platform/camera/network/CameraFileStream.h"

#include <algorithm>
#include <utility>

namespace vornakel {

namespace {

constexpr qsizetype kStreamChunk = 1024 * 1024;
// Stream bytes handed to the delivery queue and not yet taken; past the high mark reading pauses.
constexpr qint64 kStreamHighWater = 16 * 1024 * 1024;
constexpr qint64 kStreamLowWater = 4 * 1024 * 1024;
// As many chunk buffers as may wait at the high mark, and a few more: the rest are freed.
constexpr size_t kMaxSpareBuffers = kStreamHighWater / kStreamChunk + 4;

QueuePtr orMain(QueuePtr queue) { return queue ? queue : DispatchQueue::main(); }

} // namespace

std::shared_ptr<CameraFileStream> CameraFileStream::create(VKLFileSystemItem::ItemPtr item, VKLFileSystemItem::StreamChunkBlock chunk,
                                                           QueuePtr deliveryQueue, VKLFileSystemItem::StreamCompleteBlock complete,
                                                           QueuePtr completeQueue, uint64_t expectedSize)
{
    std::shared_ptr<CameraFileStream> stream(new CameraFileStream());
    stream->m_item = std::move(item);
    stream->m_chunk = std::move(chunk);
    stream->m_deliveryQueue = orMain(deliveryQueue);
    stream->m_complete = std::move(complete);
    stream->m_completeQueue = orMain(completeQueue);
    stream->m_expected = expectedSize;
    return stream;
}

void CameraFileStream::begin(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue, std::function<void()> start)
{
    orMain(preflightQueue)->async([self = shared_from_this(), preflight, start] {
        if (preflight)
            self->m_context = preflight();
        if (start)
            start();
    });
}

bool CameraFileStream::accept(qsizetype count)
{
    if (m_stopped) {
        m_error = errorWithVKLErrorCode(VKLErrorCancelled);
        return false;
    }
    m_received += uint64_t(count);
    if (m_expected != 0 && m_received > m_expected) {
        m_error = errorWithVKLErrorCode(VKLErrorReadFailed);
        return false;
    }
    return true;
}

std::span<char> CameraFileStream::room(qsizetype wanted)
{
    if (m_roomAt >= 0)
        m_pending.resize(m_roomAt);
    if (m_pending.capacity() < kStreamChunk)
        m_pending = takeBuffer();
    m_roomAt = m_pending.size();
    const qsizetype size = std::clamp<qsizetype>(wanted, 1, kStreamChunk - m_roomAt);
    m_pending.resize(m_roomAt + size); // within the room the buffer has: nothing moves
    return {m_pending.data() + m_roomAt, size_t(size)};
}

bool CameraFileStream::receivedInRoom(qsizetype count)
{
    if (m_roomAt < 0)
        return false;
    const qsizetype lent = m_pending.size() - m_roomAt;
    count = std::clamp<qsizetype>(count, 0, lent);
    m_pending.resize(m_roomAt + count);
    m_roomAt = -1;
    if (!accept(count))
        return false;
    if (m_pending.size() == kStreamChunk)
        handOn(std::exchange(m_pending, {}));
    return true;
}

bool CameraFileStream::receive(QByteArrayView bytes)
{
    if (m_roomAt >= 0) {
        m_pending.resize(m_roomAt);
        m_roomAt = -1;
    }
    if (!accept(bytes.size()))
        return false;
    // Chunks are filled to their size exactly, in a buffer with room for one, so that no append moves bytes twice.
    while (!bytes.isEmpty()) {
        if (m_pending.capacity() < kStreamChunk)
            m_pending = takeBuffer();
        const qsizetype taken = std::min(bytes.size(), kStreamChunk - m_pending.size());
        m_pending.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (m_pending.size() == kStreamChunk)
            handOn(std::exchange(m_pending, {}));
    }
    return true;
}

QByteArray CameraFileStream::takeBuffer()
{
    {
        std::lock_guard lock(m_spareMutex);
        if (!m_spare.empty()) {
            QByteArray buffer = std::move(m_spare.back());
            m_spare.pop_back();
            return buffer;
        }
    }
    QByteArray buffer;
    buffer.reserve(kStreamChunk);
    return buffer;
}

void CameraFileStream::giveBack(QByteArray&& bytes)
{
    // A chunk block that kept the bytes shares the buffer: it stays theirs.
    if (!bytes.isDetached() || bytes.capacity() < kStreamChunk)
        return;
    bytes.resize(0); // keeps the room
    std::lock_guard lock(m_spareMutex);
    if (m_spare.size() < kMaxSpareBuffers)
        m_spare.push_back(std::move(bytes));
}

void CameraFileStream::handOn(QByteArray bytes)
{
    m_inFlight += bytes.size();
    if (m_inFlight > kStreamHighWater && !m_paused && m_pauseHook) {
        m_paused = true;
        m_pauseHook(true);
    }
    m_deliveryQueue->async([self = shared_from_this(), bytes]() mutable {
        const qint64 left = (self->m_inFlight -= bytes.size());
        if (!self->m_stopped && self->m_chunk && self->m_chunk(self->m_item, bytes, self->m_context) == 1)
            self->m_stopped = true;
        self->giveBack(std::move(bytes));
        if (left < kStreamLowWater) {
            DispatchQueue::main()->async([self] {
                if (self->m_paused && self->m_inFlight < kStreamLowWater) {
                    self->m_paused = false;
                    if (self->m_pauseHook && !self->m_ended)
                        self->m_pauseHook(false);
                }
            });
        }
    });
}

void CameraFileStream::end(std::optional<Error> error)
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_roomAt >= 0) {
        m_pending.resize(m_roomAt);
        m_roomAt = -1;
    }
    if (m_paused && m_pauseHook)
        m_pauseHook(false);
    m_paused = false;
    m_pauseHook = nullptr;
    if (m_error)
        error = m_error;
    else if (!error && m_expected != 0 && m_received != m_expected)
        error = errorWithVKLErrorCode(VKLErrorReadFailed); // a short file is not a copy
    else if (error && error->code == VKLErrorGeneric)
        error = errorWithVKLErrorCode(VKLErrorReadFailed);
    if (!m_pending.isEmpty() && !error)
        handOn(std::exchange(m_pending, {}));
    // After every chunk handed on (the delivery queue is serial); the chunk block's stop wins over the source's end.
    m_deliveryQueue->async([self = shared_from_this(), error] {
        const std::optional<Error> result = self->m_stopped && !error ? std::optional(errorWithVKLErrorCode(VKLErrorCancelled)) : error;
        self->m_completeQueue->async([self, result] {
            if (self->m_complete)
                self->m_complete(self->m_item, result, self->m_context);
            self->m_chunk = nullptr;
        });
    });
}

} // namespace vornakel
