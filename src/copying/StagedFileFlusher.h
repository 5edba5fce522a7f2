#pragma once

#include "copying/StagedFile.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// Makes written files durable off the copy's stream, so that the next file streams while earlier ones wait for
// the disk. Files handed in while a flush runs are flushed together by the next one, however many they are
// (group commit): with many small files one flush covers a whole batch instead of the disk being waited for once
// per file. Each file's `flushed` runs once its own data is on disk (or failed to get there), in the order the
// files were handed in, on the flusher's serial queue; only then may the file be given its final name.
class StagedFileFlusher : public std::enable_shared_from_this<StagedFileFlusher> {
public:
    // Flushes the files and answers one result per file, in order (StagedFile::flushTogether unless a test
    // stands in for the disk).
    using Flush = std::function<std::vector<std::optional<Error>>(const std::vector<StagedFile*>&)>;
    using Flushed = std::function<void(std::shared_ptr<StagedFile>, std::optional<Error>)>;

    explicit StagedFileFlusher(Flush flush = &StagedFile::flushTogether);
    StagedFileFlusher(const StagedFileFlusher&) = delete;
    StagedFileFlusher& operator=(const StagedFileFlusher&) = delete;

    // Takes the file (written in full and `finishWriting` done) and calls `flushed` with it after the flush.
    // Any thread; the flusher stays alive until the flush is done.
    void add(std::shared_ptr<StagedFile> file, Flushed flushed);

private:
    struct Waiting {
        std::shared_ptr<StagedFile> file;
        Flushed flushed;
    };
    void flushWaiting();

    const Flush m_flush;
    const QueuePtr m_queue;
    std::mutex m_mutex;
    std::vector<Waiting> m_waiting;
    bool m_flushScheduled = false;
};

} // namespace vornakel
