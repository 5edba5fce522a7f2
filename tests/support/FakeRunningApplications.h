#pragma once

#include "platform/services/RunningApplications.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace vornakel::test {

// Running instances by desktop id, kept by hand. An instance asked to terminate quits at once unless it refuses
// or is told to linger.
class FakeRunningApplications : public RunningApplications {
public:
    std::vector<qint64> instances(const QString& desktopId) const override { return running.value(desktopId); }
    bool terminate(qint64 pid) override
    {
        terminated.push_back(pid);
        if (refuseTermination)
            return false;
        if (!lingerAfterTermination)
            remove(pid);
        return true;
    }
    bool isTerminated(qint64 pid) const override
    {
        for (const std::vector<qint64>& pids : running)
            if (std::find(pids.begin(), pids.end(), pid) != pids.end())
                return false;
        return true;
    }
    bool hide(qint64 pid) override
    {
        hidden.push_back(pid);
        return true;
    }

    void remove(qint64 pid)
    {
        for (std::vector<qint64>& pids : running)
            pids.erase(std::remove(pids.begin(), pids.end(), pid), pids.end());
    }

    QHash<QString, std::vector<qint64>> running;
    bool refuseTermination = false;
    bool lingerAfterTermination = false;
    std::vector<qint64> terminated;
    std::vector<qint64> hidden;
};

} // namespace vornakel::test
