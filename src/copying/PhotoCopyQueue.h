#pragma once

#include "copying/CopyDestination.h"
#include "copying/CopySessionLedger.h"
#include "copying/CopyTypes.h"
#include "copying/PhotoVariantCopyOperation.h"
#include "model/Photo.h"
#include "platform/core/Deferred.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Progress.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vornakel {

class UserDefaults;

// The copy engine: given photos and options (a destination and a grouping), it picks the files of each photo,
// opens a session on the destination and copies the files one after another, each by a
// PhotoVariantCopyOperation. One file streams at a time; the next gets ready while it streams and asks the camera
// for its data as soon as the one before has been handed to the flusher, and at most `kFilesAwaitingFlush` wait for the disk at once. Operations are built as
// the copy goes, a bounded number ahead of the last one done (all files of a photo together), so that a large
// copy does not build one for every file up front. Once a file is done and its post-copy step has run, its
// operation is let go, its record is handed to `itemFinished` and counted in the copy's `Tally`, and only a failed
// file's record is kept: what a copy holds does not grow with the files it copies. It keeps one progress for the whole copy (file counts, throughput, time
// remaining), reports through `Callbacks`, and asks its owner when a target file exists.
//
// Made, started and reported on the main thread. Every operation reports its end, also after a cancel, and
// `queueFinished` follows the last one, once. A queue copies once: a second `start` is refused.
class PhotoCopyQueue : public QObject, public std::enable_shared_from_this<PhotoCopyQueue> {
    Q_OBJECT
public:
    using Options = PhotoCopyQueueOptions;
    using FileGroupBehaviour = vornakel::FileGroupBehaviour;
    using FileNameConflictResolution = vornakel::FileNameConflictResolution;
    using Ptr = std::shared_ptr<PhotoCopyQueue>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // What the copy knows of a file: what it is about from the moment its operation is built, and how it ended
    // once it is done.
    class FileRecord {
    public:
        const PhotoVariantPtr& photoVariant() const { return m_variant; }
        // Where the file comes in the copy's order, from 0.
        size_t index() const { return m_index; }
        // Whether the file is done (its operation finished and its post-copy step ran); until then the state is
        // `preCopy` and there is no final destination.
        bool isDone() const { return m_done; }
        PhotoVariantCopyOperation::State state() const;
        // The file written; none when nothing was written.
        std::optional<QString> finalDestination() const;
        // The file written, else the file it was to write.
        const QString& finalDestinationOrTarget() const { return m_path; }
        // Whether its target was a file an earlier file of this copy wrote (see the operation's).
        bool targetTakenByThisCopy() const { return m_targetTakenByThisCopy; }
        // Bytes the camera sent for it.
        qint64 bytesReceived() const { return m_bytesReceived; }

    private:
        friend class PhotoCopyQueue;
        PhotoVariantPtr m_variant;
        size_t m_index = 0;
        qint64 m_bytesReceived = 0;
        QString m_path;
        // Only a failed file has one.
        std::shared_ptr<const Error> m_error;
        PhotoVariantCopyOperation::State::Kind m_kind = PhotoVariantCopyOperation::State::Kind::preCopy;
        bool m_done = false;
        bool m_written = false;
        bool m_targetTakenByThisCopy = false;
    };

    // What the copy keeps of its finished files, however many there are.
    struct Tally {
        // Files that ended well having written a file, and those that ended well without one (an existing file
        // was kept).
        size_t written = 0;
        size_t notWritten = 0;
        // Files cancelled before they ended.
        size_t cancelled = 0;
        // The files that failed, in the copy's order.
        std::vector<FileRecord> failed;
        // The deepest folder that holds every file written or to be written; none before the first file.
        std::optional<QString> folder;
    };

    struct Callbacks {
        // Operations have been queued.
        std::function<void(const Ptr&)> queueStarted;
        // An operation begins: its variant and the file it writes (none when it writes none).
        std::function<void(const Ptr&, const PhotoVariantPtr&, const std::optional<QString>&)> itemStarted;
        // An operation begins, or bytes of the current file were written.
        std::function<void(const Ptr&)> progressUpdated;
        // An operation and its post-copy step are done: the file's record, which the copy does not keep.
        std::function<void(const Ptr&, const FileRecord&)> itemFinished;
        // Every operation is done and the session has ended.
        std::function<void(const Ptr&)> queueFinished;
        // A target exists and no answer is remembered: fill the resolution, and whether to remember it for the
        // rest of this copy. Until both are filled the copy waits (a cancel of the queue fills them itself).
        // Without this callback a conflict is answered `skip`.
        std::function<void(const Ptr&, const PhotoVariantPtr&, const QString&, Deferred<FileNameConflictResolution>,
                           Deferred<bool>)>
            fileNameConflict;
    };

    // Owned by shared pointers; the last one may go on any thread, the object is deleted on the main thread.
    static Ptr create(std::vector<PhotoPtr> photos, Options options);
    ~PhotoCopyQueue() override;

    static QString dragAndDropGroupingBehaviourUserDefaultsKey(); // "DragAndDropGroupingBehaviour"
    // Seconds a camera may send nothing before the file it streams fails and the copy goes on.
    static QString stalledStreamTimeoutUserDefaultsKey(); // "StalledStreamTimeout"
    // The stored bound when it is a positive number of seconds, else 30 seconds.
    static std::chrono::milliseconds stalledStreamTimeout(const UserDefaults& defaults);
    // The grouping a drag-out copies with: the stored value when it is 0, 1 or 2, else preferPreview.
    static FileGroupBehaviour dragAndDropGroupingBehaviour(const UserDefaults& defaults);

    // The files a copy takes of the photos, in order: a photo without preview gives its primary; otherwise
    // preferOriginal the primary, preferPreview the preview, copyAll the primary and then the preview.
    static std::vector<PhotoVariantPtr> variantsToCopy(const std::vector<PhotoPtr>& photos, FileGroupBehaviour behaviour);

    // Asks the destination, then builds and runs the operations. `completion` gets whether the copy started;
    // false when the destination refused or the queue was started before.
    void start(Callbacks callbacks, std::function<void(bool)> completion);
    // Cancels every operation (waiting ones end at once, the running one at its next step) and answers a
    // conflict question that is still open with `cancel`. Any thread.
    void cancel();

    const Options& options() const { return m_options; }
    const std::vector<PhotoPtr>& photos() const { return m_photos; }
    bool isRunning() const { return m_isRunning; }
    const ProgressPtr& progress() const { return m_progress; }
    const ProgressPtr& currentItemProgress() const { return m_currentItemProgress; }
    const PhotoVariantPtr& currentItemVariant() const { return m_currentItemVariant; }
    // The files the copy has built an operation for; all of its files once it finished.
    size_t fileCount() const { return m_fileCount; }
    // The files done, and what the copy kept of them.
    size_t completedFileCount() const { return m_completedFileCount; }
    const Tally& tally() const { return m_tally; }
    // The operations built and not yet done, in the copy's order; a file's operation is let go once it is done.
    const std::vector<PhotoVariantCopyOperationPtr>& runningOperations() const { return m_operations; }
    std::optional<FileNameConflictResolution> savedFileConflictResolution() const;
    // Bytes of the queued files still to come; none when no size is known.
    std::optional<qint64> bytesRemaining() const { return m_bytesRemaining; }
    std::optional<qint64> totalBytesToCopy() const { return m_totalBytesToCopy; }
    // Whether an operation of this copy wrote the file (a later file of the copy then never replaces it).
    bool wroteFile(const QString& path) const { return m_ledger->wroteFile(path); }

    // How long a stream may deliver nothing before its file fails; set before `start`.
    void setStalledStreamTimeout(std::chrono::milliseconds timeout) { m_stalledStreamTimeout = timeout; }

    // Tests: the clock of the throughput measurement, and the delay after which a cancelled stream that does
    // not end is given up (set before `start`).
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setCancelWatchdogDelay(std::chrono::milliseconds delay) { m_watchdogDelay = delay; }
    // Tests: the time against which the age of a temporary left in a target folder is told (set before `start`).
    void setLeftoverClock(CopySessionLedger::WallClock clock) { m_ledger = std::make_shared<CopySessionLedger>(std::move(clock)); }
    // Files whose data may wait for the disk while the next file streams, and operations built ahead of the
    // last one done.
    static constexpr int kFilesAwaitingFlush = 128;
    static constexpr size_t kOperationsBuiltAhead = 512;
    // Tests: what makes each file durable before its rename (set before `start`). By default the copy's files
    // share one flusher of the copy's own, so files written while a flush runs go to the disk together.
    void setFlusher(std::shared_ptr<StagedFileFlusher> flusher) { m_flusher = std::move(flusher); }

    // How long the throughput is measured before it is published.
    static constexpr std::chrono::milliseconds kThroughputWindow{2000};

signals:
    // `currentItemProgress` and `currentItemVariant` changed.
    void currentItemChanged();

private:
    PhotoCopyQueue(std::vector<PhotoPtr> photos, Options options);

    void buildAndRun(std::vector<PhotoVariantPtr> variants, const std::function<void(bool)>& completion);
    // Builds and queues operations up to the bound ahead of those done, or to the last file.
    void buildMore();
    void setTotals();
    const CopyOperationProgressCallbacks& operationCallbacks();
    // Reports from the operations, on the main thread. Files that were cancelled before they ran report from
    // several threads at once; they are announced in file order all the same.
    void operationReportedStart(const PhotoVariantCopyOperationPtr& operation);
    void operationReportedFinish(const PhotoVariantCopyOperationPtr& operation);
    void operationStarted(const PhotoVariantCopyOperationPtr& operation);
    void bytesCopied(qint64 count);
    void operationFinished(const PhotoVariantCopyOperationPtr& operation);
    void bookkeeping(const PhotoVariantCopyOperationPtr& operation);
    // The file is done: its record takes what the callers need, and the queue lets go of its operation.
    void release(const PhotoVariantCopyOperationPtr& operation, FileRecord& file);
    void count(FileRecord file);
    void endSession();
    void setCurrentItem(ProgressPtr progress, PhotoVariantPtr variant);
    // On the operation's thread; blocks until answered, without keeping the queue alive meanwhile.
    static FileNameConflictResolution resolveConflict(const std::weak_ptr<PhotoCopyQueue>& weak,
                                                      PhotoVariantCopyOperation& operation);

    const Options m_options;
    const std::vector<PhotoPtr> m_photos;
    Callbacks m_callbacks;
    bool m_started = false;
    bool m_isRunning = false;
    bool m_finished = false;
    ProgressPtr m_progress;
    ProgressPtr m_currentItemProgress;
    PhotoVariantPtr m_currentItemVariant;
    size_t m_fileCount = 0;
    size_t m_completedFileCount = 0;
    Tally m_tally;
    // The record of each operation not yet done; an operation not found here was done already.
    std::unordered_map<const PhotoVariantCopyOperation*, FileRecord> m_recordOfOperation;
    // The last operation built: the next one streams after it.
    PhotoVariantCopyOperationPtr m_lastBuilt;
    // Operations not yet announced as started, in the copy's order; those that reported a start already, and
    // those of them that also reported their end, wait for the files before them.
    std::deque<PhotoVariantCopyOperationPtr> m_toAnnounce;
    std::unordered_set<const PhotoVariantCopyOperation*> m_startsWaiting;
    std::unordered_set<const PhotoVariantCopyOperation*> m_endsWaiting;
    // The files still without an operation: those from `m_nextVariant` on.
    std::vector<PhotoVariantPtr> m_variants;
    size_t m_nextVariant = 0;
    // Files the copy expects to write: all files until one turns out to have no target.
    qint64 m_plannedOperations = 0;
    std::shared_ptr<StagedFileFlusher> m_flusher;
    std::map<const Photo*, std::vector<PhotoVariantCopyOperationPtr>> m_operationsByPhoto;
    std::optional<std::chrono::steady_clock::time_point> m_dateLastMeasurementTaken;
    std::optional<qint64> m_bytesCopiedSinceLastMeasurement;
    std::optional<qint64> m_totalBytesToCopy;
    std::optional<qint64> m_bytesRemaining;
    // Bytes each operation has streamed so far.
    std::map<const PhotoVariantCopyOperation*, qint64> m_bytesStreamed;
    OperationQueue m_operationQueue;
    PhotoVariantCopyOperationPtr m_currentOperation;
    std::optional<CopyOperationProgressCallbacks> m_operationCallbacks;
    Clock m_clock;
    std::chrono::milliseconds m_watchdogDelay = PhotoVariantCopyOperation::kDefaultCancelWatchdogDelay;
    std::chrono::milliseconds m_stalledStreamTimeout = PhotoVariantCopyOperation::kDefaultStalledStreamTimeout;
    std::shared_ptr<CopySessionLedger> m_ledger = std::make_shared<CopySessionLedger>();

    // Shared with the operations' thread.
    struct PendingQuestion {
        Deferred<FileNameConflictResolution> resolution;
        Deferred<bool> remember;
    };
    mutable std::mutex m_conflictMutex;
    std::optional<FileNameConflictResolution> m_savedFileConflictResolution;
    std::optional<PendingQuestion> m_pendingQuestion;
    bool m_cancelled = false;
    // The operations built and not yet done, which a cancel must reach; changed on the main thread only, under
    // the mutex, so the main thread reads it without.
    std::vector<PhotoVariantCopyOperationPtr> m_operations;
};

using PhotoCopyQueuePtr = PhotoCopyQueue::Ptr;

} // namespace vornakel
