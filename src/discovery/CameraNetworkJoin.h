#pragma once

#include "discovery/CameraQRDecoding.h"
#include "platform/core/Deferred.h"
#include "platform/wifi/WiFiInterface.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace vornakel {

// Why a scanned camera network was not joined.
enum class CameraNetworkJoinFailure { NoWiFiInterface, NetworkNotFound, AssociationFailed };

// Joins the Wi-Fi network read from a camera's QR code: scan for it by name (a second time when the first
// scan fails or finds nothing), take the first network found, associate with the code's password. The scans
// and the association block, so they run on the global user-initiated queue; results come on the main queue.
namespace CameraNetworkJoin {

Deferred<std::optional<WiFiNetwork>> findNetwork(std::shared_ptr<WiFiInterface> interface, const QString& name);
Deferred<std::optional<Error>> associate(std::shared_ptr<WiFiInterface> interface, const WiFiNetwork& network,
                                         const QString& password);

// The whole sequence; the completion runs on the main queue with no failure on success. Nothing runs once the
// receiver is gone; the sequence itself stops before the association when the receiver went away during
// the scan.
void join(std::shared_ptr<WiFiInterface> interface, const CameraWiFiDetails& details, QObject* receiver,
          std::function<void(std::optional<CameraNetworkJoinFailure>)> completion);

} // namespace CameraNetworkJoin

// The message for a failed join or a camera that could not be set up, naming the scanned network. The name
// is inserted as text, never read as a format.
QString unableToFindScannedNetworkDescription(const CameraWiFiDetails& details);
QString unableToSetupWebcamDescription();

} // namespace vornakel
