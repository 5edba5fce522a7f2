#include "copying/PhotoCopyQueue.h"

#include "copying/StagedFileFlusher.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace vornakel {

PhotoCopyQueue::Ptr PhotoCopyQueue::create(std::vector<PhotoPtr> photos, Options options)
{
    // A QObject goes on the thread it lives on; the last owner may be an operation's thread.
    Ptr queue(new PhotoCopyQueue(std::move(photos), std::move(options)), [](PhotoCopyQueue* doomed) {
        if (DispatchQueue::isMainThread() || !QCoreApplication::instance())
            delete doomed;
        else
            DispatchQueue::main()->async([doomed] { delete doomed; });
    });
    // The handler may run on any thread; cancelling is safe from each.
    const std::weak_ptr<PhotoCopyQueue> weak = queue;
    queue->m_progress->setCancellationHandler([weak] {
        if (auto strong = weak.lock())
            strong->cancel();
    });
    return queue;
}

PhotoCopyQueue::PhotoCopyQueue(std::vector<PhotoPtr> photos, Options options)
    : m_options(std::move(options)), m_photos(std::move(photos)), m_progress(Progress::create(-1)),
      m_clock([] { return std::chrono::steady_clock::now(); })
{
    // A full batch is flushed before the copy runs out of files that may wait for the disk.
    m_flusher = std::make_shared<StagedFileFlusher>(&StagedFile::flushTogether, StagedFileFlusher::kDefaultSpacing,
                                                    size_t(kFilesAwaitingFlush / 2));
    m_progress->setCancellable(true);
}

PhotoCopyQueue::~PhotoCopyQueue()
{
    // Operations still under way end as cancelled; a thread still waiting for an answer must not wait for ever.
    // The operations are cancelled first, so that the one asking takes the released answer as a cancel.
    std::vector<PhotoVariantCopyOperationPtr> operations;
    std::optional<PendingQuestion> question;
    {
        std::lock_guard lock(m_conflictMutex);
        operations = m_operations;
        question = m_pendingQuestion;
    }
    for (const auto& operation : operations)
        operation->cancel();
    if (question) {
        question->resolution.fill(FileNameConflictResolution::cancel);
        question->remember.fill(false);
    }
}

QString PhotoCopyQueue::dragAndDropGroupingBehaviourUserDefaultsKey()
{
    return QStringLiteral("DragAndDropGroupingBehaviour");
}

QString PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey()
{
    return QStringLiteral("StalledStreamTimeout");
}

std::chrono::milliseconds PhotoCopyQueue::stalledStreamTimeout(const UserDefaults& defaults)
{
    bool isNumber = false;
    const double seconds = defaults.object(stalledStreamTimeoutUserDefaultsKey()).toDouble(&isNumber);
    // Zero or less would fail every file at once; not a number (NaN included) is no setting at all.
    if (!isNumber || !(seconds > 0))
        return PhotoVariantCopyOperation::kDefaultStalledStreamTimeout;
    constexpr double kDay = 86400;
    return std::max(std::chrono::milliseconds(1), std::chrono::milliseconds(qint64(std::min(seconds, kDay) * 1000)));
}

FileGroupBehaviour PhotoCopyQueue::dragAndDropGroupingBehaviour(const UserDefaults& defaults)
{
    return storedFileGroupBehaviour(defaults, dragAndDropGroupingBehaviourUserDefaultsKey(),
                                    FileGroupBehaviour::preferPreview);
}

std::vector<PhotoVariantPtr> PhotoCopyQueue::variantsToCopy(const std::vector<PhotoPtr>& photos,
                                                            FileGroupBehaviour behaviour)
{
    std::vector<PhotoVariantPtr> variants;
    variants.reserve(photos.size());
    for (const PhotoPtr& photo : photos) {
        if (!photo)
            continue;
        PhotoVariantPtr primary = photo->primaryVariant();
        PhotoVariantPtr preview = photo->previewVariant();
        if (!preview) {
            variants.push_back(std::move(primary));
            continue;
        }
        switch (behaviour) {
        case FileGroupBehaviour::preferOriginal:
            variants.push_back(std::move(primary));
            break;
        case FileGroupBehaviour::preferPreview:
            variants.push_back(std::move(preview));
            break;
        case FileGroupBehaviour::copyAll:
            variants.push_back(std::move(primary));
            variants.push_back(std::move(preview));
            break;
        }
    }
    return variants;
}

PhotoVariantCopyOperation::State PhotoCopyQueue::FileRecord::state() const
{
    return {m_kind, m_error ? std::optional<Error>(*m_error) : std::nullopt};
}

std::optional<QString> PhotoCopyQueue::FileRecord::finalDestination() const
{
    return m_written ? std::optional<QString>(m_path) : std::nullopt;
}

std::optional<FileNameConflictResolution> PhotoCopyQueue::savedFileConflictResolution() const
{
    std::lock_guard lock(m_conflictMutex);
    return m_savedFileConflictResolution;
}

void PhotoCopyQueue::start(Callbacks callbacks, std::function<void(bool)> completion)
{
    if (m_started || !m_options.destination) {
        if (completion)
            completion(false);
        return;
    }
    m_started = true;
    m_callbacks = std::move(callbacks);
    const std::vector<PhotoVariantPtr> variants = variantsToCopy(m_photos, m_options.groupBehaviour);
    const std::weak_ptr<PhotoCopyQueue> weak = shared_from_this();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    m_options.destination->copySessionShouldStart(
        variants, [weak, variants, completion, answered](bool shouldStart) {
            if (answered->exchange(true))
                return;
            auto proceed = [weak, variants, completion, shouldStart]() mutable {
                auto queue = weak.lock();
                if (!queue || !shouldStart) {
                    if (completion)
                        completion(false);
                    return;
                }
                queue->buildAndRun(std::move(variants), completion);
            };
            // Everything the queue keeps is touched on the main thread only.
            if (DispatchQueue::isMainThread())
                proceed();
            else
                DispatchQueue::main()->async(proceed);
        });
}

void PhotoCopyQueue::buildAndRun(std::vector<PhotoVariantPtr> variants, const std::function<void(bool)>& completion)
{
    m_options.destination->copySessionWillStart(variants);
    qint64 byteTotal = 0;
    for (const PhotoVariantPtr& variant : variants)
        byteTotal += variant->size().value_or(0);
    m_variants = std::move(variants);
    m_plannedOperations = qint64(m_variants.size());
    if (byteTotal > 0) {
        m_totalBytesToCopy = byteTotal;
        m_bytesRemaining = byteTotal;
    }
    // One file streams at a time (each waits for the stream of the one before), the next one gets ready meanwhile,
    // and the others running wait for the disk.
    m_operationQueue.setMaxConcurrentOperationCount(kFilesAwaitingFlush + 2);
    m_isRunning = true;
    buildMore();
    setTotals();
    m_progress->setFileCompletedCount(1);

    if (m_fileCount == 0) {
        m_isRunning = false;
        // Nothing to copy still ends the session, and the owner hears that the copy is over.
        if (completion)
            completion(true);
        const std::weak_ptr<PhotoCopyQueue> weak = shared_from_this();
        DispatchQueue::main()->async([weak] {
            if (auto queue = weak.lock())
                queue->endSession();
        });
        return;
    }
    if (m_callbacks.queueStarted)
        m_callbacks.queueStarted(shared_from_this());
    if (completion)
        completion(true);
}

void PhotoCopyQueue::setTotals()
{
    m_progress->setTotalUnitCount(m_plannedOperations);
    m_progress->setFileTotalCount(m_plannedOperations);
}

void PhotoCopyQueue::buildMore()
{
    const CopyDestinationPtr& destination = m_options.destination;
    const std::weak_ptr<PhotoCopyQueue> weak = weak_from_this();
    const std::function<void()> cancellation = m_progress->cancellationHandler();
    const qint64 plannedBefore = m_plannedOperations;
    PhotoVariantCopyOperationPtr previous = m_lastBuilt;
    while (m_nextVariant < m_variants.size()) {
        const PhotoVariantPtr& variant = m_variants[m_nextVariant];
        const PhotoPtr photo = variant->photo();
        // The files of a photo are built together, so that the destination's step after each of them sees all.
        const bool samePhoto = previous && photo && previous->photoVariant()->photo() == photo;
        if (!samePhoto && m_operations.size() >= kOperationsBuiltAhead)
            break;
        ++m_nextVariant;
        const std::optional<QString> target = destination->destinationFor(*variant);
        if (!target) {
            --m_plannedOperations;
            if (m_totalBytesToCopy && variant->size()) {
                *m_totalBytesToCopy -= *variant->size();
                m_bytesRemaining = std::max<qint64>(0, *m_bytesRemaining - *variant->size());
            }
            continue;
        }
        auto operation = PhotoVariantCopyOperation::create(
            variant, *target, operationCallbacks(),
            [weak](PhotoVariantCopyOperation& asking) { return resolveConflict(weak, asking); }, cancellation);
        operation->setCancelWatchdogDelay(m_watchdogDelay);
        operation->setStalledStreamTimeout(m_stalledStreamTimeout);
        operation->setLedger(m_ledger);
        operation->setFlusher(m_flusher);
        if (previous) {
            operation->addDependency(previous->streamTurn());
            operation->followStreamOf(*previous);
        }
        FileRecord& file = m_recordOfOperation[operation.get()];
        file.m_variant = variant;
        file.m_index = m_fileCount++;
        file.m_path = *target;
        m_toAnnounce.push_back(operation);
        m_progress->addChild(operation->progress(), 1);
        if (photo)
            m_operationsByPhoto[photo.get()].push_back(operation);
        bool cancelled = false;
        {
            // From here on a cancel on any thread reaches the operation.
            std::lock_guard lock(m_conflictMutex);
            m_operations.push_back(operation);
            cancelled = m_cancelled;
        }
        if (cancelled)
            operation->cancel();
        m_operationQueue.addOperation(operation);
        previous = std::move(operation);
    }
    m_lastBuilt = std::move(previous);
    if (m_nextVariant == m_variants.size()) {
        m_variants.clear();
        m_variants.shrink_to_fit();
        m_nextVariant = 0;
    }
    if (m_plannedOperations != plannedBefore && m_fileCount > 0)
        setTotals();
}

const CopyOperationProgressCallbacks& PhotoCopyQueue::operationCallbacks()
{
    if (!m_operationCallbacks) {
        const std::weak_ptr<PhotoCopyQueue> weak = shared_from_this();
        CopyOperationProgressCallbacks callbacks;
        callbacks.started = [weak](const PhotoVariantCopyOperationPtr& operation) {
            if (auto queue = weak.lock())
                queue->operationReportedStart(operation);
        };
        callbacks.progressUpdated = [weak](const PhotoVariantCopyOperationPtr&) {
            auto queue = weak.lock();
            if (queue && queue->m_callbacks.progressUpdated)
                queue->m_callbacks.progressUpdated(queue);
        };
        callbacks.bytesCopied = [weak](const PhotoVariantCopyOperationPtr& operation, qint64 count) {
            if (auto queue = weak.lock()) {
                queue->m_bytesStreamed[operation.get()] += count;
                queue->bytesCopied(count);
            }
        };
        callbacks.finished = [weak](const PhotoVariantCopyOperationPtr& operation) {
            if (auto queue = weak.lock())
                queue->operationReportedFinish(operation);
        };
        m_operationCallbacks = std::move(callbacks);
    }
    return *m_operationCallbacks;
}

void PhotoCopyQueue::setCurrentItem(ProgressPtr progress, PhotoVariantPtr variant)
{
    if (progress == m_currentItemProgress && variant == m_currentItemVariant)
        return;
    m_currentItemProgress = std::move(progress);
    m_currentItemVariant = std::move(variant);
    emit currentItemChanged();
}

void PhotoCopyQueue::operationReportedStart(const PhotoVariantCopyOperationPtr& operation)
{
    m_startsWaiting.insert(operation.get());
    while (!m_toAnnounce.empty() && m_startsWaiting.erase(m_toAnnounce.front().get())) {
        const PhotoVariantCopyOperationPtr next = std::move(m_toAnnounce.front());
        m_toAnnounce.pop_front();
        operationStarted(next);
        if (m_endsWaiting.erase(next.get()))
            operationFinished(next);
    }
}

void PhotoCopyQueue::operationReportedFinish(const PhotoVariantCopyOperationPtr& operation)
{
    // An operation reports its start before its end, so one whose start is still waiting ends after it.
    if (m_startsWaiting.count(operation.get()))
        m_endsWaiting.insert(operation.get());
    else
        operationFinished(operation);
}

void PhotoCopyQueue::operationStarted(const PhotoVariantCopyOperationPtr& operation)
{
    m_currentOperation = operation;
    setCurrentItem(operation->progress(), operation->photoVariant());
    m_dateLastMeasurementTaken.reset();
    m_bytesCopiedSinceLastMeasurement.reset();
    auto self = shared_from_this();
    if (m_callbacks.progressUpdated)
        m_callbacks.progressUpdated(self);
    if (m_callbacks.itemStarted)
        m_callbacks.itemStarted(self, operation->photoVariant(), operation->finalDestination());
}

void PhotoCopyQueue::bytesCopied(qint64 count)
{
    if (!m_bytesRemaining)
        return;
    m_bytesRemaining = std::max<qint64>(0, *m_bytesRemaining - count);
    const auto now = m_clock();
    // The first chunk of each file opens a window and is not counted: it carries the request's latency.
    if (!m_dateLastMeasurementTaken || !m_bytesCopiedSinceLastMeasurement) {
        m_dateLastMeasurementTaken = now;
        m_bytesCopiedSinceLastMeasurement = 0;
        return;
    }
    *m_bytesCopiedSinceLastMeasurement += count;
    const double elapsed = std::chrono::duration<double>(now - *m_dateLastMeasurementTaken).count();
    if (elapsed < std::chrono::duration<double>(kThroughputWindow).count())
        return;
    const double throughput = double(*m_bytesCopiedSinceLastMeasurement) / elapsed;
    // Without any bytes in the window there is no estimate rather than an endless one.
    m_progress->setThroughputAndTimeRemaining(
        throughput, throughput > 0 ? std::optional<double>(double(*m_bytesRemaining) / throughput) : std::nullopt);
    m_dateLastMeasurementTaken = now;
    m_bytesCopiedSinceLastMeasurement = 0;
}

void PhotoCopyQueue::operationFinished(const PhotoVariantCopyOperationPtr& operation)
{
    // A file that ended short of its size (skipped, failed, cancelled) has nothing more to come: the estimate
    // of the time left counts only the bytes still to copy.
    const auto streamedEntry = m_bytesStreamed.find(operation.get());
    const qint64 streamed = streamedEntry == m_bytesStreamed.end() ? 0 : streamedEntry->second;
    if (streamedEntry != m_bytesStreamed.end())
        m_bytesStreamed.erase(streamedEntry);
    if (const auto recorded = m_recordOfOperation.find(operation.get()); recorded != m_recordOfOperation.end())
        recorded->second.m_bytesReceived = streamed;
    if (m_bytesRemaining && operation->photoVariant()->size() && *operation->photoVariant()->size() > streamed)
        m_bytesRemaining = std::max<qint64>(0, *m_bytesRemaining - (*operation->photoVariant()->size() - streamed));
    std::vector<PhotoVariantCopyOperationPtr> photoOperations;
    if (PhotoPtr photo = operation->photoVariant()->photo()) {
        auto it = m_operationsByPhoto.find(photo.get());
        if (it != m_operationsByPhoto.end())
            photoOperations = it->second;
    }
    if (photoOperations.empty())
        photoOperations.push_back(operation);
    const std::weak_ptr<PhotoCopyQueue> weak = shared_from_this();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    m_options.destination->performPostCopyOperation(operation, photoOperations, [weak, operation, answered](bool) {
        if (answered->exchange(true))
            return;
        DispatchQueue::main()->async([weak, operation] {
            if (auto queue = weak.lock())
                queue->bookkeeping(operation);
        });
    });
}

void PhotoCopyQueue::bookkeeping(const PhotoVariantCopyOperationPtr& operation)
{
    const auto recorded = m_recordOfOperation.find(operation.get());
    if (recorded == m_recordOfOperation.end())
        return;
    FileRecord file = std::move(recorded->second);
    m_recordOfOperation.erase(recorded);
    release(operation, file);
    ++m_completedFileCount;
    m_progress->setFileCompletedCount(qint64(m_completedFileCount));
    auto self = shared_from_this();
    if (m_callbacks.itemFinished)
        m_callbacks.itemFinished(self, file);
    count(std::move(file));
    buildMore();
    if (m_completedFileCount != m_fileCount || m_nextVariant < m_variants.size())
        return;
    // The copy is reported finished only once the new names are on disk; the folders are flushed on the copy
    // queue, after every write, and never on the main thread.
    const std::weak_ptr<PhotoCopyQueue> weak = self;
    PhotoVariantCopyOperation::photoOperationCallbackQueue()->async([weak] {
        PhotoVariantCopyOperation::syncWrittenFolders();
        DispatchQueue::main()->async([weak] {
            if (auto queue = weak.lock())
                queue->endSession();
        });
    });
}

void PhotoCopyQueue::release(const PhotoVariantCopyOperationPtr& operation, FileRecord& file)
{
    PhotoVariantCopyOperation::State state = operation->state();
    file.m_done = true;
    file.m_kind = state.kind;
    if (state.error)
        file.m_error = std::make_shared<const Error>(std::move(*state.error));
    if (std::optional<QString> written = operation->finalDestination()) {
        file.m_written = true;
        file.m_path = std::move(*written);
    }
    file.m_targetTakenByThisCopy = operation->targetTakenByThisCopy();
    {
        std::lock_guard lock(m_conflictMutex);
        if (const auto it = std::find(m_operations.begin(), m_operations.end(), operation); it != m_operations.end())
            m_operations.erase(it);
    }
    // The post-copy step of a photo's later file is handed all of the photo's files; once none of them is under
    // way any more, the photo's list goes too.
    if (const PhotoPtr photo = operation->photoVariant()->photo()) {
        const auto entry = m_operationsByPhoto.find(photo.get());
        if (entry != m_operationsByPhoto.end()
            && std::none_of(entry->second.begin(), entry->second.end(),
                            [this](const auto& each) { return m_recordOfOperation.count(each.get()) > 0; }))
            m_operationsByPhoto.erase(entry);
    }
}

void PhotoCopyQueue::count(FileRecord file)
{
    // The deepest folder of every target so far: this one's, or the nearest above both.
    const QString folder = QFileInfo(QDir::cleanPath(file.m_path)).path();
    if (!m_tally.folder) {
        m_tally.folder = folder;
    } else {
        QString& common = *m_tally.folder;
        while (common != folder && !folder.startsWith(common + u'/')) {
            const QString parent = QFileInfo(common).path();
            if (parent == common)
                break;
            common = parent;
        }
    }
    using Kind = PhotoVariantCopyOperation::State::Kind;
    switch (file.m_kind) {
    case Kind::copiedSuccessfully:
        ++(file.m_written ? m_tally.written : m_tally.notWritten);
        break;
    case Kind::failed: {
        // Files end in the copy's order nearly always; a failed one that ended early goes back to its place.
        auto& failed = m_tally.failed;
        const auto place = std::upper_bound(failed.begin(), failed.end(), file.m_index,
                                            [](size_t index, const FileRecord& each) { return index < each.m_index; });
        failed.insert(place, std::move(file));
        break;
    }
    case Kind::cancelled:
    case Kind::preCopy:
    case Kind::copying:
        ++m_tally.cancelled;
        break;
    }
}

void PhotoCopyQueue::endSession()
{
    if (m_finished)
        return;
    m_finished = true;
    m_options.destination->copySessionDidEnd();
    m_isRunning = false;
    m_currentOperation.reset();
    setCurrentItem(nullptr, nullptr);
    if (m_callbacks.queueFinished)
        m_callbacks.queueFinished(shared_from_this());
}

void PhotoCopyQueue::cancel()
{
    std::vector<PhotoVariantCopyOperationPtr> operations;
    {
        std::lock_guard lock(m_conflictMutex);
        m_cancelled = true;
        operations = m_operations;
        if (m_pendingQuestion) {
            m_pendingQuestion->resolution.fill(FileNameConflictResolution::cancel);
            m_pendingQuestion->remember.fill(false);
        }
    }
    // The progress shows the cancel too; its handler comes back here and finds everything cancelled.
    m_progress->cancel();
    for (const auto& operation : operations)
        operation->cancel();
}

FileNameConflictResolution PhotoCopyQueue::resolveConflict(const std::weak_ptr<PhotoCopyQueue>& weak,
                                                           PhotoVariantCopyOperation& operation)
{
    PendingQuestion question;
    {
        auto queue = weak.lock();
        if (!queue)
            return FileNameConflictResolution::cancel;
        std::lock_guard lock(queue->m_conflictMutex);
        if (queue->m_savedFileConflictResolution)
            return *queue->m_savedFileConflictResolution;
        if (queue->m_cancelled)
            return FileNameConflictResolution::cancel;
        queue->m_pendingQuestion = question;
    }
    DispatchQueue::main()->async(
        [weak, question, variant = operation.photoVariant(), target = operation.target()] {
            auto queue = weak.lock();
            if (!queue) {
                question.resolution.fill(FileNameConflictResolution::cancel);
                question.remember.fill(false);
                return;
            }
            if (!queue->m_callbacks.fileNameConflict) {
                // Nobody to ask: the existing file is kept.
                question.resolution.fill(FileNameConflictResolution::skip);
                question.remember.fill(false);
                return;
            }
            queue->m_callbacks.fileNameConflict(queue, variant, target, question.resolution, question.remember);
        });
    const FileNameConflictResolution resolution = question.resolution.waitForever();
    const bool remember = question.remember.waitForever();

    auto queue = weak.lock();
    if (!queue)
        return FileNameConflictResolution::cancel;
    {
        std::lock_guard lock(queue->m_conflictMutex);
        queue->m_pendingQuestion.reset();
        if (remember && !queue->m_cancelled)
            queue->m_savedFileConflictResolution = resolution;
    }
    if (resolution == FileNameConflictResolution::cancel)
        queue->cancel();
    return resolution;
}

} // namespace vornakel
