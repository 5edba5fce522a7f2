#pragma once

#include "platform/camera/VKLCamera.h"

#include <memory>
#include <variant>

namespace vornakel {

// Why a connection to a camera ended before its photos were shown. The values are stored as 0 to 3.
enum class FailureReason { connectionFailed = 0, cameraSoftwareTooOld = 1, storageAccessNotAllowed = 2, noImages = 3 };

// Which pane the discovery screen shows, with that pane's data.
struct CameraDiscoveryView {
    struct ManualDiscovery {
        bool hideQRButton = false;
        bool operator==(const ManualDiscovery&) const = default;
    };
    struct ConnectionError {
        FailureReason reason = FailureReason::connectionFailed;
        bool operator==(const ConnectionError&) const = default;
    };
    // Holds its camera for as long as it is the value shown.
    struct Disconnecting {
        std::shared_ptr<VKLCamera> camera;
        bool disconnectFromNetworkWhenDone = false;
        bool operator==(const Disconnecting&) const = default;
    };
    struct QRDiscovery {
        bool operator==(const QRDiscovery&) const = default;
    };
    struct Connecting {
        bool operator==(const Connecting&) const = default;
    };
    struct PairingPromptOnCamera {
        bool operator==(const PairingPromptOnCamera&) const = default;
    };

    using Value = std::variant<ManualDiscovery, ConnectionError, Disconnecting, QRDiscovery, Connecting,
                               PairingPromptOnCamera>;
    Value value = ManualDiscovery{};

    static CameraDiscoveryView manualDiscovery(bool hideQRButton) { return {ManualDiscovery{hideQRButton}}; }
    static CameraDiscoveryView connectionError(FailureReason reason) { return {ConnectionError{reason}}; }
    static CameraDiscoveryView disconnecting(std::shared_ptr<VKLCamera> camera, bool disconnectFromNetworkWhenDone)
    {
        return {Disconnecting{std::move(camera), disconnectFromNetworkWhenDone}};
    }
    static CameraDiscoveryView qrDiscovery() { return {QRDiscovery{}}; }
    static CameraDiscoveryView connecting() { return {Connecting{}}; }
    static CameraDiscoveryView pairingPromptOnCamera() { return {PairingPromptOnCamera{}}; }

    template <typename Case>
    bool is() const { return std::holds_alternative<Case>(value); }
    template <typename Case>
    const Case* as() const { return std::get_if<Case>(&value); }

    bool operator==(const CameraDiscoveryView&) const = default;
};

} // namespace vornakel
