#pragma once

// A camera on a simulated link, behind the camera library's interface (VKLCamera.h). It serves either a
// folder of image files on disk (a DCIM-like tree) or an in-memory listing (for scale tests and benchmarks)
// as the camera's one storage, and behaves like a camera on Wi-Fi rather than like a function call: every
// callback is posted, requests take their turn on the camera's link one at a time, and latency, throughput,
// pairing, refusals, failures and connection loss can be set per camera.
//
// Options come from `SimulatedCameraOptions`, or for a folder camera from an optional "camera.ini" file
// (QSettings IniFormat, keys in the [General] section) in the camera folder. The keys:
//
//   identifier                friendlyIdentifier (default: the folder's name, or "SimulatedCamera")
//   name                      friendlyDisplayName (default: "Simulated Camera " + the identifier)
//   ipv4Address               the camera's address on its network (default "192.168.122.1")
//   ssid                      the Wi-Fi network the camera lives on; empty: always reachable (default empty)
//   password                  that network's password, for the simulated Wi-Fi (default empty)
//   latencyMs                 added to every request before it is answered (default 0)
//   throughputBytesPerSecond  speed of thumbnail, preview and stream data; 0 is unlimited (default 0)
//   chunkSize                 bytes per stream chunk (default 262144)
//   pairingPrompt             true: the camera asks its user to confirm the pairing (default false)
//   pairingDelayMs            how long the prompt stays before the user confirms (default 1000)
//   connectErrorCode          a library error code that connecting fails with, e.g. 1013; 0: none (default 0)
//   storageAccess             "supported", "unsupported" or "refused" (setCurrentCommandCategories fails)
//   startsInStorageMode       true: category 2 is current right after connecting (default false)
//   disconnectAfterSeconds    the connection drops this long after connecting; 0: never (default 0)
//   metadataFailures          file names (comma-separated) whose loadMetadata fails with 1006
//   listingErrors             folder names or paths from the root ("DCIM/101KESTR") whose loadChildren
//                             fails with 1007
//   metadataPreloaded         true: files are listed with their metadata already loaded (default false)
//   batteryLevel              property 4: 0 full … 4 empty; -1: no value (default 0)
//   powerSource               property 5: 1 mains power, 0 battery; -1: no value (default 0)
//   streamErrorAfterBytes     a stream fails with 1014 once this many bytes were sent; -1: never (default -1)
//   streamStallAfterBytes     a stream sends nothing more once this many bytes were sent … (default -1: never)
//   streamStallMs             … for this long, then goes on; 0: the stalled stream never ends (default 0)
//   streamShortByBytes        a stream ends this many bytes before the file's size, reporting success (default 0)
//   streamFaultFiles          file names (comma-separated) the stream faults apply to; empty: every file
//
// A folder camera lists directories and regular files by name (hidden files, symbolic links, FIFOs and other
// special files and "camera.ini" are left out; a name that is not valid UTF-8 is listed with U+FFFD for each
// undecodable byte and still served). Name, size and image type come with the listing; the creation date
// (EXIF DateTimeOriginal, also from CR3 and HEIF files, taken as the camera's local time unless
// OffsetTimeOriginal says otherwise; else the file's modification time) is read by loadMetadata. Thumbnails are
// the embedded EXIF thumbnail (converted to JPEG when stored otherwise), a HEIF file's own thumbnail, else a
// JPEG scaled to 160 pixels on its longest side; previews are the largest embedded preview of a RAW or TIFF
// file, a HEIF file's image as JPEG, else the JPEG file itself. An in-memory file streams its `data`, or when that is empty `size` bytes of a fixed pattern, and
// has a small generated JPEG as thumbnail and preview.
//
// Behaviour worth knowing: a connection request while another is under way completes with it; items belong
// to the connection they were listed in and fail with 1001 once it is gone (list again after reconnecting);
// a stream whose preflight answers no context still runs (the chunk block decides), and a stream that the
// chunk block stops completes with error 1004, never as a success; thumbnail and preview preflights run on
// the library's delivery queue when the request's turn on the link comes.

#include "platform/camera/SimulatedNetworkState.h"
#include "platform/camera/VKLCamera.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

namespace simulated {
class Link;
class CameraContent;
class SimulatedStorage;
struct CameraCore;
} // namespace simulated

struct SimulatedCameraOptions {
    enum class StorageAccess { Supported, Unsupported, Refused };

    QString friendlyIdentifier;
    QString friendlyDisplayName;
    QString ipv4Address = QStringLiteral("192.168.122.1");
    QString ssid;
    QString password;
    int latencyMs = 0;
    qint64 throughputBytesPerSecond = 0;
    int chunkSize = 256 * 1024;
    bool pairingPrompt = false;
    int pairingDelayMs = 1000;
    int connectErrorCode = 0;
    StorageAccess storageAccess = StorageAccess::Supported;
    bool startsInStorageMode = false;
    double disconnectAfterSeconds = 0;
    // The wait before the connection drops: none for 0, a negative or non-finite value, or one too long for a
    // timer (over 24 days), which is as good as never.
    std::optional<std::chrono::milliseconds> disconnectDelay() const;
    QStringList metadataFailures;
    QStringList listingErrors;
    bool metadataPreloaded = false;
    std::optional<int> batteryLevel = 0;
    std::optional<int> powerSource = 0;
    qint64 streamErrorAfterBytes = -1;
    qint64 streamStallAfterBytes = -1;
    int streamStallMs = 0;
    qint64 streamShortByBytes = 0;
    QStringList streamFaultFiles;

    // The options of a camera folder: `defaults` overridden by the keys of its "camera.ini", when there is one.
    static SimulatedCameraOptions fromFolder(const QString& folderPath, SimulatedCameraOptions defaults);
    static SimulatedCameraOptions fromFolder(const QString& folderPath);
};

// An in-memory listing: folders and files given by name, size and date, no disk access.
struct SimulatedCameraContent {
    struct File {
        QString name;
        uint64_t size = 0;
        std::optional<QDateTime> dateCreated;
        QByteArray data; // streamed when not empty (its size then wins over `size`)
    };
    struct Folder {
        QString name;
        std::vector<Folder> folders;
        std::vector<File> files;
    };
    // The storage's root folder; its own name is not shown.
    Folder root;
};

class SimulatedCamera : public VKLCamera {
    Q_OBJECT
public:
    // A camera serving the folder; the folder's "camera.ini" (if any) overrides `options`.
    static std::shared_ptr<SimulatedCamera> fromFolder(const QString& folderPath, SimulatedCameraOptions options = {});
    // A camera serving an in-memory listing.
    static std::shared_ptr<SimulatedCamera> fromContent(SimulatedCameraContent content, SimulatedCameraOptions options = {});
    ~SimulatedCamera() override;

    const SimulatedCameraOptions& options() const { return m_options; }
    // The camera folder, empty for an in-memory camera.
    QString folderPath() const { return m_folderPath; }

    // VKLCamera
    void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                               InterventionCallback userIntervention) override;
    bool supportsCommandCategories(uint32_t categories) const override;
    bool currentCommandCategoriesContainsCategory(uint32_t category) const override;
    void setCurrentCommandCategories(uint32_t categories, ErrorCallback callback) override;
    void disconnect(ErrorCallback callback, QueuePtr callbackQueue) override;
    unsigned connectionState() const override;
    std::optional<QString> friendlyIdentifier() const override;
    std::optional<QString> friendlyDisplayName() const override;
    VKLCameraService service() const override;
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override;
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned propertyIdentifier) override;

    // Test controls, on the main thread.
    // The camera drops the connection as if it went out of range (requests in flight fail with 1002).
    void dropConnection();
    void setBatteryLevel(std::optional<int> level);
    void setPowerSource(std::optional<int> source);
    // The client name of the last connection request.
    QString lastClientName() const { return m_lastClientName; }

private:
    SimulatedCamera(std::shared_ptr<simulated::CameraContent> content, SimulatedCameraOptions options, QString folderPath);
    void setState(VKLConnectionState state);
    void finishConnecting(uint64_t attempt, ConnectCompletion completion, std::optional<Error> error);

    SimulatedCameraOptions m_options;
    QString m_folderPath;
    std::shared_ptr<simulated::CameraContent> m_content;
    // What the storage and the items share with the camera; they keep it (not the camera) alive.
    std::shared_ptr<simulated::CameraCore> m_core;
    std::shared_ptr<simulated::Link> m_link;
    VKLConnectionState m_state = VKLConnectionState::NotConnected;
    uint32_t m_currentCategories = 0;
    uint64_t m_connectionAttempt = 0; // tells callbacks of an earlier connection from the current one
    bool m_connectAborted = false;
    std::vector<ConnectCompletion> m_joinedConnectCompletions;
    std::shared_ptr<simulated::SimulatedStorage> m_storage;
    VKLPropertyProxies m_properties;
    QString m_lastClientName;
};

// The simulated camera backend's discovery. It reports the cameras named by the environment variable
// VORNAKEL_SIMULATED_CAMERAS (camera folders separated by ':') and those added with `addCamera`, leaving out a
// camera with an "ssid" while `SimulatedNetworkState` names another network. Main thread only.
class SimulatedCameraDiscovery : public VKLCameraDiscovery {
    Q_OBJECT
public:
    // The backend's name in the camera backend registry.
    static QString backendName() { return QStringLiteral("simulated"); }
    // The application's discovery when it chose this backend; otherwise one made on first use.
    static SimulatedCameraDiscovery& shared();
    // The camera folders that VORNAKEL_SIMULATED_CAMERAS names and that exist.
    static QStringList environmentCameraFolders();
    // The own networks ("ssid" in "camera.ini") of the camera folders, with each camera as the gateway.
    static std::vector<SimulatedCameraNetwork> networksOfCameraFolders(const QStringList& cameraFolders);

    explicit SimulatedCameraDiscovery(QObject* parent = nullptr);

    void beginSearching() override;
    void stopSearching() override;
    // The cameras last reported.
    std::vector<std::shared_ptr<VKLCamera>> cameras() const override;

    bool isSearching() const { return m_searching; }
    void addCamera(std::shared_ptr<SimulatedCamera> camera);
    // Forgets every camera, also those from the environment (which are read again by the next search).
    void removeAllCameras();
    // How long after a change (or beginSearching) the cameras are reported; default 100 ms.
    void setReportDelay(std::chrono::milliseconds delay) { m_reportDelay = delay; }

private:
    void loadEnvironmentCameras();
    void scheduleReport(bool always);
    std::vector<std::shared_ptr<VKLCamera>> reachableCameras() const;

    std::vector<std::shared_ptr<SimulatedCamera>> m_environmentCameras; // reported first
    std::vector<std::shared_ptr<SimulatedCamera>> m_cameras;
    std::vector<std::shared_ptr<VKLCamera>> m_reported;
    bool m_environmentLoaded = false;
    bool m_searching = false;
    uint64_t m_searchGeneration = 0;
    std::chrono::milliseconds m_reportDelay{100};
};

} // namespace vornakel
