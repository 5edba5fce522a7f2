#include "model/FileSystemItemMetadataDelivery.h"

#include "model/StepLoop.h"

namespace vornakel {

// The loading chain: one step per item, the callbacks travel with it, the delivery object is held weakly.
struct FileSystemItemMetadataDelivery::Chain : std::enable_shared_from_this<Chain> {
    std::weak_ptr<FileSystemItemMetadataDelivery> owner;
    Delivery delivery;
    Completion completion;
    Items steps;
    size_t next = 0;
    StepLoop stepping;

    // Runs the next step. A camera that answers inside `loadMetadata` re-enters here; the loop turns that into
    // iteration instead of recursion, whatever the number of items.
    void advance() { stepping.run([this] { runStep(); }); }

    void runStep()
    {
        {
            // Not held across the request: the owner may drop the delivery while the camera answers.
            const std::shared_ptr<FileSystemItemMetadataDelivery> self = owner.lock();
            if (!self) {
                end(errorWithVKLErrorCode(VKLErrorOwnerGone));
                return;
            }
            if (self->m_cancelled) {
                end(errorWithVKLErrorCode(VKLErrorCancelled));
                return;
            }
        }
        const ItemPtr item = steps[next++];
        item->loadMetadata([chain = shared_from_this(), item](std::optional<Error> error) {
            chain->loaded(item, std::move(error));
        });
    }

    void loaded(const ItemPtr& item, std::optional<Error> error)
    {
        if (!error)
            if (const std::shared_ptr<FileSystemItemMetadataDelivery> self = owner.lock()) {
                self->m_itemsThisChunk.push_back(item);
                if (qsizetype(self->m_itemsThisChunk.size()) >= self->m_chunkSize) {
                    const Items chunk = std::move(self->m_itemsThisChunk);
                    self->m_itemsThisChunk.clear();
                    if (delivery)
                        delivery(chunk);
                }
            }
        // A failed item is left out; loading goes on unless the owner let go (also from inside `delivery`).
        if (owner.expired())
            end(errorWithVKLErrorCode(VKLErrorOwnerGone));
        else if (next < steps.size())
            advance();
        else
            end(std::nullopt);
    }

    void end(const std::optional<Error>& error)
    {
        if (!error)
            if (const std::shared_ptr<FileSystemItemMetadataDelivery> self = owner.lock())
                if (!self->m_itemsThisChunk.empty()) {
                    const Items chunk = std::move(self->m_itemsThisChunk);
                    self->m_itemsThisChunk.clear();
                    if (delivery)
                        delivery(chunk);
                }
        Completion done = std::move(completion);
        completion = nullptr;
        delivery = nullptr;
        if (done)
            done(error ? Result<void>(*error) : Result<void>());
    }
};

std::shared_ptr<FileSystemItemMetadataDelivery> FileSystemItemMetadataDelivery::create(const Items& items,
                                                                                       int deliveryChunkSize)
{
    std::shared_ptr<FileSystemItemMetadataDelivery> result(new FileSystemItemMetadataDelivery());
    result->m_chunkSize = deliveryChunkSize;
    for (const ItemPtr& item : items) {
        if (!item)
            continue;
        (item->metadataLoaded() ? result->m_loadedItems : result->m_itemsToLoad).push_back(item);
    }
    result->m_hasCompleted = result->m_itemsToLoad.empty();
    return result;
}

void FileSystemItemMetadataDelivery::startLoading(Delivery delivery, Completion completion)
{
    if (m_hasCompleted) {
        if (delivery)
            delivery(m_loadedItems);
        if (completion)
            completion(Result<void>());
        return;
    }
    if (!m_loadedItems.empty() && delivery)
        delivery(m_loadedItems);
    auto chain = std::make_shared<Chain>();
    chain->owner = weak_from_this();
    chain->delivery = std::move(delivery);
    chain->completion = std::move(completion);
    chain->steps = m_itemsToLoad;
    if (chain->steps.empty())
        chain->end(std::nullopt);
    else
        chain->advance();
}

} // namespace vornakel
