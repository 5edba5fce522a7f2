#include "platform/wifi/NetworkManagerWiFi.h"
#include "platform/wifi/SimulatedWiFi.h"

#include <mutex>

namespace vornakel::WiFiClient {

namespace {
struct Slot {
    std::mutex mutex;
    bool chosen = false;
    std::shared_ptr<WiFiInterface> interface;
};

Slot& slot()
{
    static Slot* instance = new Slot; // outlives every caller at exit
    return *instance;
}
} // namespace

std::shared_ptr<WiFiInterface> makeSystemInterface()
{
    if (qEnvironmentVariable("VKL_WIFI") != QLatin1String("simulated")) {
        if (std::shared_ptr<WiFiInterface> system = NetworkManagerWiFi::create())
            return system;
    }
    auto simulated = std::make_shared<SimulatedWiFi>();
    // The simulated cameras' own networks are in range, as a real camera's would be.
    simulated->addSimulatedCameraNetworks(SimulatedNetworkState::shared().cameraNetworks());
    return simulated;
}

std::shared_ptr<WiFiInterface> interface()
{
    Slot& s = slot();
    std::lock_guard lock(s.mutex);
    if (!s.chosen) {
        s.chosen = true;
        s.interface = makeSystemInterface();
    }
    return s.interface;
}

void setInterface(std::shared_ptr<WiFiInterface> interface)
{
    Slot& s = slot();
    std::lock_guard lock(s.mutex);
    s.chosen = true;
    s.interface = std::move(interface);
}

} // namespace vornakel::WiFiClient
