#include "platform/core/OperationQueue.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace vornakel {

void Operation::addDependency(const OperationPtr& operation)
{
    if (!operation || operation.get() == this)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending
            || std::find(m_dependencies.begin(), m_dependencies.end(), operation) != m_dependencies.end())
            return;
        m_dependencies.push_back(operation);
        ++m_unfinishedDependencies;
    }
    // Asked outside our own lock so that two operations never hold each other's locks.
    if (!operation->addDependent(weak_from_this()))
        dependencyFinished();
}

bool Operation::addDependent(const std::weak_ptr<Operation>& dependent)
{
    std::lock_guard lock(m_mutex);
    if (m_state == State::Finished)
        return false;
    m_dependents.push_back(dependent);
    return true;
}

void Operation::dependencyFinished()
{
    bool becameReady = false;
    std::vector<OperationPtr> finished;
    {
        std::lock_guard lock(m_mutex);
        if (m_unfinishedDependencies > 0)
            --m_unfinishedDependencies;
        // Finished dependencies are let go, so a long chain is never torn down one nested destructor per link.
        if (m_unfinishedDependencies == 0)
            finished.swap(m_dependencies);
        becameReady = m_unfinishedDependencies == 0 && m_state == State::Pending && !m_cancelled;
    }
    if (becameReady)
        notifyObserver();
}

void Operation::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled || m_state == State::Finished)
            return;
        m_cancelled = true;
    }
    didCancel();
    notifyObserver();
}

bool Operation::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool Operation::isExecuting() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Executing;
}

bool Operation::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Finished;
}

bool Operation::isReady() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Pending && (m_cancelled || m_unfinishedDependencies == 0);
}

void Operation::start()
{
    bool run = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return;
        run = !m_cancelled;
        if (run)
            m_state = State::Executing;
    }
    if (!run) {
        willFinishWithoutRunning();
        finish();
        return;
    }
    main();
    if (!isAsynchronous())
        finish();
}

void Operation::finish()
{
    std::vector<std::weak_ptr<Operation>> dependents;
    std::vector<OperationPtr> dependencies;
    Observer observer;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Finished)
            return;
        m_state = State::Finished;
        dependents.swap(m_dependents);
        dependencies.swap(m_dependencies);
        observer = std::move(m_observer);
        m_observer = nullptr;
    }
    for (const auto& weak : dependents) {
        if (const OperationPtr dependent = weak.lock())
            dependent->dependencyFinished();
    }
    if (observer)
        observer();
}

bool Operation::setObserver(Observer observer)
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Pending || m_observer)
        return false;
    m_observer = std::move(observer);
    return true;
}

void Operation::notifyObserver()
{
    Observer observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer)
        observer();
}

struct OperationQueue::State {
    enum class Place { Waiting, Ready, Running };
    struct Entry {
        OperationPtr operation;
        uint64_t order;
        Place place;
    };

    QueuePtr queue;
    mutable std::mutex mutex;
    // Every operation added and not finished, and those of them ready to start, oldest first.
    std::unordered_map<const Operation*, Entry> entries;
    std::map<uint64_t, OperationPtr> ready;
    size_t running = 0;
    uint64_t nextOrder = 0;
    int maxConcurrent = kUnlimited;

    // One operation changed (added, ready or finished): only it is looked at, then the oldest ready ones are
    // started within the limit.
    void changed(Operation* operation)
    {
        std::vector<OperationPtr> toStart;
        {
            std::lock_guard lock(mutex);
            if (operation)
                place(operation);
            while (!ready.empty() && (maxConcurrent == kUnlimited || running < static_cast<size_t>(maxConcurrent))) {
                auto next = ready.extract(ready.begin());
                entries.at(next.mapped().get()).place = Place::Running;
                ++running;
                toStart.push_back(std::move(next.mapped()));
            }
        }
        for (auto& each : toStart)
            queue->async([each] { each->start(); });
    }

    // The lock is held.
    void place(Operation* operation)
    {
        const auto it = entries.find(operation);
        if (it == entries.end())
            return;
        Entry& entry = it->second;
        if (operation->isFinished()) {
            // Also one that finished without us: an asynchronous operation finishing early, or one started by hand.
            if (entry.place == Place::Running)
                --running;
            else if (entry.place == Place::Ready)
                ready.erase(entry.order);
            entries.erase(it);
        } else if (entry.place == Place::Waiting && operation->isReady()) {
            entry.place = Place::Ready;
            ready.emplace(entry.order, entry.operation);
        }
    }
};

OperationQueue::OperationQueue(QueuePtr underlyingQueue) : m_state(std::make_shared<State>())
{
    m_state->queue = underlyingQueue ? std::move(underlyingQueue) : DispatchQueue::global();
}

OperationQueue::~OperationQueue()
{
    // The state lives on in the operations' observers until every operation has finished.
    cancelAllOperations();
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->maxConcurrent = count < 1 ? kUnlimited : count;
    }
    m_state->changed(nullptr);
}

bool OperationQueue::addOperation(const OperationPtr& operation)
{
    if (!operation)
        return false;
    Operation* const raw = operation.get();
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->entries.emplace(raw, State::Entry{operation, m_state->nextOrder, State::Place::Waiting}).second)
            return false;
        ++m_state->nextOrder;
    }
    // The observer holds the state; the operation drops it when it finishes, which ends the cycle.
    if (!operation->setObserver([state = m_state, raw] { state->changed(raw); })) {
        std::lock_guard lock(m_state->mutex);
        m_state->entries.erase(raw);
        return false;
    }
    m_state->changed(raw);
    return true;
}

void OperationQueue::cancelAllOperations()
{
    std::vector<OperationPtr> all;
    {
        std::lock_guard lock(m_state->mutex);
        all.reserve(m_state->entries.size());
        for (const auto& [raw, entry] : m_state->entries)
            all.push_back(entry.operation);
    }
    for (const auto& operation : all)
        operation->cancel();
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->entries.size());
}

} // namespace vornakel
