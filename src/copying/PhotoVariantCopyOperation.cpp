#include "copying/PhotoVariantCopyOperation.h"

#include "copying/CopySessionLedger.h"
#include "copying/FileNames.h"
#include "copying/StagedFile.h"
#include "copying/StagedFileFlusher.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcCopy, "vornakel.copy")

// Folders whose new entries still have to reach the disk.
std::mutex gFoldersMutex;
std::set<QString> gFoldersToSync;

// The streams watched for a stall, and the due times of the timers that will look at them; touched on the copy
// queue only.
struct StallWatch {
    std::vector<std::weak_ptr<PhotoVariantCopyOperation>> streams;
    std::multiset<std::chrono::steady_clock::time_point> timers;
};

StallWatch& stallWatch()
{
    // Never destroyed: a timer may fire while the process exits.
    static StallWatch* watch = new StallWatch;
    return *watch;
}

bool sameOperation(const std::weak_ptr<PhotoVariantCopyOperation>& a, const std::weak_ptr<PhotoVariantCopyOperation>& b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

qint64 knownSize(uint64_t size)
{
    return size <= uint64_t(std::numeric_limits<qint64>::max()) ? qint64(size) : 0;
}

} // namespace

QString PhotoVariantCopyOperation::errorDomain()
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.copy-operation");
}

Error PhotoVariantCopyOperation::error(ErrorCode code, const std::optional<Error>& underlying)
{
    QString message;
    switch (code) {
    case fileCreationFailed:
        message = QStringLiteral("The file could not be created.");
        break;
    case fileWriteFailed:
        message = QStringLiteral("The file could not be written.");
        break;
    case streamIncomplete:
        message = QStringLiteral("The camera ended the file before all of it arrived.");
        break;
    case streamStalled:
        message = QStringLiteral("the camera stopped sending");
        break;
    }
    QVariantMap userInfo;
    if (underlying) {
        message += QLatin1Char(' ') + underlying->description();
        userInfo.insert(QStringLiteral("underlyingDomain"), underlying->domain);
        userInfo.insert(QStringLiteral("underlyingCode"), underlying->code);
    }
    return Error(errorDomain(), code, message, userInfo);
}

void PhotoVariantCopyOperation::syncWrittenFolders()
{
    std::set<QString> folders;
    {
        std::lock_guard lock(gFoldersMutex);
        folders.swap(gFoldersToSync);
    }
    for (const QString& folder : folders) {
        // The files are complete; only their names may not yet survive a power loss.
        if (const auto error = StagedFile::syncFolder(folder))
            qCWarning(lcCopy, "%s", qPrintable(error->description()));
    }
}

QueuePtr PhotoVariantCopyOperation::photoOperationCallbackQueue()
{
    static const QueuePtr queue = DispatchQueue::createSerial(copyQueueLabel());
    return queue;
}

PhotoVariantCopyOperationPtr PhotoVariantCopyOperation::create(PhotoVariantPtr variant, QString target,
                                                               CopyOperationProgressCallbacks callbacks,
                                                               ConflictCallback fileNameConflictCallback,
                                                               std::function<void()> progressCancellationHandler)
{
    auto operation = PhotoVariantCopyOperationPtr(new PhotoVariantCopyOperation(
        std::move(variant), std::move(target), std::move(callbacks), std::move(fileNameConflictCallback)));
    const ProgressPtr& progress = operation->m_progress;
    progress->setKind(Progress::Kind::file);
    progress->setFileOperationKind(Progress::FileOperationKind::copying);
    progress->setCancellable(true);
    progress->setCancellationHandler(std::move(progressCancellationHandler));
    const auto& item = operation->m_variant ? operation->m_variant->remoteItem() : nullptr;
    if (item && knownSize(item->size()) > 0)
        progress->setUnitCounts(knownSize(item->size()), 0);
    return operation;
}

PhotoVariantCopyOperation::PhotoVariantCopyOperation(PhotoVariantPtr variant, QString target,
                                                     CopyOperationProgressCallbacks callbacks,
                                                     ConflictCallback conflictCallback)
    : m_variant(std::move(variant)), m_target(std::move(target)), m_callbacks(std::move(callbacks)),
      m_conflictCallback(std::move(conflictCallback)), m_progress(Progress::create(-1)),
      m_ledger(std::make_shared<CopySessionLedger>())
{
}

void PhotoVariantCopyOperation::setFlusher(std::shared_ptr<StagedFileFlusher> flusher)
{
    if (flusher)
        m_flusher = std::move(flusher);
}

void PhotoVariantCopyOperation::setLedger(std::shared_ptr<CopySessionLedger> ledger)
{
    if (ledger)
        m_ledger = std::move(ledger);
}

std::shared_ptr<PhotoVariantCopyOperation> PhotoVariantCopyOperation::self()
{
    return std::static_pointer_cast<PhotoVariantCopyOperation>(shared_from_this());
}

std::optional<QString> PhotoVariantCopyOperation::finalDestination() const
{
    std::lock_guard lock(m_mutex);
    return m_finalDestination;
}

PhotoVariantCopyOperation::State PhotoVariantCopyOperation::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void PhotoVariantCopyOperation::setState(State state)
{
    std::lock_guard lock(m_mutex);
    m_state = std::move(state);
}

void PhotoVariantCopyOperation::failUnlessFailed(Error error)
{
    std::lock_guard lock(m_mutex);
    if (m_state.kind != State::Kind::failed)
        m_state = State::failed(std::move(error));
}

void PhotoVariantCopyOperation::setFinalDestination(std::optional<QString> path)
{
    std::lock_guard lock(m_mutex);
    m_finalDestination = std::move(path);
}

void PhotoVariantCopyOperation::main()
{
    setState({State::Kind::copying, std::nullopt});
    if (isCancelled()) {
        finishOperation();
        return;
    }
    // Also when every file of the folder is then skipped: temporaries of copies that died go with any copy.
    m_ledger->sweepLeftoversOnce(QFileInfo(m_target).path());
    if (targetIsFree()) {
        claimAndStream(m_target);
        return;
    }
    // The file before may still stream, and give the name back if it fails: the name is settled after it.
    if (m_previousStreamEnded && !m_previousStreamEnded->isFilled()) {
        m_previousStreamEnded->upon(DispatchQueue::global(), [operation = self()](const bool&) {
            if (operation->isCancelled()) {
                operation->finishOperation();
                return;
            }
            if (operation->targetIsFree())
                operation->claimAndStream(operation->m_target);
            else
                operation->resolveTakenTarget();
        });
        return;
    }
    resolveTakenTarget();
}

bool PhotoVariantCopyOperation::targetIsFree() const
{
    // A file of this copy still waiting for its flush is not there yet, but its name is taken all the same.
    // The claim is asked about first: the flusher moves a file into place before it ends the claim, so a file
    // that stops being claimed meanwhile is seen on the disk. Asked the other way round, a file moved in between
    // the two looks like neither, and its name like a free one.
    return !m_ledger->isClaimed(m_target) && !fileEntryExists(m_target);
}

void PhotoVariantCopyOperation::resolveTakenTarget()
{
    const bool takenByThisCopy = m_ledger->wroteFile(m_target);
    FileNameConflictResolution answer =
        m_conflictCallback ? m_conflictCallback(*this) : FileNameConflictResolution::skip;
    // An answer that comes after the copy was cancelled must not touch anything.
    if (isCancelled()) {
        finishOperation();
        return;
    }
    // "Overwrite" is meant for files that were there before the copy; two camera files that come to the same
    // name (one name in two camera folders, a RAW and its JPEG named without extension) are both kept.
    if (takenByThisCopy) {
        m_targetTakenByThisCopy = true;
        if (answer == FileNameConflictResolution::overwrite)
            answer = FileNameConflictResolution::useUniqueName;
    }
    switch (answer) {
    case FileNameConflictResolution::overwrite:
        // The existing file stays until the new one is complete; the commit then replaces it in one step.
        {
            std::lock_guard lock(m_mutex);
            m_replaceExisting = true;
        }
        claimAndStream(m_target);
        return;
    case FileNameConflictResolution::useUniqueName:
        if (std::optional<QString> free = nextAvailableFileURL(
                m_target, 100000, [ledger = m_ledger](const QString& path) { return ledger->isClaimed(path); })) {
            claimAndStream(*free);
            return;
        }
        finishOperation();
        return;
    case FileNameConflictResolution::skip:
    case FileNameConflictResolution::cancel:
        finishOperation();
        return;
    }
}

void PhotoVariantCopyOperation::claimAndStream(const QString& path)
{
    m_ledger->claimFile(path);
    setFinalDestination(path);
    // The temporary is made now, while the file before may still stream, rather than once the camera is ready
    // to send: making a file is among the costliest steps of a small one. Missing folders are made with it.
    auto created = StagedFile::create(path);
    if (!created) {
        failUnlessFailed(created.error());
        finishOperation();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_preparedFile = std::move(created).value();
    }
    stream();
}

std::shared_ptr<StagedFile> PhotoVariantCopyOperation::takePreparedFile()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_preparedFile, nullptr);
}

void PhotoVariantCopyOperation::stream()
{
    m_progress->setFilePath(finalDestination());
    // The request goes out on the copy queue as soon as the stream before is over, without a detour through the
    // operation queue; the next file gets ready meanwhile.
    if (m_previousStreamEnded && !m_previousStreamEnded->isFilled()) {
        m_previousStreamEnded->upon(photoOperationCallbackQueue(), [operation = self()](const bool&) {
            operation->m_streamTurn->start();
            operation->requestStream();
        });
        return;
    }
    m_streamTurn->start();
    requestStream();
}

void PhotoVariantCopyOperation::requestStream()
{
    // A cancel that came while the file waited for its turn ends it without asking the camera.
    if (isFinished() || m_finishing)
        return;
    if (isCancelled()) {
        finishOperation();
        return;
    }
    auto operation = self();
    if (!m_startedReported.exchange(true) && m_callbacks.started)
        DispatchQueue::main()->async([operation] { operation->m_callbacks.started(operation); });

    const std::shared_ptr<VKLFileSystemItem>& item = m_variant->remoteItem();
    if (!item) {
        failUnlessFailed(error(fileCreationFailed));
        finishOperation();
        return;
    }
    const std::weak_ptr<PhotoVariantCopyOperation> weak = operation;
    const QueuePtr queue = photoOperationCallbackQueue();
    // A camera that stops sending never completes the stream; the file is given up after the bound.
    noteStreamActivity();
    m_stallWatched = true;
    queue->async([weak] { watchStall(weak); });
    item->streamItem(
        [weak]() -> std::shared_ptr<void> {
            auto strong = weak.lock();
            return strong ? strong->preflight() : nullptr;
        },
        queue,
        [weak](const VKLFileSystemItem::ItemPtr&, const QByteArray& data, const std::shared_ptr<void>& context) {
            auto strong = weak.lock();
            return strong ? strong->deliverChunk(data, context) : 1;
        },
        queue,
        [weak](const VKLFileSystemItem::ItemPtr&, std::optional<Error> streamError,
               const std::shared_ptr<void>& context) {
            if (auto strong = weak.lock())
                strong->complete(streamError, context);
            else if (auto file = std::static_pointer_cast<StagedFile>(context))
                file->discard();
        },
        queue);
}

std::shared_ptr<void> PhotoVariantCopyOperation::preflight()
{
    std::shared_ptr<StagedFile> file = takePreparedFile();
    if (isCancelled() || isFinished()) {
        if (file)
            file->discard();
        return nullptr;
    }
    noteStreamActivity();
    if (!file) {
        // A camera that asks again for the same stream gets a new temporary.
        const std::optional<QString> destination = finalDestination();
        if (!destination) {
            failUnlessFailed(error(fileCreationFailed));
            cancel();
            return nullptr;
        }
        auto created = StagedFile::create(*destination);
        if (!created) {
            failUnlessFailed(created.error());
            cancel();
            return nullptr;
        }
        file = std::move(created).value();
    }
    m_file = std::move(file);
    return m_file;
}

int PhotoVariantCopyOperation::deliverChunk(const QByteArray& data, const std::shared_ptr<void>& context)
{
    if (isCancelled() || isFinished() || !context || context != m_file)
        return 1;
    noteStreamActivity();
    if (auto writeError = m_file->write(data)) {
        failUnlessFailed(error(fileWriteFailed, writeError));
        return 1;
    }
    if (!m_callbacks.progressUpdated && !m_callbacks.bytesCopied)
        return 0;
    // One post per chunk carries the count, the progress update and the byte report.
    auto operation = self();
    const qint64 length = data.size();
    DispatchQueue::main()->async([operation, length] {
        const ProgressPtr& progress = operation->m_progress;
        if (operation->m_callbacks.progressUpdated) {
            // A size the camera did not know at first may be known once the file streams.
            if (progress->totalUnitCount() < 1) {
                if (const qint64 size = knownSize(operation->m_variant->remoteItem()->size()); size > 0)
                    progress->setUnitCounts(size, 0);
            }
            progress->addCompletedUnitCount(length);
            operation->m_callbacks.progressUpdated(operation);
        }
        if (operation->m_callbacks.bytesCopied)
            operation->m_callbacks.bytesCopied(operation, length);
    });
    return 0;
}

void PhotoVariantCopyOperation::complete(const std::optional<Error>& streamError, const std::shared_ptr<void>& context)
{
    auto file = std::static_pointer_cast<StagedFile>(context);
    const bool failedBefore = state().kind == State::Kind::failed;
    // A stream that ends after the watchdog gave up on it, or that belongs to no file of ours, writes nothing.
    if (streamError || isCancelled() || isFinished() || failedBefore || !file || file != m_file) {
        if (file)
            file->discard();
        if (streamError && !isCancelled() && !isFinished())
            failUnlessFailed(*streamError);
    } else {
        const auto& item = m_variant->remoteItem();
        const qint64 stated = knownSize(item->size()) > 0 ? knownSize(item->size()) : m_variant->size().value_or(0);
        bool replace = false;
        {
            std::lock_guard lock(m_mutex);
            replace = m_replaceExisting;
        }
        if (stated > 0 && file->bytesWritten() < stated) {
            file->discard();
            failUnlessFailed(error(streamIncomplete));
        } else {
            // The rest happens after the flush; the stream is free for the next file meanwhile.
            file->finishWriting(m_variant->dateCreated());
            m_awaitingFlush = true;
            m_file.reset();
            unwatchStall(self());
            const auto operation = self();
            if (!m_flusher)
                m_flusher = std::make_shared<StagedFileFlusher>();
            m_flusher->add(file, [operation, replace](std::shared_ptr<StagedFile> flushedFile,
                                                      std::optional<Error> flushError) {
                if (!flushError)
                    flushError = flushedFile->moveIntoPlace(replace, false);
                operation->flushed(flushedFile, flushError);
            });
            endStream();
            return;
        }
    }
    if (file == m_file)
        m_file.reset();
    finishOperation();
}

void PhotoVariantCopyOperation::flushed(const std::shared_ptr<StagedFile>& file, const std::optional<Error>& flushError)
{
    if (flushError) {
        file->discard();
        failUnlessFailed(error(flushError->code == EEXIST ? fileCreationFailed : fileWriteFailed, flushError));
    } else {
        m_committed = true;
        m_ledger->addWrittenFile(file->finalPath());
        std::lock_guard lock(gFoldersMutex);
        gFoldersToSync.insert(QFileInfo(file->finalPath()).path());
    }
    finishOperation();
}

void PhotoVariantCopyOperation::noteStreamActivity()
{
    m_lastStreamActivity = std::chrono::steady_clock::now().time_since_epoch().count();
}

void PhotoVariantCopyOperation::stallWatchCounts(std::function<void(size_t, size_t)> answer)
{
    photoOperationCallbackQueue()->async([answer = std::move(answer)] {
        answer(stallWatch().streams.size(), stallWatch().timers.size());
    });
}

void PhotoVariantCopyOperation::watchStall(const std::weak_ptr<PhotoVariantCopyOperation>& weak)
{
    const auto operation = weak.lock();
    if (!operation)
        return;
    // A stream that ended before its watch began needs none.
    if (const auto due = operation->checkStall()) {
        stallWatch().streams.push_back(weak);
        scheduleStallTimer(*due);
    }
}

void PhotoVariantCopyOperation::unwatchStall(const std::weak_ptr<PhotoVariantCopyOperation>& operation)
{
    auto& streams = stallWatch().streams;
    streams.erase(std::remove_if(streams.begin(), streams.end(),
                                 [&](const auto& each) { return sameOperation(each, operation); }),
                  streams.end());
}

void PhotoVariantCopyOperation::scheduleStallTimer(std::chrono::steady_clock::time_point due)
{
    auto& timers = stallWatch().timers;
    // A timer due no later looks at this stream too.
    if (!timers.empty() && *timers.begin() <= due)
        return;
    timers.insert(due);
    // On the copy queue, so that the check and the streams' own blocks never overlap.
    photoOperationCallbackQueue()->asyncAfter(
        std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()),
        [due] { stallTimerFired(due); });
}

void PhotoVariantCopyOperation::stallTimerFired(std::chrono::steady_clock::time_point due)
{
    StallWatch& watch = stallWatch();
    if (const auto timer = watch.timers.find(due); timer != watch.timers.end())
        watch.timers.erase(timer);
    std::optional<std::chrono::steady_clock::time_point> next;
    std::vector<std::weak_ptr<PhotoVariantCopyOperation>> kept;
    for (const auto& weak : std::exchange(watch.streams, {})) {
        const auto operation = weak.lock();
        const auto again = operation ? operation->checkStall() : std::nullopt;
        if (!again)
            continue;
        kept.push_back(weak);
        next = next ? std::min(*next, *again) : *again;
    }
    // Streams added meanwhile have their timer already.
    kept.insert(kept.end(), watch.streams.begin(), watch.streams.end());
    watch.streams = std::move(kept);
    if (next)
        scheduleStallTimer(*next);
}

std::optional<std::chrono::steady_clock::time_point> PhotoVariantCopyOperation::checkStall()
{
    // A cancelled stream is ended by the cancel watchdog, as a cancel rather than a failure; a file with the
    // flusher has no stream left.
    if (isFinished() || m_finishing || isCancelled() || m_awaitingFlush)
        return std::nullopt;
    const auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastStreamActivity.load()));
    const auto idle = std::chrono::steady_clock::now() - last;
    if (idle < m_stalledStreamTimeout)
        return last + m_stalledStreamTimeout;
    failUnlessFailed(error(streamStalled));
    // Whatever the camera sends later finds the operation finished and is refused.
    if (m_file) {
        m_file->discard();
        m_file.reset();
    }
    finishOperation();
    return std::nullopt;
}

void PhotoVariantCopyOperation::didCancel()
{
    const std::weak_ptr<PhotoVariantCopyOperation> weak = self();
    DispatchQueue::main()->asyncAfter(m_watchdogDelay, [weak] {
        auto operation = weak.lock();
        // A file with the flusher is complete: it ends when its flush does, and counts as copied.
        if (!operation || operation->isFinished() || operation->m_awaitingFlush)
            return;
        // The temporary is written on the copy queue; it is dropped there, after any chunk under way.
        photoOperationCallbackQueue()->async([operation] {
            if (operation->m_file) {
                operation->m_file->discard();
                operation->m_file.reset();
            }
        });
        operation->finishOperation();
    });
}

void PhotoVariantCopyOperation::willFinishWithoutRunning()
{
    setState({State::Kind::copying, std::nullopt});
    finishOperation();
}

void PhotoVariantCopyOperation::finishOperation()
{
    if (m_finishing.exchange(true))
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_state.kind != State::Kind::failed) {
            // A file that was written in full counts as copied even when a cancel came in its last moment.
            const bool cancelled = !m_committed && isCancelled();
            m_state = {cancelled ? State::Kind::cancelled : State::Kind::copiedSuccessfully, std::nullopt};
        }
    }
    // A name claimed for a file that was not written is free again for the files after this one.
    if (!m_committed) {
        if (const std::optional<QString> destination = finalDestination())
            m_ledger->releaseClaim(*destination);
    }
    // A temporary made for a stream that never began goes, on the copy queue, where the files are written.
    if (std::shared_ptr<StagedFile> prepared = takePreparedFile())
        photoOperationCallbackQueue()->async([prepared] { prepared->discard(); });
    const bool announce = !m_startedReported.exchange(true);
    auto operation = self();
    // A stream that ends otherwise than into the flusher leaves the watch here.
    if (m_stallWatched)
        photoOperationCallbackQueue()->async([weak = std::weak_ptr<PhotoVariantCopyOperation>(operation)] { unwatchStall(weak); });
    // Posted before the operation counts as finished. The next file may have started meanwhile (this one was
    // waiting for its flush), so its `started` can come before this `finished`; the `finished` reports of a
    // copy's files still come in their order, since the flusher hands files back in the order it took them.
    DispatchQueue::main()->async([operation, announce] {
        const ProgressPtr& progress = operation->m_progress;
        if (progress->totalUnitCount() < 1)
            progress->setUnitCounts(1, 1);
        else if (progress->completedUnitCount() != progress->totalUnitCount())
            progress->setCompletedUnitCount(progress->totalUnitCount());
        if (announce && operation->m_callbacks.started)
            operation->m_callbacks.started(operation);
        if (operation->m_callbacks.finished)
            operation->m_callbacks.finished(operation);
    });
    endStream();
    finish();
}

void PhotoVariantCopyOperation::endStream()
{
    m_streamTurn->start();
    m_streamEnded.fill(true);
}

} // namespace vornakel
