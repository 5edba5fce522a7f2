#include "platform/core/DispatchQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vornakel {
namespace {

thread_local const DispatchQueue* tCurrentQueue = nullptr;

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

class MainQueue final : public DispatchQueue {
public:
    MainQueue() : DispatchQueue(QStringLiteral("com.apple.main-thread")) {}
    bool isConcurrent() const override { return false; }
    bool isCurrent() const override { return DispatchQueue::isMainThread(); }

    void async(Block block) override
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            std::lock_guard lock(m_mutex);
            m_early.push_back(std::move(block));
            return;
        }
        flushEarly(app);
        QMetaObject::invokeMethod(app, [this, block = std::move(block)] {
            ScopedCurrentQueue current(this);
            block();
        }, Qt::QueuedConnection);
    }

private:
    void flushEarly(QCoreApplication* app)
    {
        std::deque<Block> early;
        {
            std::lock_guard lock(m_mutex);
            early.swap(m_early);
        }
        for (auto& block : early) {
            QMetaObject::invokeMethod(app, [this, block = std::move(block)] {
                ScopedCurrentQueue current(this);
                block();
            }, Qt::QueuedConnection);
        }
    }

    std::mutex m_mutex;
    std::deque<Block> m_early;
};

class GlobalQueue final : public DispatchQueue {
public:
    explicit GlobalQueue(QString label) : DispatchQueue(std::move(label)) {}
    bool isConcurrent() const override { return true; }
    bool isCurrent() const override { return tCurrentQueue == this; }

    void async(Block block) override
    {
        workerPool().start([this, block = std::move(block)] {
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
            workerPool().start([self] { self->drain(); });
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

std::shared_ptr<DispatchQueue> DispatchQueue::main()
{
    static const std::shared_ptr<DispatchQueue> queue = std::make_shared<MainQueue>();
    return queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos)
{
    static const std::array<std::shared_ptr<DispatchQueue>, 5> queues = {
        std::make_shared<GlobalQueue>(QStringLiteral("com.apple.root.user-interactive-qos")),
        std::make_shared<GlobalQueue>(QStringLiteral("com.apple.root.user-initiated-qos")),
        std::make_shared<GlobalQueue>(QStringLiteral("com.apple.root.default-qos")),
        std::make_shared<GlobalQueue>(QStringLiteral("com.apple.root.utility-qos")),
        std::make_shared<GlobalQueue>(QStringLiteral("com.apple.root.background-qos")),
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
    // Timers live on the GUI thread; when they fire the block is posted to this queue.
    auto target = shared_from_this();
    main()->async([target, delay, block = std::move(block)]() mutable {
        QTimer::singleShot(delay, QCoreApplication::instance(), [target, block = std::move(block)]() mutable {
            target->async(std::move(block));
        });
    });
}

} // namespace vornakel
