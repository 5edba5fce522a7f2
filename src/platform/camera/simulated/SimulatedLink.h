#pragma once

#include "platform/core/DispatchQueue.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vornakel::simulated {

// A simulated camera's link: requests take their turn one at a time, like commands on a camera's single
// connection. A request runs on the link's serial queue and hands the link on by calling its `done` block
// once; in between it may hop to other queues and wait on timers without holding a thread.
class Link : public std::enable_shared_from_this<Link> {
public:
    using Done = std::function<void()>;
    using Request = std::function<void(Done)>;

    Link(const QString& label, std::chrono::milliseconds latency, qint64 throughputBytesPerSecond);

    const QueuePtr& queue() const { return m_queue; }
    std::chrono::milliseconds latency() const { return m_latency; }
    qint64 throughput() const { return m_throughput; }

    // Queues the request behind those already waiting.
    void submit(Request request);

    // A connection is an epoch: requests remember the epoch they were made in, so that a request made before a
    // connection dropped fails even after the camera has connected again.
    uint64_t connect();
    void disconnect();
    uint64_t epoch() const { return m_epoch.load(); }
    bool isConnected(uint64_t epoch) const { return m_connected.load() && m_epoch.load() == epoch; }

    // Runs the block on the link's queue after the request latency.
    void afterLatency(DispatchQueue::Block block) const;
    // How long to wait so that `bytes` more, after `bytesSoFar` sent since `start`, keep to the throughput.
    std::chrono::milliseconds transferDelay(std::chrono::steady_clock::time_point start, qint64 bytesSoFar,
                                            qint64 bytes) const;

private:
    void run(Request request);
    void finished();

    QueuePtr m_queue;
    std::chrono::milliseconds m_latency;
    qint64 m_throughput;
    std::mutex m_mutex;
    std::deque<Request> m_pending;
    bool m_busy = false;
    std::atomic<bool> m_connected{false};
    std::atomic<uint64_t> m_epoch{0};
};

} // namespace vornakel::simulated
