// DNS-SD through Avahi's D-Bus interface, against a fake Avahi on a private bus: what is browsed and resolved,
// what is left out, and that a flood of announcements costs bounded work.
#include "FakeAvahi.h"

#include "platform/camera/dnssd/AvahiServiceBrowser.h"
#include "support/PrivateBusDaemon.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

class AvahiServiceBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PrivateBusDaemon::isInstalled())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(daemon.start());
        avahi = std::make_unique<FakeAvahi>(daemon.address());
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(daemon.address(), QStringLiteral("avahi-client")));
        ASSERT_TRUE(bus->isConnected());
    }
    void TearDown() override
    {
        avahi.reset();
        bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("avahi-client"));
    }

    PrivateBusDaemon daemon;
    std::unique_ptr<FakeAvahi> avahi;
    std::unique_ptr<QDBusConnection> bus;
};

TEST_F(AvahiServiceBrowserTest, ResolvesEachServiceOfTheTypeToAnIPv4AddressAndFreesTheBrowser)
{
    avahi->services = {
        {QStringLiteral("EOS on the desk"), QStringLiteral("_ptp._tcp"), QStringLiteral("192.168.1.23"), 15740},
        {QStringLiteral("only IPv6"), QStringLiteral("_ptp._tcp"), QStringLiteral("fe80::1"), 15740},
        {QStringLiteral("gone before resolved"), QStringLiteral("_ptp._tcp"), QString(), 15740},
        {QStringLiteral("a printer"), QStringLiteral("_ipp._tcp"), QStringLiteral("192.168.1.9"), 631},
    };
    ASSERT_TRUE(avahi->start());
    AvahiServiceBrowser browser(*bus, QStringLiteral("_ptp._tcp"));
    std::vector<DnsSdService> found;
    QObject::connect(&browser, &AvahiServiceBrowser::serviceResolved, [&](const DnsSdService& service) { found.push_back(service); });
    browser.start();
    ASSERT_TRUE(runUntil([&] { return avahi->resolves >= 3; }));
    runFor(200ms);
    EXPECT_EQ(avahi->browsedType, QStringLiteral("_ptp._tcp"));
    EXPECT_EQ(avahi->browsedProtocol, 0) << "IPv4";
    EXPECT_EQ(avahi->resolves, 3) << "the printer is not asked about";
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, QStringLiteral("EOS on the desk"));
    EXPECT_EQ(found[0].address, QStringLiteral("192.168.1.23"));
    EXPECT_EQ(found[0].port, 15740);
    EXPECT_EQ(found[0].host, QStringLiteral("camera.local"));

    browser.stop();
    ASSERT_TRUE(runUntil([&] { return !avahi->freed.isEmpty(); }));
    EXPECT_EQ(avahi->freed, QStringList{QStringLiteral("/Client1/ServiceBrowser1")});
    avahi->announce({QStringLiteral("after the stop"), QStringLiteral("_ptp._tcp"), QStringLiteral("192.168.1.24"), 15740});
    runFor(200ms);
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(AvahiServiceBrowserTest, AFloodOfAnnouncementsWaitsOnABoundedNumberOfResolves)
{
    avahi->resolvesStall = true;
    ASSERT_TRUE(avahi->start());
    AvahiServiceBrowser browser(*bus, QStringLiteral("_ptp._tcp"));
    browser.start();
    ASSERT_TRUE(runUntil([&] { return avahi->calls.contains(QStringLiteral("ServiceBrowserNew")); }));
    for (int i = 0; i < 500; ++i)
        avahi->announce({QStringLiteral("camera %1").arg(i), QStringLiteral("_ptp._tcp"), QStringLiteral("10.0.0.1"), 15740});
    ASSERT_TRUE(runUntil([&] { return avahi->resolves >= AvahiServiceBrowser::kMaxPendingResolves; }));
    runFor(300ms);
    EXPECT_EQ(avahi->resolves, AvahiServiceBrowser::kMaxPendingResolves);
}

TEST_F(AvahiServiceBrowserTest, WithoutAvahiOnTheBusNothingIsFound)
{
    AvahiServiceBrowser browser(*bus, QStringLiteral("_ptp._tcp"));
    int found = 0;
    QObject::connect(&browser, &AvahiServiceBrowser::serviceResolved, [&] { ++found; });
    browser.start();
    runFor(300ms);
    browser.stop();
    EXPECT_EQ(found, 0);
}

} // namespace
