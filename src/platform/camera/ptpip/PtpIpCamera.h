#pragma once

// A camera reached over PTP/IP (CIPA DC-X005), behind the camera library's interface (VKLCamera.h).
//
// connect: the Init handshake on the command and event connections, with the GUID this computer keeps in
//   the user defaults ("PTPIPClientGUID") and the client name as the friendly name. A camera that holds the
//   Init Command Ack for more than `pairingPromptAfter` is showing its own pairing prompt: the pairing prompt
//   callback then gets a block that cancels (closes both connections; the connection ends with 1010). Init
//   Fail "rejected" is 1010, "busy" 1012. Then GetDeviceInfo and OpenSession; the storages, battery level
//   (property 0x5001 in percent, as the five levels) and events follow from there.
// items: folders and files from GetObjectHandles per storage and parent and GetObjectInfo per object (files
//   come with name, size and date); thumbnails from GetThumb; previews are the JPEG itself or, for RAW files, the
//   largest embedded JPEG of the file's first bytes (GetPartialObject); streams are GetObject's data phase,
//   handed on as it arrives and cancelled when the chunk block answers 1. Where GetDeviceInfo lists
//   GetObjectPropList, a folder's objects come in one reply instead of one ObjectInfo each. An image file's
//   orientation and shooting data come with loadMetadata (until then its metadata is not loaded), from a
//   bounded partial read of its start through exiv2. An object of 4 GiB or more (ObjectInfo's size 0xFFFFFFFF) takes its size from the object size
//   property where offered and streams through a 64-bit partial read (MTP's GetPartialObject64 or Nikon's
//   GetPartialObjectEx); without one its stream fails plainly rather than making a wrong copy.
// events: DevicePropChanged for the battery level; StoreRemoved takes the storage out of the list and fails
//   what waits on it with 1005 ("the memory card was taken out"), StoreAdded puts a storage for the card in
//   (the next walk lists it); ObjectAdded needs nothing, as every listing asks the camera afresh, so a new photo
//   is among its folder's children from the next listing on; ObjectRemoved fails what waits on that object
//   and every later request for it with 1005 (as a file deleted from a folder camera's card), and the next
//   listing leaves it out.
// a connection reset, a closed connection, or a camera silent past its probe is connection state 0 at
//   once, and every pending request fails with 1002.
//
// Threads: the connection lives on the main thread; calls from elsewhere hop there first. Callbacks come on
// the queues the interface names.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/network/NetworkCamera.h"
#include "platform/camera/network/ProbingCameraDiscovery.h"
#include "platform/camera/ptpip/PtpIpConnection.h"

#include <QHostAddress>
#include <QPointer>

class QDBusConnection;

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace vornakel {

class AvahiServiceBrowser;
class SsdpSearch;

namespace ptpip {
struct Session;
}

struct PtpIpCameraOptions {
    QString host;
    quint16 port = ptpip::kDefaultPort;
    QByteArray guid; // 16 bytes; empty: the one kept in the user defaults
    std::chrono::milliseconds pairingPromptAfter{1000};
    ptpip::ConnectionTimings timings;
    // Objects of 4 GiB or more are read in parts of this size with the camera's 64-bit partial read.
    uint32_t widePartSize = 32 * 1024 * 1024;
};

class PtpIpCamera : public NetworkCamera {
    Q_OBJECT
public:
    static std::shared_ptr<PtpIpCamera> create(PtpIpCameraOptions options);
    ~PtpIpCamera() override;

    const PtpIpCameraOptions& options() const { return m_options; }

    void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                               InterventionCallback userIntervention) override;
    // Storage access and remote shooting.
    bool supportsCommandCategories(uint32_t categories) const override;

    // The GUID this computer introduces itself with: made once, then kept in the user defaults.
    static QByteArray clientGuid();
    // A battery percentage as the five levels (0 full … 4 empty).
    static int batteryLevelForPercent(int percent);

private:
    explicit PtpIpCamera(PtpIpCameraOptions options);
    void finishConnecting(std::optional<Error> error) override;
    void closeSession(SessionEnd how) override;
    // Sends CloseSession, as a courtesy, before the connection closes.
    void disconnectOnMain(std::function<void()> done) override;
    void afterHandshake();
    void readBatteryLevel();
    void handleEvent(uint16_t code, const std::vector<uint32_t>& parameters);
    void noteObjectRemoved(uint32_t handle);

    PtpIpCameraOptions m_options;
    std::shared_ptr<ptpip::Session> m_session;
    InterventionCallback m_intervention;
    bool m_promptShown = false;
};

// Finds PTP/IP cameras: the addresses the user lists without a scheme or as "ptpip://" (CameraAddresses.h),
// the gateway of each Wi-Fi interface (a camera's own access point), and the cameras that announce a PTP/IP
// service on the network (SSDP answers for the services in `ssdpSearchTargets()`, and DNS-SD's "_ptp._tcp"
// through Avahi where it runs).
// An address is a camera while a TCP connection to its port succeeds; one address is one camera, however many
// ways found it. Main thread.
class PtpIpCameraDiscovery : public ProbingCameraDiscovery {
    Q_OBJECT
public:
    static QString backendName() { return QStringLiteral("ptpip"); }

    explicit PtpIpCameraDiscovery(QObject* parent = nullptr);
    ~PtpIpCameraDiscovery() override;

    // The SSDP services of cameras that take PTP/IP connections from a computer: MTP/IP's (Sony, Nikon and
    // others in their "connect to computer" modes) and Canon's EOS Utility service.
    static QStringList ssdpSearchTargets();
    // The variable that turns the SSDP search off ("off") or sends it to one address instead of the multicast
    // group ("127.0.0.1:1900"), for tests that must stay on this computer.
    static QString ssdpAddressVariable() { return QStringLiteral("VORNAKEL_SSDP_ADDRESS"); }
    // For tests: the SSDP search goes to this address instead, and the cameras it finds are tried on
    // `cameraPort` instead of PTP/IP's.
    void setSsdpSearchAddress(const QHostAddress& address, quint16 port, quint16 cameraPort);
    // The variable that turns the DNS-SD browse through Avahi off ("off").
    static QString dnsSdVariable() { return QStringLiteral("VORNAKEL_DNSSD"); }
    // For tests: DNS-SD asks the Avahi on this bus instead of the system bus's.
    void setDnsSdBus(const QDBusConnection& bus);
    // An address a search of the network found (SSDP, DNS-SD); kept for the searches that follow.
    void addFoundAddress(const QString& host, quint16 port);

private:
    void gatherCandidates() override;
    // A TCP connection to the address's port.
    void probe(const Candidate& candidate, ProbeAnswer answer) override;
    void searchingBegins() override;
    void searchingStops() override;
    void searchNetwork();

    std::vector<std::pair<QString, quint16>> m_found; // by the network searches, newest last
    SsdpSearch* m_ssdp = nullptr;
    std::optional<std::pair<QHostAddress, quint16>> m_ssdpAddress;
    quint16 m_ssdpCameraPort = ptpip::kDefaultPort;
    bool m_ssdpEnabled = true;
    AvahiServiceBrowser* m_dnsSd = nullptr; // made when the search begins, unless turned off
};

} // namespace vornakel
