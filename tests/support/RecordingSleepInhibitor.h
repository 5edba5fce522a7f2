#pragma once

#include "platform/power/SleepInhibitor.h"

#include <QStringList>

namespace vornakel::test {

// Grants every acquire at once and records what was asked, so tests can see that a copy held sleep off and let
// go again.
class RecordingSleepInhibitor : public SleepInhibitor {
public:
    void acquire(const QString& reason) override
    {
        ++acquireCalls;
        if (m_held)
            return;
        reasons << reason;
        m_held = true;
        Q_EMIT heldChanged(true);
    }
    void release() override
    {
        ++releaseCalls;
        if (!m_held)
            return;
        m_held = false;
        Q_EMIT heldChanged(false);
    }
    bool isHeld() const override { return m_held; }

    int acquireCalls = 0;
    int releaseCalls = 0;
    // The reason of each lock actually taken.
    QStringList reasons;

private:
    bool m_held = false;
};

} // namespace vornakel::test
