#include "platform/camera/CameraAddresses.h"
#include "platform/camera/VKLCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vornakel {
namespace {

TEST(CameraErrors, CarryTheLibraryDomainAndAMessagePerCode)
{
    QStringList messages;
    for (int code = VKLErrorGeneric; code <= VKLErrorReadFailed; ++code) {
        const Error error = errorWithVKLErrorCode(code);
        EXPECT_EQ(error.domain, QStringLiteral("com.vornakel.core"));
        EXPECT_EQ(error.code, code);
        EXPECT_FALSE(messages.contains(error.message)) << code;
        messages.append(error.message);
    }
    EXPECT_FALSE(errorWithVKLErrorCode(4242).message.isEmpty());
}

TEST(CameraLibrary, NamesItsVersionAndDeliveryQueue)
{
    EXPECT_EQ(VKLLibrary::shortVersionString(), QStringLiteral("3.0"));
    EXPECT_EQ(VKLLibrary::bundleVersion(), QStringLiteral("812"));
    EXPECT_TRUE(VKLLibrary::verboseVersionString().startsWith(QStringLiteral("VornakelCore 3.0 (812) simulated backend, built ")));
    ASSERT_TRUE(VKLLibrary::deliveryQueue());
    EXPECT_EQ(VKLLibrary::deliveryQueue()->label(), QStringLiteral("com.vornakel.core.delivery"));
    EXPECT_FALSE(VKLLibrary::deliveryQueue()->isConcurrent());
    EXPECT_EQ(VKLLibrary::deliveryQueue(), VKLLibrary::deliveryQueue());
}

TEST(ShutterSpeedValue, SnapsToThirdStopsAndShowsCameraTexts)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {1.0 / 250, "1/250"}, {0.0041, "1/250"},  {1.0 / 8000, "1/8000"}, {0.0012, "1/800"},  {1.0 / 60, "1/60"},
        {0.016, "1/60"},      {1.0 / 3, "1/3"},   {0.4, "0.4\""},         {0.5, "0.5\""},     {0.52, "0.5\""},
        {0.77, "0.8\""},      {1.0, "1\""},       {1.3, "1.3\""},         {1.6, "1.6\""},     {2.0, "2\""},
        {2.4, "2.5\""},       {3.2, "3\""},       {30.0, "30\""},         {29.0, "30\""},     {1e-6, "1/32000"},
        {60.0, "60\""},       {3600.0, "3600\""},
    };
    for (const auto& c : cases) {
        const auto value = VKLShutterSpeedValue::withApproximateDuration(c.seconds);
        ASSERT_TRUE(value) << c.seconds;
        EXPECT_EQ(value->localizedDisplayValue(), QString::fromUtf8(c.text)) << c.seconds;
    }
    EXPECT_DOUBLE_EQ(VKLShutterSpeedValue::withApproximateDuration(0.0041)->duration(), 1.0 / 250);
    for (double invalid : {0.0, -1.0, 3601.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(VKLShutterSpeedValue::withApproximateDuration(invalid)) << invalid;
}

TEST(ApertureValue, SnapsToThirdStopsAndShowsFNumbers)
{
    const struct {
        double fNumber;
        const char* text;
    } cases[] = {
        {2.8, "f/2.8"}, {2.83, "f/2.8"}, {11.0, "f/11"}, {11.3, "f/11"}, {2.0, "f/2"},   {5.6, "f/5.6"},
        {1.4, "f/1.4"}, {1.0, "f/1"},    {22.6, "f/22"}, {8.0, "f/8"},   {0.5, "f/0.5"}, {128.0, "f/128"},
        {6.3, "f/6.3"}, {7.0, "f/7.1"},
    };
    for (const auto& c : cases) {
        const auto value = VKLApertureValue::withApproximateDecimalValue(c.fNumber);
        ASSERT_TRUE(value) << c.fNumber;
        EXPECT_EQ(value->localizedDisplayValue(), QString::fromUtf8(c.text)) << c.fNumber;
    }
    for (double invalid : {0.0, 0.4, 129.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(VKLApertureValue::withApproximateDecimalValue(invalid)) << invalid;
}

TEST(NetworkConfigurationHelper, FindsTheDefaultGatewayOfAnInterfaceInTheRouteTable)
{
    const QString table = QStringLiteral(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t0000000A\t00000000\t0001\t0\t0\t600\t000000FF\t0\t0\t0\n"
        "wlan0\t00000000\t017AA8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t027AA8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
        "wlan1\t00000000\t017BA8C0\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
        "wlan2\t00000000\tZZZZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    using VKLNetworkConfigurationHelper::gatewayFromRouteTable;
    EXPECT_EQ(gatewayFromRouteTable(table, QStringLiteral("eth0")), QStringLiteral("192.168.1.1"));
    // The route with the lowest metric wins.
    EXPECT_EQ(gatewayFromRouteTable(table, QStringLiteral("wlan0")), QStringLiteral("192.168.122.2"));
    // A route without the gateway flag, an unparsable one and an unknown interface have no gateway.
    EXPECT_EQ(gatewayFromRouteTable(table, QStringLiteral("wlan1")), std::nullopt);
    EXPECT_EQ(gatewayFromRouteTable(table, QStringLiteral("wlan2")), std::nullopt);
    EXPECT_EQ(gatewayFromRouteTable(table, QStringLiteral("wlan")), std::nullopt);
    EXPECT_EQ(gatewayFromRouteTable(QString(), QStringLiteral("eth0")), std::nullopt);
}

TEST(NetworkConfigurationHelper, AsksTheResolverWhileOneIsSet)
{
    VKLNetworkConfigurationHelper::setGatewayResolver([](const QString& interfaceName) -> std::optional<QString> {
        if (interfaceName == QLatin1String("simwlan0"))
            return QStringLiteral("192.168.122.1");
        return std::nullopt;
    }, QStringLiteral("simwlan0"));
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("simwlan0")),
              QStringLiteral("192.168.122.1"));
    EXPECT_EQ(CameraAddresses::wifiGateways(), QStringList{QStringLiteral("192.168.122.1")})
        << "the simulated interface is the one Wi-Fi interface while it answers";
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("eth0")), std::nullopt);
    VKLNetworkConfigurationHelper::setGatewayResolver({});
    EXPECT_EQ(VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(QStringLiteral("no-such-interface")),
              std::nullopt);
}

TEST(CameraAddresses, ReadsListedEntriesWithAndWithoutAScheme)
{
    struct Case {
        const char* list;
        std::vector<CameraAddress> expected;
    };
    const QString ptpip = CameraAddresses::defaultScheme();
    const Case cases[] = {
        {"127.0.0.1:4000, 192.168.1.1", {{ptpip, QStringLiteral("127.0.0.1"), 4000}, {ptpip, QStringLiteral("192.168.1.1"), 0}}},
        {"127.0.0.1:4000,ptpip://127.0.0.1:4000", {{ptpip, QStringLiteral("127.0.0.1"), 4000}}},
        {"OLYMPUS://127.0.0.1:8080/, upnp://192.168.122.1",
         {{QStringLiteral("olympus"), QStringLiteral("127.0.0.1"), 8080}, {QStringLiteral("upnp"), QStringLiteral("192.168.122.1"), 0}}},
        {"camera.local:99999,,:80,10.0.0.1:x,://10.0.0.1,olympus://,olympus://../etc", {}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.list);
        EXPECT_EQ(CameraAddresses::parse(QString::fromLatin1(each.list)), each.expected);
    }
}

TEST(CameraAddresses, EachBackendTakesItsOwnSchemeWithItsDefaultPort)
{
    qputenv("VORNAKEL_CAMERA_ADDRESSES", "127.0.0.1:4000,olympus://127.0.0.1,olympus://127.0.0.1:81");
    const auto olympus = CameraAddresses::userListedFor(QStringLiteral("olympus"), 80);
    const std::vector<CameraAddress> expected{{QStringLiteral("olympus"), QStringLiteral("127.0.0.1"), 80},
                                              {QStringLiteral("olympus"), QStringLiteral("127.0.0.1"), 81}};
    EXPECT_EQ(olympus, expected);
    EXPECT_EQ(CameraAddresses::userListedFor(QStringLiteral("ptpip"), 15740).size(), 1u);
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

TEST(CameraAddresses, AGatewayPortIsTheMakersUnlessTheEnvironmentNamesAnother)
{
    qputenv("VORNAKEL_GATEWAY_PORTS", "olympus=18080, upnp = 18081,sony=x,panasonic=70000");
    EXPECT_EQ(CameraAddresses::gatewayPort(QStringLiteral("olympus"), 80), 18080);
    EXPECT_EQ(CameraAddresses::gatewayPort(QStringLiteral("upnp"), 64321), 18081);
    EXPECT_EQ(CameraAddresses::gatewayPort(QStringLiteral("sony"), 64321), 64321);
    EXPECT_EQ(CameraAddresses::gatewayPort(QStringLiteral("panasonic"), 60606), 60606);
    EXPECT_EQ(CameraAddresses::gatewayPort(QStringLiteral("ptpip"), 15740), 15740);
    qunsetenv("VORNAKEL_GATEWAY_PORTS");
}

} // namespace
} // namespace vornakel
