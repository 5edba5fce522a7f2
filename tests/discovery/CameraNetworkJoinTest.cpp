#include "discovery/CameraNetworkJoin.h"
#include "platform/camera/SimulatedNetworkState.h"
#include "platform/camera/VKLCamera.h"
#include "platform/wifi/SimulatedWiFi.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

class CameraNetworkJoinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wifi = std::make_shared<SimulatedWiFi>();
        wifi->addNetwork({QStringLiteral("Home"), QStringLiteral("homepass"), std::nullopt, QStringLiteral("192.168.1.1")});
        wifi->addNetwork({QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("campass"), QStringLiteral("192.168.122.1"), std::nullopt});
        wifi->setCurrentNetwork(QStringLiteral("Home"));
    }

    // Runs the join to its end; none when the completion never ran.
    std::optional<std::optional<CameraNetworkJoinFailure>> join(const CameraWiFiDetails& details,
                                                                std::shared_ptr<WiFiInterface> interface)
    {
        std::optional<std::optional<CameraNetworkJoinFailure>> result;
        QObject receiver;
        CameraNetworkJoin::join(std::move(interface), details, &receiver, [&](std::optional<CameraNetworkJoinFailure> failure) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            result = failure;
        });
        runUntil([&] { return result.has_value(); }, std::chrono::milliseconds(3000));
        return result;
    }

    std::shared_ptr<SimulatedWiFi> wifi;
};

const CameraWiFiDetails kCamera{CameraWiFiType::Sony, QStringLiteral("DIRECT-ab:VX7"), QStringLiteral("campass")};

} // namespace

TEST_F(CameraNetworkJoinTest, JoinsTheScannedNetworkAndTheCameraBecomesTheGateway)
{
    const auto result = join(kCamera, wifi);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, std::nullopt);
    EXPECT_EQ(wifi->scanCount(), 1);
    EXPECT_EQ(wifi->ssid(), kCamera.ssid);
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("wlan0")), QStringLiteral("192.168.122.1"));
    ASSERT_TRUE(runUntil([] { return SimulatedNetworkState::shared().currentSsid() == kCamera.ssid; }));
}

TEST_F(CameraNetworkJoinTest, FailuresAfterTwoScansOrAtTheAssociation)
{
    struct Case {
        const char* name;
        CameraWiFiDetails details;
        bool scanFails;
        CameraNetworkJoinFailure failure;
        int scans;
    } cases[] = {
        {"out of range", {CameraWiFiType::Sony, QStringLiteral("DIRECT-zz:Other"), QStringLiteral("x")}, false,
         CameraNetworkJoinFailure::NetworkNotFound, 2},
        {"scans fail", kCamera, true, CameraNetworkJoinFailure::NetworkNotFound, 2},
        {"wrong password", {CameraWiFiType::Sony, kCamera.ssid, QStringLiteral("wrong")}, false,
         CameraNetworkJoinFailure::AssociationFailed, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        wifi->setScanFails(c.scanFails);
        const auto result = join(c.details, wifi);
        ASSERT_TRUE(result);
        EXPECT_EQ(*result, c.failure);
        EXPECT_EQ(wifi->scanCount(), c.scans);
        EXPECT_EQ(wifi->ssid(), QStringLiteral("Home"));
    }
}

TEST_F(CameraNetworkJoinTest, NoInterfaceFailsAtOnce)
{
    const auto result = join(kCamera, nullptr);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, CameraNetworkJoinFailure::NoWiFiInterface);
}

TEST_F(CameraNetworkJoinTest, GoneReceiverStopsBeforeTheAssociation)
{
    bool called = false;
    auto receiver = std::make_unique<QObject>();
    CameraNetworkJoin::join(wifi, kCamera, receiver.get(), [&](auto) { called = true; });
    receiver.reset();
    ASSERT_TRUE(runUntil([&] { return wifi->scanCount() >= 1; }));
    vornakel::test::runFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(called);
    EXPECT_EQ(wifi->associateCount(), 0);
    EXPECT_EQ(wifi->ssid(), QStringLiteral("Home"));
}

TEST(CameraNetworkJoinMessages, ScannedNameIsInsertedAsText)
{
    const CameraWiFiDetails details{CameraWiFiType::Panasonic, QStringLiteral("%@ %1 %s %n"), QStringLiteral("p")};
    const QString message = unableToFindScannedNetworkDescription(details);
    EXPECT_TRUE(message.contains(QStringLiteral("“%@ %1 %s %n”"))) << message.toStdString();
    EXPECT_FALSE(unableToSetupWebcamDescription().isEmpty());
    EXPECT_NE(unableToSetupWebcamDescription(), QStringLiteral("UnableToSetupWebcamErrorDescription"));
}
