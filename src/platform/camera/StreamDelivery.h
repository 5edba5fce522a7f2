#pragma once

// The caller's side of a backend's stream (VKLFileSystemItem::streamItem): the preflight on its queue, chunks
// handed to the delivery queue in file order, the chunk block's stop, and the complete block run once after the
// last chunk. It bounds the bytes handed on and not yet taken: past kHighWater the backend is told to pause its
// reading, below kLowWater to go on. A backend reads from its camera on the main thread and calls `handOn` and
// the pause and stop handlers there; `finish` may come from any thread. The handlers outlive the stream until
// the delivery goes: they should hold the backend's stream state weakly.

#include "platform/camera/VKLCamera.h"

#include <atomic>
#include <functional>
#include <memory>

namespace vornakel {

class StreamDelivery : public std::enable_shared_from_this<StreamDelivery> {
public:
    static constexpr qint64 kHighWater = 16 * 1024 * 1024;
    static constexpr qint64 kLowWater = 4 * 1024 * 1024;

    // Queues that are none are the main queue.
    static std::shared_ptr<StreamDelivery> create(VKLFileSystemItem::ItemPtr item, VKLFileSystemItem::StreamChunkBlock chunk,
                                                  QueuePtr deliveryQueue, VKLFileSystemItem::StreamCompleteBlock complete,
                                                  QueuePtr completeQueue);

    // Main thread: `paused` true when reading should pause, false when it may go on.
    void setPauseHandler(std::function<void(bool paused)> handler) { m_pauseHandler = std::move(handler); }
    // Main thread: the chunk block answered 1 (once).
    void setStopHandler(std::function<void()> handler) { m_stopHandler = std::move(handler); }

    // Runs the preflight (if any) on its queue, keeps the context it answers, then `start` on the main thread.
    void begin(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue, std::function<void()> start);
    // Main thread.
    void handOn(QByteArray bytes);
    // Main thread: ends a pause for good (the reading is over).
    void releasePause();
    bool stopped() const { return m_stopped; }
    bool paused() const { return m_paused; }
    // Runs the complete block once, on its queue, after every chunk handed on; with no error but a stop asked
    // for by the chunk block, the stream ends as cancelled (1004). Any thread.
    void finish(std::optional<Error> error);

private:
    StreamDelivery() = default;

    VKLFileSystemItem::ItemPtr m_item;
    VKLFileSystemItem::StreamContext m_context;
    VKLFileSystemItem::StreamChunkBlock m_chunk;
    QueuePtr m_deliveryQueue;
    VKLFileSystemItem::StreamCompleteBlock m_complete;
    QueuePtr m_completeQueue;
    std::function<void(bool)> m_pauseHandler;
    std::function<void()> m_stopHandler;
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_finished{false};
    std::atomic<qint64> m_inFlight{0};
    bool m_paused = false; // main thread
};

} // namespace vornakel
