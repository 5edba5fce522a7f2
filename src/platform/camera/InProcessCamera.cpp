#include "platform/camera/InProcessCamera.h"

#include "platform/core/DispatchQueue.h"

#include <algorithm>

namespace vornakel {
namespace {

// Finishes a request inside the call, or posted on the main queue with the item held until then. Inside the call
// nothing is wrapped or copied, so that a benchmark measures the caller, not this camera.
template <typename Item>
void answer(Item& item, bool synchronous, VKLFileSystemItem::ErrorCallback completion,
            void (Item::*finish)(const VKLFileSystemItem::ErrorCallback&))
{
    if (synchronous) {
        (item.*finish)(completion);
        return;
    }
    auto self = std::static_pointer_cast<Item>(item.shared_from_this());
    DispatchQueue::main()->async([self, finish, completion = std::move(completion)] { ((*self).*finish)(completion); });
}

} // namespace

void InProcessRequestLog::add(const QString& request)
{
    requests << request;
    if (onRequest)
        onRequest(request);
}

// ---- Files --------------------------------------------------------------------------------------------------

InProcessFile::InProcessFile(std::optional<QString> name, std::optional<QDateTime> date, uint64_t size,
                             std::shared_ptr<InProcessCameraOptions> options)
    : StaticFileItem(std::move(name), std::move(date), size)
    , m_options(std::move(options))
{
}

void InProcessFile::loadMetadata(ErrorCallback completion)
{
    if (m_options->log)
        m_options->log->add(QStringLiteral("meta:") + m_name.value_or(QString()));
    answer(*this, m_options->synchronous, std::move(completion), &InProcessFile::finishLoadingMetadata);
}

void InProcessFile::finishLoadingMetadata(const ErrorCallback& completion)
{
    if (m_metadataError) {
        completion(errorWithVKLErrorCode(VKLErrorMetadataUnavailable));
        return;
    }
    m_loaded = true;
    completion(std::nullopt);
}

void InProcessFile::fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery)
{
    fetch(QStringLiteral("thumb:"), m_thumbnail ? *m_thumbnail : Delivery{std::nullopt, QByteArrayLiteral("thumbnail")},
          std::move(preflight), std::move(delivery));
}

void InProcessFile::fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery)
{
    fetch(QStringLiteral("preview:"), m_preview ? *m_preview : Delivery{std::nullopt, QByteArrayLiteral("preview")},
          std::move(preflight), std::move(delivery));
}

void InProcessFile::fetch(const QString& kind, const Delivery& what, PreflightBlock preflight,
                          ImageDeliveryBlock delivery)
{
    if (m_options->log)
        m_options->log->add(kind + m_name.value_or(QString()));
    auto self = shared_from_this();
    auto heldPreflight = std::make_shared<PreflightBlock>(std::move(preflight));
    DispatchQueue::main()->async([self, what, heldPreflight, delivery] {
        const bool wanted = !*heldPreflight || (*heldPreflight)(self);
        *heldPreflight = nullptr;
        if (!wanted)
            return;
        DispatchQueue::main()->async([self, what, delivery] { delivery(self, what.error, what.data); });
    });
}

// ---- Folders ------------------------------------------------------------------------------------------------

InProcessFolder::InProcessFolder(QString name, std::shared_ptr<InProcessCameraOptions> options)
    : StaticFolderItem(std::move(name)), m_options(std::move(options))
{
}

void InProcessFolder::loadChildren(ErrorCallback completion)
{
    if (const std::shared_ptr<InProcessRequestLog>& log = m_options->log) {
        log->add(QStringLiteral("list:") + m_name.value_or(QString()));
        log->maxOutstanding = std::max(log->maxOutstanding, ++log->outstanding);
    }
    answer(*this, m_options->synchronous, std::move(completion), &InProcessFolder::finishListing);
}

void InProcessFolder::finishListing(const ErrorCallback& completion)
{
    if (m_options->log)
        --m_options->log->outstanding;
    if (m_listingError) {
        completion(errorWithVKLErrorCode(VKLErrorListingFailed));
        return;
    }
    m_listed = true;
    completion(std::nullopt);
}

std::optional<std::vector<VKLFileSystemItem::ItemPtr>> InProcessFolder::children() const
{
    if (!m_listed || m_childrenAbsent)
        return std::nullopt;
    return m_children;
}

std::shared_ptr<InProcessFolder> InProcessFolder::addFolder(const QString& name)
{
    auto folder = std::make_shared<InProcessFolder>(name, m_options);
    m_children.push_back(folder);
    return folder;
}

std::shared_ptr<InProcessFile> InProcessFolder::addFile(const QString& name, std::optional<QDateTime> date,
                                                        uint64_t size)
{
    auto file = std::make_shared<InProcessFile>(name, std::move(date), size, m_options);
    m_children.push_back(file);
    return file;
}

// ---- Camera -------------------------------------------------------------------------------------------------

void InProcessCamera::addStorage(std::shared_ptr<VKLFileStorage> storage)
{
    if (!m_storages)
        m_storages.emplace();
    m_storages->push_back(std::move(storage));
}

} // namespace vornakel
