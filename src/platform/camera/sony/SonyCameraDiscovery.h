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

#include "platform/camera/VKLCamera.h"
#include "platform/camera/upnp/UpnpXml.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QStringList>

#include <chrono>
#include <memory>
#include <vector>

class QTimer;

namespace vornakel {

class SsdpSearch;

class SonyCameraDiscovery : public VKLCameraDiscovery {
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
    ~SonyCameraDiscovery() override;

    void beginSearching() override;
    void stopSearching() override;
    Cameras cameras() const override { return m_reported; }

    void setProbeInterval(std::chrono::milliseconds interval) { m_interval = interval; }
    void setProbeTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // Sends the SSDP search to this address and port instead of the multicast group (a test camera).
    void setSearchAddress(const QHostAddress& address, quint16 port)
    {
        m_searchAddress = address;
        m_searchPort = port;
    }

private:
    struct Candidate;
    Candidate& candidate(const QString& host, quint16 port, const QString& path, bool listed);
    void searchWithSsdp();
    void probeAll();
    void report();

    QNetworkAccessManager m_network;
    std::vector<std::unique_ptr<Candidate>> m_candidates;
    Cameras m_reported;
    bool m_searching = false;
    std::chrono::milliseconds m_interval{3000};
    std::chrono::milliseconds m_timeout{1500};
    QTimer* m_timer = nullptr;
    SsdpSearch* m_ssdp = nullptr;
    QHostAddress m_searchAddress;
    quint16 m_searchPort = 0;
};

} // namespace vornakel
