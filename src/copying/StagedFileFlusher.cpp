#include "copying/StagedFileFlusher.h"

#include <algorithm>

namespace vornakel {

StagedFileFlusher::StagedFileFlusher(Flush flush, std::chrono::milliseconds spacing, size_t batchSize)
    : m_flush(std::move(flush)), m_spacing(spacing), m_batchSize(std::max<size_t>(1, batchSize)),
      m_queue(DispatchQueue::createSerial(copyQueueLabel() + QStringLiteral(".flush"), DispatchQueue::QoS::UserInitiated))
{
}

void StagedFileFlusher::add(std::shared_ptr<StagedFile> file, Flushed flushed)
{
    std::optional<std::chrono::milliseconds> delay;
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back({std::move(file), std::move(flushed)});
        const auto now = std::chrono::steady_clock::now();
        if (!m_flushScheduled) {
            m_flushScheduled = true;
            const auto due = m_lastFlushStarted + m_spacing;
            delay = due > now ? std::chrono::ceil<std::chrono::milliseconds>(due - now) : std::chrono::milliseconds(0);
        }
        // A full batch does not wait for the flush due later: the copy may go on only so many files ahead.
        if (m_waiting.size() >= m_batchSize && !m_immediateFlushScheduled && (!delay || delay->count() > 0)) {
            m_immediateFlushScheduled = true;
            delay = std::chrono::milliseconds(0);
        }
    }
    // One flush at a time (the queue is serial); whatever arrives meanwhile waits for the next one, which takes it
    // all. A flush that finds nothing left (a full batch took it) does nothing.
    if (delay)
        m_queue->asyncAfter(*delay, [self = shared_from_this()] { self->flushWaiting(); });
}

void StagedFileFlusher::flushWaiting()
{
    std::vector<Waiting> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_waiting);
        m_flushScheduled = false;
        m_immediateFlushScheduled = false;
        if (batch.empty())
            return;
        m_lastFlushStarted = std::chrono::steady_clock::now();
    }
    std::vector<StagedFile*> files;
    files.reserve(batch.size());
    for (const Waiting& waiting : batch)
        files.push_back(waiting.file.get());
    std::vector<std::optional<Error>> results = m_flush(files);
    results.resize(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        if (batch[i].flushed)
            batch[i].flushed(std::move(batch[i].file), std::move(results[i]));
    }
}

} // namespace vornakel
