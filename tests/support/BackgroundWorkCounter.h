#pragma once

#include "mainwindow/grid/BackgroundWork.h"
#include "platform/core/DispatchQueue.h"

#include <atomic>

namespace vornakel::test {

// Counts the grid's and the preview's worker blocks while it is installed, and the decodes that ran on the main
// thread (none, by design). Install it before the work starts; a block posted before counts for nothing.
class BackgroundWorkCounter : public BackgroundWork::Observer {
public:
    BackgroundWorkCounter() { BackgroundWork::setObserver(this); }
    ~BackgroundWorkCounter() override { BackgroundWork::setObserver(nullptr); }
    BackgroundWorkCounter(const BackgroundWorkCounter&) = delete;
    BackgroundWorkCounter& operator=(const BackgroundWorkCounter&) = delete;

    int running() const { return m_running; }
    int mainThreadDecodes() const { return m_mainThreadDecodes; }

    void started() override { ++m_running; }
    void finished() override { --m_running; }
    void decoding() override
    {
        if (DispatchQueue::isMainThread())
            ++m_mainThreadDecodes;
    }

private:
    std::atomic<int> m_running{0};
    std::atomic<int> m_mainThreadDecodes{0};
};

// The test program's one counter, installed at its first use and kept until the program ends, so that no block
// outlives the counter it reports to. Fixtures ask for it before they post work.
inline BackgroundWorkCounter& backgroundWork()
{
    static BackgroundWorkCounter counter;
    return counter;
}

} // namespace vornakel::test
