#pragma once

#include "platform/camera/VKLCamera.h"
#include "platform/core/Result.h"

#include <functional>
#include <memory>
#include <vector>

namespace vornakel {

// Loads the metadata of camera files that still need it, strictly one after another, and hands the loaded
// files to its owner in chunks, so the grid fills while the camera is still answering.
//
// The owner holds the delivery (a shared_ptr); the loading chain holds it only weakly, so dropping it ends
// loading after the request in flight (error 1011). `cancel()` ends it before the next request (error 1004).
// The chain tolerates a camera that answers synchronously.
class FileSystemItemMetadataDelivery : public std::enable_shared_from_this<FileSystemItemMetadataDelivery> {
public:
    using ItemPtr = std::shared_ptr<VKLFileSystemItem>;
    using Items = std::vector<ItemPtr>;
    using Delivery = std::function<void(const Items&)>;
    // How loading ended: finished, or stopped with the error that says why.
    using Completion = std::function<void(const Result<void>& outcome)>;

    // Sorts the items into those already loaded and those to load, in input order.
    static std::shared_ptr<FileSystemItemMetadataDelivery> create(const Items& items, int deliveryChunkSize);

    // The already-loaded files come first, in one call (also when that is every file, or an empty list);
    // then the others in chunks of `chunkSize` (each alone when it is 0 or less), the rest when the chain
    // ends without error. Files whose load fails are left out. `completion` runs once.
    void startLoading(Delivery delivery, Completion completion);
    void cancel() { m_cancelled = true; }

    const Items& loadedItems() const { return m_loadedItems; }
    void setLoadedItems(Items items) { m_loadedItems = std::move(items); }
    bool isLoading() const { return m_isLoading; }
    void setIsLoading(bool loading) { m_isLoading = loading; }
    bool hasCompleted() const { return m_hasCompleted; }
    void setHasCompleted(bool completed) { m_hasCompleted = completed; }
    const Items& itemsToLoad() const { return m_itemsToLoad; }
    int chunkSize() const { return m_chunkSize; }
    bool cancelled() const { return m_cancelled; }
    const Items& itemsThisChunk() const { return m_itemsThisChunk; }

private:
    struct Chain;
    FileSystemItemMetadataDelivery() = default;

    Items m_loadedItems;
    bool m_isLoading = false;
    bool m_hasCompleted = false;
    Items m_itemsToLoad;
    int m_chunkSize = 0;
    bool m_cancelled = false;
    Items m_itemsThisChunk;
};

} // namespace vornakel
