#pragma once

#include "platform/core/DispatchQueue.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vornakel {

class Operation;
using OperationPtr = std::shared_ptr<Operation>;

// A unit of work on an OperationQueue. A synchronous operation finishes when `main()` returns; an asynchronous one
// (`isAsynchronous()` true) is executing from `main()` until it calls `finish()`. An operation is ready once
// every dependency has finished, or once it is cancelled: a cancelled operation that has not started finishes
// without running `main()`, so whatever depends on it goes ahead. Operations are owned by shared pointers.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    virtual ~Operation() = default;

    // Dependencies are kept alive by the operation; add them before the operation is queued. A finishing
    // operation tells the ones that depend on it, so nothing ever asks every dependency again.
    void addDependency(const OperationPtr& operation);

    // Marks the operation cancelled; an executing one should notice, stop early and (if asynchronous) finish.
    void cancel();
    bool isCancelled() const;
    bool isExecuting() const;
    // Virtual so that a subclass may watch who asks; an override answers what this one answers.
    virtual bool isFinished() const;
    bool isReady() const;
    virtual bool isAsynchronous() const { return false; }

    // Runs the operation on the calling thread (a cancelled one just finishes); queues call this once it is
    // ready. Does nothing when it was already started.
    void start();

protected:
    // The work. The default does nothing.
    virtual void main() {}
    // Runs once, on the cancelling thread, right after the operation was marked cancelled (outside any lock).
    // An asynchronous operation can use it to stop its work or to arrange a deadline for it.
    virtual void didCancel() {}
    // Runs on the starting thread when an operation that was cancelled before it started is started instead of
    // `main()`, just before it is marked finished; so such an operation can still report its end.
    virtual void willFinishWithoutRunning() {}
    // Asynchronous operations call this when their work is done (or abandoned after a cancel); later calls do nothing.
    void finish();

private:
    friend class OperationQueue;
    enum class State { Pending, Executing, Finished };
    using Observer = std::function<void()>;

    // Registers an operation that depends on this one; answers false when this one has finished already.
    bool addDependent(const std::weak_ptr<Operation>& dependent);
    void dependencyFinished();
    // The queue that holds the operation hears, outside any lock, when it may have become ready and when it has
    // finished; answers false when it is started, finished or held by a queue already.
    bool setObserver(Observer observer);
    void notifyObserver();

    mutable std::mutex m_mutex;
    State m_state = State::Pending;
    bool m_cancelled = false;
    size_t m_unfinishedDependencies = 0;
    std::vector<OperationPtr> m_dependencies;
    std::vector<std::weak_ptr<Operation>> m_dependents;
    Observer m_observer;
};

// Runs operations on a dispatch queue as they become ready, in the order they were added, at most
// `maxConcurrentOperationCount` at a time (kUnlimited by default; 1 runs them one at a time). Each change (an
// operation added, ready or finished) costs the same however many operations wait.
// Operations the queue holds finish even when the queue object is destroyed first: it cancels them.
class OperationQueue {
public:
    static constexpr int kUnlimited = -1;

    explicit OperationQueue(QueuePtr underlyingQueue = DispatchQueue::global());
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count);

    // Queues an operation; answers false (and queues nothing) when it was already queued, started or finished.
    bool addOperation(const OperationPtr& operation);

    void cancelAllOperations();
    // Operations added and not yet finished.
    int operationCount() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vornakel
