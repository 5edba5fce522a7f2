#include "discovery/CameraNetworkJoin.h"

#include "platform/core/Strings.h"

#include <QPointer>

namespace vornakel {

namespace CameraNetworkJoin {

namespace {
QueuePtr workQueue() { return DispatchQueue::global(DispatchQueue::QoS::UserInitiated); }
} // namespace

Deferred<std::optional<WiFiNetwork>> findNetwork(std::shared_ptr<WiFiInterface> interface, const QString& name)
{
    Deferred<std::optional<WiFiNetwork>> result;
    workQueue()->async([interface = std::move(interface), name, result] {
        for (int attempt = 0; attempt < 2; ++attempt) {
            WiFiScanResult scan = interface->scanForNetworks(name);
            if (!scan.error && !scan.networks.empty()) {
                result.fill(scan.networks.front());
                return;
            }
        }
        result.fill(std::nullopt);
    });
    return result;
}

Deferred<std::optional<Error>> associate(std::shared_ptr<WiFiInterface> interface, const WiFiNetwork& network,
                                         const QString& password)
{
    Deferred<std::optional<Error>> result;
    workQueue()->async([interface = std::move(interface), network, password, result] {
        result.fill(interface->associate(network, password));
    });
    return result;
}

void join(std::shared_ptr<WiFiInterface> interface, const CameraWiFiDetails& details, QObject* receiver,
          std::function<void(std::optional<CameraNetworkJoinFailure>)> completion)
{
    const DispatchQueue::Context guard(receiver);
    if (!interface) {
        DispatchQueue::main()->async(guard, [completion] { completion(CameraNetworkJoinFailure::NoWiFiInterface); });
        return;
    }
    findNetwork(interface, details.ssid).upon(DispatchQueue::main(), guard,
        [interface, password = details.password, guard, completion](const std::optional<WiFiNetwork>& network) {
            if (!network) {
                completion(CameraNetworkJoinFailure::NetworkNotFound);
                return;
            }
            associate(interface, *network, password).upon(DispatchQueue::main(), guard,
                [completion](const std::optional<Error>& error) {
                    completion(error ? std::optional(CameraNetworkJoinFailure::AssociationFailed) : std::nullopt);
                });
        });
}

} // namespace CameraNetworkJoin

QString unableToFindScannedNetworkDescription(const CameraWiFiDetails& details)
{
    return GeneralUI::format(QStringLiteral("UnableToFindScannedNetworkErrorDescription"), {details.ssid});
}

QString unableToSetupWebcamDescription() { return GeneralUI::text(QStringLiteral("UnableToSetupWebcamErrorDescription")); }

} // namespace vornakel
