#pragma once

#include "copying/CopyTypes.h"
#include "model/PhotoVariant.h"
#include "platform/core/Deferred.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Progress.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vornakel {

class CopySessionLedger;
class PhotoVariantCopyOperation;
class StagedFile;
class StagedFileFlusher;
using PhotoVariantCopyOperationPtr = std::shared_ptr<PhotoVariantCopyOperation>;

// How an operation reports; each closure is optional and always runs on the main queue, posted.
struct CopyOperationProgressCallbacks {
    std::function<void(const PhotoVariantCopyOperationPtr&)> started;
    std::function<void(const PhotoVariantCopyOperationPtr&)> progressUpdated;
    std::function<void(const PhotoVariantCopyOperationPtr&, qint64)> bytesCopied;
    std::function<void(const PhotoVariantCopyOperationPtr&)> finished;
};

// Copies one camera file into one local file, as an asynchronous operation: settles what to do when the target
// exists (asking, which may block while the user answers), streams the file from the camera into a temporary
// next to the target, and gives it the target's name (dated with the capture date) only once the whole file
// arrived and is on disk. Whatever goes wrong, the target keeps what it had and no partial file carries its name.
//
// Once its file has arrived the operation hands it to a flusher and lets go of the stream, so that the next file
// of a copy streams while this one waits for the disk; the operation itself
// finishes after the flush and the rename. Until then its name is claimed in the copy's ledger.
//
// In a copy the next file gets ready while this one streams (`streamTurn`): it settles a name nobody has taken
// and makes its temporary, then asks the camera for its data from the copy queue the moment this stream ends
// (`followStreamOf`). A name this copy has taken is settled only after the stream before, which may yet fail and
// give it back.
//
// `started` is reported once and always before `finished`, which is reported once however the operation ends
// (also when cancelled before it started, or when a cancelled stream never ends: a watchdog finishes it).
class PhotoVariantCopyOperation : public Operation {
public:
    struct State {
        enum class Kind { failed, preCopy, copying, cancelled, copiedSuccessfully };
        Kind kind = Kind::preCopy;
        std::optional<Error> error; // set for failed

        static State failed(Error error) { return {Kind::failed, std::move(error)}; }
        bool operator==(Kind other) const { return kind == other; }
    };

    // Errors of this operation's own domain.
    enum ErrorCode : int {
        fileCreationFailed = 1, // the file could not be made, or something took its name meanwhile
        fileWriteFailed = 2,    // writing, flushing or moving the data into place failed
        streamIncomplete = 3,   // the camera ended the file before its stated size
        streamStalled = 4,      // nothing arrived from the camera for the stalled-stream bound
    };
    static QString errorDomain(); // "<prefix>.zediriri-zir.copy-operation"
    static Error error(ErrorCode code, const std::optional<Error>& underlying = std::nullopt);

    using ConflictCallback = std::function<FileNameConflictResolution(PhotoVariantCopyOperation&)>;

    // Made on the main thread. The progress counts the variant's bytes when the camera knows its size.
    static PhotoVariantCopyOperationPtr create(PhotoVariantPtr variant, QString target,
                                               CopyOperationProgressCallbacks callbacks,
                                               ConflictCallback fileNameConflictCallback,
                                               std::function<void()> progressCancellationHandler);

    // The one serial queue on which every operation's stream blocks run ("<prefix>.zediriri-zir.copy").
    static QueuePtr photoOperationCallbackQueue();

    bool isAsynchronous() const override { return true; }

    const PhotoVariantPtr& photoVariant() const { return m_variant; }
    const QString& target() const { return m_target; }
    // The file written (or being written); none until decided, and none for good when nothing is written.
    std::optional<QString> finalDestination() const;
    State state() const;
    const ProgressPtr& progress() const { return m_progress; }

    // The folders that received files since the last call are flushed to disk, so that the new names are
    // durable; the copy queue calls this (off the main thread) before it reports that a copy finished.
    static void syncWrittenFolders();

    // How long after a cancel a stream that has not ended is given before the operation finishes anyway.
    void setCancelWatchdogDelay(std::chrono::milliseconds delay) { m_watchdogDelay = delay; }
    static constexpr std::chrono::milliseconds kDefaultCancelWatchdogDelay{2000};

    // How long a stream may deliver nothing (from the request on, and between chunks) before the file fails
    // with `streamStalled` and the copy goes on without it.
    void setStalledStreamTimeout(std::chrono::milliseconds timeout) { m_stalledStreamTimeout = timeout; }
    static constexpr std::chrono::milliseconds kDefaultStalledStreamTimeout{30000};
    // Tests: answers, on the copy queue, how many streams are watched for a stall and how many timers wait.
    static void stallWatchCounts(std::function<void(size_t streams, size_t timers)> answer);

    // The copy this operation belongs to; set before it starts. Without one it keeps a ledger of its own.
    void setLedger(std::shared_ptr<CopySessionLedger> ledger);
    // What makes the written file durable before it is renamed (tests stand in for the disk); set before it
    // starts. The copy hands in the one its files share; without one the operation flushes through its own.
    void setFlusher(std::shared_ptr<StagedFileFlusher> flusher);
    // Finishes once the operation asks the camera for its file (or finishes): the next file of a copy may then
    // get ready.
    const OperationPtr& streamTurn() const { return m_streamTurn; }
    // The stream of `previous` comes before this one's; set before it starts.
    void followStreamOf(const PhotoVariantCopyOperation& previous) { m_previousStreamEnded = previous.m_streamEnded; }
    // Whether `target` was a file that an earlier operation of the same copy wrote: such a file is never
    // replaced, so an answer `overwrite` gave this file the next free name instead.
    bool targetTakenByThisCopy() const { return m_targetTakenByThisCopy; }

protected:
    void main() override;
    void didCancel() override;
    void willFinishWithoutRunning() override;

private:
    PhotoVariantCopyOperation(PhotoVariantPtr variant, QString target, CopyOperationProgressCallbacks callbacks,
                              ConflictCallback conflictCallback);

    // Whether the target is free: neither claimed by a file of this copy nor on the disk.
    bool targetIsFree() const;
    // Settles what to do with a target that is taken (asks the owner when it exists).
    void resolveTakenTarget();
    // Claims the name for this copy, makes the temporary and streams the file into it.
    void claimAndStream(const QString& path);
    void stream();
    // Asks the camera for the file; on the copy queue once the stream before has ended.
    void requestStream();
    // The stream is over (the file went to the flusher, or the operation finished).
    void endStream();
    std::shared_ptr<StagedFile> takePreparedFile();
    // On the flusher's queue: the file's data is on disk (or failed to get there).
    void flushed(const std::shared_ptr<StagedFile>& file, const std::optional<Error>& flushError);
    // Stream blocks, on the copy queue.
    std::shared_ptr<void> preflight();
    int deliverChunk(const QByteArray& data, const std::shared_ptr<void>& context);
    void complete(const std::optional<Error>& streamError, const std::shared_ptr<void>& context);
    void noteStreamActivity();
    // The streams of all operations are watched by one timer on the copy queue, so that a copy of many short
    // files leaves no check per file waiting out the bound. These run on the copy queue.
    static void watchStall(const std::weak_ptr<PhotoVariantCopyOperation>& operation);
    static void unwatchStall(const std::weak_ptr<PhotoVariantCopyOperation>& operation);
    static void scheduleStallTimer(std::chrono::steady_clock::time_point due);
    static void stallTimerFired(std::chrono::steady_clock::time_point due);
    // Fails the file when its stream has delivered nothing for the bound; answers when to look again, none once
    // the stream needs no more watching.
    std::optional<std::chrono::steady_clock::time_point> checkStall();

    void setState(State state);
    void failUnlessFailed(Error error);
    void setFinalDestination(std::optional<QString> path);
    // Ends the operation once: settles the state, marks it finished and reports (with `started` first when
    // that was not reported yet). Later calls do nothing.
    void finishOperation();
    std::shared_ptr<PhotoVariantCopyOperation> self();

    const PhotoVariantPtr m_variant;
    const QString m_target;
    const CopyOperationProgressCallbacks m_callbacks;
    const ConflictCallback m_conflictCallback;
    const ProgressPtr m_progress;
    std::chrono::milliseconds m_watchdogDelay = kDefaultCancelWatchdogDelay;
    std::chrono::milliseconds m_stalledStreamTimeout = kDefaultStalledStreamTimeout;
    std::shared_ptr<CopySessionLedger> m_ledger;
    std::shared_ptr<StagedFileFlusher> m_flusher;
    const OperationPtr m_streamTurn = std::make_shared<Operation>();
    // Filled once the operation no longer streams: its file was handed to the flusher, or it finished.
    const Deferred<bool> m_streamEnded;
    std::optional<Deferred<bool>> m_previousStreamEnded;

    mutable std::mutex m_mutex;
    State m_state;
    std::optional<QString> m_finalDestination;
    bool m_replaceExisting = false;

    std::atomic<bool> m_finishing{false};
    std::atomic<bool> m_startedReported{false};
    std::atomic<bool> m_committed{false};
    // The file is with the flusher: it gets its name or fails there, whatever a cancel or the stall check says.
    std::atomic<bool> m_awaitingFlush{false};
    std::atomic<bool> m_targetTakenByThisCopy{false};
    std::atomic<bool> m_stallWatched{false};
    // When the stream last showed life (steady clock, nanoseconds).
    std::atomic<std::int64_t> m_lastStreamActivity{0};
    // The file being written; only touched on the copy queue.
    std::shared_ptr<StagedFile> m_file;
    // The temporary made while the file before streamed, until the camera is ready to send (under m_mutex).
    std::shared_ptr<StagedFile> m_preparedFile;
};

} // namespace vornakel
