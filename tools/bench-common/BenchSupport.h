// What the benchmarks share: running the event loop until a condition holds, the machine's load and the
// median of a few runs.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace vornakel::tools {

// Runs the event loop until the condition holds or the time is up; the thread sleeps while nothing happens
// (a timer wakes it now and then to look at a condition no event reports).
inline bool runUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(100);
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The 1, 5 and 15 minute load averages, so that figures from a busy machine say so.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace vornakel::tools
