#include "platform/core/DispatchQueue.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace vornakel {
namespace {

thread_local const DispatchQueue* tCurrentQueue = nullptr;

// The threads that run serial and global queues' blocks: one per core, plus room for the blocks that wait
// without using a core (see kWaitingBlocks). A free thread takes the oldest block of the highest quality of
// service, so interactive work never queues behind background work; an idle thread ends after a while. Blocks
// are handed over under the pool's own lock, so every hand-over is ordered for the threads and for
// ThreadSanitizer alike.
class WorkerPool {
public:
    static std::atomic<bool>& exiting()
    {
        static std::atomic<bool> flag{false};
        return flag;
    }

    // A block that will never run because the process is ending is kept here rather than destroyed: what it
    // holds may refer to objects already gone, and it may be the only thing keeping a chain of work alive.
    static void keepUnrun(std::function<void()> block)
    {
        static std::mutex* mutex = new std::mutex;
        static auto* kept = new std::vector<std::function<void()>>;
        std::lock_guard lock(*mutex);
        kept->push_back(std::move(block));
    }

    static WorkerPool& instance()
    {
        // Never destroyed: a worker may still be finishing a block while the process exits.
        static WorkerPool* pool = new WorkerPool;
        return *pool;
    }

    void start(DispatchQueue::QoS qos, std::function<void()> task)
    {
        bool spawn = false;
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            m_tasks[static_cast<size_t>(qos)].push_back(std::move(task));
            ++m_queued;
            m_queuedHint.store(m_queued, std::memory_order_relaxed);
            spawn = m_queued > m_idle + m_spinning && m_threads < m_maximumThreads;
            if (spawn)
                ++m_threads;
            // A thread that is looking for work takes this block without being woken.
            wake = !spawn && m_queued > m_spinning;
        }
        if (spawn)
            std::thread([this] { run(); }).detach();
        else if (wake)
            m_wake.notify_one();
    }

    size_t maximumThreads() const { return m_maximumThreads; }

private:
    // Blocks that hold a thread while they wait rather than compute: a copy waiting for the user's answer to a
    // name conflict, and the Wi-Fi queue polling the network service while it joins or scans. They must not
    // take the cores from the rest.
    static constexpr size_t kWaitingBlocks = 2;
    static constexpr std::chrono::seconds kIdleExpiry{10};
    // How long a thread that ran out of blocks looks for the next one before it sleeps. Work often comes in
    // chains of short blocks, each handing over to another queue (a camera's data to the copy, the copy back
    // to the camera for the next file); waking a sleeping thread for each costs more than the block itself,
    // many times over on a virtual machine whose idle cores are halted.
    static constexpr std::chrono::microseconds kSpinBeforeSleep{50};

    // The oldest block of the highest quality of service; the lock is held and a block is queued.
    std::function<void()> takeNext()
    {
        for (auto& level : m_tasks) {
            if (!level.empty()) {
                std::function<void()> task = std::move(level.front());
                level.pop_front();
                --m_queued;
                m_queuedHint.store(m_queued, std::memory_order_relaxed);
                return task;
            }
        }
        return {};
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_queued == 0 && !exiting().load()) {
                ++m_spinning;
                lock.unlock();
                const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
                while (m_queuedHint.load(std::memory_order_relaxed) == 0 && std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
                lock.lock();
                --m_spinning;
            }
            if (m_queued == 0) {
                ++m_idle;
                const bool woken = m_wake.wait_for(lock, kIdleExpiry, [this] { return m_queued > 0; });
                --m_idle;
                if (!woken) {
                    --m_threads;
                    return;
                }
            }
            std::function<void()> task = takeNext();
            ++m_running;
            lock.unlock();
            // Once the process is on its way out, blocks still waiting are dropped: what they would touch may
            // already be gone.
            if (!exiting().load())
                task();
            else
                keepUnrun(std::move(task));
            task = nullptr; // whatever the block held goes before the lock is taken again
            lock.lock();
            --m_running;
            m_quiet.notify_all();
        }
    }

public:
    // Drops the blocks still waiting and waits, at most until `deadline`, for those running to end.
    void quiesce(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        for (auto& level : m_tasks) {
            for (std::function<void()>& task : level)
                keepUnrun(std::move(task));
            level.clear();
        }
        m_queued = 0;
        m_queuedHint.store(0, std::memory_order_relaxed);
        m_quiet.wait_until(lock, deadline, [this] { return m_running == 0 && m_queued == 0; });
    }

private:
    const size_t m_maximumThreads = size_t(std::max(1, QThread::idealThreadCount())) + kWaitingBlocks;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_quiet;
    // One list per quality of service, highest first.
    std::array<std::deque<std::function<void()>>, 5> m_tasks;
    size_t m_queued = 0;
    // `m_queued` for the threads looking for work without the lock; the lock decides.
    std::atomic<size_t> m_queuedHint{0};
    size_t m_idle = 0;
    // Threads looking for work before they sleep (see kSpinBeforeSleep).
    size_t m_spinning = 0;
    size_t m_threads = 0;
    size_t m_running = 0;
};

class ScopedCurrentQueue {
public:
    explicit ScopedCurrentQueue(const DispatchQueue* queue) : m_previous(tCurrentQueue) { tCurrentQueue = queue; }
    ~ScopedCurrentQueue() { tCurrentQueue = m_previous; }

private:
    const DispatchQueue* m_previous;
};


// Runs one waiting main-queue block per call, on the GUI thread. The blocks wait in the main queue's own list;
// the event loop only carries the request to run the next one, so nothing but that list crosses threads.
class MainQueuePump : public QObject {
    Q_OBJECT
public:
    explicit MainQueuePump(std::function<void()> runNext) : m_runNext(std::move(runNext)) {}
    Q_INVOKABLE void runNext() { m_runNext(); }

private:
    std::function<void()> m_runNext;
};

class MainQueue final : public DispatchQueue {
public:
    MainQueue() : DispatchQueue(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".main-thread")) {}
    bool isConcurrent() const override { return false; }
    bool isCurrent() const override { return DispatchQueue::isMainThread(); }

    void async(Block block) override
    {
        size_t requests = 0;
        MainQueuePump* pump = nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(block));
            ++m_unrequested;
            // Before the application object exists the block waits; its constructor asks for it.
            if (QCoreApplication* app = QCoreApplication::instance()) {
                pump = pumpFor(app);
                requests = std::exchange(m_unrequested, 0);
            }
        }
        request(pump, requests);
    }

    // Called on the GUI thread as the application object is built: makes the pump there, then asks for the
    // blocks that came before, ahead of any later ones.
    void applicationStarted(QCoreApplication* app)
    {
        size_t requests = 0;
        MainQueuePump* pump = nullptr;
        {
            std::lock_guard lock(m_mutex);
            pump = pumpFor(app);
            requests = std::exchange(m_unrequested, 0);
        }
        request(pump, requests);
    }

private:
    // Made on the GUI thread as the application starts (see applicationStarted), so every other thread meets it
    // fully built through the lock. An application object made some other way gets one on first use.
    MainQueuePump* pumpFor(QCoreApplication* app)
    {
        if (!m_pump) {
            m_pump = new MainQueuePump([this] { runNext(); });
            if (m_pump->thread() != app->thread())
                m_pump->moveToThread(app->thread());
        }
        return m_pump;
    }

    static void request(MainQueuePump* pump, size_t count)
    {
        if (count == 0)
            return;
        // Looked up once; Qt builds each queued call itself, so nothing made here crosses threads.
        static const QMetaMethod runNext =
            MainQueuePump::staticMetaObject.method(MainQueuePump::staticMetaObject.indexOfMethod("runNext()"));
        for (size_t i = 0; i < count; ++i)
            runNext.invoke(pump, Qt::QueuedConnection);
    }

    void runNext()
    {
        Block block;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty())
                return;
            block = std::move(m_pending.front());
            m_pending.pop_front();
        }
        ScopedCurrentQueue current(this);
        block();
    }

    std::mutex m_mutex;
    std::deque<Block> m_pending;
    size_t m_unrequested = 0; // blocks in m_pending no run request was posted for yet
    MainQueuePump* m_pump = nullptr; // never destroyed: blocks may be posted until the process ends
};

class GlobalQueue final : public DispatchQueue {
public:
    GlobalQueue(QString label, QoS qos) : DispatchQueue(std::move(label)), m_qos(qos) {}
    bool isConcurrent() const override { return true; }
    bool isCurrent() const override { return tCurrentQueue == this; }

    void async(Block block) override
    {
        WorkerPool::instance().start(m_qos, [this, block = std::move(block)] {
            ScopedCurrentQueue current(this);
            block();
        });
    }

private:
    const QoS m_qos;
};

class SerialQueue final : public DispatchQueue {
public:
    SerialQueue(QString label, QoS qos) : DispatchQueue(std::move(label)), m_qos(qos) {}
    bool isConcurrent() const override { return false; }
    bool isCurrent() const override { return tCurrentQueue == this; }

    void async(Block block) override
    {
        bool startDrain = false;
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(block));
            if (!m_draining) {
                m_draining = true;
                startDrain = true;
            }
        }
        if (startDrain) {
            // The drain holds the queue alive until its last pending block has run.
            auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
            WorkerPool::instance().start(m_qos, [self] { self->drain(); });
        }
    }

private:
    void drain()
    {
        ScopedCurrentQueue current(this);
        for (;;) {
            Block block;
            {
                std::lock_guard lock(m_mutex);
                if (m_pending.empty()) {
                    m_draining = false;
                    return;
                }
                block = std::move(m_pending.front());
                m_pending.pop_front();
            }
            if (!WorkerPool::exiting().load())
                block();
            else
                WorkerPool::keepUnrun(std::move(block));
        }
    }

    const QoS m_qos;
    std::mutex m_mutex;
    std::deque<Block> m_pending;
    bool m_draining = false;
};

} // namespace

namespace {

const std::shared_ptr<MainQueue>& mainQueue()
{
    // Never destroyed: blocks may be posted, and its pump used, until the process ends.
    static const auto* queue = new std::shared_ptr<MainQueue>(std::make_shared<MainQueue>());
    return *queue;
}

void mainQueueApplicationStarted()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        mainQueue()->applicationStarted(app);
}

} // namespace

// Runs inside every QCoreApplication constructor, on the GUI thread.
Q_COREAPP_STARTUP_FUNCTION(mainQueueApplicationStarted)

namespace {

// Delayed blocks wait here, on a thread of their own, and are then posted to their queue.
class DelayedBlocks {
public:
    static DelayedBlocks& instance()
    {
        // Never destroyed: a block may be scheduled while the process exits.
        static DelayedBlocks* blocks = new DelayedBlocks;
        return *blocks;
    }

    void schedule(std::chrono::milliseconds delay, QueuePtr target, DispatchQueue::Block block)
    {
        const auto due = std::chrono::steady_clock::now() + delay;
        bool earliest = false;
        {
            std::lock_guard lock(m_mutex);
            const auto added = m_pending.emplace(due, Entry{std::move(target), std::move(block)});
            earliest = added == m_pending.begin();
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        // The thread sleeps until the earliest block is due; a later one (a copy's stall check per file, say)
        // needs no wake-up.
        if (earliest)
            m_wake.notify_one();
    }

private:
    struct Entry {
        QueuePtr target;
        DispatchQueue::Block block;
    };

    [[noreturn]] void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_pending.empty()) {
                m_wake.wait(lock);
                continue;
            }
            const auto due = m_pending.begin()->first;
            if (std::chrono::steady_clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            auto node = m_pending.extract(m_pending.begin());
            lock.unlock();
            if (!WorkerPool::exiting().load())
                node.mapped().target->async(std::move(node.mapped().block));
            else
                WorkerPool::keepUnrun([entry = std::move(node.mapped())] {});
            node = {};
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<std::chrono::steady_clock::time_point, Entry> m_pending;
    std::thread m_thread;
};

} // namespace

void DispatchQueue::finishBackgroundWorkForExit(std::chrono::milliseconds bound)
{
    WorkerPool::exiting().store(true);
    WorkerPool::instance().quiesce(std::chrono::steady_clock::now() + bound);
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() { return mainQueue(); }

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos)
{
    static const std::array<std::shared_ptr<DispatchQueue>, 5> queues = {
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.user-interactive"), QoS::UserInteractive),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.user-initiated"), QoS::UserInitiated),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.default"), QoS::Default),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.utility"), QoS::Utility),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.background"), QoS::Background),
    };
    return queues[static_cast<size_t>(qos)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::createSerial(const QString& label, QoS qos)
{
    return std::make_shared<SerialQueue>(label, qos);
}

size_t DispatchQueue::maximumConcurrentBlocks() { return WorkerPool::instance().maximumThreads(); }

QString DispatchQueue::currentLabel()
{
    if (tCurrentQueue)
        return tCurrentQueue->label();
    return isMainThread() ? main()->label() : QString();
}

bool DispatchQueue::isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {

DispatchQueue::Block boundTo(DispatchQueue::Context context, DispatchQueue::Block block)
{
    return [context = std::move(context), block = std::move(block)] {
        if (context)
            block();
    };
}

} // namespace

void DispatchQueue::async(Context context, Block block)
{
    async(boundTo(std::move(context), std::move(block)));
}

void DispatchQueue::asyncAfter(std::chrono::milliseconds delay, Context context, Block block)
{
    asyncAfter(delay, boundTo(std::move(context), std::move(block)));
}

void DispatchQueue::asyncAfter(std::chrono::milliseconds delay, Block block)
{
    if (delay.count() <= 0) {
        async(std::move(block));
        return;
    }
    DelayedBlocks::instance().schedule(delay, shared_from_this(), std::move(block));
}

} // namespace vornakel

#include "DispatchQueue.moc"
