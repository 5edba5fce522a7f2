#include "platform/wifi/NetworkManagerWiFi.h"
#include "platform/wifi/SimulatedWiFi.h"

namespace vornakel::WiFiClient {

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

} // namespace vornakel::WiFiClient
