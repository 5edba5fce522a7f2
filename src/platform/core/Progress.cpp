#include "platform/core/Progress.h"

#include <algorithm>

namespace vornakel {

Progress::Progress(qint64 totalUnitCount) : m_total(totalUnitCount) {}

Progress::~Progress() = default;

template <typename T>
void Progress::setValue(T& field, T value)
{
    {
        std::lock_guard lock(m_mutex);
        if (field == value)
            return;
        field = std::move(value);
    }
    emit changed();
}

qint64 Progress::totalUnitCount() const
{
    std::lock_guard lock(m_mutex);
    return m_total;
}

qint64 Progress::completedUnitCount() const
{
    std::lock_guard lock(m_mutex);
    return m_completed;
}

void Progress::setTotalUnitCount(qint64 total)
{
    setUnitCounts(total, completedUnitCount());
}

void Progress::setCompletedUnitCount(qint64 completed)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_completed == completed)
            return;
        m_completed = completed;
    }
    emit changed();
    notifyParent();
}

void Progress::addCompletedUnitCount(qint64 delta)
{
    if (delta == 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_completed += delta;
    }
    emit changed();
    notifyParent();
}

void Progress::setUnitCounts(qint64 total, qint64 completed)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_total == total && m_completed == completed)
            return;
        m_total = total;
        m_completed = completed;
    }
    emit changed();
    notifyParent();
}

bool Progress::isIndeterminate() const
{
    std::lock_guard lock(m_mutex);
    return m_total < 0;
}

double Progress::fractionLocked() const
{
    if (m_total < 0)
        return 0.0;
    if (m_total == 0)
        return m_completed > 0 ? 1.0 : 0.0;
    double done = double(m_completed);
    for (const Child& child : m_children)
        done += child.progress->fractionCompleted() * double(child.pendingUnitCount);
    return std::clamp(done / double(m_total), 0.0, 1.0);
}

double Progress::fractionCompleted() const
{
    std::lock_guard lock(m_mutex);
    return fractionLocked();
}

bool Progress::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_total >= 0 && m_completed >= m_total;
}

void Progress::addChild(const Ptr& child, qint64 pendingUnitCount)
{
    if (!child || child.get() == this)
        return;
    {
        std::lock_guard childLock(child->m_mutex);
        if (child->m_hasParent)
            return;
        child->m_hasParent = true;
        child->m_parent = weak_from_this();
    }
    bool cancelChild = false;
    {
        std::lock_guard lock(m_mutex);
        child->m_indexInParent = m_children.size();
        m_children.push_back(Child{child, pendingUnitCount});
        cancelChild = m_cancelled;
    }
    if (cancelChild)
        child->cancel();
    // A child that is already complete counts at once.
    childChanged(child.get());
}

std::vector<Progress::Ptr> Progress::children() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Ptr> result;
    result.reserve(m_children.size());
    for (const Child& child : m_children)
        result.push_back(child.progress);
    return result;
}

void Progress::notifyParent()
{
    Ptr parent;
    {
        std::lock_guard lock(m_mutex);
        parent = m_parent.lock();
    }
    if (parent)
        parent->childChanged(this);
}

void Progress::childChanged(Progress* child)
{
    const bool childFinished = child->isFinished();
    // A child let go goes after the lock, should this have been the last reference to it.
    Ptr released;
    {
        std::lock_guard lock(m_mutex);
        const size_t index = child->m_indexInParent;
        if (index >= m_children.size() || m_children[index].progress.get() != child)
            return;
        if (childFinished) {
            // Its units are now part of ours, so the child is let go: a copy of many files keeps no progress of
            // a file that is done. The last child takes its place.
            m_completed += m_children[index].pendingUnitCount;
            released = std::move(m_children[index].progress);
            if (index + 1 != m_children.size()) {
                m_children[index] = std::move(m_children.back());
                m_children[index].progress->m_indexInParent = index;
            }
            m_children.pop_back();
        }
    }
    emit changed();
    notifyParent();
}

bool Progress::isCancellable() const
{
    std::lock_guard lock(m_mutex);
    return m_cancellable;
}

void Progress::setCancellable(bool cancellable) { setValue(m_cancellable, cancellable); }

bool Progress::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void Progress::cancel()
{
    std::function<void()> handler;
    std::vector<Ptr> children;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        if (m_cancellationHandler && !m_handlerRan) {
            m_handlerRan = true;
            handler = m_cancellationHandler;
        }
        for (const Child& child : m_children)
            children.push_back(child.progress);
    }
    emit cancelledChanged();
    emit changed();
    if (handler)
        handler();
    for (const Ptr& child : children)
        child->cancel();
}

void Progress::setCancellationHandler(std::function<void()> handler)
{
    bool runNow = false;
    {
        std::lock_guard lock(m_mutex);
        m_cancellationHandler = handler;
        m_handlerRan = false;
        if (m_cancelled && handler) {
            m_handlerRan = true;
            runNow = true;
        }
    }
    if (runNow)
        handler();
}

std::function<void()> Progress::cancellationHandler() const
{
    std::lock_guard lock(m_mutex);
    return m_cancellationHandler;
}

Progress::Kind Progress::kind() const
{
    std::lock_guard lock(m_mutex);
    return m_kind;
}

void Progress::setKind(Kind kind) { setValue(m_kind, kind); }

Progress::FileOperationKind Progress::fileOperationKind() const
{
    std::lock_guard lock(m_mutex);
    return m_fileOperationKind;
}

void Progress::setFileOperationKind(FileOperationKind kind) { setValue(m_fileOperationKind, kind); }

std::optional<QString> Progress::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_filePath;
}

void Progress::setFilePath(std::optional<QString> path) { setValue(m_filePath, std::move(path)); }

std::optional<qint64> Progress::fileTotalCount() const
{
    std::lock_guard lock(m_mutex);
    return m_fileTotalCount;
}

void Progress::setFileTotalCount(std::optional<qint64> count) { setValue(m_fileTotalCount, count); }

std::optional<qint64> Progress::fileCompletedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_fileCompletedCount;
}

void Progress::setFileCompletedCount(std::optional<qint64> count) { setValue(m_fileCompletedCount, count); }

std::optional<double> Progress::throughput() const
{
    std::lock_guard lock(m_mutex);
    return m_throughput;
}

void Progress::setThroughput(std::optional<double> bytesPerSecond) { setValue(m_throughput, bytesPerSecond); }

std::optional<double> Progress::estimatedTimeRemaining() const
{
    std::lock_guard lock(m_mutex);
    return m_estimatedTimeRemaining;
}

void Progress::setEstimatedTimeRemaining(std::optional<double> seconds)
{
    setValue(m_estimatedTimeRemaining, seconds);
}

void Progress::setThroughputAndTimeRemaining(std::optional<double> bytesPerSecond, std::optional<double> seconds)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_throughput == bytesPerSecond && m_estimatedTimeRemaining == seconds)
            return;
        m_throughput = bytesPerSecond;
        m_estimatedTimeRemaining = seconds;
    }
    emit changed();
}

} // namespace vornakel
