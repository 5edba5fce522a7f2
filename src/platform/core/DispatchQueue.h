#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace vornakel {

// A place to run blocks: the main queue is the GUI thread's event loop, serial queues run one block at a time
// in posting order on a shared pool of threads, global queues run blocks concurrently. Posting never runs the
// block in the caller's stack, even when the caller is already on the queue.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Block = std::function<void()>;
    enum class QoS { UserInteractive, UserInitiated, Default, Utility, Background };

    virtual ~DispatchQueue() = default;

    // The GUI thread's queue. Blocks posted before the QCoreApplication exists are kept and run, in posting
    // order, once its event loop turns.
    static std::shared_ptr<DispatchQueue> main();
    // The shared concurrent queue for a quality of service. Every queue but main() runs on one pool of threads,
    // which starts the blocks of a higher quality of service first.
    static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);
    // A new serial queue, whose blocks the pool takes at `qos`. Pending blocks keep it alive until they have run.
    static std::shared_ptr<DispatchQueue> createSerial(const QString& label, QoS qos = QoS::Default);
    // How many blocks of the queues other than main() run at once: a thread per core, plus a few for blocks
    // that wait rather than compute.
    static size_t maximumConcurrentBlocks();

    // The label of the queue whose block the calling thread is running, empty when none.
    static QString currentLabel();
    static bool isMainThread();
    // Called once the program's own work is over, before static objects go: background blocks not yet started
    // (delayed ones included) never run, and those running are given until `bound` to end.
    static void finishBackgroundWorkForExit(std::chrono::milliseconds bound);

    const QString& label() const { return m_label; }
    virtual bool isConcurrent() const = 0;
    // True while the calling thread runs a block of this queue (always on the GUI thread for main()).
    virtual bool isCurrent() const = 0;

    virtual void async(Block block) = 0;
    // Runs the block once, after the delay, on this queue. The delay is timed on a thread of its own, so a
    // background queue's delayed block never waits for the GUI thread.
    void asyncAfter(std::chrono::milliseconds delay, Block block);

    // As above, but the block is dropped when `context` is destroyed before it runs. Whether it still exists is
    // asked right before the block runs, on this queue; so a context living on this queue's thread (a widget or
    // controller for main()) cannot go away between the check and the block. A worker that posts for an object
    // of the GUI thread passes a QPointer taken on the GUI thread, never a raw pointer it holds: the object may
    // be destroyed while the worker runs.
    using Context = QPointer<const QObject>;
    void async(Context context, Block block);
    void asyncAfter(std::chrono::milliseconds delay, Context context, Block block);

protected:
    explicit DispatchQueue(QString label) : m_label(std::move(label)) {}

private:
    QString m_label;
};

using QueuePtr = std::shared_ptr<DispatchQueue>;

// Labels of the serial queues the program names.
inline QString copyQueueLabel() { return QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".zediriri-zir.copy"); }
inline QString photosImportQueueLabel() { return QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".zediriri-zir.photos-import"); }

} // namespace vornakel
