#include "platform/camera/SimulatedNetworkState.h"
#include "platform/camera/VKLCamera.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

std::shared_ptr<SimulatedWiFi> makeWiFi()
{
    auto wifi = std::make_shared<SimulatedWiFi>(QStringLiteral("wlan7"));
    wifi->addNetwork({QStringLiteral("Home"), QStringLiteral("homepass"), std::nullopt, QStringLiteral("10.0.0.1")});
    wifi->addNetwork({QStringLiteral("E-M1-CAM"), QStringLiteral("campass"), QStringLiteral("192.168.0.10"), std::nullopt});
    return wifi;
}

} // namespace

TEST(SimulatedWiFi, ScansByNameOrAll)
{
    const auto wifi = makeWiFi();
    EXPECT_EQ(wifi->scanForNetworks(QString()).networks.size(), 2u);
    const auto named = wifi->scanForNetworks(QStringLiteral("E-M1-CAM"));
    ASSERT_EQ(named.networks.size(), 1u);
    EXPECT_EQ(named.networks[0].ssid, QStringLiteral("E-M1-CAM"));
    EXPECT_TRUE(wifi->scanForNetworks(QStringLiteral("e-m1-cam")).networks.empty());
    wifi->setScanFails(true);
    EXPECT_TRUE(wifi->scanForNetworks(QString()).error);
    EXPECT_EQ(wifi->scanCount(), 4);
}

TEST(SimulatedWiFi, JoiningUpdatesGatewayCamerasAndListenersOnTheMainThread)
{
    const auto wifi = makeWiFi();
    QStringList events;
    QObject::connect(wifi.get(), &WiFiInterface::ssidChanged, [&](const QString& name) {
        EXPECT_TRUE(DispatchQueue::isMainThread());
        events << QStringLiteral("ssid ") + name;
    });
    QObject::connect(wifi.get(), &WiFiInterface::linkChanged, [&](const QString& name) { events << QStringLiteral("link ") + name; });

    const WiFiNetwork camera = wifi->scanForNetworks(QStringLiteral("E-M1-CAM")).networks.at(0);
    const auto refused = wifi->associate(camera, QStringLiteral("wrong"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, WiFiErrorAssociationFailed);
    EXPECT_EQ(wifi->ssid(), std::nullopt);

    // From a worker thread, as the join does it.
    std::optional<std::optional<Error>> joined;
    DispatchQueue::global()->async([&] { joined = wifi->associate(camera, QStringLiteral("campass")); });
    ASSERT_TRUE(runUntil([&] { return events.size() == 2; }));
    ASSERT_TRUE(joined);
    EXPECT_EQ(*joined, std::nullopt);
    EXPECT_EQ(events, (QStringList{QStringLiteral("ssid wlan7"), QStringLiteral("link wlan7")}));
    EXPECT_EQ(wifi->ssid(), QStringLiteral("E-M1-CAM"));
    EXPECT_EQ(wifi->gatewayAddress(), QStringLiteral("192.168.0.10"));
    EXPECT_EQ(SimulatedNetworkState::shared().currentSsid(), QStringLiteral("E-M1-CAM"));
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("wlan7")), QStringLiteral("192.168.0.10"));
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("eth0")), std::nullopt);

    wifi->setCurrentNetwork(QStringLiteral("Home"));
    EXPECT_EQ(wifi->gatewayAddress(), QStringLiteral("10.0.0.1"));
    wifi->disassociate();
    EXPECT_EQ(wifi->gatewayAddress(), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return !SimulatedNetworkState::shared().currentSsid(); }));
}

TEST(SimulatedWiFi, PowerOffDropsTheNetworkAndStopsScans)
{
    const auto wifi = makeWiFi();
    wifi->setCurrentNetwork(QStringLiteral("Home"));
    EXPECT_EQ(wifi->setPower(false), std::nullopt);
    EXPECT_FALSE(wifi->powerOn());
    EXPECT_EQ(wifi->ssid(), std::nullopt);
    EXPECT_TRUE(wifi->scanForNetworks(QString()).error);
    EXPECT_EQ(wifi->setPower(true), std::nullopt);
    EXPECT_EQ(wifi->scanForNetworks(QString()).networks.size(), 2u);
    wifi->setPowerChangeFails(true);
    EXPECT_TRUE(wifi->setPower(false));
    EXPECT_TRUE(wifi->powerOn());
    EXPECT_EQ(wifi->powerRequests(), (std::vector<bool>{false, true, false}));
}

TEST(SimulatedWiFi, GatewayLookupEndsWithTheInterface)
{
    auto wifi = makeWiFi();
    wifi->setCurrentNetwork(QStringLiteral("E-M1-CAM"));
    auto newer = makeWiFi();
    newer->setCurrentNetwork(QStringLiteral("Home"));
    wifi.reset(); // the older interface going away leaves the newer one's lookup in place
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("wlan7")), QStringLiteral("10.0.0.1"));
    newer.reset();
    // Back to the routing table, which knows no "wlan7" here.
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("wlan7")), std::nullopt);
}

TEST(WiFiClient, FallsBackToTheSimulatedInterfaceWithoutNetworkManager)
{
    // No system bus answers at this address, as on a computer without NetworkManager.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket");
    const auto wifi = WiFiClient::makeSystemInterface();
    ASSERT_TRUE(wifi);
    EXPECT_TRUE(dynamic_cast<SimulatedWiFi*>(wifi.get()));
    EXPECT_EQ(wifi->interfaceName(), QStringLiteral("wlan0"));
}
