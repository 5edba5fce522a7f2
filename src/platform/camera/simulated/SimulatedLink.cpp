#include "platform/camera/simulated/SimulatedLink.h"

namespace vornakel::simulated {

Link::Link(const QString& label, std::chrono::milliseconds latency, qint64 throughputBytesPerSecond)
    : m_queue(DispatchQueue::createSerial(label)), m_latency(latency), m_throughput(throughputBytesPerSecond)
{
}

void Link::submit(Request request)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_busy) {
            m_pending.push_back(std::move(request));
            return;
        }
        m_busy = true;
    }
    run(std::move(request));
}

void Link::run(Request request)
{
    auto self = shared_from_this();
    m_queue->async([self, request = std::move(request)] {
        // A request that calls `done` twice must not start two others.
        auto once = std::make_shared<std::atomic<bool>>(false);
        request([self, once] {
            if (!once->exchange(true))
                self->finished();
        });
    });
}

void Link::finished()
{
    Request next;
    {
        std::lock_guard lock(m_mutex);
        if (m_pending.empty()) {
            m_busy = false;
            return;
        }
        next = std::move(m_pending.front());
        m_pending.pop_front();
    }
    run(std::move(next));
}

uint64_t Link::connect()
{
    const uint64_t epoch = m_epoch.fetch_add(1) + 1;
    m_connected.store(true);
    return epoch;
}

void Link::disconnect()
{
    m_connected.store(false);
    m_epoch.fetch_add(1);
}

void Link::afterLatency(DispatchQueue::Block block) const { m_queue->asyncAfter(m_latency, std::move(block)); }

std::chrono::milliseconds Link::transferDelay(std::chrono::steady_clock::time_point start, qint64 bytesSoFar,
                                              qint64 bytes) const
{
    if (m_throughput <= 0)
        return std::chrono::milliseconds(0);
    const auto due = start + std::chrono::microseconds((bytesSoFar + bytes) * 1000000 / m_throughput);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    return wait.count() > 0 ? wait : std::chrono::milliseconds(0);
}

} // namespace vornakel::simulated
