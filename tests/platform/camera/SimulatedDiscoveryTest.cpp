#include "CameraTestSupport.h"

#include "platform/camera/CameraBackendRegistry.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/SimulatedNetworkState.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::runUntil;

class SimulatedDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_discovery.setReportDelay(std::chrono::milliseconds(10));
        m_discovery.addDevicesChangedObserver(&m_receiver, [this](const VKLCameraDiscovery::Cameras& cameras) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            m_reports.push_back(cameras);
        });
    }
    void TearDown() override
    {
        SimulatedNetworkState::shared().setCurrentSsid(std::nullopt);
        qunsetenv("VORNAKEL_SIMULATED_CAMERAS");
    }
    SimulatedCameraDiscovery& discovery() { return m_discovery; }
    VKLCameraDiscovery::Cameras lastReport() const { return m_reports.empty() ? VKLCameraDiscovery::Cameras{} : m_reports.back(); }

    SimulatedCameraDiscovery m_discovery;
    QObject m_receiver;
    std::vector<VKLCameraDiscovery::Cameras> m_reports;
};

TEST_F(SimulatedDiscoveryTest, ReportsAddedAndEnvironmentCamerasWhileSearching)
{
    QTemporaryDir first, second;
    qputenv("VORNAKEL_SIMULATED_CAMERAS", (first.path() + QStringLiteral("::") + second.path() + QStringLiteral(":/no/such/folder")).toUtf8());
    // The environment is read when the search begins.
    auto added = SimulatedCamera::fromContent({});
    discovery().addCamera(added);
    EXPECT_TRUE(m_reports.empty()) << "nothing is reported before a search";

    discovery().beginSearching();
    EXPECT_TRUE(m_reports.empty()) << "reports are posted";
    ASSERT_TRUE(runUntil([&] { return !m_reports.empty(); }));
    const auto cameras = lastReport();
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(cameras[0]->friendlyIdentifier(), QDir(first.path()).dirName());
    EXPECT_EQ(cameras[1]->friendlyIdentifier(), QDir(second.path()).dirName());
    EXPECT_EQ(cameras[2], added);
    EXPECT_EQ(discovery().cameras(), cameras);

    // After stopSearching, changes are not reported.
    discovery().stopSearching();
    const size_t reports = m_reports.size();
    discovery().addCamera(SimulatedCamera::fromContent({}));
    test::runFor(std::chrono::milliseconds(60));
    EXPECT_EQ(m_reports.size(), reports);
}

TEST_F(SimulatedDiscoveryTest, ReportsACameraOnANetworkOnlyWhileTheComputerIsOnIt)
{
    SimulatedCameraOptions options;
    options.ssid = QStringLiteral("VK1-0042");
    auto onNetwork = SimulatedCamera::fromContent({}, options);
    auto everywhere = SimulatedCamera::fromContent({});
    discovery().addCamera(onNetwork);
    discovery().addCamera(everywhere);
    discovery().beginSearching();
    ASSERT_TRUE(runUntil([&] { return !m_reports.empty(); }));
    EXPECT_EQ(lastReport(), std::vector<std::shared_ptr<VKLCamera>>{everywhere});

    SimulatedNetworkState::shared().setCurrentSsid(QStringLiteral("VK1-0042"));
    ASSERT_TRUE(runUntil([&] { return lastReport().size() == 2; }));
    EXPECT_EQ(lastReport()[0], onNetwork);

    SimulatedNetworkState::shared().setCurrentSsid(QStringLiteral("Home"));
    ASSERT_TRUE(runUntil([&] { return lastReport().size() == 1; }));
    EXPECT_EQ(lastReport()[0], everywhere);
}

TEST_F(SimulatedDiscoveryTest, AnObserverEndsWithItsReceiverOrItsConnection)
{
    auto receiver = std::make_unique<QObject>();
    int toGoneReceiver = 0;
    discovery().addDevicesChangedObserver(receiver.get(), [&](const VKLCameraDiscovery::Cameras&) { ++toGoneReceiver; });
    int toDisconnected = 0;
    const QMetaObject::Connection connection =
        discovery().addDevicesChangedObserver(&m_receiver, [&](const VKLCameraDiscovery::Cameras&) { ++toDisconnected; });
    EXPECT_FALSE(discovery().addDevicesChangedObserver(nullptr, [](const VKLCameraDiscovery::Cameras&) {}));

    receiver.reset();
    QObject::disconnect(connection);
    discovery().addCamera(SimulatedCamera::fromContent({}));
    discovery().beginSearching();
    ASSERT_TRUE(runUntil([&] { return !m_reports.empty(); }));
    EXPECT_EQ(toGoneReceiver, 0);
    EXPECT_EQ(toDisconnected, 0);
}

TEST_F(SimulatedDiscoveryTest, APendingReportOfADestroyedDiscoveryIsDropped)
{
    auto discovery = std::make_unique<SimulatedCameraDiscovery>();
    discovery->setReportDelay(std::chrono::milliseconds(1));
    int reports = 0;
    discovery->addDevicesChangedObserver(&m_receiver, [&](const VKLCameraDiscovery::Cameras&) { ++reports; });
    discovery->beginSearching();
    discovery.reset();
    test::runFor(std::chrono::milliseconds(30));
    EXPECT_EQ(reports, 0);
}

TEST(CameraBackendRegistry, BuildsTheBackendChosenByNameOrTheDefaultBackendsMerged)
{
    CameraBackendRegistry registry;
    const auto none = registry.create(QString());
    ASSERT_TRUE(none) << "no backend added: a default that finds nothing";
    EXPECT_TRUE(none->cameras().empty());

    int simulatedMade = 0;
    registry.add(SimulatedCameraDiscovery::backendName(), [&] {
        ++simulatedMade;
        return std::make_unique<SimulatedCameraDiscovery>();
    }, [] { return true; });
    registry.add(QStringLiteral("other"), [] { return std::make_unique<SimulatedCameraDiscovery>(); },
                 [] { return false; });
    EXPECT_EQ(registry.names(), (QStringList{QStringLiteral("simulated"), QStringLiteral("other")}));
    EXPECT_TRUE(registry.contains(CameraBackendRegistry::defaultName()));

    const auto chosen = registry.create(QStringLiteral("simulated"));
    EXPECT_TRUE(qobject_cast<SimulatedCameraDiscovery*>(chosen.get()));
    EXPECT_EQ(registry.create(QStringLiteral("missing")), nullptr);

    const auto merged = registry.create(QString());
    auto* parts = qobject_cast<MergedCameraDiscovery*>(merged.get());
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->backends().size(), 1u) << "only the backends that search by default";
    EXPECT_EQ(simulatedMade, 2);
}

TEST(CameraBackendRegistry, MergedDiscoveryListsEveryBackendsCamerasOnceEach)
{
    auto first = std::make_unique<SimulatedCameraDiscovery>();
    auto second = std::make_unique<SimulatedCameraDiscovery>();
    first->setReportDelay(std::chrono::milliseconds(1));
    second->setReportDelay(std::chrono::milliseconds(1));
    const auto camera = [](const char* identifier) {
        SimulatedCameraOptions options;
        options.friendlyIdentifier = QString::fromLatin1(identifier);
        return SimulatedCamera::fromContent({}, options);
    };
    const auto a = camera("A");
    const auto aAgain = camera("A");
    const auto b = camera("B");
    first->addCamera(a);
    second->addCamera(aAgain);
    second->addCamera(b);
    std::vector<std::unique_ptr<VKLCameraDiscovery>> backends;
    backends.push_back(std::move(first));
    backends.push_back(std::move(second));
    MergedCameraDiscovery merged(std::move(backends));
    QObject receiver;
    VKLCameraDiscovery::Cameras reported;
    merged.addDevicesChangedObserver(&receiver, [&](const VKLCameraDiscovery::Cameras& cameras) { reported = cameras; });
    merged.beginSearching();
    ASSERT_TRUE(runUntil([&] { return reported.size() == 2; }));
    EXPECT_EQ(reported[0], std::static_pointer_cast<VKLCamera>(a)) << "the first backend's camera comes first";
    EXPECT_EQ(reported[1], std::static_pointer_cast<VKLCamera>(b)) << "one camera reached twice is listed once";
    EXPECT_EQ(merged.cameras(), reported);

    VKLCameraDiscovery::setSharedInstance(&merged);
    EXPECT_EQ(&SimulatedCameraDiscovery::shared(), merged.backends()[0]) << "found inside the merged discovery";
    VKLCameraDiscovery::setSharedInstance(nullptr);
}

TEST(CameraBackendRegistry, SharedDiscoveryIsTheInstalledOneOrFindsNothing)
{
    VKLCameraDiscovery& none = VKLCameraDiscovery::sharedInstance();
    none.beginSearching();
    EXPECT_TRUE(none.cameras().empty());

    SimulatedCameraDiscovery installed;
    VKLCameraDiscovery::setSharedInstance(&installed);
    EXPECT_EQ(&VKLCameraDiscovery::sharedInstance(), &installed);
    EXPECT_EQ(&SimulatedCameraDiscovery::shared(), &installed);
    VKLCameraDiscovery::setSharedInstance(nullptr);
    EXPECT_EQ(&VKLCameraDiscovery::sharedInstance(), &none);
    EXPECT_NE(&SimulatedCameraDiscovery::shared(), &installed);
}

TEST(SimulatedNetworkState, TellsItsObserversWhenTheNetworkChanges)
{
    auto& state = SimulatedNetworkState::shared();
    state.setCurrentSsid(std::nullopt);
    int changes = 0;
    QObject context;
    QObject::connect(&state, &SimulatedNetworkState::currentSsidChanged, &context, [&] { ++changes; });
    state.setCurrentSsid(QStringLiteral("A"));
    state.setCurrentSsid(QStringLiteral("A"));
    EXPECT_EQ(state.currentSsid(), QStringLiteral("A"));
    state.setCurrentSsid(QString());
    EXPECT_EQ(state.currentSsid(), std::nullopt);
    EXPECT_EQ(changes, 2);
}

} // namespace
} // namespace vornakel
