// Leaves work on the background queues and then finishes it for exit: a block already running is waited for,
// blocks not yet started (queued behind it or delayed) never run. Exits 0 when that holds, 1 otherwise.
#include "platform/core/DispatchQueue.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

int main()
{
    using namespace vornakel;
    using namespace std::chrono_literals;
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<int> lateRuns{0};

    const auto serial = DispatchQueue::createSerial(QStringLiteral("com.vornakel.tests.exit"));
    serial->async([&] {
        started = true;
        std::this_thread::sleep_for(200ms); // stands for work that is under way when the program ends
        finished = true;
    });
    while (!started)
        std::this_thread::yield();
    serial->async([&] { ++lateRuns; });
    DispatchQueue::global()->asyncAfter(50ms, [&] { ++lateRuns; });

    DispatchQueue::finishBackgroundWorkForExit(5s);
    const bool waited = finished.load();
    std::this_thread::sleep_for(150ms); // past the delayed block's time
    if (!waited || lateRuns.load() != 0) {
        std::fprintf(stderr, "running block waited for: %d, blocks run after the end: %d\n", int(waited),
                     lateRuns.load());
        return 1;
    }
    return 0;
}
