#include "copying/StagedFileFlusher.h"

namespace vornakel {

StagedFileFlusher::StagedFileFlusher(Flush flush)
    : m_flush(std::move(flush)),
      m_queue(DispatchQueue::createSerial(copyQueueLabel() + QStringLiteral(".flush"), DispatchQueue::QoS::UserInitiated))
{
}

void StagedFileFlusher::add(std::shared_ptr<StagedFile> file, Flushed flushed)
{
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back({std::move(file), std::move(flushed)});
        schedule = !m_flushScheduled;
        m_flushScheduled = true;
    }
    // One flush at a time; whatever arrives meanwhile waits for the next one, which takes it all.
    if (schedule)
        m_queue->async([self = shared_from_this()] { self->flushWaiting(); });
}

void StagedFileFlusher::flushWaiting()
{
    std::vector<Waiting> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_waiting);
        m_flushScheduled = false;
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
