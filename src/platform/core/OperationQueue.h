#pragma once

#include "platform/core/DispatchQueue.h"

#include <condition_variable>
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
// without running `main()`, so whatever depends on it goes ahead.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    virtual ~Operation() = default;

    // Dependencies are kept alive by the operation; add them before the operation is queued.
    void addDependency(const OperationPtr& operation);
    void removeDependency(const OperationPtr& operation);
    std::vector<OperationPtr> dependencies() const;

    // Marks the operation cancelled; an executing one should notice, stop early and (if asynchronous) finish.
    void cancel();
    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    bool isReady() const;
    virtual bool isAsynchronous() const { return false; }

    // Runs once the operation has finished, on a global queue.
    void setCompletionBlock(std::function<void()> block);

    // Runs the operation on the calling thread (a cancelled one just finishes); queues call this once it is
    // ready. Does nothing when it was already started.
    void start();
    // Blocks the calling thread until the operation has finished; never call it on a thread the operation needs.
    void waitUntilFinished() const;

    // Observers of cancelling and finishing, called on the thread that did it; queues use them to schedule.
    // They are dropped once the operation has finished.
    using Observer = std::function<void()>;
    void addObserver(Observer observer);

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
    enum class State { Pending, Executing, Finished };

    void notifyObservers();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finishedCondition;
    State m_state = State::Pending;
    bool m_cancelled = false;
    std::vector<OperationPtr> m_dependencies;
    std::vector<Observer> m_observers;
    std::function<void()> m_completionBlock;
};

// An operation that runs one block.
class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : m_block(std::move(block)) {}
    static std::shared_ptr<BlockOperation> create(std::function<void()> block)
    {
        return std::make_shared<BlockOperation>(std::move(block));
    }

protected:
    void main() override
    {
        if (m_block)
            m_block();
    }

private:
    std::function<void()> m_block;
};

// Runs operations on a dispatch queue as they become ready, in the order they were added, at most
// `maxConcurrentOperationCount` at a time (kUnlimited by default; 1 runs them one at a time).
// Operations the queue holds finish even when the queue object is destroyed first: it cancels them.
class OperationQueue {
public:
    static constexpr int kUnlimited = -1;

    explicit OperationQueue(QueuePtr underlyingQueue = DispatchQueue::global());
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // Queues an operation; answers false (and queues nothing) when it was already queued, started or finished.
    bool addOperation(const OperationPtr& operation);
    void addOperation(std::function<void()> block) { addOperation(BlockOperation::create(std::move(block))); }

    void cancelAllOperations();
    // Operations added and not yet finished.
    int operationCount() const;
    std::vector<OperationPtr> operations() const;

    // Blocks until every operation added so far has finished. Answers false without waiting on the main thread,
    // where operations that post back to it would never get to run.
    bool waitUntilAllOperationsAreFinished();

    // Runs the handler on `queue` whenever the last queued operation has finished.
    void setEmptyHandler(QueuePtr queue, std::function<void()> handler);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vornakel
