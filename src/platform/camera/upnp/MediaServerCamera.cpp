#include "platform/camera/upnp/MediaServerCamera.h"

#include "platform/camera/network/CameraFileHead.h"
#include "platform/camera/network/CameraFileStream.h"
#include "platform/camera/network/ListedFolder.h"
#include "platform/camera/network/NetworkItem.h"
#include "platform/core/SafePathComponent.h"
#include "platform/imaging/ImageFileTypes.h"

#include <QFileInfo>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#include <atomic>
#include <mutex>

namespace vornakel {

using namespace upnp;

namespace upnp {

// What a connected camera's storage and items share. Touched on the main thread only.
struct MediaServerSession {
    QPointer<ContentDirectoryClient> client;
    bool open = false; // false once disconnected or lost: new requests fail with 1001
    std::weak_ptr<MediaServerCamera> camera;

    // A request broke at the network level: asks the camera whether it is still there.
    void checkAlive(std::function<void(bool)> then) const
    {
        auto owner = camera.lock();
        if (!owner || !open) {
            then(false);
            return;
        }
        owner->checkAlive(std::move(then));
    }
};

} // namespace upnp

namespace {

constexpr qint64 kMaxThumbnail = 4 * 1024 * 1024;
constexpr qint64 kMaxPreview = 64 * 1024 * 1024;
constexpr qsizetype kStreamChunk = 1024 * 1024;
constexpr qint64 kReadBuffer = 1024 * 1024;
// The start of a file read for its orientation and shooting settings: a JPEG's EXIF sits in its first 64 KB.
constexpr qint64 kMetadataRead = 72 * 1024;

using SessionPtr = std::shared_ptr<MediaServerSession>;

// Runs on the main thread with the session's client, or with none once the session is closed (a request made
// then fails with 1001; those in flight when the camera was lost fail with 1002).
void onMain(const SessionPtr& session, std::function<void(ContentDirectoryClient*)> work)
{
    DispatchQueue::main()->async([session, work = std::move(work)] {
        work(session->open && session->client && !session->client->failure() ? session->client.data() : nullptr);
    });
}

Error notConnected() { return errorWithVKLErrorCode(VKLErrorNotConnected); }

// The error a request reports: one that broke at the network level is the camera's loss when the camera no
// longer answers, and `failureCode` (with the cause) while it still does.
void settle(const SessionPtr& session, std::optional<Error> error, int failureCode, std::function<void(std::optional<Error>)> then)
{
    if (error && session->client && session->client->failure()) {
        then(session->client->failure());
        return;
    }
    if (!error || (error->code != VKLErrorConnectionLost && error->code != VKLErrorTimeout)) {
        then(error);
        return;
    }
    session->checkAlive([session, error, failureCode, then](bool alive) {
        if (!alive) {
            then(session->client && session->client->failure() ? *session->client->failure() : errorWithVKLErrorCode(VKLErrorConnectionLost));
            return;
        }
        Error failed = errorWithVKLErrorCode(failureCode);
        failed.message = error->message;
        then(failed);
    });
}

bool isReducedProfile(const QString& profile)
{
    return profile.startsWith(QLatin1String("JPEG_TN")) || profile == QLatin1String("JPEG_SM")
        || profile == QLatin1String("JPEG_MED") || profile.startsWith(QLatin1String("PNG_TN")) || profile.endsWith(QLatin1String("_ICO"));
}

qint64 pixelsOf(const Resource& resource)
{
    return resource.resolution ? qint64(resource.resolution->width()) * resource.resolution->height() : -1;
}

int profileRank(const QString& profile)
{
    if (profile.startsWith(QLatin1String("JPEG_TN")))
        return 1;
    if (profile == QLatin1String("JPEG_SM"))
        return 2;
    if (profile == QLatin1String("JPEG_MED"))
        return 3;
    if (profile == QLatin1String("JPEG_LRG"))
        return 4;
    return 0;
}

bool isJpeg(const Resource& resource) { return resource.mimeType == QLatin1String("image/jpeg"); }

// The resources of one item the camera serves: which one is the file, its thumbnail and its preview.
struct ItemResources {
    std::optional<Resource> original;
    QUrl thumbnail;
    QUrl preview;
    qint64 previewLimit = kMaxPreview;
};

ItemResources chooseResources(const DidlObject& object)
{
    ItemResources chosen;
    const auto& resources = object.resources;
    const Resource* original = nullptr;
    for (const Resource& each : resources) {
        if (isReducedProfile(each.dlnaProfile))
            continue;
        if (!original || each.size.value_or(0) > original->size.value_or(0)
            || (each.size.value_or(0) == original->size.value_or(0) && pixelsOf(each) > pixelsOf(*original)))
            original = &each;
    }
    if (!original && !resources.empty())
        original = &resources.front();
    if (!original)
        return chosen;
    chosen.original = *original;

    const Resource* thumbnail = nullptr;
    const Resource* preview = nullptr;
    for (const Resource& each : resources) {
        if (&each == original || !isJpeg(each))
            continue;
        if (each.dlnaProfile.startsWith(QLatin1String("JPEG_TN"))) {
            if (!thumbnail || !thumbnail->dlnaProfile.startsWith(QLatin1String("JPEG_TN")))
                thumbnail = &each;
            continue;
        }
        const auto larger = [](const Resource& a, const Resource& b) {
            return pixelsOf(a) != pixelsOf(b) ? pixelsOf(a) > pixelsOf(b) : profileRank(a.dlnaProfile) > profileRank(b.dlnaProfile);
        };
        if (!preview || larger(each, *preview))
            preview = &each;
        if (!thumbnail || (!thumbnail->dlnaProfile.startsWith(QLatin1String("JPEG_TN")) && larger(*thumbnail, each)))
            thumbnail = &each;
    }
    if (thumbnail && thumbnail->dlnaProfile.startsWith(QLatin1String("JPEG_TN")))
        chosen.thumbnail = thumbnail->url;
    else if (object.albumArt.isValid())
        chosen.thumbnail = object.albumArt;
    else if (thumbnail)
        chosen.thumbnail = thumbnail->url;
    if (preview)
        chosen.preview = preview->url;
    else if (isJpeg(*original) && original->size.value_or(0) <= quint64(kMaxPreview))
        chosen.preview = original->url;
    return chosen;
}

// A file name from the camera's title (or its URL), through the one path gate.
QString fileNameOf(const DidlObject& object, const std::optional<Resource>& original)
{
    QString name = object.title;
    if (name.isEmpty() && original)
        name = original->url.fileName();
    if (!object.isContainer && QFileInfo(name).suffix().isEmpty() && original && isJpeg(*original))
        name += QStringLiteral(".JPG");
    return safePathComponent(name);
}

// ---- Items --------------------------------------------------------------------------------------------------

template <typename Base>
class MediaServerItemBase : public NetworkItem<MediaServerSession, Base> {
public:
    MediaServerItemBase(SessionPtr session, std::weak_ptr<VKLFileStorage> storage, DidlObject object)
        : NetworkItem<MediaServerSession, Base>(std::move(session), std::move(storage)), m_object(std::move(object)),
          m_resources(chooseResources(m_object)), m_name(fileNameOf(m_object, m_resources.original))
    {
    }

    std::optional<QString> name() const override { return m_name; }
    uint64_t size() const override { return m_resources.original ? m_resources.original->size.value_or(0) : 0; }
    std::optional<QDateTime> dateCreated() const override { return m_object.date; }
    bool isKnownImageType() const override
    {
        return !m_object.isContainer && ImageFileTypes::isKnownImageName(m_name);
    }
    std::optional<int> orientation() const override
    {
        std::lock_guard lock(m_metadataMutex);
        return m_orientation;
    }
    std::optional<VKLShootingData> shootingData() const override
    {
        std::lock_guard lock(m_metadataMutex);
        return m_shooting;
    }
    bool metadataLoaded() const override
    {
        if (!isKnownImageType() || !m_resources.original)
            return true; // nothing more to read
        std::lock_guard lock(m_metadataMutex);
        return m_metadataLoaded;
    }
    // Name, size and date come with the listing; orientation and shooting settings from the EXIF at the start of
    // the original. A camera that will not give that start leaves them unknown: the walk goes on without them.
    void loadMetadata(VKLFileSystemItem::ErrorCallback completion) override
    {
        auto self = this->shared_from_this();
        const auto done = [completion](std::optional<Error> error) {
            DispatchQueue::main()->async([completion, error] {
                if (completion)
                    completion(error);
            });
        };
        if (metadataLoaded() || !isKnownImageType() || !m_resources.original) {
            setMetadata({});
            done(std::nullopt);
            return;
        }
        const qint64 length = size() == 0 ? kMetadataRead : qint64(std::min<uint64_t>(size(), kMetadataRead));
        onMain(this->session(), [this, self, done, length, session = this->session(), url = m_resources.original->url](ContentDirectoryClient* client) {
            if (!client) {
                done(notConnected());
                return;
            }
            client->getHead(url, length, [this, self, done, session](std::optional<Error> error, QByteArray head) {
                settle(session, error, VKLErrorReadFailed, [this, self, done, head](std::optional<Error> error) {
                    if (error && (error->code == VKLErrorNotConnected || error->code == VKLErrorConnectionLost)) {
                        done(error);
                        return;
                    }
                    // exiv2 is slow enough to keep off the main thread.
                    DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([this, self, done, head] {
                        setMetadata(head.isEmpty() ? CameraFileHead::ExifFacts{} : CameraFileHead::exifFacts(head));
                        done(std::nullopt);
                    });
                });
            });
        });
    }
    void fetchThumbnail(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), m_resources.thumbnail, kMaxThumbnail);
    }
    void fetchPreview(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery) override
    {
        fetchImage(std::move(preflight), std::move(delivery), m_resources.preview, m_resources.previewLimit);
    }
    void streamItem(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue,
                    VKLFileSystemItem::StreamChunkBlock chunk, QueuePtr deliveryQueue,
                    VKLFileSystemItem::StreamCompleteBlock complete, QueuePtr completeQueue) override;

protected:
    const DidlObject& object() const { return m_object; }

private:
    void fetchImage(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery,
                    QUrl url, qint64 limit)
    {
        auto self = this->shared_from_this();
        auto deliver = [self, delivery](std::optional<Error> error, std::optional<QByteArray> data) {
            VKLLibrary::deliveryQueue()->async([self, delivery, error, data] {
                if (delivery)
                    delivery(self, error, error ? std::nullopt : data);
            });
        };
        VKLLibrary::deliveryQueue()->async([self, preflight, deliver, url, limit, session = this->session()] {
            if (preflight && !preflight(self))
                return;
            onMain(session, [session, deliver, url, limit](ContentDirectoryClient* client) {
                if (!client) {
                    deliver(notConnected(), std::nullopt);
                    return;
                }
                if (!url.isValid()) {
                    Error error = errorWithVKLErrorCode(VKLErrorReadFailed);
                    error.message = QStringLiteral("the camera lists no such image for this file");
                    deliver(error, std::nullopt);
                    return;
                }
                client->get(url, limit, [session, deliver](std::optional<Error> error, QByteArray data) {
                    if (!error && data.isEmpty())
                        error = errorWithVKLErrorCode(VKLErrorReadFailed);
                    settle(session, error, VKLErrorReadFailed, [deliver, data](std::optional<Error> error) {
                        deliver(error, data);
                    });
                });
            });
        });
    }

    void setMetadata(const CameraFileHead::ExifFacts& facts)
    {
        std::lock_guard lock(m_metadataMutex);
        if (m_metadataLoaded)
            return;
        m_orientation = facts.orientation;
        m_shooting = facts.shooting;
        m_metadataLoaded = true;
    }

    DidlObject m_object;
    ItemResources m_resources;
    QString m_name;
    mutable std::mutex m_metadataMutex;
    std::optional<int> m_orientation;
    std::optional<VKLShootingData> m_shooting;
    bool m_metadataLoaded = false;
};

// A stream's reading side: the GET of the original, read as the chunk block takes it. Main thread.
struct StreamState {
    std::shared_ptr<CameraFileStream> stream;
    SessionPtr session;
    QUrl url;
    uint64_t expected = 0; // 0: not known
    QPointer<QNetworkReply> reply;
    bool replyFinished = false;
    bool paused = false;
    bool ended = false;
};

void closeReply(StreamState& state)
{
    if (!state.reply)
        return;
    if (!state.replyFinished)
        state.reply->abort();
    state.reply->deleteLater();
}

// Ends the stream with the GET's own error: one that broke at the network level, or a body that ended early
// without one (a reset can read as the end of the body), is the camera's loss when the camera no longer answers.
void endStream(const std::shared_ptr<StreamState>& state, std::optional<Error> error)
{
    if (state->ended)
        return;
    state->ended = true;
    closeReply(*state);
    const uint64_t received = state->stream->received();
    if (!error && state->expected != 0 && received < state->expected) {
        Error early = errorWithVKLErrorCode(VKLErrorConnectionLost);
        early.message = QStringLiteral("%1: %2 bytes arrived, the camera lists %3").arg(state->url.toString()).arg(received).arg(state->expected);
        error = early;
    }
    settle(state->session, error, VKLErrorReadFailed, [stream = state->stream](std::optional<Error> error) { stream->end(error); });
}

void drain(const std::shared_ptr<StreamState>& state)
{
    QNetworkReply* reply = state->reply;
    while (reply && !state->ended && !state->paused && reply->isOpen() && reply->bytesAvailable() > 0) {
        if (!state->stream->receive(reply->read(std::min<qint64>(reply->bytesAvailable(), kStreamChunk)))) {
            // Stopped by the chunk block, or more bytes than listed: the stream knows why.
            state->ended = true;
            closeReply(*state);
            state->stream->end(std::nullopt);
            return;
        }
    }
    const bool unread = reply && reply->isOpen() && reply->bytesAvailable() > 0;
    if (state->replyFinished && !unread)
        endStream(state, reply ? ContentDirectoryClient::errorOfReply(reply, VKLErrorReadFailed) : std::nullopt);
}

template <typename Base>
void MediaServerItemBase<Base>::streamItem(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue,
                                           VKLFileSystemItem::StreamChunkBlock chunk, QueuePtr deliveryQueue,
                                           VKLFileSystemItem::StreamCompleteBlock complete, QueuePtr completeQueue)
{
    auto state = std::make_shared<StreamState>();
    state->stream = CameraFileStream::create(this->shared_from_this(), std::move(chunk), std::move(deliveryQueue),
                                             std::move(complete), std::move(completeQueue), size());
    state->session = this->session();
    state->expected = size();
    if (m_resources.original)
        state->url = m_resources.original->url;
    std::weak_ptr<StreamState> weak = state;
    // Reading pauses by not reading: the reply's bounded buffer then holds the socket back.
    state->stream->setPauseHook([weak](bool paused) {
        if (auto state = weak.lock()) {
            state->paused = paused;
            if (!paused)
                drain(state);
        }
    });
    state->stream->begin(std::move(preflight), std::move(preflightQueue), [state] {
        DispatchQueue::main()->async([state] {
            ContentDirectoryClient* client = state->session->open && state->session->client && !state->session->client->failure()
                ? state->session->client.data()
                : nullptr;
            if (!client) {
                state->ended = true;
                state->stream->end(notConnected());
                return;
            }
            QNetworkReply* reply = client->openStream(state->url);
            state->reply = reply;
            reply->setReadBufferSize(kReadBuffer);
            QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [state, reply] {
                const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
                const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (status == 200 && state->expected != 0 && length.isValid() && length.toULongLong() != state->expected) {
                    Error error = errorWithVKLErrorCode(VKLErrorReadFailed);
                    error.message = QStringLiteral("%1: the camera sends %2 bytes and lists %3")
                                        .arg(state->url.toString()).arg(length.toULongLong()).arg(state->expected);
                    endStream(state, error);
                }
            });
            QObject::connect(reply, &QNetworkReply::readyRead, reply, [state] { drain(state); });
            QObject::connect(reply, &QNetworkReply::finished, reply, [state] {
                state->replyFinished = true;
                drain(state);
            });
        });
    });
}

class MediaServerFile final : public MediaServerItemBase<VKLFileSystemItem> {
public:
    using MediaServerItemBase::MediaServerItemBase;
};

class MediaServerFolder final : public ListedFolder<MediaServerItemBase<VKLFileSystemFolderItem>> {
public:
    using ListedFolder::ListedFolder;

    void loadChildren(ErrorCallback completion) override
    {
        auto self = std::static_pointer_cast<MediaServerFolder>(shared_from_this());
        onMain(session(), [self, completion](ContentDirectoryClient* client) {
            if (!client) {
                if (completion)
                    completion(notConnected());
                return;
            }
            client->browseChildren(self->object().id, [self, completion](std::optional<Error> error, std::vector<DidlObject> objects) {
                if (error) {
                    settle(self->session(), error, VKLErrorListingFailed, [completion](std::optional<Error> error) {
                        if (completion)
                            completion(error);
                    });
                    return;
                }
                std::vector<ItemPtr> children;
                children.reserve(objects.size());
                for (DidlObject& object : objects) {
                    if (object.isContainer)
                        children.push_back(std::make_shared<MediaServerFolder>(self->session(), self->storageRef(), std::move(object)));
                    else if (!object.resources.empty())
                        children.push_back(std::make_shared<MediaServerFile>(self->session(), self->storageRef(), std::move(object)));
                }
                self->setChildren(std::move(children));
                if (completion)
                    completion(std::nullopt);
            });
        });
    }
};

} // namespace

// ---- Camera -------------------------------------------------------------------------------------------------

std::shared_ptr<MediaServerCamera> MediaServerCamera::create(MediaServerCameraOptions options)
{
    return std::shared_ptr<MediaServerCamera>(new MediaServerCamera(std::move(options)));
}

MediaServerCamera::MediaServerCamera(MediaServerCameraOptions options)
    : NetworkCamera(options.identifierScheme, options.descriptionUrl.host(), quint16(options.descriptionUrl.port(80)),
                    QString()),
      m_options(std::move(options))
{
    m_network = new QNetworkAccessManager(this);
    // A camera's access point is reached directly, never through the desktop's proxy.
    m_network->setProxy(QNetworkProxy::NoProxy);
    pollWhileConnected(m_options.pollInterval, [this] { pollNow(); });
}

MediaServerCamera::~MediaServerCamera()
{
    if (m_session && m_session->client)
        m_session->client->failAll(errorWithVKLErrorCode(VKLErrorNotConnected));
}

void MediaServerCamera::prepareConnection(const QString&, const InterventionCallback&, std::function<void(std::optional<Error>)> done)
{
    QTimer::singleShot(0, this, [done] { done(std::nullopt); });
}

void MediaServerCamera::connectWithClientName(const QString& clientName, ConnectCompletion completion,
                                              InterventionCallback userIntervention)
{
    std::weak_ptr<MediaServerCamera> weak = std::static_pointer_cast<MediaServerCamera>(shared_from_this());
    DispatchQueue::main()->async([weak, clientName, completion, userIntervention] {
        auto camera = weak.lock();
        if (!camera) {
            if (completion)
                completion(notConnected(), {});
            return;
        }
        if (!camera->beginConnecting(completion))
            return;
        auto session = std::make_shared<MediaServerSession>();
        session->camera = weak;
        camera->m_session = session;
        camera->prepareConnection(clientName, userIntervention, [weak, session](std::optional<Error> error) {
            auto camera = weak.lock();
            if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
                return;
            if (error)
                camera->finishConnecting(error);
            else
                camera->openMediaServer();
        });
    });
}

void MediaServerCamera::openMediaServer()
{
    auto session = m_session;
    std::weak_ptr<MediaServerCamera> weak = std::static_pointer_cast<MediaServerCamera>(shared_from_this());
    auto open = [weak, session](const DeviceDescription& description) {
        auto camera = weak.lock();
        if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
            return;
        const auto contentDirectory = description.contentDirectory();
        if (!contentDirectory) {
            Error error = errorWithVKLErrorCode(VKLErrorCommandCategoryUnsupported);
            error.message = QStringLiteral("%1 has no ContentDirectory service").arg(camera->m_options.descriptionUrl.toString());
            camera->finishConnecting(error);
            return;
        }
        camera->m_options.description = description;
        session->client = new ContentDirectoryClient(camera->m_network, contentDirectory->controlUrl,
                                                     camera->m_options.contentDirectory, camera.get());
        session->open = true;
        auto storage = std::make_shared<CameraStorage>(weak);
        DidlObject root;
        root.isContainer = true;
        root.id = camera->m_options.rootObjectId;
        storage->setRoot(std::make_shared<MediaServerFolder>(session, std::weak_ptr<VKLFileStorage>(storage), root));
        camera->storages() = {storage};
        camera->finishConnecting(std::nullopt);
    };
    if (m_options.description) {
        open(*m_options.description);
        return;
    }
    ContentDirectoryClient::fetchDescription(
        m_network, m_options.descriptionUrl, m_options.descriptionTimeout, this,
        [this, session, open](std::optional<Error> error, std::optional<DeviceDescription> description) {
            if (m_session != session || state() != VKLConnectionState::Connecting)
                return;
            if (error || !description)
                finishConnecting(error ? error : std::optional(errorWithVKLErrorCode(VKLErrorGeneric)));
            else
                open(*description);
        });
}

void MediaServerCamera::closeSession(SessionEnd how)
{
    if (m_session) {
        m_session->open = false;
        if (m_session->client)
            m_session->client->failAll(errorWithVKLErrorCode(how == SessionEnd::Lost ? VKLErrorConnectionLost : VKLErrorNotConnected));
    }
}

void MediaServerCamera::poll(std::function<void(bool)> done)
{
    ContentDirectoryClient::fetchDescription(
        m_network, m_options.descriptionUrl, m_options.pollTimeout, this,
        [done](std::optional<Error> error, std::optional<DeviceDescription>) {
            done(!error || (error->code != VKLErrorConnectionLost && error->code != VKLErrorTimeout));
        });
}

void MediaServerCamera::pollNow() { checkAlive({}); }

void MediaServerCamera::checkAlive(std::function<void(bool)> then)
{
    if (state() != VKLConnectionState::Connected) {
        if (then)
            then(false);
        return;
    }
    // A poll under way may have had its answer before whatever made this caller ask: it waits for the next one.
    if (m_polling) {
        if (then)
            m_laterPollWaiters.push_back(std::move(then));
        return;
    }
    if (then)
        m_pollWaiters.push_back(std::move(then));
    startPoll();
}

void MediaServerCamera::startPoll()
{
    m_polling = true;
    auto session = m_session;
    poll([this, session](bool alive) {
        m_polling = false;
        if (!alive && m_session == session)
            connectionLost();
        const bool answer = alive && m_session == session && state() == VKLConnectionState::Connected;
        auto waiters = std::exchange(m_pollWaiters, {});
        auto later = std::exchange(m_laterPollWaiters, {});
        if (!answer) {
            waiters.insert(waiters.end(), std::make_move_iterator(later.begin()), std::make_move_iterator(later.end()));
            later.clear();
        }
        for (const auto& waiter : waiters)
            waiter(answer);
        if (later.empty())
            return;
        if (state() == VKLConnectionState::Connected && !m_polling) {
            m_pollWaiters = std::move(later);
            startPoll();
        } else if (m_polling) {
            // A waiter answered above started the next poll already; the later ones wait for it.
            m_pollWaiters.insert(m_pollWaiters.end(), std::make_move_iterator(later.begin()), std::make_move_iterator(later.end()));
        } else {
            for (const auto& waiter : later)
                waiter(false);
        }
    });
}

std::optional<QString> MediaServerCamera::friendlyDisplayName() const
{
    if (!m_options.displayName.isEmpty())
        return m_options.displayName;
    if (m_options.description && !m_options.description->friendlyName.isEmpty())
        return truncatedToUtf8Bytes(m_options.description->friendlyName.simplified(), 128);
    return QStringLiteral("Camera at %1").arg(m_options.descriptionUrl.host());
}

} // namespace vornakel
