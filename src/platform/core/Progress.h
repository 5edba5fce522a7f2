#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

// The progress of a piece of work, after NSProgress: a total and a completed unit count (a total below 0 is
// indeterminate), children that each stand for a number of the parent's units, cancellation, and the values a
// file copy shows (file counts, throughput, time remaining, the file being written).
//
// Safe to use from any thread. `changed` is emitted on the thread that made the change, after the change;
// `cancelled` once, on the thread that cancelled. A child that completes (completed >= total, total >= 0) adds
// its pending units to the parent's completed count once and is no longer one of the parent's children (it is
// not cancelled with the parent either): the parent keeps only the work under way.
class Progress : public QObject, public std::enable_shared_from_this<Progress> {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<Progress>;

    enum class Kind { none, file };
    enum class FileOperationKind { none, copying };

    static Ptr create(qint64 totalUnitCount = -1) { return Ptr(new Progress(totalUnitCount)); }
    ~Progress() override;

    qint64 totalUnitCount() const;
    qint64 completedUnitCount() const;
    void setTotalUnitCount(qint64 total);
    void setCompletedUnitCount(qint64 completed);
    // Adds to the completed count (one lock, for callers that count chunks).
    void addCompletedUnitCount(qint64 delta);
    // Sets both at once, so that no observer sees a completed count above a stale total.
    void setUnitCounts(qint64 total, qint64 completed);
    bool isIndeterminate() const;
    // 0…1, children's partial work included; 0 while indeterminate.
    double fractionCompleted() const;
    bool isFinished() const;

    // The child stands for `pendingUnitCount` of this progress's units. A progress has one parent at most;
    // adding it to a second parent does nothing. The parent keeps the child alive.
    void addChild(const Ptr& child, qint64 pendingUnitCount);
    std::vector<Ptr> children() const;

    bool isCancellable() const;
    void setCancellable(bool cancellable);
    bool isCancelled() const;
    // Marks this progress and its children cancelled and runs the cancellation handler once (also when it is
    // set later). Does nothing when already cancelled.
    void cancel();
    void setCancellationHandler(std::function<void()> handler);
    std::function<void()> cancellationHandler() const;

    Kind kind() const;
    void setKind(Kind kind);
    FileOperationKind fileOperationKind() const;
    void setFileOperationKind(FileOperationKind kind);
    // The local file this progress is about (kind file).
    std::optional<QString> filePath() const;
    void setFilePath(std::optional<QString> path);
    std::optional<qint64> fileTotalCount() const;
    void setFileTotalCount(std::optional<qint64> count);
    std::optional<qint64> fileCompletedCount() const;
    void setFileCompletedCount(std::optional<qint64> count);
    // Bytes per second.
    std::optional<double> throughput() const;
    void setThroughput(std::optional<double> bytesPerSecond);
    // Seconds.
    std::optional<double> estimatedTimeRemaining() const;
    void setEstimatedTimeRemaining(std::optional<double> seconds);
    // Both at once, so that no observer sees a new throughput with an old estimate.
    void setThroughputAndTimeRemaining(std::optional<double> bytesPerSecond, std::optional<double> seconds);

signals:
    void changed();
    void cancelledChanged();

private:
    explicit Progress(qint64 totalUnitCount);

    struct Child {
        Ptr progress;
        qint64 pendingUnitCount = 0;
    };

    double fractionLocked() const;
    // Called by a child after its counts changed.
    void childChanged(Progress* child);
    void notifyParent();
    template <typename T>
    void setValue(T& field, T value);

    mutable std::mutex m_mutex;
    qint64 m_total = -1;
    qint64 m_completed = 0;
    std::vector<Child> m_children;
    std::weak_ptr<Progress> m_parent;
    bool m_hasParent = false;
    // Where this progress is among its parent's children (guarded by the parent's mutex), so that a change of
    // one of thousands of children is found at once.
    size_t m_indexInParent = 0;
    bool m_cancellable = false;
    bool m_cancelled = false;
    bool m_handlerRan = false;
    std::function<void()> m_cancellationHandler;
    Kind m_kind = Kind::none;
    FileOperationKind m_fileOperationKind = FileOperationKind::none;
    std::optional<QString> m_filePath;
    std::optional<qint64> m_fileTotalCount;
    std::optional<qint64> m_fileCompletedCount;
    std::optional<double> m_throughput;
    std::optional<double> m_estimatedTimeRemaining;
};

using ProgressPtr = Progress::Ptr;

} // namespace vornakel
