#include "CameraTestSupport.h"

#include "platform/camera/SimulatedCamera.h"
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
        discovery().setReportDelay(std::chrono::milliseconds(10));
        discovery().addDevicesChangedObserver([reports = m_reports](const std::vector<std::shared_ptr<VKLCamera>>& cameras) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            reports->push_back(cameras);
        });
    }
    void TearDown() override
    {
        discovery().stopSearching();
        discovery().removeAllCameras();
        discovery().removeAllObservers();
        SimulatedNetworkState::shared().setCurrentSsid(std::nullopt);
        qunsetenv("VORNAKEL_SIMULATED_CAMERAS");
    }
    static SimulatedCameraDiscovery& discovery() { return SimulatedCameraDiscovery::shared(); }
    std::vector<std::shared_ptr<VKLCamera>> lastReport() const { return m_reports->empty() ? decltype(lastReport()){} : m_reports->back(); }

    std::shared_ptr<std::vector<std::vector<std::shared_ptr<VKLCamera>>>> m_reports =
        std::make_shared<std::vector<std::vector<std::shared_ptr<VKLCamera>>>>();
};

TEST_F(SimulatedDiscoveryTest, ReportsAddedAndEnvironmentCamerasWhileSearching)
{
    EXPECT_EQ(&VKLCameraDiscovery::sharedInstance(), &discovery());
    QTemporaryDir first, second;
    qputenv("VORNAKEL_SIMULATED_CAMERAS", (first.path() + QStringLiteral("::") + second.path() + QStringLiteral(":/no/such/folder")).toUtf8());
    discovery().removeAllCameras(); // the environment is read again by the next search
    auto added = SimulatedCamera::fromContent({});
    discovery().addCamera(added);
    EXPECT_TRUE(m_reports->empty()) << "nothing is reported before a search";

    discovery().beginSearching();
    EXPECT_TRUE(m_reports->empty()) << "reports are posted";
    ASSERT_TRUE(runUntil([&] { return !m_reports->empty(); }));
    const auto cameras = lastReport();
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(cameras[0]->friendlyIdentifier(), QDir(first.path()).dirName());
    EXPECT_EQ(cameras[1]->friendlyIdentifier(), QDir(second.path()).dirName());
    EXPECT_EQ(cameras[2], added);
    EXPECT_EQ(discovery().cameras(), cameras);

    // After stopSearching, changes are not reported.
    discovery().stopSearching();
    const size_t reports = m_reports->size();
    discovery().addCamera(SimulatedCamera::fromContent({}));
    test::runFor(std::chrono::milliseconds(60));
    EXPECT_EQ(m_reports->size(), reports);
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
    ASSERT_TRUE(runUntil([&] { return !m_reports->empty(); }));
    EXPECT_EQ(lastReport(), std::vector<std::shared_ptr<VKLCamera>>{everywhere});

    SimulatedNetworkState::shared().setCurrentSsid(QStringLiteral("VK1-0042"));
    ASSERT_TRUE(runUntil([&] { return lastReport().size() == 2; }));
    EXPECT_EQ(lastReport()[0], onNetwork);

    SimulatedNetworkState::shared().setCurrentSsid(QStringLiteral("Home"));
    ASSERT_TRUE(runUntil([&] { return lastReport().size() == 1; }));
    EXPECT_EQ(lastReport()[0], everywhere);
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
