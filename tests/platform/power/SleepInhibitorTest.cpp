#include "platform/power/SleepInhibitor.h"
#include "support/RecordingSleepInhibitor.h"
#include "support/PrivateBusDaemon.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");

// logind's Inhibit as the documentation describes it: the lock lasts while the answered descriptor is open
// anywhere. The fake answers with the write end of a pipe and watches the read end for the hang-up that comes
// once every copy of the write end is closed.
class FakeLogind : public QDBusVirtualObject {
public:
    ~FakeLogind() override
    {
        for (int fd : readEnds)
            ::close(fd);
    }

    bool start(const QString& address)
    {
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("fake-logind")));
        return m_bus->isConnected() && m_bus->registerService(QStringLiteral("org.freedesktop.login1"))
               && m_bus->registerVirtualObject(kLoginPath, this);
    }
    void stop()
    {
        if (!m_bus)
            return;
        m_bus->unregisterObject(kLoginPath);
        m_bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        std::lock_guard lock(mutex);
        if (message.interface() != QLatin1String("org.freedesktop.login1.Manager") || message.member() != QLatin1String("Inhibit")) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        calls.push_back(message.arguments());
        if (holdAnswers)
            held.push_back(message);
        else
            answer(message, connection);
        return true;
    }

    void answerHeld()
    {
        std::lock_guard lock(mutex);
        for (const QDBusMessage& message : held)
            answer(message, *m_bus);
        held.clear();
    }

    // Whether some process still holds the lock answered for the call with this index.
    bool lockOpen(size_t index)
    {
        std::lock_guard lock(mutex);
        if (index >= readEnds.size())
            return false;
        pollfd watched{readEnds[index], POLLIN, 0};
        return ::poll(&watched, 1, 0) == 0;
    }

    size_t callCount()
    {
        std::lock_guard lock(mutex);
        return calls.size();
    }

    std::mutex mutex;
    std::vector<QVariantList> calls;
    std::vector<QDBusMessage> held;
    std::vector<int> readEnds;
    bool holdAnswers = false;

private:
    void answer(const QDBusMessage& message, const QDBusConnection& connection)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        readEnds.push_back(fds[0]);
        const QDBusUnixFileDescriptor lock(fds[1]);
        ::close(fds[1]);
        connection.send(message.createReply(QVariant::fromValue(lock)));
    }

    std::unique_ptr<QDBusConnection> m_bus;
};

class SleepInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::PrivateBusDaemon::isInstalled())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_daemon.start());
        m_address = m_daemon.address();
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
        ASSERT_TRUE(bus->isConnected());
    }

    void TearDown() override
    {
        inhibitor.reset();
        bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        logind.stop();
        m_daemon.stop();
    }

    void startLogind() { ASSERT_TRUE(logind.start(m_address)); }

    FakeLogind logind;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<LogindSleepInhibitor> inhibitor;

private:
    test::PrivateBusDaemon m_daemon;
    QString m_address;
};

} // namespace

TEST_F(SleepInhibitorTest, HoldsLogindsLockUntilReleased)
{
    startLogind();
    inhibitor = std::make_unique<LogindSleepInhibitor>(*bus);
    std::vector<bool> changes;
    QObject::connect(inhibitor.get(), &SleepInhibitor::heldChanged, [&](bool held) { changes.push_back(held); });

    inhibitor->acquire(QStringLiteral("Copying photos"));
    inhibitor->acquire(QStringLiteral("Copying photos"));
    ASSERT_TRUE(runUntil([&] { return inhibitor->isHeld(); }));
    EXPECT_TRUE(logind.lockOpen(0));
    {
        std::lock_guard lock(logind.mutex);
        ASSERT_EQ(logind.calls.size(), 1u);
        EXPECT_EQ(logind.calls[0], (QVariantList{QStringLiteral("sleep:idle"), QCoreApplication::applicationName(),
                                                 QStringLiteral("Copying photos"), QStringLiteral("block")}));
    }

    inhibitor->release();
    inhibitor->release();
    EXPECT_FALSE(inhibitor->isHeld());
    EXPECT_TRUE(runUntil([&] { return !logind.lockOpen(0); }));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // Had the second acquire above sent a request, logind would see it before this one.
    inhibitor->acquire(QStringLiteral("Copying photos"));
    ASSERT_TRUE(runUntil([&] { return inhibitor->isHeld(); }));
    EXPECT_EQ(logind.callCount(), 2u);
    EXPECT_TRUE(logind.lockOpen(1));

    // Quitting during a copy lets go as well.
    inhibitor.reset();
    EXPECT_TRUE(runUntil([&] { return !logind.lockOpen(1); }));
}

TEST_F(SleepInhibitorTest, AnAnswerArrivingAfterReleaseIsOnlyKeptWhenAcquiredAgain)
{
    startLogind();
    logind.holdAnswers = true;
    for (const bool acquiredAgain : {false, true}) {
        SCOPED_TRACE(acquiredAgain ? "acquired again" : "released");
        inhibitor = std::make_unique<LogindSleepInhibitor>(*bus);
        const size_t call = logind.callCount();
        inhibitor->acquire(QStringLiteral("Copying photos"));
        ASSERT_TRUE(runUntil([&] { return logind.callCount() == call + 1; }));
        inhibitor->release();
        if (acquiredAgain)
            inhibitor->acquire(QStringLiteral("Copying photos"));

        logind.answerHeld();
        ASSERT_TRUE(runUntil([&] { return !inhibitor->isWaiting(); }));
        EXPECT_EQ(inhibitor->isHeld(), acquiredAgain);
        if (acquiredAgain)
            EXPECT_TRUE(logind.lockOpen(call));
        else
            EXPECT_TRUE(runUntil([&] { return !logind.lockOpen(call); }));
        EXPECT_EQ(logind.callCount(), call + 1);
    }
}

TEST_F(SleepInhibitorTest, WithoutLogindAcquiringDoesNothing)
{
    QDBusConnection nowhere = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    const struct {
        const char* what;
        QDBusConnection connection;
    } cases[] = {
        {"no logind on the bus", *bus},
        {"no bus", nowhere},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogindSleepInhibitor noLogind(c.connection);
        int changes = 0;
        QObject::connect(&noLogind, &SleepInhibitor::heldChanged, [&] { ++changes; });
        noLogind.acquire(QStringLiteral("Copying photos"));
        ASSERT_TRUE(runUntil([&] { return !noLogind.isWaiting(); }));
        EXPECT_FALSE(noLogind.isHeld());
        noLogind.release();
        noLogind.release();
        EXPECT_EQ(changes, 0);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

// Other tests copy with the recording fake in place of logind's inhibitor: both must be seen to do the same.
TEST_F(SleepInhibitorTest, TheRecordingFakeBehavesAsLogindsInhibitorDoes)
{
    startLogind();
    test::RecordingSleepInhibitor fake;
    LogindSleepInhibitor logindInhibitor(*bus);
    for (SleepInhibitor* tested : std::initializer_list<SleepInhibitor*>{&fake, &logindInhibitor}) {
        SCOPED_TRACE(tested == &fake ? "fake" : "logind");
        std::vector<bool> changes;
        QObject::connect(tested, &SleepInhibitor::heldChanged, [&](bool held) { changes.push_back(held); });
        tested->release();
        tested->acquire(QStringLiteral("Copying photos"));
        tested->acquire(QStringLiteral("Copying photos"));
        ASSERT_TRUE(runUntil([&] { return tested->isHeld(); }));
        tested->release();
        tested->release();
        EXPECT_FALSE(tested->isHeld());
        EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    }
    EXPECT_EQ(fake.reasons, QStringList{QStringLiteral("Copying photos")});
    EXPECT_EQ(logind.callCount(), 1u);
}
