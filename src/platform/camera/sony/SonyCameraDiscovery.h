#pragma once

// Finds Sony cameras whose "send to smartphone" (or "view on smartphone") mode serves the card as a UPnP media
// server, on the camera's own access point at 192.168.122.1. Each Wi-Fi gateway is probed on Sony's port
// (64321; VORNAKEL_GATEWAY_PORTS "sony=…" names another) for the media server's description, and so is each
// address the user lists as "upnp://host[:port]" (CameraAddresses.h). All probes run at once with a short
// time-out and are repeated while searching. A gateway counts when its description is a Sony media server; a
// listed address when it is any media server that no other maker's backend takes (Panasonic's). Each address
// is one camera (MediaServerCamera.h), kept while it answers or is connected. Where the network carries
// multicast, an SSDP search for media servers runs with each round too: an answer whose description URL is on
// the answering host and whose description is a Sony media server is a camera as well. Main thread.

#include "platform/camera/upnp/MediaServerCameraDiscovery.h"

namespace vornakel {

class SonyCameraDiscovery : public MediaServerCameraDiscovery {
    Q_OBJECT
public:
    static QString backendName() { return QStringLiteral("sony"); }
    // The scheme of the addresses the user lists for a media-server camera.
    static QString listedScheme() { return QStringLiteral("upnp"); }
    static constexpr quint16 kMakersPort = 64321;
    // Where Sony bodies keep the description: the "send to smartphone" mode, then "view on smartphone".
    static QStringList descriptionPaths() { return {QStringLiteral("/DmsDescPush.xml"), QStringLiteral("/DmsDesc.xml")}; }
    static bool isSonyMediaServer(const upnp::DeviceDescription& description);

    explicit SonyCameraDiscovery(QObject* parent = nullptr);
};

} // namespace vornakel
