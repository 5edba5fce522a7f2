#include "model/RemoteItemLocations.h"

#include <mutex>
#include <unordered_map>

namespace vornakel::RemoteItemLocations {
namespace {

struct Entry {
    std::weak_ptr<VKLFileSystemItem> item; // tells a live entry from one whose address was reused
    QString folderPath;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<const VKLFileSystemItem*, Entry> entries;
    size_t pruneAt = 1024;
};

Table& table()
{
    static Table instance;
    return instance;
}

} // namespace

void record(const std::shared_ptr<VKLFileSystemItem>& item, const QString& folderPath)
{
    if (!item)
        return;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.entries[item.get()] = Entry{item, folderPath};
    if (t.entries.size() >= t.pruneAt) {
        std::erase_if(t.entries, [](const auto& entry) { return entry.second.item.expired(); });
        t.pruneAt = std::max<size_t>(1024, t.entries.size() * 2);
    }
}

std::optional<QString> folderPath(const std::shared_ptr<VKLFileSystemItem>& item)
{
    if (!item)
        return std::nullopt;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    const auto found = t.entries.find(item.get());
    if (found == t.entries.end() || found->second.item.owner_before(item) || item.owner_before(found->second.item))
        return std::nullopt;
    return found->second.folderPath;
}

} // namespace vornakel::RemoteItemLocations
