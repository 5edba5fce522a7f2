#include "platform/core/OperationQueue.h"

#include <algorithm>

namespace vornakel {

void Operation::addDependency(const OperationPtr& operation)
{
    if (!operation || operation.get() == this)
        return;
    std::lock_guard lock(m_mutex);
    if (std::find(m_dependencies.begin(), m_dependencies.end(), operation) == m_dependencies.end())
        m_dependencies.push_back(operation);
}

void Operation::removeDependency(const OperationPtr& operation)
{
    {
        std::lock_guard lock(m_mutex);
        m_dependencies.erase(std::remove(m_dependencies.begin(), m_dependencies.end(), operation), m_dependencies.end());
    }
    notifyObservers();
}

std::vector<OperationPtr> Operation::dependencies() const
{
    std::lock_guard lock(m_mutex);
    return m_dependencies;
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
    notifyObservers();
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
    std::vector<OperationPtr> dependencies;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return false;
        if (m_cancelled)
            return true;
        dependencies = m_dependencies;
    }
    // Each dependency is asked outside our own lock so that two operations never hold each other's locks.
    return std::all_of(dependencies.begin(), dependencies.end(), [](const OperationPtr& d) { return d->isFinished(); });
}

void Operation::setCompletionBlock(std::function<void()> block)
{
    std::lock_guard lock(m_mutex);
    m_completionBlock = std::move(block);
}

void Operation::start()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return;
        if (!m_cancelled)
            m_state = State::Executing;
    }
    if (!isExecuting()) {
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
    std::vector<Observer> observers;
    std::function<void()> completion;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Finished)
            return;
        m_state = State::Finished;
        observers.swap(m_observers);
        completion = std::move(m_completionBlock);
        m_completionBlock = nullptr;
    }
    m_finishedCondition.notify_all();
    for (auto& observer : observers)
        observer();
    if (completion)
        DispatchQueue::global()->async(std::move(completion));
}

void Operation::waitUntilFinished() const
{
    std::unique_lock lock(m_mutex);
    m_finishedCondition.wait(lock, [this] { return m_state == State::Finished; });
}

void Operation::addObserver(Observer observer)
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Finished)
        m_observers.push_back(std::move(observer));
}

void Operation::notifyObservers()
{
    std::vector<Observer> observers;
    {
        std::lock_guard lock(m_mutex);
        observers = m_observers;
    }
    for (auto& observer : observers)
        observer();
}

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    QueuePtr queue;
    mutable std::mutex mutex;
    std::condition_variable emptyCondition;
    std::vector<OperationPtr> pending;
    std::vector<OperationPtr> running;
    int maxConcurrent = kUnlimited;
    QueuePtr emptyQueue;
    std::function<void()> emptyHandler;

    bool contains(const OperationPtr& operation) const
    {
        return std::find(pending.begin(), pending.end(), operation) != pending.end()
            || std::find(running.begin(), running.end(), operation) != running.end();
    }

    // Starts what is ready, oldest first, within the concurrency limit; drops operations that finished
    // without us (an asynchronous one finishing early) and reports when nothing is left.
    void schedule()
    {
        std::vector<OperationPtr> toStart;
        bool becameEmpty = false;
        QueuePtr handlerQueue;
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            const bool wasEmpty = pending.empty() && running.empty();
            const auto finished = [](const OperationPtr& operation) { return operation->isFinished(); };
            running.erase(std::remove_if(running.begin(), running.end(), finished), running.end());
            pending.erase(std::remove_if(pending.begin(), pending.end(), finished), pending.end());
            for (auto it = pending.begin(); it != pending.end();) {
                if (maxConcurrent != kUnlimited && running.size() >= static_cast<size_t>(maxConcurrent))
                    break;
                if ((*it)->isReady()) {
                    running.push_back(*it);
                    toStart.push_back(*it);
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
            becameEmpty = !wasEmpty && pending.empty() && running.empty();
            if (becameEmpty) {
                handlerQueue = emptyQueue;
                handler = emptyHandler;
            }
        }
        if (becameEmpty) {
            emptyCondition.notify_all();
            if (handlerQueue && handler)
                handlerQueue->async(handler);
        }
        for (auto& operation : toStart)
            queue->async([operation] { operation->start(); });
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
    m_state->schedule();
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->maxConcurrent;
}

bool OperationQueue::addOperation(const OperationPtr& operation)
{
    if (!operation || operation->isExecuting() || operation->isFinished())
        return false;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->contains(operation))
            return false;
        m_state->pending.push_back(operation);
    }
    // Observers hold the state strongly; the operation drops them when it finishes, which ends the cycle.
    auto state = m_state;
    operation->addObserver([state] { state->schedule(); });
    for (const auto& dependency : operation->dependencies())
        dependency->addObserver([state] { state->schedule(); });
    m_state->schedule();
    return true;
}

void OperationQueue::cancelAllOperations()
{
    for (const auto& operation : operations())
        operation->cancel();
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->pending.size() + m_state->running.size());
}

std::vector<OperationPtr> OperationQueue::operations() const
{
    std::lock_guard lock(m_state->mutex);
    std::vector<OperationPtr> all = m_state->running;
    all.insert(all.end(), m_state->pending.begin(), m_state->pending.end());
    return all;
}

bool OperationQueue::waitUntilAllOperationsAreFinished()
{
    if (DispatchQueue::isMainThread())
        return false;
    std::unique_lock lock(m_state->mutex);
    m_state->emptyCondition.wait(lock, [this] { return m_state->pending.empty() && m_state->running.empty(); });
    return true;
}

void OperationQueue::setEmptyHandler(QueuePtr queue, std::function<void()> handler)
{
    std::lock_guard lock(m_state->mutex);
    m_state->emptyQueue = std::move(queue);
    m_state->emptyHandler = std::move(handler);
}

} // namespace vornakel
