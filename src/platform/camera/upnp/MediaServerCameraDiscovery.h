#pragma once

// Finds the cameras of one maker whose Wi-Fi mode serves the card as a UPnP media server. Each Wi-Fi gateway is
// probed on the maker's port (VORNAKEL_GATEWAY_PORTS "<backend>=…" names another) for the media server's
// description, and so is each address the user lists with the maker's scheme (CameraAddresses.h). All probes run
// at once with a short time-out and are repeated while searching. Where the network carries multicast, an SSDP
// search for media servers runs with each round too: an answer whose description URL is on the answering host
// is probed as well. What counts as the maker's camera is the maker's to say; each address is one camera, kept
// while it answers or is connected. Main thread.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/network/ProbingCameraDiscovery.h"
#include "platform/camera/upnp/ContentDirectoryClient.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace vornakel {

class MediaServerCamera;
class SsdpSearch;

// What one maker's media-server cameras are and where they are found.
struct MediaServerMaker {
    QString backendName;          // also the key of VORNAKEL_GATEWAY_PORTS
    QString listedScheme;         // of the addresses the user lists for the maker's cameras
    quint16 port = 0;             // of the media server on the camera's access point
    QStringList descriptionPaths; // where the maker's cameras keep the description, tried at once
    // Whether a media server is the maker's camera; `listed`: found at an address the user listed.
    std::function<bool(const upnp::DeviceDescription&, bool listed)> accepts;
    std::function<std::shared_ptr<MediaServerCamera>(const upnp::FoundMediaServer&)> makeCamera;
};

class MediaServerCameraDiscovery : public ProbingCameraDiscovery {
    Q_OBJECT
public:
    explicit MediaServerCameraDiscovery(MediaServerMaker maker, QObject* parent = nullptr);
    ~MediaServerCameraDiscovery() override;

    // Sends the SSDP search to this address and port instead of the multicast group (a test camera).
    void setSearchAddress(const QHostAddress& address, quint16 port)
    {
        m_searchAddress = address;
        m_searchPort = port;
    }

private:
    void gatherCandidates() override;
    // A GET of the description (where an SSDP answer put it, else at the maker's paths) that the maker accepts.
    void probe(const Candidate& candidate, ProbeAnswer answer) override;
    void searchingStops() override;
    void searchWithSsdp();

    MediaServerMaker m_maker;
    QNetworkAccessManager m_network;
    SsdpSearch* m_ssdp = nullptr;
    QHostAddress m_searchAddress;
    quint16 m_searchPort = 0;
};

} // namespace vornakel
