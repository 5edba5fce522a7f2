#include "mainwindow/CameraBatteryStatusView.h"
#include "support/InProcessCamera.h"

#include <gtest/gtest.h>

#include <map>

namespace vornakel {
namespace {

// A camera whose battery properties the test sets; a proxy may be handed out under the wrong number.
class BatteryCamera : public InProcessCamera {
public:
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned identifier) override
    {
        auto& proxy = proxies[identifier];
        if (!proxy)
            proxy = std::make_shared<VKLPropertyProxy>(identifier + identifierOffset);
        return proxy;
    }
    std::map<unsigned, std::shared_ptr<VKLPropertyProxy>> proxies;
    unsigned identifierOffset = 0;
};

TEST(CameraBatteryStatusViewTest, ImageForLevelAndPowerSource)
{
    struct Case {
        std::optional<int> level;
        std::optional<int> power;
        const char* image;
    };
    const Case cases[] = {
        {4, 1, "BatteryMainsPower"}, {std::nullopt, 1, "BatteryMainsPower"}, {0, 0, "BatteryFull"},
        {1, 0, "BatteryThreeQuarters"}, {2, 0, "BatteryHalf"}, {3, std::nullopt, "BatteryOneQuarter"},
        {4, 0, "BatteryEmpty"}, {5, 0, ""}, {-1, 0, ""}, {std::nullopt, 0, ""}, {2, 7, "BatteryHalf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CameraBatteryStatusView::imageNameFor(c.level, c.power), c.image)
            << c.level.value_or(-99) << "/" << c.power.value_or(-99);
}

TEST(CameraBatteryStatusViewTest, TooltipSaysTheLevelInWords)
{
    auto camera = std::make_shared<BatteryCamera>();
    CameraBatteryStatusView view;
    view.setCamera(camera);
    EXPECT_TRUE(view.toolTip().isEmpty()) << "nothing shown, nothing said";
    struct Case {
        std::optional<int> level;
        std::optional<int> power;
        const char* words;
    };
    const Case cases[] = {
        {0, 0, "Camera battery full"}, {1, 0, "Camera battery three-quarters full"}, {2, 0, "Camera battery half full"},
        {3, 0, "Camera battery low (one quarter)"}, {4, 0, "Camera battery empty"}, {4, 1, "Camera on mains power"},
        {7, 0, ""},
    };
    for (const Case& c : cases) {
        camera->proxies[VKLPropertyPowerSource]->setValue(c.power);
        camera->proxies[VKLPropertyBatteryLevel]->setValue(c.level);
        EXPECT_EQ(view.toolTip(), QString::fromUtf8(c.words)) << c.level.value_or(-1) << "/" << c.power.value_or(-1);
    }
}

TEST(CameraBatteryStatusViewTest, FollowsTheCameraLiveAndShowsNothingWithoutOne)
{
    CameraBatteryStatusView view;
    EXPECT_EQ(view.imageName(), "");
    EXPECT_TRUE(view.pixmap().isNull());

    auto camera = std::make_shared<BatteryCamera>();
    camera->proxyForProperty(VKLPropertyBatteryLevel)->setValue(2);
    camera->proxyForProperty(VKLPropertyPowerSource)->setValue(0);
    view.setCamera(camera);
    EXPECT_EQ(view.imageName(), "BatteryHalf");
    EXPECT_FALSE(view.pixmap().isNull());

    camera->proxies[VKLPropertyBatteryLevel]->setValue(3);
    EXPECT_EQ(view.imageName(), "BatteryOneQuarter");
    camera->proxies[VKLPropertyPowerSource]->setValue(1);
    EXPECT_EQ(view.imageName(), "BatteryMainsPower");
    camera->proxies[VKLPropertyPowerSource]->setValue(std::nullopt);
    camera->proxies[VKLPropertyBatteryLevel]->setValue(std::nullopt);
    EXPECT_EQ(view.imageName(), "");

    // Proxies under the wrong number count as no value.
    auto confused = std::make_shared<BatteryCamera>();
    confused->identifierOffset = 10;
    confused->proxyForProperty(VKLPropertyBatteryLevel)->setValue(0);
    view.setCamera(confused);
    EXPECT_EQ(view.imageName(), "");

    view.setCamera(camera);
    camera->proxies[VKLPropertyBatteryLevel]->setValue(0);
    EXPECT_EQ(view.imageName(), "BatteryFull");
    view.setCamera(nullptr);
    EXPECT_EQ(view.imageName(), "");
    // The old camera's changes no longer reach the view.
    camera->proxies[VKLPropertyBatteryLevel]->setValue(4);
    EXPECT_EQ(view.imageName(), "");
}

} // namespace
} // namespace vornakel
