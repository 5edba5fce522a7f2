#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace vornakel::test {

// A dbus-daemon of the test's own, so fakes of system services can be put on a bus without touching the
// machine's. Stopped when the object goes.
class PrivateBusDaemon {
public:
    PrivateBusDaemon() = default;
    PrivateBusDaemon(const PrivateBusDaemon&) = delete;
    PrivateBusDaemon& operator=(const PrivateBusDaemon&) = delete;
    ~PrivateBusDaemon() { stop(); }

    static bool isInstalled() { return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(); }

    // Starts the daemon and reads its address; false when it did not come up.
    bool start()
    {
        m_process.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
                        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                         QStringLiteral("--address=unix:tmpdir=") + QDir::tempPath()});
        if (!m_process.waitForStarted(30000) || !runUntil([&] { return m_process.canReadLine(); }))
            return false;
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
        return !m_address.isEmpty();
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }

    const QString& address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

} // namespace vornakel::test
