#pragma once

#include "copying/StagedFile.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// Makes written files durable off the copy's stream, so that the next file streams while earlier ones wait for
// the disk. Files handed in while a flush runs are flushed together by the next one (group commit): with many
// small files one flush covers a whole batch instead of the disk being waited for once per file. A flush starts
// no sooner than `spacing` after the one before it started, unless `batchSize` files wait: a flush per file
// would have each small file wait for the disk (and, on a journalling file system, for a commit of the journal,
// which the next file's creation waits for as well), while a file that comes after a quiet while (the first of a
// copy, a large one) is flushed at once. Each file's `flushed` runs once its own data is on disk (or failed to get
// there), in the order the files were handed in, on the flusher's serial queue; only then may the file be given
// its final name.
class StagedFileFlusher : public std::enable_shared_from_this<StagedFileFlusher> {
public:
    // Flushes the files and answers one result per file, in order (StagedFile::flushTogether unless a test
    // stands in for the disk).
    using Flush = std::function<std::vector<std::optional<Error>>(const std::vector<StagedFile*>&)>;
    using Flushed = std::function<void(std::shared_ptr<StagedFile>, std::optional<Error>)>;

    static constexpr std::chrono::milliseconds kDefaultSpacing{25};
    static constexpr size_t kDefaultBatchSize = 64;

    explicit StagedFileFlusher(Flush flush = &StagedFile::flushTogether,
                               std::chrono::milliseconds spacing = kDefaultSpacing,
                               size_t batchSize = kDefaultBatchSize);
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
    const std::chrono::milliseconds m_spacing;
    const size_t m_batchSize;
    const QueuePtr m_queue;
    std::mutex m_mutex;
    std::vector<Waiting> m_waiting;
    // A flush is on the queue, maybe due later; one due at once is on the queue for a full batch.
    bool m_flushScheduled = false;
    bool m_immediateFlushScheduled = false;
    std::chrono::steady_clock::time_point m_lastFlushStarted;
};

} // namespace vornakel
