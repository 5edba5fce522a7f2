#include "platform/core/DispatchQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace vornakel {
namespace {

thread_local const DispatchQueue* tCurrentQueue = nullptr;

#if defined(VKL_TSAN)
// Qt hands blocks to the thread pool and the event loop under locks ThreadSanitizer cannot see (Qt is not built
// with it); a release before the hand-over and an acquire as the block starts show it the order that holds.
std::atomic<unsigned> gHandOver{0};
void releaseBlock() { gHandOver.fetch_add(1, std::memory_order_release); }
void acquireBlock() { (void)gHandOver.load(std::memory_order_acquire); }
#else
void releaseBlock() {}
void acquireBlock() {}
#endif

// Serial and global queues share one pool. Blocks may wait on futures filled elsewhere (the copy thread waits
// for the main thread's conflict sheet), so the pool is wide rather than one thread per core.
QThreadPool& workerPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        p->setExpiryTimeout(10000);
        return p;
    }();
    return *pool;
}

class ScopedCurrentQueue {
public:
    explicit ScopedCurrentQueue(const DispatchQueue* queue) : m_previous(tCurrentQueue) { tCurrentQueue = queue; }
    ~ScopedCurrentQueue() { tCurrentQueue = m_previous; }

private:
    const DispatchQueue* m_previous;
};

void flushEarlyMainQueueBlocks();

class MainQueue final : public DispatchQueue {
public:
    MainQueue() : DispatchQueue(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".main-thread")) {}
    bool isConcurrent() const override { return false; }
    bool isCurrent() const override { return DispatchQueue::isMainThread(); }

    void async(Block block) override
    {
        bool kept = false;
        bool registerFlush = false;
        {
            std::lock_guard lock(m_mutex);
            if (!QCoreApplication::instance()) {
                m_early.push_back(std::move(block));
                kept = true;
                registerFlush = !std::exchange(m_flushRegistered, true);
            }
        }
        if (kept) {
            // Runs inside the QCoreApplication constructor, or at once should one exist by now.
            if (registerFlush)
                qAddPreRoutine(&flushEarlyMainQueueBlocks);
            return;
        }
        QCoreApplication* app = QCoreApplication::instance();
        flushEarly(app);
        post(app, std::move(block));
    }

    // Posts the blocks that came before the application object, ahead of any later ones.
    void flushEarly(QCoreApplication* app)
    {
        std::deque<Block> early;
        {
            std::lock_guard lock(m_mutex);
            early.swap(m_early);
        }
        for (auto& block : early)
            post(app, std::move(block));
    }

private:
    void post(QCoreApplication* app, Block block)
    {
        releaseBlock();
        QMetaObject::invokeMethod(app, [this, block = std::move(block)] {
            acquireBlock();
            ScopedCurrentQueue current(this);
            block();
        }, Qt::QueuedConnection);
    }

    std::mutex m_mutex;
    std::deque<Block> m_early;
    bool m_flushRegistered = false;
};

class GlobalQueue final : public DispatchQueue {
public:
    explicit GlobalQueue(QString label) : DispatchQueue(std::move(label)) {}
    bool isConcurrent() const override { return true; }
    bool isCurrent() const override { return tCurrentQueue == this; }

    void async(Block block) override
    {
        releaseBlock();
        workerPool().start([this, block = std::move(block)] {
            acquireBlock();
            ScopedCurrentQueue current(this);
            block();
        });
    }
};

class SerialQueue final : public DispatchQueue {
public:
    explicit SerialQueue(QString label) : DispatchQueue(std::move(label)) {}
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
            releaseBlock();
            workerPool().start([self] {
                acquireBlock();
                self->drain();
            });
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
            block();
        }
    }

    std::mutex m_mutex;
    std::deque<Block> m_pending;
    bool m_draining = false;
};

} // namespace

namespace {

const std::shared_ptr<MainQueue>& mainQueue()
{
    static const std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
    return queue;
}

void flushEarlyMainQueueBlocks()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        mainQueue()->flushEarly(app);
}

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
        {
            std::lock_guard lock(m_mutex);
            m_pending.emplace(due, Entry{std::move(target), std::move(block)});
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
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
            node.mapped().target->async(std::move(node.mapped().block));
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

std::shared_ptr<DispatchQueue> DispatchQueue::main() { return mainQueue(); }

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos)
{
    static const std::array<std::shared_ptr<DispatchQueue>, 5> queues = {
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.user-interactive")),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.user-initiated")),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.default")),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.utility")),
        std::make_shared<GlobalQueue>(QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".global.background")),
    };
    return queues[static_cast<size_t>(qos)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::createSerial(const QString& label)
{
    return std::make_shared<SerialQueue>(label);
}

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

void DispatchQueue::asyncAfter(std::chrono::milliseconds delay, Block block)
{
    if (delay.count() <= 0) {
        async(std::move(block));
        return;
    }
    DelayedBlocks::instance().schedule(delay, shared_from_this(), std::move(block));
}

} // namespace vornakel
