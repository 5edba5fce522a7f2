#pragma once

// The camera-control library's interface: discovery, connection, storage, file items, metadata, thumbnails,
// previews, streaming and properties. The classes are abstract; the simulated camera (SimulatedCamera.h)
// implements them by serving a folder of image files as a camera on a link.
//
// Callback queues: unless a call names another, every callback comes on the main queue, always posted
// (never inside the caller's stack). Thumbnail and preview deliveries come on the library's own serial queue
// (`VKLLibrary::deliveryQueue()`); stream blocks come on the queues the caller passes.

#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

class VKLCamera;
class VKLFileStorage;
class VKLFileSystemItem;
class VKLFileSystemFolderItem;

// ---- Errors -------------------------------------------------------------------------------------------------

inline QString vklErrorDomain() { return QStringLiteral("com.vornakel.core"); }

enum VKLErrorCode : int {
    VKLErrorGeneric = 1000,
    VKLErrorNotConnected = 1001,
    VKLErrorConnectionLost = 1002,
    VKLErrorTimeout = 1003,
    VKLErrorCancelled = 1004,          // made by the program when it stops a metadata chain
    VKLErrorFileNotFound = 1005,
    VKLErrorMetadataUnavailable = 1006,
    VKLErrorListingFailed = 1007,
    VKLErrorCommandCategoryUnsupported = 1008,
    VKLErrorCommandCategoryRefused = 1009,
    VKLErrorPairingRejected = 1010,
    VKLErrorOwnerGone = 1011,          // made by the program when the receiver of a chain is gone
    VKLErrorBusy = 1012,
    VKLErrorCameraSoftwareTooOld = 1013,
    VKLErrorReadFailed = 1014,
};

// An error of the library's domain with the code's standard message.
Error errorWithVKLErrorCode(int code);

// ---- Connection ---------------------------------------------------------------------------------------------

enum VKLCommandCategory : uint32_t {
    VKLCommandCategoryRemoteShooting = 1,
    VKLCommandCategoryStorageAccess = 2,
};

enum class VKLConnectionState : unsigned { NotConnected = 0, Connecting = 1, Connected = 2 };

struct VKLCameraConnectionWarning {
    int code = 0;
    QString message;
};

struct VKLCameraService {
    std::optional<QString> ipv4Address;
};

// A camera property (battery level is number 4: 0 full … 4 empty; power source is number 5: 1 is mains power).
class VKLPropertyProxy : public QObject {
    Q_OBJECT
public:
    explicit VKLPropertyProxy(unsigned propertyIdentifier, QObject* parent = nullptr)
        : QObject(parent), m_identifier(propertyIdentifier) {}
    unsigned propertyIdentifier() const { return m_identifier; }
    std::optional<int> value() const { return m_value; }
    // The library sets values on the main thread; observers get `valueChanged` there.
    void setValue(std::optional<int> value)
    {
        if (value == m_value)
            return;
        m_value = value;
        emit valueChanged();
    }

signals:
    void valueChanged();

private:
    unsigned m_identifier;
    std::optional<int> m_value;
};

enum VKLPropertyIdentifier : unsigned { VKLPropertyBatteryLevel = 4, VKLPropertyPowerSource = 5 };

// The property proxies of one camera: battery level and power source, which backends set, and one (never set)
// for any other identifier asked for, made on first request and handed out again after. Main thread.
class VKLPropertyProxies {
public:
    const std::shared_ptr<VKLPropertyProxy>& batteryLevel() const { return m_batteryLevel; }
    const std::shared_ptr<VKLPropertyProxy>& powerSource() const { return m_powerSource; }
    std::shared_ptr<VKLPropertyProxy> proxy(unsigned propertyIdentifier);

private:
    std::shared_ptr<VKLPropertyProxy> m_batteryLevel = std::make_shared<VKLPropertyProxy>(VKLPropertyBatteryLevel);
    std::shared_ptr<VKLPropertyProxy> m_powerSource = std::make_shared<VKLPropertyProxy>(VKLPropertyPowerSource);
    std::map<unsigned, std::shared_ptr<VKLPropertyProxy>> m_others;
};

class VKLCamera : public QObject, public std::enable_shared_from_this<VKLCamera> {
    Q_OBJECT
public:
    using ConnectCompletion = std::function<void(std::optional<Error>, std::vector<VKLCameraConnectionWarning>)>;
    // (the camera shows a pairing prompt, a block that cancels the pairing; the program releases it uncalled)
    using InterventionCallback = std::function<void(bool, std::function<void()>)>;
    using ErrorCallback = std::function<void(std::optional<Error>)>;

    ~VKLCamera() override = default;

    virtual void connectWithClientName(const QString& clientName, ConnectCompletion completion,
                                       InterventionCallback userIntervention) = 0;
    virtual bool supportsCommandCategories(uint32_t categories) const = 0;
    virtual bool currentCommandCategoriesContainsCategory(uint32_t category) const = 0;
    virtual void setCurrentCommandCategories(uint32_t categories, ErrorCallback callback) = 0;
    // The callback (may be empty) runs on the given queue once the camera is disconnected.
    virtual void disconnect(ErrorCallback callback, QueuePtr callbackQueue) = 0;

    // 0 not connected, 2 connected; `connectionStateChanged` is emitted on the main thread.
    virtual unsigned connectionState() const = 0;
    virtual std::optional<QString> friendlyIdentifier() const = 0;
    virtual std::optional<QString> friendlyDisplayName() const = 0;
    virtual VKLCameraService service() const = 0;
    // The storages of a connected camera in storage mode; none otherwise.
    virtual std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const = 0;
    virtual std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned propertyIdentifier) = 0;

signals:
    void connectionStateChanged();
};

// ---- Storage ------------------------------------------------------------------------------------------------

class VKLFileStorage {
public:
    virtual ~VKLFileStorage() = default;
    virtual std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const = 0;
    virtual std::shared_ptr<VKLCamera> camera() const = 0; // none once the camera is gone
};

// A camera's storage as the network backends have it: a root folder made after the storage (its items point
// back at it), and the camera, weakly.
class CameraStorage final : public VKLFileStorage {
public:
    explicit CameraStorage(std::weak_ptr<VKLCamera> camera) : m_camera(std::move(camera)) {}
    void setRoot(std::shared_ptr<VKLFileSystemFolderItem> root) { m_root = std::move(root); }
    std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const override { return m_root; }
    std::shared_ptr<VKLCamera> camera() const override { return m_camera.lock(); }

private:
    std::weak_ptr<VKLCamera> m_camera;
    std::shared_ptr<VKLFileSystemFolderItem> m_root;
};

// Shooting settings a camera reports with a file's metadata, as its EXIF records them; each none when unknown.
struct VKLShootingData {
    std::optional<double> exposureTime; // seconds
    std::optional<double> fNumber;
    std::optional<qint64> iso;
    std::optional<double> focalLength;  // millimetres
    bool isEmpty() const { return !exposureTime && !fNumber && !iso && !focalLength; }
    bool operator==(const VKLShootingData&) const = default;
};

class VKLFileSystemItem : public std::enable_shared_from_this<VKLFileSystemItem> {
public:
    using ItemPtr = std::shared_ptr<VKLFileSystemItem>;
    using ErrorCallback = std::function<void(std::optional<Error>)>;
    using PreflightBlock = std::function<bool(const ItemPtr&)>;
    // (item, error, image data): data is absent on error.
    using ImageDeliveryBlock = std::function<void(const ItemPtr&, std::optional<Error>, std::optional<QByteArray>)>;

    // Streaming: the preflight answers the context object; each chunk answers 0 to go on, 1 to stop; the
    // complete block runs once (success, error, or after a stop) with the same context.
    using StreamContext = std::shared_ptr<void>;
    using StreamPreflightBlock = std::function<StreamContext()>;
    using StreamChunkBlock = std::function<int(const ItemPtr&, const QByteArray&, const StreamContext&)>;
    using StreamCompleteBlock = std::function<void(const ItemPtr&, std::optional<Error>, const StreamContext&)>;

    virtual ~VKLFileSystemItem() = default;

    virtual std::optional<QString> name() const = 0;
    virtual uint64_t size() const = 0; // 0 when not known
    virtual std::optional<QDateTime> dateCreated() const = 0;
    // The EXIF orientation (1-8) the camera reports with the metadata; thumbnails and previews it hands out
    // carry none of their own. None when the camera does not know it.
    virtual std::optional<int> orientation() const { return std::nullopt; }
    // The shooting settings the camera reports with the metadata; none when it reports none.
    virtual std::optional<VKLShootingData> shootingData() const { return std::nullopt; }
    virtual bool isKnownImageType() const = 0;
    virtual bool metadataLoaded() const = 0;
    virtual std::shared_ptr<VKLFileStorage> storage() const = 0;

    // Loads name, size and date from the camera; afterwards `metadataLoaded` is true on success.
    virtual void loadMetadata(ErrorCallback completion) = 0;
    // Deliveries come on the library's own queue. The preflight runs on that queue just before the request
    // goes on the link; answering false drops the request without a delivery.
    virtual void fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery) = 0;
    virtual void fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery) = 0;
    virtual void streamItem(StreamPreflightBlock preflight, QueuePtr preflightQueue, StreamChunkBlock chunk,
                            QueuePtr deliveryQueue, StreamCompleteBlock complete, QueuePtr completeQueue) = 0;
};

class VKLFileSystemFolderItem : public VKLFileSystemItem {
public:
    virtual void loadChildren(ErrorCallback completion) = 0;
    // The children after a successful `loadChildren`; none before.
    virtual std::optional<std::vector<ItemPtr>> children() const = 0;
};

// ---- Discovery ----------------------------------------------------------------------------------------------

// Finds cameras. Which backend does it is chosen at run time (CameraBackendRegistry.h). Main thread only.
class VKLCameraDiscovery : public QObject {
    Q_OBJECT
public:
    using Cameras = std::vector<std::shared_ptr<VKLCamera>>;
    using DevicesChangedObserver = std::function<void(const Cameras&)>;

    // The discovery the application built at start-up; before that (tests, tools) one that finds nothing.
    static VKLCameraDiscovery& sharedInstance();
    // The application's composition point installs the discovery it built; none uninstalls it.
    static void setSharedInstance(VKLCameraDiscovery* discovery);

    using QObject::QObject;
    ~VKLCameraDiscovery() override = default;

    // The observer gets the whole list on every change, on the main queue, until `receiver` is destroyed or
    // the returned connection is disconnected.
    QMetaObject::Connection addDevicesChangedObserver(const QObject* receiver, DevicesChangedObserver observer);
    virtual void beginSearching() = 0;
    virtual void stopSearching() = 0;
    virtual Cameras cameras() const = 0;

signals:
    // Emitted by the backend on the main thread with the cameras now found.
    void devicesChanged(const vornakel::VKLCameraDiscovery::Cameras& cameras);
};

// The library's bundle information.
namespace VKLLibrary {
QString shortVersionString();   // CFBundleShortVersionString
QString bundleVersion();        // CFBundleVersion
QString verboseVersionString(); // VKLVerboseVersionString
// The serial queue that thumbnail and preview deliveries come on.
QueuePtr deliveryQueue();
} // namespace VKLLibrary

// ---- Helpers and values -------------------------------------------------------------------------------------

namespace VKLNetworkConfigurationHelper {
// The IPv4 gateway of the named interface ("wlan0"), from the routing table; none when it has none.
std::optional<QString> ipAddressOfGatewayForInterface(const QString& interfaceName);
// Replaces the routing-table lookup (the simulated Wi-Fi answers for its own interface, named as
// `interfaceName`, which then counts as a Wi-Fi interface); empty restores it.
void setGatewayResolver(std::function<std::optional<QString>(const QString&)> resolver, QString interfaceName = {});
// The Wi-Fi interface the installed resolver answers for; none without one.
std::optional<QString> resolvedInterfaceName();
// The gateway of the interface's default route in a routing table in the text form of /proc/net/route
// (the route with the lowest metric when there are several); none when it has none.
std::optional<QString> gatewayFromRouteTable(const QString& routeTable, const QString& interfaceName);
} // namespace VKLNetworkConfigurationHelper

// A shutter speed from an approximate duration in seconds, snapped to the nearest standard third-stop value.
// Display texts: "1/250" below 0.4 s, "0.5\"" … "30\"" from there (tenths only below 1 s and for 1.3/1.6/2.5).
class VKLShutterSpeedValue {
public:
    // None for a duration that is not a finite positive number of at most 3600 s.
    static std::optional<VKLShutterSpeedValue> withApproximateDuration(double seconds);
    double duration() const { return m_duration; }
    std::optional<QString> localizedDisplayValue() const;

private:
    explicit VKLShutterSpeedValue(double duration) : m_duration(duration) {}
    double m_duration;
};

// An aperture from an approximate f-number, snapped to the nearest standard third-stop value: "f/2.8".
class VKLApertureValue {
public:
    // None for an f-number that is not finite or outside 0.5 … 128.
    static std::optional<VKLApertureValue> withApproximateDecimalValue(double fNumber);
    double fNumber() const { return m_fNumber; }
    std::optional<QString> localizedDisplayValue() const;

private:
    explicit VKLApertureValue(double fNumber) : m_fNumber(fNumber) {}
    double m_fNumber;
};

} // namespace vornakel
