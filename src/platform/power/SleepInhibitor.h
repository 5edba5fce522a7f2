#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QDBusPendingCallWatcher;

namespace vornakel {

// Keeps the computer from going to sleep while something long runs, such as a copy. acquire() asks, release()
// lets go; both are cheap and never wait, so the GUI thread may call them.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    // logind's inhibitor on the system bus, or one that does nothing when there is no system bus.
    static std::unique_ptr<SleepInhibitor> createSystem();

    // Asks the system not to sleep until release(); while acquired, a second call changes nothing.
    virtual void acquire(const QString& reason) = 0;
    // Lets the system sleep again; harmless when nothing is held.
    virtual void release() = 0;
    // Whether the system granted the lock and it is held now.
    virtual bool isHeld() const = 0;

Q_SIGNALS:
    void heldChanged(bool held);

protected:
    SleepInhibitor() = default;
};

// For systems without a way to hold sleep off: acquiring does nothing.
class NoSleepInhibitor : public SleepInhibitor {
public:
    void acquire(const QString&) override {}
    void release() override {}
    bool isHeld() const override { return false; }
};

// A "block" lock on "sleep:idle" from systemd-logind (org.freedesktop.login1.Manager.Inhibit). logind keeps the
// lock as long as the file descriptor it answers stays open, so holding is keeping that descriptor and releasing
// is closing it. When logind is not on the bus, or refuses, nothing is held and the copy goes on regardless.
class LogindSleepInhibitor : public SleepInhibitor {
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 10000;

    explicit LogindSleepInhibitor(const QDBusConnection& bus);
    ~LogindSleepInhibitor() override;

    void acquire(const QString& reason) override;
    void release() override;
    bool isHeld() const override { return m_fd >= 0; }

    // Whether logind's answer to the last request is still awaited.
    bool isWaiting() const { return !m_pending.isNull(); }

private:
    void answered(QDBusPendingCallWatcher* watcher);
    void closeDescriptor();

    QDBusConnection m_bus;
    QPointer<QDBusPendingCallWatcher> m_pending;
    bool m_wanted = false;
    int m_fd = -1;
};

} // namespace vornakel
