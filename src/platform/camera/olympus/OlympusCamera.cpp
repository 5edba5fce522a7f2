#include "platform/camera/olympus/OlympusCamera.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/network/CameraFileHead.h"
#include "platform/camera/network/CameraFileStream.h"
#include "platform/camera/network/ListedFolder.h"
#include "platform/camera/network/NetworkItem.h"
#include "platform/camera/olympus/OlympusHttpClient.h"
#include "platform/camera/olympus/OlympusImageList.h"
#include "platform/imaging/ImageFileTypes.h"

#include <QLoggingCategory>
#include <QTimer>

#include <mutex>

Q_LOGGING_CATEGORY(lcOlympus, "vornakel.camera.olympus")

namespace vornakel {

using namespace olympus;

namespace olympus {

// What a connected camera's storage and items share. Touched on the main thread only.
struct Session {
    QPointer<HttpClient> http;
    bool open = false; // false once disconnected or lost: new requests fail with 1001
    // Asks the camera whether it is still there after a request's connection failed.
    std::function<void(std::function<void(bool)>)> confirmAlive;
};

} // namespace olympus

namespace {

constexpr qint64 kMaxCameraInfo = kMaximumCameraInfoBytes;
constexpr qint64 kMaxThumbnail = 4 * 1024 * 1024;
constexpr qint64 kMaxPreview = 32 * 1024 * 1024;
// RAW files keep their previews near the start; this much is read to find the largest.
constexpr qint64 kRawPreviewRead = 8 * 1024 * 1024;
// A JPEG's EXIF block is at most 64 KB, after at most a short JFIF block; a TIFF-based RAW file keeps its first
// tags near its start too. Every file of the card is read this far, so it is kept small.
constexpr qint64 kMetadataRead = 72 * 1024;

using SessionPtr = std::shared_ptr<Session>;
using HandlePtr = std::shared_ptr<HttpClient::Handle>;

bool isConnectionError(const std::optional<Error>& error)
{
    return error && (error->code == VKLErrorNotConnected || error->code == VKLErrorConnectionLost);
}

// Runs a request on the session's client, from any thread; the completion runs on the main thread. A request
// whose connection failed is answered only once the camera was asked whether it is still there: 1002 when not.
void run(const SessionPtr& session, HttpRequest request, HttpClient::Completion completion,
         std::function<void(HandlePtr)> started = {})
{
    DispatchQueue::main()->async([session, request = std::move(request), completion = std::move(completion),
                                  started = std::move(started)]() mutable {
        if (!session->open || !session->http) {
            completion(errorWithVKLErrorCode(VKLErrorNotConnected), {});
            return;
        }
        auto handle = session->http->get(std::move(request), [session, completion](std::optional<Error> error, HttpResult result) {
            if (!error || !result.transportFailed || !session->confirmAlive) {
                completion(error, std::move(result));
                return;
            }
            session->confirmAlive([completion, error, result](bool alive) {
                completion(alive ? error : std::optional(errorWithVKLErrorCode(VKLErrorConnectionLost)), result);
            });
        });
        if (started)
            started(handle);
    });
}

// The first `length` bytes of the file: a Range request, cut off there when the camera sends the whole file.
void readHead(const SessionPtr& session, const QString& path, qint64 length,
              std::function<void(std::optional<Error>, QByteArray)> completion)
{
    auto head = std::make_shared<QByteArray>();
    HttpRequest request;
    request.target = path;
    request.rangeEnd = length - 1;
    request.headers = [](int status, qint64) { return status == 200 || status == 206; };
    request.sink = [head, length](const QByteArray& bytes) {
        head->append(bytes.left(length - head->size()));
        return head->size() < length;
    };
    run(session, std::move(request), [head, completion](std::optional<Error> error, HttpResult) {
        if (error && error->code == VKLErrorCancelled)
            error.reset(); // we stopped it: the bytes wanted are in
        completion(error, error ? QByteArray() : *head);
    });
}

QString childPath(const QString& folder, const QString& name) { return folder + QLatin1Char('/') + name; }

// ---- Items --------------------------------------------------------------------------------------------------

struct ItemData {
    QString path; // "/DCIM/100OLYMP/P1010001.JPG"
    QString name;
    uint64_t size = 0;
    std::optional<QDateTime> date;
    std::optional<int> orientation;
    std::optional<VKLShootingData> shooting;
    bool metadataLoaded = false;
};

template <typename Base>
class OlympusItemBase : public NetworkItem<Session, Base> {
public:
    OlympusItemBase(SessionPtr session, std::weak_ptr<VKLFileStorage> storage, ItemData data)
        : NetworkItem<Session, Base>(std::move(session), std::move(storage)), m_data(std::move(data))
    {
    }

    std::optional<QString> name() const override { return m_data.name; }
    uint64_t size() const override { return m_data.size; }
    std::optional<QDateTime> dateCreated() const override { return m_data.date; }
    std::optional<int> orientation() const override
    {
        std::lock_guard lock(m_mutex);
        return m_data.orientation;
    }
    std::optional<VKLShootingData> shootingData() const override
    {
        std::lock_guard lock(m_mutex);
        return m_data.shooting;
    }
    bool isKnownImageType() const override { return ImageFileTypes::isKnownImageName(m_data.name); }
    bool metadataLoaded() const override
    {
        std::lock_guard lock(m_mutex);
        return m_data.metadataLoaded;
    }
    void loadMetadata(VKLFileSystemItem::ErrorCallback completion) override
    {
        auto self = this->shared_from_this();
        if (metadataLoaded() || !isKnownImageType()) {
            {
                std::lock_guard lock(m_mutex);
                m_data.metadataLoaded = true;
            }
            DispatchQueue::main()->async([completion] {
                if (completion)
                    completion(std::nullopt);
            });
            return;
        }
        const qint64 length = m_data.size == 0 ? kMetadataRead : qint64(std::min<uint64_t>(m_data.size, kMetadataRead));
        readHead(this->session(), m_data.path, length, [this, self, completion](std::optional<Error> error, QByteArray head) {
            // The listing gave name, size and date; what the file's start adds is welcome but not needed.
            if (isConnectionError(error)) {
                if (completion)
                    completion(error);
                return;
            }
            DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([this, self, completion, head] {
                const CameraFileHead::ExifFacts facts = CameraFileHead::exifFacts(head);
                {
                    std::lock_guard lock(m_mutex);
                    m_data.orientation = facts.orientation;
                    m_data.shooting = facts.shooting;
                    m_data.metadataLoaded = true;
                }
                DispatchQueue::main()->async([completion] {
                    if (completion)
                        completion(std::nullopt);
                });
            });
        });
    }

    void fetchThumbnail(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), false);
    }
    void fetchPreview(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), true);
    }

    void streamItem(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue,
                    VKLFileSystemItem::StreamChunkBlock chunk, QueuePtr deliveryQueue,
                    VKLFileSystemItem::StreamCompleteBlock complete, QueuePtr completeQueue) override;

protected:
    const QString& path() const { return m_data.path; }

private:
    void fetchImage(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery, bool preview);

    mutable std::mutex m_mutex;
    ItemData m_data;
};

template <typename Base>
void OlympusItemBase<Base>::fetchImage(VKLFileSystemItem::PreflightBlock preflight,
                                       VKLFileSystemItem::ImageDeliveryBlock delivery, bool preview)
{
    auto self = this->shared_from_this();
    auto deliver = [self, delivery](std::optional<Error> error, std::optional<QByteArray> data) {
        if (error && error->code == VKLErrorGeneric)
            error = errorWithVKLErrorCode(VKLErrorReadFailed);
        if (!error && (!data || data->isEmpty()))
            error = errorWithVKLErrorCode(VKLErrorReadFailed);
        VKLLibrary::deliveryQueue()->async([self, delivery, error, data] {
            if (delivery)
                delivery(self, error, error ? std::nullopt : data);
        });
    };
    const bool raw = ImageFileTypes::kindOfFileName(m_data.name) == ImageFileTypes::Kind::raw;
    VKLLibrary::deliveryQueue()->async([self, preflight, deliver, preview, raw, session = this->session(), path = m_data.path,
                                        size = m_data.size] {
        if (preflight && !preflight(self))
            return;
        HttpRequest request;
        request.target = preview ? QStringLiteral("/get_resizeimg.cgi?DIR=%1&size=%2").arg(path).arg(OlympusCamera::previewSize())
                                 : QStringLiteral("/get_thumbnail.cgi?DIR=%1").arg(path);
        request.maximumBytes = preview ? kMaxPreview : kMaxThumbnail;
        run(session, std::move(request), [deliver, preview, raw, session, path, size](std::optional<Error> error, HttpResult result) {
            if (!error || !preview || !raw || isConnectionError(error)) {
                deliver(error, std::move(result.body));
                return;
            }
            // A camera that will not resize a RAW file: the largest JPEG embedded in its start.
            const qint64 length = size == 0 ? kRawPreviewRead : qint64(std::min<uint64_t>(size, kRawPreviewRead));
            readHead(session, path, length, [deliver](std::optional<Error> error, QByteArray head) {
                if (error) {
                    deliver(error, std::nullopt);
                    return;
                }
                DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([deliver, head] {
                    deliver(std::nullopt, CameraFileHead::largestEmbeddedJpeg(head));
                });
            });
        });
    });
}

template <typename Base>
void OlympusItemBase<Base>::streamItem(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue,
                                       VKLFileSystemItem::StreamChunkBlock chunk, QueuePtr deliveryQueue,
                                       VKLFileSystemItem::StreamCompleteBlock complete, QueuePtr completeQueue)
{
    auto stream = CameraFileStream::create(this->shared_from_this(), std::move(chunk), std::move(deliveryQueue),
                                           std::move(complete), std::move(completeQueue), m_data.size);
    stream->begin(std::move(preflight), std::move(preflightQueue), [stream, session = this->session(), path = m_data.path,
                                                                    expected = m_data.size] {
        HttpRequest request;
        request.target = path;
        // A length other than the listed size is a different file, or a short one: not a copy.
        request.headers = [expected](int status, qint64 length) {
            return status == 200 && (length < 0 || expected == 0 || uint64_t(length) == expected);
        };
        request.sink = [stream](const QByteArray& bytes) { return stream->receive(bytes); };
        run(session, std::move(request),
            [stream](std::optional<Error> error, HttpResult) { stream->end(error); },
            [stream](HandlePtr handle) {
                stream->setPauseHook([handle](bool paused) { handle->setPaused(paused); });
            });
    });
}

class OlympusFile final : public OlympusItemBase<VKLFileSystemItem> {
public:
    using OlympusItemBase::OlympusItemBase;
};

class OlympusFolder final : public ListedFolder<OlympusItemBase<VKLFileSystemFolderItem>> {
public:
    using ListedFolder::ListedFolder;

    void loadChildren(ErrorCallback completion) override
    {
        auto self = std::static_pointer_cast<OlympusFolder>(shared_from_this());
        HttpRequest request;
        request.target = QStringLiteral("/get_imglist.cgi?DIR=%1").arg(path());
        request.maximumBytes = ImageListLimits().maximumBytes;
        run(session(), std::move(request), [self, completion](std::optional<Error> error, HttpResult result) {
            auto fail = [completion](std::optional<Error> error) {
                if (!isConnectionError(error))
                    error = errorWithVKLErrorCode(VKLErrorListingFailed);
                if (completion)
                    completion(error);
            };
            if (error) {
                fail(error);
                return;
            }
            const auto parsed = parseImageList(result.body, self->path());
            if (const QString* problem = std::get_if<QString>(&parsed)) {
                qCWarning(lcOlympus).noquote() << *problem;
                fail(errorWithVKLErrorCode(VKLErrorListingFailed));
                return;
            }
            const ImageList& list = std::get<ImageList>(parsed);
            if (list.skipped > 0)
                qCInfo(lcOlympus) << "left out" << list.skipped << "unusable lines of the listing of" << self->path();
            std::vector<ItemPtr> children;
            children.reserve(list.entries.size());
            for (const ImageListEntry& entry : list.entries) {
                ItemData data;
                data.path = childPath(self->path(), entry.name);
                data.name = entry.name;
                data.size = entry.size;
                data.date = entry.date;
                if (entry.isFolder())
                    children.push_back(std::make_shared<OlympusFolder>(self->session(), self->storageRef(), data));
                else
                    children.push_back(std::make_shared<OlympusFile>(self->session(), self->storageRef(), data));
            }
            self->setChildren(std::move(children));
            if (completion)
                completion(std::nullopt);
        });
    }
};

} // namespace

// ---- Camera -------------------------------------------------------------------------------------------------

std::shared_ptr<OlympusCamera> OlympusCamera::create(OlympusCameraOptions options)
{
    return std::shared_ptr<OlympusCamera>(new OlympusCamera(std::move(options)));
}

OlympusCamera::OlympusCamera(OlympusCameraOptions options)
    : NetworkCamera(QStringLiteral("olympus"), options.host, options.port,
                    QStringLiteral("Olympus camera at %1").arg(options.host)),
      m_options(std::move(options))
{
    pollWhileConnected(m_options.pollInterval, [this] { poll(); });
}

OlympusCamera::~OlympusCamera()
{
    if (m_session && m_session->http)
        m_session->http->failAll(VKLErrorConnectionLost);
}

void OlympusCamera::closeSession(SessionEnd)
{
    if (m_session) {
        m_session->open = false;
        if (m_session->http)
            m_session->http->failAll(VKLErrorConnectionLost);
    }
}

void OlympusCamera::connectWithClientName(const QString&, ConnectCompletion completion, InterventionCallback)
{
    std::weak_ptr<OlympusCamera> weak = std::static_pointer_cast<OlympusCamera>(shared_from_this());
    DispatchQueue::main()->async([weak, completion] {
        auto camera = weak.lock();
        if (!camera || !camera->beginConnecting(completion))
            return;
        if (camera->m_session && camera->m_session->http) {
            camera->m_session->http->failAll(VKLErrorConnectionLost);
            camera->m_session->http->deleteLater();
        }
        auto session = std::make_shared<Session>();
        camera->m_session = session;
        session->http = new HttpClient(camera->m_options.host, camera->m_options.port, camera.get());
        session->open = true;
        // The session keeps this block: it names the session weakly.
        session->confirmAlive = [weak, weakSession = std::weak_ptr<Session>(session)](std::function<void(bool)> answer) {
            auto camera = weak.lock();
            if (!camera || !weakSession.lock() || camera->m_session != weakSession.lock()) {
                answer(false);
                return;
            }
            camera->confirmAlive(std::move(answer));
        };
        HttpRequest request;
        request.target = QStringLiteral("/get_caminfo.cgi");
        request.maximumBytes = kMaxCameraInfo;
        // The camera's access point answers at once or not at all; a camera that never answers is not waited for.
        request.silenceTimeout = std::chrono::milliseconds(10000);
        session->http->get(std::move(request), [weak, session](std::optional<Error> error, HttpResult result) {
            auto camera = weak.lock();
            if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
                return;
            if (error) {
                camera->finishConnecting(result.transportFailed ? errorWithVKLErrorCode(VKLErrorConnectionLost)
                                                                : errorWithVKLErrorCode(VKLErrorGeneric));
                return;
            }
            const auto model = modelFromCameraInfo(result.body);
            if (!model) {
                camera->finishConnecting(errorWithVKLErrorCode(VKLErrorGeneric));
                return;
            }
            camera->setDisplayName(*model);
            camera->switchToPlay([weak, session](std::optional<Error> error) {
                auto camera = weak.lock();
                if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
                    return;
                if (!error) {
                    auto storage = std::make_shared<CameraStorage>(weak);
                    ItemData root;
                    root.path = QStringLiteral("/DCIM");
                    root.name = QStringLiteral("DCIM");
                    root.metadataLoaded = true;
                    storage->setRoot(std::make_shared<OlympusFolder>(session, std::weak_ptr<VKLFileStorage>(storage), root));
                    camera->storages() = {storage};
                }
                camera->finishConnecting(error);
            });
        });
    });
}

void OlympusCamera::switchToPlay(std::function<void(std::optional<Error>)> done)
{
    HttpRequest request;
    request.target = QStringLiteral("/switch_cammode.cgi?mode=play");
    request.maximumBytes = kMaxCameraInfo;
    run(m_session, std::move(request), [done](std::optional<Error> error, HttpResult) {
        if (error && !isConnectionError(error))
            error = errorWithVKLErrorCode(VKLErrorCommandCategoryRefused);
        done(error);
    });
}

void OlympusCamera::poll()
{
    // A camera that answered anything lately is there.
    if (m_polling || (m_session && m_session->http && m_session->http->answeredWithin(m_options.pollInterval)))
        return;
    confirmAlive([](bool) {});
}

void OlympusCamera::confirmAlive(std::function<void(bool)> answer)
{
    if (!m_session || !m_session->http || state() == VKLConnectionState::NotConnected) {
        answer(false);
        return;
    }
    // A poll under way may have had its answer before whatever made this caller ask: it waits for the next one.
    if (m_polling) {
        m_laterPollWaiters.push_back(std::move(answer));
        return;
    }
    m_pollWaiters.push_back(std::move(answer));
    startPoll();
}

void OlympusCamera::startPoll()
{
    m_polling = true;
    HttpRequest request;
    request.target = QStringLiteral("/get_caminfo.cgi");
    request.maximumBytes = kMaxCameraInfo;
    request.silenceTimeout = m_options.pollTimeout;
    request.urgent = true;
    std::weak_ptr<OlympusCamera> weak = std::static_pointer_cast<OlympusCamera>(shared_from_this());
    auto session = m_session;
    session->http->get(std::move(request), [weak, session](std::optional<Error> error, HttpResult result) {
        auto camera = weak.lock();
        if (!camera || camera->m_session != session)
            return;
        camera->m_polling = false;
        // Any answer at all says the camera is there; only a failed connection or silence says it is gone.
        const bool alive = !error || !result.transportFailed;
        auto waiters = std::exchange(camera->m_pollWaiters, {});
        auto later = std::exchange(camera->m_laterPollWaiters, {});
        if (!alive) {
            qCInfo(lcOlympus) << "the camera at" << camera->m_options.host << "stopped answering:"
                              << error->userInfo.value(QStringLiteral("NSDebugDescription")).toString();
            camera->connectionLost();
            waiters.insert(waiters.end(), std::make_move_iterator(later.begin()), std::make_move_iterator(later.end()));
            later.clear();
        }
        for (auto& waiter : waiters)
            waiter(alive);
        if (!later.empty() && camera->state() != VKLConnectionState::NotConnected) {
            camera->m_pollWaiters = std::move(later);
            camera->startPoll();
        } else {
            for (auto& waiter : later)
                waiter(false);
        }
    });
}

void OlympusCamera::setCurrentCommandCategories(uint32_t categories, ErrorCallback callback)
{
    std::weak_ptr<OlympusCamera> weak = std::static_pointer_cast<OlympusCamera>(shared_from_this());
    DispatchQueue::main()->async([weak, categories, callback] {
        auto camera = weak.lock();
        auto answer = [callback](std::optional<Error> error) {
            if (callback)
                callback(error);
        };
        if (!camera || camera->state() != VKLConnectionState::Connected) {
            answer(errorWithVKLErrorCode(VKLErrorNotConnected));
            return;
        }
        if (!camera->supportsCommandCategories(categories)) {
            answer(errorWithVKLErrorCode(VKLErrorCommandCategoryUnsupported));
            return;
        }
        // The camera may have been put back into shooting mode on its own dial; play mode again.
        camera->switchToPlay([weak, answer](std::optional<Error> error) {
            if (auto camera = weak.lock(); camera && !error)
                camera->setCurrentCategories(VKLCommandCategoryStorageAccess);
            answer(error);
        });
    });
}

// ---- Discovery ----------------------------------------------------------------------------------------------

OlympusCameraDiscovery::OlympusCameraDiscovery(QObject* parent) : ProbingCameraDiscovery(std::chrono::milliseconds(1500), parent)
{
}

OlympusCameraDiscovery::~OlympusCameraDiscovery() = default;

void OlympusCameraDiscovery::gatherCandidates()
{
    for (const CameraAddress& listed : CameraAddresses::userListedFor(backendName(), 80))
        candidate(listed.host, listed.port);
    const quint16 gatewayPort = CameraAddresses::gatewayPort(backendName(), 80);
    for (const QString& gateway : CameraAddresses::wifiGateways())
        candidate(gateway, gatewayPort);
}

void OlympusCameraDiscovery::probe(const Candidate& candidate, ProbeAnswer answer)
{
    auto* client = new HttpClient(candidate.host, candidate.port, this);
    HttpRequest request;
    request.target = QStringLiteral("/get_caminfo.cgi");
    request.maximumBytes = kMaxCameraInfo;
    request.silenceTimeout = probeTimeout();
    client->get(std::move(request), [client, candidate = &candidate, answer](std::optional<Error> error, HttpResult result) {
        // The client is inside its own callback; it goes once that returns.
        client->deleteLater();
        if (error || !modelFromCameraInfo(result.body)) {
            answer(nullptr);
        } else if (candidate->camera) {
            answer(candidate->camera);
        } else {
            OlympusCameraOptions options;
            options.host = candidate->host;
            options.port = candidate->port;
            answer(OlympusCamera::create(options));
        }
    });
}

} // namespace vornakel
