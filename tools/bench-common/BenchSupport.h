// What the benchmarks share: running the event loop until a condition holds, the machine's load and the
// median of a few runs.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <sys/resource.h>

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

// Processor time (user and system) of this process's threads, or with RUSAGE_CHILDREN of its children that were
// waited for.
inline double processorSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Writes `count` files of `size` random bytes under camera file names (PREFIX0001.ARW, …) into the camera
// folder's DCIM/100BENCH.
inline bool writeRandomCameraFiles(const QString& folder, const QString& prefix, int count, qint64 size)
{
    if (!QDir().mkpath(folder + QStringLiteral("/DCIM/100BENCH")))
        return false;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < count; ++i) {
        QFile file(QStringLiteral("%1/DCIM/100BENCH/%2%3.ARW").arg(folder, prefix).arg(i + 1, 4, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (qint64 left = size; left > 0;) {
            const qint64 n = std::min<qint64>(left, block.size());
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), (n + 3) / 4);
            if (file.write(block.constData(), n) != n)
                return false;
            left -= n;
        }
    }
    return true;
}

} // namespace vornakel::tools
