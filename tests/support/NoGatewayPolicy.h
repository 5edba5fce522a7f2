#pragma once

#include "mainwindow/WiFiNetworkPolicy.h"

#include <functional>
#include <memory>

namespace vornakel::test {

// A Wi-Fi policy for screens that are tested without a network: no camera is ever the gateway, leaving is
// instant.
class NoGatewayPolicy : public WiFiNetworkPolicy {
public:
    void createSharedWatcher() override {}
    void enforceAutoLaunchSetting() override {}
    void quitHelperIfRunning() override {}
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>&) const override { return false; }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        if (completion)
            completion();
    }
};

} // namespace vornakel::test
