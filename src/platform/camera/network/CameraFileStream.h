#pragma once

// What the network backends share when they stream a camera file to the chunk block: the preflight on its queue,
// the bytes gathered into chunks of 1 MB and handed to the delivery queue in file order (their buffers used
// again once the chunk block is done with them, so a large file costs no allocation per chunk), reading paused while
// more than 16 MB wait there, a length checked against the listed size, and the complete block run once, after
// every chunk, with the same context.
//
// Threads: `begin` from any thread; `receive`, `end` and the pause hook on the main thread, where the backends'
// connections live.

#include "platform/camera/VKLCamera.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vornakel {

class CameraFileStream : public std::enable_shared_from_this<CameraFileStream> {
public:
    static std::shared_ptr<CameraFileStream> create(VKLFileSystemItem::ItemPtr item, VKLFileSystemItem::StreamChunkBlock chunk,
                                                    QueuePtr deliveryQueue, VKLFileSystemItem::StreamCompleteBlock complete,
                                                    QueuePtr completeQueue, uint64_t expectedSize);

    // Runs the preflight on its queue (the main queue when none), then `start` right after it there.
    void begin(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue, std::function<void()> start);
    // How the source pauses and resumes its reading.
    void setPauseHook(std::function<void(bool paused)> hook) { m_pauseHook = std::move(hook); }

    // Bytes as they arrive; false when the source should stop: the chunk block answered 1 (the stream ends with
    // 1004), or more bytes came than listed (1014).
    [[nodiscard]] bool receive(QByteArrayView bytes);
    // The same without a copy: room for at most `wanted` more bytes (at least one) at the end of the chunk being
    // gathered, for a source that reads them straight into it and then says how many landed there (0 when none
    // did; the room is given back either way).
    std::span<char> room(qsizetype wanted);
    [[nodiscard]] bool receivedInRoom(qsizetype count);
    // The source ended, with its error (none: it sent all it had). A length other than the listed size is 1014,
    // and so is any error of the generic code; the complete block then runs after every chunk handed on.
    void end(std::optional<Error> sourceError);

    uint64_t received() const { return m_received; }

private:
    CameraFileStream() = default;
    bool accept(qsizetype count);
    void handOn(QByteArray bytes);
    QByteArray takeBuffer();
    void giveBack(QByteArray&& bytes);

    VKLFileSystemItem::ItemPtr m_item;
    VKLFileSystemItem::StreamContext m_context;
    VKLFileSystemItem::StreamChunkBlock m_chunk;
    QueuePtr m_deliveryQueue;
    VKLFileSystemItem::StreamCompleteBlock m_complete;
    QueuePtr m_completeQueue;
    std::function<void(bool)> m_pauseHook;
    uint64_t m_expected = 0; // 0: not known
    uint64_t m_received = 0; // main thread
    QByteArray m_pending;    // main thread: bytes not yet handed on
    qsizetype m_roomAt = -1; // main thread: where the room lent out starts in m_pending (-1: none lent)
    bool m_paused = false;   // main thread
    bool m_ended = false;    // main thread
    std::optional<Error> m_error; // main thread: why the stream stopped on our side
    std::mutex m_spareMutex;
    std::vector<QByteArray> m_spare; // chunk buffers the chunk block is done with, emptied, their room kept
    std::atomic<bool> m_stopped{false};
    std::atomic<qint64> m_inFlight{0};
};

} // namespace vornakel
