#include "platform/camera/ptpip/PtpIpCamera.h"

#include "platform/camera/CameraAddresses.h"
#include "platform/camera/network/CameraFileHead.h"
#include "platform/camera/network/CameraFileStream.h"
#include "platform/camera/network/ListedFolder.h"
#include "platform/camera/network/NetworkItem.h"
#include "platform/camera/dnssd/AvahiServiceBrowser.h"
#include "platform/camera/ssdp/SsdpSearch.h"
#include "platform/core/UserDefaults.h"
#include "platform/imaging/ImageFileTypes.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace vornakel {

using namespace ptpip;

namespace ptpip {

// What a connected camera's storages and items share. Touched on the main thread only.
struct Session {
    QPointer<PtpIpConnection> connection;
    DeviceInfo deviceInfo;
    bool open = false; // false once disconnected or lost: new requests fail with 1001
    std::set<uint32_t> removedStorages; // cards taken out: requests on them fail at once
    // Objects the camera said it deleted: requests on them fail at once, and listings leave them out (a camera
    // may still list an object for a moment after it reported it gone). Bounded: see `noteObjectRemoved`.
    std::unordered_set<uint32_t> removedObjects;
    uint32_t widePartSize = 32 * 1024 * 1024;
};

} // namespace ptpip

namespace {

constexpr qint64 kMaxThumbnail = 4 * 1024 * 1024;
constexpr qint64 kMaxJpegPreview = 64 * 1024 * 1024;
// RAW files keep their previews near the start; this much is read to find the largest.
constexpr qint64 kRawPreviewRead = 8 * 1024 * 1024;
constexpr uint32_t kSessionId = 1;
// An ObjectInfo dataset is a few hundred bytes; a camera sending more is broken.
constexpr qint64 kMaxObjectInfo = 64 * 1024;
// An object's properties in a GetObjectPropList reply take about 200 bytes; this much per object is plenty.
constexpr qint64 kMaxPropListPerObject = 4 * 1024;
constexpr qint64 kMaxPropList = 64 * 1024 * 1024;
// The start of an image file read for its orientation and shooting data: a JPEG keeps them in its APP1
// segment, which is at most 64 KiB, and TIFF-based RAW files in the first directories.
constexpr qint64 kMetadataHead = 64 * 1024 + 256;
constexpr uint32_t kSizeUnknown32 = 0xFFFFFFFF;

// Thumbnails and previews: the grid and the preview wait for them, the walk's listings and reads can wait.
constexpr auto kOnScreen = PtpIpConnection::Priority::onScreen;

using SessionPtr = std::shared_ptr<Session>;
using Completion = PtpIpConnection::Completion;

// What requests on a card that was taken out end with.
Error cardRemovedError()
{
    Error error = errorWithVKLErrorCode(VKLErrorFileNotFound);
    error.message = QStringLiteral("The memory card was taken out of the camera.");
    return error;
}

// What requests on a file deleted on the camera end with.
Error objectRemovedError()
{
    Error error = errorWithVKLErrorCode(VKLErrorFileNotFound);
    error.message = QStringLiteral("The file was deleted on the camera.");
    return error;
}

// The object an operation reads or lists, or 0 when it names none.
uint32_t objectOfOperation(uint16_t code, const std::vector<uint32_t>& parameters)
{
    const auto parameter = [&](size_t index) { return index < parameters.size() ? parameters[index] : 0u; };
    switch (code) {
    case OpGetObjectInfo:
    case OpGetObject:
    case OpGetThumb:
    case OpGetPartialObject:
    case OpGetPartialObject64:
    case OpGetObjectPropValue:
    case OpGetObjectPropList:
    case OpNikonGetObjectSize:
    case OpNikonGetPartialObjectEx:
        return parameter(0);
    case OpGetObjectHandles: {
        const uint32_t parent = parameter(2);
        return parent == kRootParent ? 0 : parent;
    }
    default:
        return 0;
    }
}

// Runs an operation on the session's connection, from any thread; the completion runs on the main thread.
// `storageId` names the storage it reads (0: none): once that card is out it fails at once.
void run(const SessionPtr& session, uint16_t code, std::vector<uint32_t> parameters, Completion completion,
         PtpIpConnection::DataSink sink = {}, qint64 maxData = 8 * 1024 * 1024, uint32_t storageId = 0,
         PtpIpConnection::Priority priority = PtpIpConnection::Priority::normal, PtpIpConnection::DataRoom room = {})
{
    DispatchQueue::main()->async([session, code, parameters = std::move(parameters), completion = std::move(completion),
                                  sink = std::move(sink), maxData, storageId, priority, room = std::move(room)]() mutable {
        if (!session->open || !session->connection) {
            completion(errorWithVKLErrorCode(VKLErrorNotConnected), {});
            return;
        }
        if (storageId != 0 && session->removedStorages.count(storageId)) {
            completion(cardRemovedError(), {});
            return;
        }
        if (const uint32_t object = objectOfOperation(code, parameters); object != 0 && session->removedObjects.count(object)) {
            completion(objectRemovedError(), {});
            return;
        }
        session->connection->transact(code, std::move(parameters), std::move(completion), std::move(sink), maxData,
                                      storageId, priority, std::move(room));
    });
}

bool isConnectionError(const std::optional<Error>& error)
{
    return error && (error->code == VKLErrorNotConnected || error->code == VKLErrorConnectionLost);
}

bool isImageFormat(uint16_t format) { return format >= FormatUndefinedImage && format <= 0x38FF; }

// ---- Items --------------------------------------------------------------------------------------------------

struct ObjectData {
    uint32_t storageId = 0;
    uint32_t handle = 0; // kRootParent for a storage's root
    std::optional<ObjectInfo> info;
    std::optional<uint64_t> wideSize; // the size of an object of 4 GiB or more, where the camera tells it
    bool headRead = false;            // the file's start was looked at for orientation and shooting data
    std::optional<int> orientation;
    std::optional<VKLShootingData> shooting;
};

// Asks a camera that offers a way to for the 64-bit size of an object whose ObjectInfo says 4 GiB or more.
void fetchWideSize(const SessionPtr& session, uint32_t storageId, uint32_t handle,
                   std::function<void(std::optional<uint64_t>)> done)
{
    const DeviceInfo& device = session->deviceInfo;
    const auto decoded = [done](std::optional<Error> error, TransactionResult result) {
        done(error ? std::nullopt : decodeUint64(result.data));
    };
    if (device.supportsOperation(OpGetObjectPropValue))
        run(session, OpGetObjectPropValue, {handle, ObjectPropSize}, decoded, {}, 64, storageId);
    else if (device.supportsOperation(OpNikonGetObjectSize))
        run(session, OpNikonGetObjectSize, {handle}, decoded, {}, 64, storageId);
    else
        DispatchQueue::main()->async([done] { done(std::nullopt); });
}

// The 64-bit partial read the camera offers, or 0.
uint16_t widePartialRead(const DeviceInfo& device)
{
    if (device.supportsOperation(OpGetPartialObject64))
        return OpGetPartialObject64;
    if (device.supportsOperation(OpNikonGetPartialObjectEx))
        return OpNikonGetPartialObjectEx;
    return 0;
}

class PtpIpStorage;

template <typename Base>
class PtpIpItemBase : public NetworkItem<Session, Base> {
public:
    PtpIpItemBase(SessionPtr session, std::weak_ptr<VKLFileStorage> storage, ObjectData data)
        : NetworkItem<Session, Base>(std::move(session), std::move(storage)), m_data(std::move(data))
    {
    }

    std::optional<QString> name() const override
    {
        std::lock_guard lock(m_mutex);
        if (!m_data.info)
            return std::nullopt;
        return m_data.info->filename;
    }
    uint64_t size() const override
    {
        std::lock_guard lock(m_mutex);
        return sizeLocked();
    }
    std::optional<QDateTime> dateCreated() const override
    {
        std::lock_guard lock(m_mutex);
        if (!m_data.info)
            return std::nullopt;
        if (auto date = parsePtpDate(m_data.info->captureDate))
            return date;
        return parsePtpDate(m_data.info->modificationDate);
    }
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
    bool isKnownImageType() const override
    {
        std::lock_guard lock(m_mutex);
        return isKnownImageLocked();
    }
    // Name, size and date come with the listing; an image file's orientation and shooting data with
    // loadMetadata, from the file's start, where the camera offers partial reads.
    bool metadataLoaded() const override
    {
        std::lock_guard lock(m_mutex);
        return m_data.info.has_value() && (m_data.headRead || !wantsHeadLocked());
    }
    void loadMetadata(VKLFileSystemItem::ErrorCallback completion) override
    {
        auto self = this->shared_from_this();
        if (metadataLoaded() || m_data.handle == kRootParent) {
            DispatchQueue::main()->async([completion] {
                if (completion)
                    completion(std::nullopt);
            });
            return;
        }
        bool haveInfo = false;
        {
            std::lock_guard lock(m_mutex);
            haveInfo = m_data.info.has_value();
        }
        if (haveInfo) {
            readHead(std::move(completion));
            return;
        }
        run(this->session(), OpGetObjectInfo, {m_data.handle}, [this, self, completion](std::optional<Error> error, TransactionResult result) {
            if (!error) {
                auto info = decodeObjectInfo(result.data);
                if (!info) {
                    error = errorWithVKLErrorCode(VKLErrorMetadataUnavailable);
                } else {
                    std::lock_guard lock(m_mutex);
                    m_data.info = std::move(info);
                }
            }
            if (error && error->code == VKLErrorGeneric)
                error = errorWithVKLErrorCode(VKLErrorMetadataUnavailable);
            if (error || metadataLoaded()) {
                if (completion)
                    completion(error);
                return;
            }
            readHead(completion);
        }, {}, kMaxObjectInfo, m_data.storageId);
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
    uint32_t handle() const { return m_data.handle; }
    uint32_t storageId() const { return m_data.storageId; }

private:
    uint64_t sizeLocked() const
    {
        if (m_data.wideSize)
            return *m_data.wideSize;
        return m_data.info && m_data.info->compressedSize != kSizeUnknown32 ? m_data.info->compressedSize : 0;
    }
    bool isKnownImageLocked() const
    {
        if (!m_data.info || m_data.info->format == FormatAssociation)
            return false;
        // RAW files come with the undefined format: their names tell.
        return ImageFileTypes::isKnownImageName(m_data.info->filename)
            || (isImageFormat(m_data.info->format) && m_data.info->format != FormatUndefinedImage);
    }
    bool wantsHeadLocked() const
    {
        return isKnownImageLocked() && this->session()->deviceInfo.supportsOperation(OpGetPartialObject);
    }
    // Reads the file's start for its orientation and shooting data (exiv2 works off the main thread). A file
    // whose start says nothing still has its metadata: only a lost connection or a card taken out fail.
    void readHead(VKLFileSystemItem::ErrorCallback completion)
    {
        auto self = this->shared_from_this();
        const uint64_t size = this->size();
        const uint32_t length = uint32_t(size == 0 ? kMetadataHead : std::min<uint64_t>(size, kMetadataHead));
        run(this->session(), OpGetPartialObject, {m_data.handle, 0, length},
            [this, self, completion](std::optional<Error> error, TransactionResult result) {
                if (isConnectionError(error) || (error && error->code == VKLErrorFileNotFound)) {
                    if (completion)
                        completion(error);
                    return;
                }
                DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([this, self, completion, error, data = result.data] {
                    const CameraFileHead::ExifFacts found = error ? CameraFileHead::ExifFacts{} : CameraFileHead::exifFacts(data);
                    {
                        std::lock_guard lock(m_mutex);
                        m_data.orientation = found.orientation;
                        m_data.shooting = found.shooting;
                        m_data.headRead = true;
                    }
                    DispatchQueue::main()->async([completion] {
                        if (completion)
                            completion(std::nullopt);
                    });
                });
            }, {}, length, m_data.storageId);
    }

    void fetchImage(VKLFileSystemItem::PreflightBlock preflight, VKLFileSystemItem::ImageDeliveryBlock delivery, bool preview);

    mutable std::mutex m_mutex;
    ObjectData m_data;
};

template <typename Base>
void PtpIpItemBase<Base>::fetchImage(VKLFileSystemItem::PreflightBlock preflight,
                                     VKLFileSystemItem::ImageDeliveryBlock delivery, bool preview)
{
    auto self = this->shared_from_this();
    auto deliver = [self, delivery](std::optional<Error> error, std::optional<QByteArray> data) {
        VKLLibrary::deliveryQueue()->async([self, delivery, error, data] {
            if (delivery)
                delivery(self, error, error ? std::nullopt : data);
        });
    };
    const auto name = this->name().value_or(QString());
    const uint64_t size = this->size();
    std::optional<uint16_t> format;
    {
        std::lock_guard lock(m_mutex);
        if (m_data.info)
            format = m_data.info->format;
    }
    VKLLibrary::deliveryQueue()->async([self, preflight, deliver, preview, name, size, format, session = this->session(),
                                        handle = m_data.handle, storage = m_data.storageId] {
        if (preflight && !preflight(self))
            return;
        const auto failed = [deliver](int code) { deliver(errorWithVKLErrorCode(code), std::nullopt); };
        if (!preview) {
            run(session, OpGetThumb, {handle}, [deliver, failed](std::optional<Error> error, TransactionResult result) {
                if (error)
                    deliver(error->code == VKLErrorGeneric ? errorWithVKLErrorCode(VKLErrorReadFailed) : *error, std::nullopt);
                else if (result.data.isEmpty())
                    failed(VKLErrorReadFailed);
                else
                    deliver(std::nullopt, result.data);
            }, {}, kMaxThumbnail, storage, kOnScreen);
            return;
        }
        const bool jpeg = format == FormatExifJpeg || format == FormatJfif
            || ImageFileTypes::kindOfFileName(name) == ImageFileTypes::Kind::jpeg;
        if (jpeg) {
            if (size > uint64_t(kMaxJpegPreview)) {
                failed(VKLErrorReadFailed);
                return;
            }
            run(session, OpGetObject, {handle}, [deliver](std::optional<Error> error, TransactionResult result) {
                deliver(error, result.data);
            }, {}, kMaxJpegPreview, storage, kOnScreen);
            return;
        }
        // A RAW (or other) file: its embedded preview, from a bounded read of its start.
        const uint32_t length = uint32_t(size == 0 ? kRawPreviewRead : std::min<uint64_t>(size, kRawPreviewRead));
        const bool partial = session->deviceInfo.supportsOperation(OpGetPartialObject);
        auto extract = [deliver](std::optional<Error> error, TransactionResult result) {
            if (error) {
                deliver(error, std::nullopt);
                return;
            }
            // exiv2 works off the main thread.
            DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([deliver, data = result.data] {
                const auto jpeg = CameraFileHead::largestEmbeddedJpeg(data);
                if (jpeg)
                    deliver(std::nullopt, *jpeg);
                else
                    deliver(errorWithVKLErrorCode(VKLErrorReadFailed), std::nullopt);
            });
        };
        if (partial) {
            run(session, OpGetPartialObject, {handle, 0, length}, extract, {}, length, storage, kOnScreen);
        } else {
            // Without partial reads the object's data phase is cut after the bytes we want.
            auto gathered = std::make_shared<QByteArray>();
            run(session, OpGetObject, {handle},
                [extract, gathered](std::optional<Error> error, TransactionResult result) {
                    if (error && error->code == VKLErrorCancelled)
                        error.reset();
                    result.data = *gathered;
                    extract(error, std::move(result));
                },
                [gathered, length](QByteArrayView bytes) {
                    gathered->append(bytes.first(std::min(bytes.size(), qsizetype(length) - gathered->size())));
                    return gathered->size() < qsizetype(length);
                }, 8 * 1024 * 1024, storage, kOnScreen);
        }
    });
}

// Reads the stream's next part: the whole object with GetObject, or from what came so far on with the 64-bit
// partial read `wideRead`. Main thread.
void requestStreamPart(const std::shared_ptr<CameraFileStream>& stream, const SessionPtr& session, uint32_t handle,
                       uint32_t storageId, uint16_t wideRead, uint64_t expected)
{
    const uint64_t offset = stream->received();
    const uint16_t code = wideRead ? wideRead : uint16_t(OpGetObject);
    std::vector<uint32_t> parameters = wideRead ? partialRead64Parameters(wideRead, handle, offset, session->widePartSize)
                                                : std::vector<uint32_t>{handle};
    run(session, code, std::move(parameters),
        [stream, session, handle, storageId, wideRead, expected, offset](std::optional<Error> error, TransactionResult) {
            // A part that came whole, short of the object's end: the next one follows (a stop shows in it).
            if (!error && wideRead && stream->received() - offset == session->widePartSize
                && (expected == 0 || stream->received() < expected)) {
                requestStreamPart(stream, session, handle, storageId, wideRead, expected);
                return;
            }
            stream->end(error);
        },
        [stream](QByteArrayView bytes) { return stream->receive(bytes); }, 8 * 1024 * 1024, storageId,
        PtpIpConnection::Priority::normal,
        // The file's bytes are read from the socket straight into the chunks handed to the copy.
        PtpIpConnection::DataRoom{[stream](qsizetype wanted) { return stream->room(wanted); },
                                  [stream](qsizetype count) { return stream->receivedInRoom(count); }});
}

template <typename Base>
void PtpIpItemBase<Base>::streamItem(VKLFileSystemItem::StreamPreflightBlock preflight, QueuePtr preflightQueue,
                                     VKLFileSystemItem::StreamChunkBlock chunk, QueuePtr deliveryQueue,
                                     VKLFileSystemItem::StreamCompleteBlock complete, QueuePtr completeQueue)
{
    uint64_t expected = 0;
    bool wide = false;
    {
        std::lock_guard lock(m_mutex);
        expected = sizeLocked();
        wide = m_data.info && m_data.info->compressedSize == kSizeUnknown32;
    }
    auto stream = CameraFileStream::create(this->shared_from_this(), std::move(chunk), std::move(deliveryQueue),
                                           std::move(complete), std::move(completeQueue), expected);
    stream->begin(std::move(preflight), std::move(preflightQueue),
                  [stream, session = this->session(), handle = m_data.handle, storage = m_data.storageId, wide, expected] {
        DispatchQueue::main()->async([stream, session, handle, storage, wide, expected] {
            QPointer<PtpIpConnection> connection = session->connection;
            stream->setPauseHook([connection](bool paused) {
                if (connection)
                    connection->setReadingPaused(paused);
            });
            // An object of 4 GiB or more: GetObject's 32-bit counts would wrap on many cameras and make a wrong
            // copy, so it takes a 64-bit partial read or fails plainly.
            uint16_t wideRead = 0;
            if (wide) {
                wideRead = widePartialRead(session->deviceInfo);
                if (!wideRead) {
                    Error error = errorWithVKLErrorCode(VKLErrorReadFailed);
                    error.message = QStringLiteral("The file is 4 GB or larger, and the camera offers no way to read "
                                                   "files that large over the network.");
                    stream->end(error);
                    return;
                }
            }
            requestStreamPart(stream, session, handle, storage, wideRead, expected);
        });
    });
}

class PtpIpFile final : public PtpIpItemBase<VKLFileSystemItem> {
public:
    using PtpIpItemBase::PtpIpItemBase;
};

class PtpIpFolder final : public ListedFolder<PtpIpItemBase<VKLFileSystemFolderItem>> {
public:
    using ListedFolder::ListedFolder;

    void loadChildren(ErrorCallback completion) override
    {
        auto self = std::static_pointer_cast<PtpIpFolder>(shared_from_this());
        const uint32_t parent = handle();
        const uint32_t storage = storageId();
        const auto failed = [completion](std::optional<Error> error) {
            if (error && error->code != VKLErrorNotConnected && error->code != VKLErrorConnectionLost
                && error->code != VKLErrorFileNotFound)
                error = errorWithVKLErrorCode(VKLErrorListingFailed);
            if (completion)
                completion(error);
        };
        run(session(), OpGetObjectHandles, {storage, 0, parent},
            [self, parent, storage, completion, failed](std::optional<Error> error, TransactionResult result) {
                auto handles = error ? std::nullopt : decodeUint32Array(result.data);
                if (!handles) {
                    failed(error ? error : std::optional(errorWithVKLErrorCode(VKLErrorListingFailed)));
                    return;
                }
                auto gather = std::make_shared<Gather>();
                gather->handles = std::move(*handles);
                gather->objects.resize(gather->handles.size());
                gather->completion = completion;
                gather->failed = failed;
                // A folder's objects in one reply where the camera lists them so (the root's few are asked one
                // by one: cameras differ in what a list of the root covers).
                if (parent != kRootParent && !gather->handles.empty()
                    && self->session()->deviceInfo.supportsOperation(OpGetObjectPropList)) {
                    const qint64 bound = std::min<qint64>(kMaxPropList, 64 * 1024 + qint64(gather->handles.size()) * kMaxPropListPerObject);
                    run(self->session(), OpGetObjectPropList, {parent, 0, kAllObjectProperties, 0, 1},
                        [self, gather](std::optional<Error> error, TransactionResult result) {
                            if (isConnectionError(error) || (error && error->code == VKLErrorFileNotFound)) {
                                gather->failed(error);
                                return;
                            }
                            // Decoding thousands of objects is no work for the GUI thread.
                            DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([self, gather, error, data = result.data] {
                                if (!error)
                                    gather->take(decodeObjectPropList(data));
                                DispatchQueue::main()->async([self, gather] { self->completeObjects(gather); });
                            });
                        }, {}, bound, storage);
                    return;
                }
                self->completeObjects(gather);
            }, {}, 8 * 1024 * 1024, storage);
    }

private:
    struct Gather {
        std::vector<uint32_t> handles;
        std::vector<ObjectData> objects; // by the handles' order; no info yet: still to ask for
        size_t left = 0;
        std::optional<Error> error;
        ErrorCallback completion;
        std::function<void(std::optional<Error>)> failed;

        // Takes what a property list gave for the listed handles; others stay to be asked for.
        void take(const std::optional<std::vector<ObjectProperties>>& list)
        {
            if (!list)
                return;
            std::unordered_map<uint32_t, const ObjectProperties*> byHandle;
            for (const ObjectProperties& each : *list)
                byHandle.emplace(each.handle, &each);
            for (size_t i = 0; i < handles.size(); ++i) {
                const auto found = byHandle.find(handles[i]);
                if (found == byHandle.end())
                    continue;
                // A file without its size or a date is asked for again: the day it goes under depends on it.
                const ObjectProperties& listed = *found->second;
                const bool folder = listed.format == FormatAssociation;
                if (!folder && (!listed.size || (!listed.dateCreated && !listed.dateModified)))
                    continue;
                objects[i].info = listed.toObjectInfo();
                if (found->second->size && *found->second->size >= kSizeUnknown32)
                    objects[i].wideSize = found->second->size;
            }
        }
    };

    // Asks for what the listing still lacks (ObjectInfo, and the size of objects of 4 GiB or more), then
    // makes the children.
    void completeObjects(const std::shared_ptr<Gather>& gather)
    {
        auto self = std::static_pointer_cast<PtpIpFolder>(shared_from_this());
        const uint32_t storage = storageId();
        std::vector<size_t> missing;
        for (size_t i = 0; i < gather->handles.size(); ++i) {
            if (!gather->objects[i].info)
                missing.push_back(i);
        }
        gather->left = missing.size() + 1;
        const auto oneDone = [self, gather] {
            if (--gather->left == 0)
                self->makeChildren(*gather);
        };
        for (size_t i : missing) {
            run(session(), OpGetObjectInfo, {gather->handles[i]},
                [self, gather, i, storage, oneDone](std::optional<Error> error, TransactionResult result) {
                    // A vanished object, or one whose dataset is unreadable (a name that is not UTF-16), is left
                    // out; anything else fails the listing.
                    if (error && error->code != VKLErrorFileNotFound && !gather->error)
                        gather->error = error;
                    else if (!error)
                        gather->objects[i].info = decodeObjectInfo(result.data);
                    const auto& info = gather->objects[i].info;
                    if (!gather->error && info && info->compressedSize == kSizeUnknown32 && info->format != FormatAssociation) {
                        fetchWideSize(self->session(), storage, gather->handles[i], [gather, i, oneDone](std::optional<uint64_t> size) {
                            if (size && *size >= kSizeUnknown32)
                                gather->objects[i].wideSize = size;
                            oneDone();
                        });
                        return;
                    }
                    oneDone();
                }, {}, kMaxObjectInfo, storage);
        }
        oneDone();
    }

    void makeChildren(Gather& gather)
    {
        if (gather.error) {
            gather.failed(gather.error);
            return;
        }
        std::vector<ItemPtr> children;
        children.reserve(gather.handles.size());
        for (size_t i = 0; i < gather.handles.size(); ++i) {
            const uint32_t child = gather.handles[i];
            if (!gather.objects[i].info || child == 0 || child == kRootParent || session()->removedObjects.count(child))
                continue;
            ObjectData data = std::move(gather.objects[i]);
            data.storageId = storageId();
            data.handle = child;
            if (data.info->format == FormatAssociation)
                children.push_back(std::make_shared<PtpIpFolder>(session(), storageRef(), std::move(data)));
            else
                children.push_back(std::make_shared<PtpIpFile>(session(), storageRef(), std::move(data)));
        }
        setChildren(std::move(children));
        if (gather.completion)
            gather.completion(std::nullopt);
    }
};

class PtpIpStorage final : public VKLFileStorage, public std::enable_shared_from_this<PtpIpStorage> {
public:
    PtpIpStorage(std::weak_ptr<VKLCamera> camera, uint32_t id) : m_camera(std::move(camera)), m_id(id) {}
    void setRoot(std::shared_ptr<VKLFileSystemFolderItem> root) { m_root = std::move(root); }
    std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const override { return m_root; }
    std::shared_ptr<VKLCamera> camera() const override { return m_camera.lock(); }
    uint32_t id() const { return m_id; }

private:
    std::weak_ptr<VKLCamera> m_camera;
    uint32_t m_id = 0;
    std::shared_ptr<VKLFileSystemFolderItem> m_root;
};

std::shared_ptr<PtpIpStorage> makeStorage(std::weak_ptr<VKLCamera> camera, const SessionPtr& session, uint32_t id)
{
    auto storage = std::make_shared<PtpIpStorage>(std::move(camera), id);
    ObjectData root;
    root.storageId = id;
    root.handle = kRootParent;
    storage->setRoot(std::make_shared<PtpIpFolder>(session, std::weak_ptr<VKLFileStorage>(storage), root));
    return storage;
}

// A storage ID whose low half is 0 names a slot without a card.
bool isCardInSlot(uint32_t storageId) { return (storageId & 0xFFFF) != 0; }

} // namespace

// ---- Camera -------------------------------------------------------------------------------------------------

std::shared_ptr<PtpIpCamera> PtpIpCamera::create(PtpIpCameraOptions options)
{
    return std::shared_ptr<PtpIpCamera>(new PtpIpCamera(std::move(options)));
}

PtpIpCamera::PtpIpCamera(PtpIpCameraOptions options)
    : NetworkCamera(QStringLiteral("ptpip"), options.host, options.port, QStringLiteral("Camera at %1").arg(options.host)),
      m_options(std::move(options))
{
}

PtpIpCamera::~PtpIpCamera()
{
    if (m_session && m_session->connection)
        m_session->connection->close();
}

QByteArray PtpIpCamera::clientGuid()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    UserDefaults& defaults = UserDefaults::standard();
    const QString key = QStringLiteral("PTPIPClientGUID");
    QByteArray guid = QByteArray::fromHex(defaults.stringForKey(key).toLatin1());
    if (guid.size() != 16) {
        guid.resize(16);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(guid.data()), 4);
        defaults.setValue(key, QString::fromLatin1(guid.toHex()));
    }
    return guid;
}

int PtpIpCamera::batteryLevelForPercent(int percent)
{
    return std::clamp((100 - std::clamp(percent, 0, 100) + 12) / 25, 0, 4);
}

void PtpIpCamera::connectWithClientName(const QString& clientName, ConnectCompletion completion,
                                        InterventionCallback userIntervention)
{
    if (!beginConnecting(std::move(completion)))
        return;
    m_intervention = std::move(userIntervention);
    m_promptShown = false;
    if (m_session && m_session->connection)
        m_session->connection->deleteLater();
    auto session = std::make_shared<Session>();
    session->widePartSize = std::max<uint32_t>(1, m_options.widePartSize);
    m_session = session;
    auto* connection = new PtpIpConnection(m_options.timings, this);
    session->connection = connection;
    std::weak_ptr<PtpIpCamera> weak = std::static_pointer_cast<PtpIpCamera>(shared_from_this());

    connect(connection, &PtpIpConnection::waitingForCamera, this, [this, weak, session] {
        // A camera that holds its answer is asking its user; past a short wait the program says so.
        QTimer::singleShot(m_options.pairingPromptAfter, this, [this, weak, session] {
            if (m_session != session || !session->connection
                || session->connection->state() != PtpIpConnection::State::AwaitingAck)
                return;
            m_promptShown = true;
            if (m_intervention) {
                m_intervention(true, [weak, session] {
                    DispatchQueue::main()->async([weak, session] {
                        auto camera = weak.lock();
                        if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
                            return;
                        if (session->connection)
                            session->connection->close();
                        camera->finishConnecting(errorWithVKLErrorCode(VKLErrorPairingRejected));
                    });
                });
            }
        });
    });
    connect(connection, &PtpIpConnection::initialized, this, [this, session](std::optional<Error> error) {
        if (m_session != session || state() != VKLConnectionState::Connecting)
            return;
        if (error) {
            finishConnecting(error);
            return;
        }
        if (m_promptShown && m_intervention)
            m_intervention(false, {});
        m_promptShown = false;
        if (session->connection && !session->connection->cameraName().isEmpty())
            setDisplayName(session->connection->cameraName());
        afterHandshake();
    });
    connect(connection, &PtpIpConnection::lost, this, [this, session] {
        if (m_session == session)
            connectionLost();
    });
    connect(connection, &PtpIpConnection::eventReceived, this,
            [this, session](uint16_t code, std::vector<uint32_t> parameters) {
                if (m_session == session)
                    handleEvent(code, parameters);
            });
    connection->open(m_options.host, m_options.port, m_options.guid.size() == 16 ? m_options.guid : clientGuid(), clientName);
}

void PtpIpCamera::afterHandshake()
{
    auto session = m_session;
    session->open = true;
    std::weak_ptr<PtpIpCamera> weak = std::static_pointer_cast<PtpIpCamera>(shared_from_this());
    auto fail = [weak, session](std::optional<Error> error) {
        auto camera = weak.lock();
        if (!camera || camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
            return;
        session->open = false;
        if (session->connection)
            session->connection->close();
        camera->finishConnecting(error ? error : std::optional(errorWithVKLErrorCode(VKLErrorGeneric)));
    };
    session->connection->transact(OpGetDeviceInfo, {}, [weak, session, fail](std::optional<Error> error, TransactionResult result) {
        auto info = error ? std::nullopt : decodeDeviceInfo(result.data);
        if (!info) {
            fail(error);
            return;
        }
        session->deviceInfo = *info;
        if (!session->connection)
            return;
        session->connection->transact(OpOpenSession, {kSessionId}, [weak, session, fail](std::optional<Error> error, TransactionResult result) {
            if (error && result.code != RespSessionAlreadyOpen) {
                fail(error);
                return;
            }
            if (!session->connection)
                return;
            session->connection->transact(OpGetStorageIDs, {}, [weak, session, fail](std::optional<Error> error, TransactionResult result) {
                const auto ids = error ? std::nullopt : decodeUint32Array(result.data);
                auto camera = weak.lock();
                if (!ids || !camera) {
                    fail(error);
                    return;
                }
                if (camera->m_session != session || camera->state() != VKLConnectionState::Connecting)
                    return;
                camera->storages().clear();
                for (uint32_t id : *ids) {
                    if (isCardInSlot(id))
                        camera->storages().push_back(makeStorage(weak, session, id));
                }
                if (!session->deviceInfo.model.isEmpty() && camera->displayName().startsWith(QStringLiteral("Camera at ")))
                    camera->setDisplayName(session->deviceInfo.model);
                camera->readBatteryLevel();
                camera->finishConnecting(std::nullopt);
            });
        });
    });
}

void PtpIpCamera::finishConnecting(std::optional<Error> error)
{
    if (m_promptShown && m_intervention)
        m_intervention(false, {});
    m_promptShown = false;
    m_intervention = nullptr;
    NetworkCamera::finishConnecting(error);
}

void PtpIpCamera::closeSession(SessionEnd how)
{
    if (!m_session)
        return;
    m_session->open = false;
    // Only a failed attempt closes the connection here: a lost one is gone already, and a disconnect says
    // CloseSession first (disconnectOnMain).
    if (how == SessionEnd::AttemptFailed && m_session->connection)
        m_session->connection->close();
}

void PtpIpCamera::readBatteryLevel()
{
    if (!m_session || !m_session->deviceInfo.supportsProperty(PropBatteryLevel))
        return;
    std::weak_ptr<PtpIpCamera> weak = std::static_pointer_cast<PtpIpCamera>(shared_from_this());
    run(m_session, OpGetDevicePropValue, {PropBatteryLevel}, [weak](std::optional<Error> error, TransactionResult result) {
        auto camera = weak.lock();
        if (!camera || error || result.data.size() != 1 || camera->state() == VKLConnectionState::NotConnected)
            return;
        camera->properties().batteryLevel()->setValue(batteryLevelForPercent(uint8_t(result.data[0])));
    }, {}, 16);
}

void PtpIpCamera::handleEvent(uint16_t code, const std::vector<uint32_t>& parameters)
{
    if (code == EventDevicePropChanged && !parameters.empty() && parameters[0] == PropBatteryLevel) {
        readBatteryLevel();
    } else if (code == EventStoreRemoved && !parameters.empty() && m_session) {
        // The card is out: its storage leaves the list, and what waits on it fails now rather than on a camera
        // that may never answer a read from a card it no longer has.
        const uint32_t id = parameters[0];
        m_session->removedStorages.insert(id);
        if (m_session->connection)
            m_session->connection->failOperationsOnStorage(id, cardRemovedError());
        std::erase_if(storages(), [id](const std::shared_ptr<VKLFileStorage>& storage) {
            return static_cast<PtpIpStorage*>(storage.get())->id() == id;
        });
    } else if (code == EventStoreAdded && !parameters.empty() && m_session && isCardInSlot(parameters[0])) {
        // A card put in (or back): its storage joins the list with a root of its own, so the next walk of the
        // storages lists it; items of the card as it was before stay failed.
        const uint32_t id = parameters[0];
        const bool listed = std::any_of(storages().begin(), storages().end(), [id](const std::shared_ptr<VKLFileStorage>& storage) {
            return static_cast<PtpIpStorage*>(storage.get())->id() == id;
        });
        if (listed)
            return;
        m_session->removedStorages.erase(id);
        // A card put in may be numbered afresh: a handle deleted before may now name another file.
        m_session->removedObjects.clear();
        storages().push_back(makeStorage(std::static_pointer_cast<PtpIpCamera>(shared_from_this()), m_session, id));
    } else if (code == EventObjectRemoved && !parameters.empty() && m_session) {
        noteObjectRemoved(parameters[0]);
    } else if (code == EventObjectAdded && !parameters.empty() && m_session) {
        // A camera may hand a deleted object's handle to a new one. Otherwise ObjectAdded needs nothing: a folder
        // lists what the camera holds each time it is listed, so the new photo is among its children from the
        // next listing on.
        m_session->removedObjects.erase(parameters[0]);
    }
}

void PtpIpCamera::noteObjectRemoved(uint32_t handle)
{
    if (handle == 0 || handle == kRootParent)
        return;
    // A flood of removals of objects never listed must not grow this without end; past the bound the oldest
    // knowledge goes, and a camera that still lists such an object for a moment shows it until it stops.
    constexpr size_t kMaxRemembered = 65536;
    if (m_session->removedObjects.size() >= kMaxRemembered)
        m_session->removedObjects.clear();
    m_session->removedObjects.insert(handle);
    // What waits on the file ends now, as for a file deleted from the card of a folder camera: 1005.
    if (m_session->connection) {
        m_session->connection->failOperations([handle](uint16_t code, const std::vector<uint32_t>& parameters, uint32_t) {
            return objectOfOperation(code, parameters) == handle;
        }, objectRemovedError());
    }
}

bool PtpIpCamera::supportsCommandCategories(uint32_t categories) const
{
    return categories != 0 && (categories & ~uint32_t(VKLCommandCategoryStorageAccess | VKLCommandCategoryRemoteShooting)) == 0;
}

void PtpIpCamera::disconnectOnMain(std::function<void()> done)
{
    if (!m_session || !m_session->connection) {
        done();
        return;
    }
    auto session = m_session;
    if (state() == VKLConnectionState::Connecting) {
        session->connection->close();
        finishConnecting(errorWithVKLErrorCode(VKLErrorCancelled));
        done();
        return;
    }
    connectionLost();
    QPointer<PtpIpConnection> connection = session->connection;
    // CloseSession is a courtesy: a camera that does not answer it soon is closed on anyway.
    auto closeOnce = std::make_shared<bool>(false);
    auto closeNow = [connection, closeOnce, done] {
        if (*closeOnce)
            return;
        *closeOnce = true;
        if (connection)
            connection->close();
        done();
    };
    connection->transact(OpCloseSession, {}, [closeNow](std::optional<Error>, TransactionResult) {
        DispatchQueue::main()->async(closeNow);
    });
    QTimer::singleShot(1000, connection, closeNow);
}

// ---- Discovery ----------------------------------------------------------------------------------------------

PtpIpCameraDiscovery::PtpIpCameraDiscovery(QObject* parent) : ProbingCameraDiscovery(std::chrono::milliseconds(2000), parent)
{
    m_ssdp = new SsdpSearch(this);
    connect(m_ssdp, &SsdpSearch::replyReceived, this, [this](const SsdpReply& reply) {
        const QStringList targets = ssdpSearchTargets();
        const auto offers = [&](const QString& text) {
            return std::any_of(targets.begin(), targets.end(),
                               [&](const QString& target) { return text.contains(target, Qt::CaseInsensitive); });
        };
        if (!reply.alive || !(offers(reply.searchTarget) || offers(reply.uniqueServiceName)))
            return;
        // The camera is where the answer came from: the address in LOCATION is the camera's word only.
        bool isIPv4 = false;
        const QHostAddress sender(reply.sender.toIPv4Address(&isIPv4));
        if (isIPv4)
            addFoundAddress(sender.toString(), m_ssdpCameraPort);
    });
    const QString ssdpAddress = qEnvironmentVariable(qPrintable(ssdpAddressVariable()));
    if (ssdpAddress == QLatin1String("off")) {
        m_ssdpEnabled = false;
    } else if (!ssdpAddress.isEmpty()) {
        const std::vector<CameraAddress> parsed = CameraAddresses::parse(ssdpAddress);
        if (!parsed.empty())
            m_ssdpAddress = std::make_pair(QHostAddress(parsed.front().host), parsed.front().port ? parsed.front().port : SsdpSearch::kPort);
    }
}

QStringList PtpIpCameraDiscovery::ssdpSearchTargets()
{
    return {QStringLiteral("urn:microsoft-com:service:MtpNullService:1"),
            QStringLiteral("urn:schemas-canon-com:service:ICPO-WFTEOSSystemService:1")};
}

void PtpIpCameraDiscovery::setSsdpSearchAddress(const QHostAddress& address, quint16 port, quint16 cameraPort)
{
    m_ssdpAddress = std::make_pair(address, port);
    m_ssdpCameraPort = cameraPort;
    m_ssdpEnabled = true;
}

void PtpIpCameraDiscovery::setDnsSdBus(const QDBusConnection& bus)
{
    delete m_dnsSd;
    m_dnsSd = new AvahiServiceBrowser(bus, QStringLiteral("_ptp._tcp"), this);
    connect(m_dnsSd, &AvahiServiceBrowser::serviceResolved, this,
            [this](const DnsSdService& service) { addFoundAddress(service.address, service.port); });
    if (isSearching())
        m_dnsSd->start();
}

void PtpIpCameraDiscovery::addFoundAddress(const QString& host, quint16 port)
{
    // Bounded: a network that answers with ever new addresses keeps only the newest.
    constexpr size_t kMaxFound = 32;
    const auto entry = std::make_pair(host, port);
    if (std::find(m_found.begin(), m_found.end(), entry) != m_found.end())
        return;
    if (m_found.size() >= kMaxFound)
        m_found.erase(m_found.begin());
    m_found.push_back(entry);
    probeAll();
}

void PtpIpCameraDiscovery::searchNetwork()
{
    if (!m_ssdpEnabled || m_ssdp->isSearching())
        return;
    // Shorter than the probe interval, so one search ends before the next begins.
    const auto duration = std::clamp(probeInterval() - std::chrono::milliseconds(500), std::chrono::milliseconds(1000),
                                     std::chrono::milliseconds(3000));
    if (m_ssdpAddress)
        m_ssdp->searchAt(m_ssdpAddress->first, m_ssdpAddress->second, ssdpSearchTargets(), duration);
    else
        m_ssdp->search(ssdpSearchTargets(), duration);
}

PtpIpCameraDiscovery::~PtpIpCameraDiscovery() = default;

void PtpIpCameraDiscovery::searchingBegins()
{
    if (!m_dnsSd && qEnvironmentVariable(qPrintable(dnsSdVariable())) != QLatin1String("off"))
        setDnsSdBus(QDBusConnection::systemBus());
    if (m_dnsSd)
        m_dnsSd->start();
}

void PtpIpCameraDiscovery::searchingStops()
{
    m_ssdp->stop();
    if (m_dnsSd)
        m_dnsSd->stop();
}

void PtpIpCameraDiscovery::gatherCandidates()
{
    searchNetwork();
    // The user's addresses first, then each Wi-Fi interface's gateway (unless the user lists it), then what the
    // network searches found.
    const std::vector<CameraAddress> listed = CameraAddresses::userListedFor(backendName(), kDefaultPort);
    for (const CameraAddress& address : listed)
        candidate(address.host, address.port);
    const quint16 gatewayPort = CameraAddresses::gatewayPort(backendName(), kDefaultPort);
    for (const QString& gateway : CameraAddresses::wifiGateways()) {
        if (std::none_of(listed.begin(), listed.end(), [&](const CameraAddress& each) { return each.host == gateway; }))
            candidate(gateway, gatewayPort);
    }
    for (const auto& [host, port] : m_found)
        candidate(host, port);
}

void PtpIpCameraDiscovery::probe(const Candidate& candidate, ProbeAnswer answer)
{
    auto* socket = new QTcpSocket(this);
    auto settled = std::make_shared<bool>(false);
    auto settle = [this, candidate = &candidate, socket, settled, answer](bool reachable) {
        if (*settled)
            return;
        *settled = true;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (!reachable) {
            answer(nullptr);
        } else if (candidate->camera) {
            answer(candidate->camera);
        } else {
            PtpIpCameraOptions options;
            options.host = candidate->host;
            options.port = candidate->port;
            answer(PtpIpCamera::create(options));
        }
    };
    connect(socket, &QTcpSocket::connected, this, [settle] { settle(true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [settle] { settle(false); });
    QTimer::singleShot(probeTimeout(), socket, [settle] { settle(false); });
    socket->connectToHost(candidate.host, candidate.port);
}

} // namespace vornakel
