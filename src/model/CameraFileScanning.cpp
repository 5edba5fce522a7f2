#include "model/CameraFileScanning.h"

#include "model/RemoteItemLocations.h"
#include "model/StepLoop.h"

#include <QHash>

#include <algorithm>

namespace vornakel {

// ---- Storage walk -------------------------------------------------------------------------------------------

// One scan's progress. Each listing callback holds the walk; the scanner is held only through its liveness
// token, so destroying the scanner ends the walk silently at the next callback.
struct CameraFileScanning::Walk : std::enable_shared_from_this<Walk> {
    struct Folder {
        std::shared_ptr<VKLFileSystemFolderItem> item;
        QString path;
    };

    std::weak_ptr<int> scanner;
    Filter filter;
    Completion completion;
    Progress progress;
    bool lastFolderFirst = false;
    std::vector<Folder> pending; // top is the next folder to list
    Items found;
    StepLoop requests;

    // Sends the next request. A camera that answers inside `loadChildren` re-enters here; the loop turns that
    // into iteration instead of recursion.
    void pump() { requests.run([this] { requestNext(); }); }

    void requestNext()
    {
        if (pending.empty()) {
            finish(std::move(found), std::nullopt);
            return;
        }
        Folder folder = std::move(pending.back());
        pending.pop_back();
        const std::shared_ptr<VKLFileSystemFolderItem> item = folder.item;
        item->loadChildren([walk = shared_from_this(), folder = std::move(folder)](std::optional<Error> error) {
            walk->received(folder, std::move(error));
        });
    }

    void received(const Folder& folder, std::optional<Error> error)
    {
        if (scanner.expired())
            return;
        if (error) {
            finish(std::nullopt, ScanError::fromCamera(std::move(*error)));
            return;
        }
        const std::optional<Items> children = folder.item->children();
        std::vector<Folder> subfolders;
        Items listed;
        if (children) {
            for (const ItemPtr& child : *children) {
                if (!child)
                    continue;
                if (auto subfolder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child)) {
                    subfolders.push_back({std::move(subfolder), folder.path + QLatin1Char('/') +
                                                                    child->name().value_or(QString())});
                } else if (!filter || filter(child)) {
                    RemoteItemLocations::record(child, folder.path);
                    listed.push_back(child);
                }
            }
        }
        found.insert(found.end(), listed.begin(), listed.end());
        // Pushed in reverse so that the first subfolder is listed next: depth-first, in children order (or
        // the other way round).
        if (lastFolderFirst)
            std::move(subfolders.begin(), subfolders.end(), std::back_inserter(pending));
        else
            std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
        if (progress && !listed.empty()) {
            // The listener goes on with the walk when it is ready; a walk whose scanner went does not.
            progress(listed, [walk = shared_from_this()] {
                if (!walk->scanner.expired())
                    walk->pump();
            });
            return;
        }
        pump();
    }

    void finish(std::optional<Items> items, std::optional<ScanError> error)
    {
        Completion done = std::move(completion);
        completion = nullptr;
        if (done)
            done(std::move(items), std::move(error));
    }
};

CameraFileScanning::CameraFileScanning() = default;
CameraFileScanning::~CameraFileScanning() = default;

void CameraFileScanning::scan(const std::shared_ptr<VKLCamera>& camera, Filter filter, Completion completion,
                              Progress progress)
{
    const std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storages =
        camera ? camera->storageDevices() : std::nullopt;
    if (!storages) {
        if (completion)
            completion(std::nullopt, ScanError::noStorageDevices());
        return;
    }
    auto walk = std::make_shared<Walk>();
    walk->scanner = m_alive;
    walk->filter = std::move(filter);
    walk->completion = std::move(completion);
    walk->progress = std::move(progress);
    walk->lastFolderFirst = m_folderOrder == FolderOrder::lastFirst;
    // Storages are walked in list order, so their roots go on the stack last-first.
    for (size_t index = storages->size(); index-- > 0;) {
        const std::shared_ptr<VKLFileStorage>& storage = (*storages)[index];
        if (std::shared_ptr<VKLFileSystemFolderItem> root = storage ? storage->rootDirectory() : nullptr)
            walk->pending.push_back({std::move(root), QStringLiteral("/storage%1").arg(index)});
    }
    if (walk->pending.empty()) {
        walk->finish(std::nullopt, ScanError::noRootFolders());
        return;
    }
    walk->pump();
}

// ---- Grouping -----------------------------------------------------------------------------------------------

namespace {

QString groupKey(const QString& name) { return PhotoVariant::deletingPathExtension(name); }

// A RAW and a JPEG file of one shot: exactly one of each, both dated, less than 10 seconds apart.
PhotoPtr pairedPhoto(const CameraFileScanning::ItemPtr& first, const CameraFileScanning::ItemPtr& second)
{
    PhotoVariantPtr a = PhotoVariant::create(first);
    PhotoVariantPtr b = PhotoVariant::create(second);
    if (!a || !b || a->formatFamily() == b->formatFamily())
        return nullptr;
    if (a->formatFamily() != PhotoFormatFamily::raw)
        std::swap(a, b);
    const std::optional<QDateTime> rawDate = a->remoteItem()->dateCreated();
    const std::optional<QDateTime> jpegDate = b->remoteItem()->dateCreated();
    if (!rawDate || !jpegDate || !rawDate->isValid() || !jpegDate->isValid())
        return nullptr;
    const qint64 milliseconds = jpegDate->msecsTo(*rawDate);
    if (milliseconds <= -10000 || milliseconds >= 10000)
        return nullptr;
    return Photo::create(std::move(a), std::move(b));
}

void appendSingles(const CameraFileScanning::Items& files, size_t from, std::vector<PhotoPtr>& photos)
{
    for (size_t i = from; i < files.size(); ++i)
        if (PhotoVariantPtr variant = PhotoVariant::create(files[i]))
            photos.push_back(Photo::create(std::move(variant)));
}

} // namespace

std::vector<PhotoPtr> CameraFileScanning::photos(const Items& files)
{
    QHash<QString, size_t> indexOfKey;
    std::vector<Items> groups;
    indexOfKey.reserve(qsizetype(files.size()));
    for (const ItemPtr& file : files) {
        const std::optional<QString> name = file ? file->name() : std::nullopt;
        if (!name)
            continue;
        const QString key = groupKey(*name);
        const auto found = indexOfKey.constFind(key);
        if (found != indexOfKey.constEnd()) {
            groups[*found].push_back(file);
        } else {
            indexOfKey.insert(key, groups.size());
            groups.push_back({file});
        }
    }
    std::vector<PhotoPtr> result;
    result.reserve(files.size());
    for (const Items& group : groups) {
        if (group.size() == 2)
            if (PhotoPtr pair = pairedPhoto(group[0], group[1])) {
                result.push_back(std::move(pair));
                continue;
            }
        appendSingles(group, 0, result);
    }
    return result;
}

void PhotoGrouping::reserve(size_t fileCount)
{
    m_groups.reserve(fileCount);
    m_groupIndex.reserve(qsizetype(fileCount));
}

PhotoGrouping::Update PhotoGrouping::add(const CameraFileScanning::Items& files)
{
    ++m_generation;
    std::vector<size_t> touched;
    for (const CameraFileScanning::ItemPtr& file : files) {
        const std::optional<QString> name = file ? file->name() : std::nullopt;
        if (!name)
            continue;
        const QString key = groupKey(*name);
        auto found = m_groupIndex.constFind(key);
        if (found == m_groupIndex.constEnd()) {
            found = m_groupIndex.insert(key, m_groups.size());
            m_groups.emplace_back();
        }
        Group& group = m_groups[*found];
        if (group.generation != m_generation) {
            group.generation = m_generation;
            group.sizeBefore = group.files.size();
            touched.push_back(*found);
        }
        group.files.push_back(file);
    }

    Update update;
    for (const size_t index : touched) {
        Group& group = m_groups[index];
        const size_t oldSize = group.sizeBefore;
        PhotoPtr pair = group.files.size() == 2 ? pairedPhoto(group.files[0], group.files[1]) : nullptr;
        m_photoCount -= group.photos.size();
        if (!pair && !group.paired) {
            // Still one photo per file: the earlier photos stay, the new files add theirs.
            const size_t before = group.photos.size();
            appendSingles(group.files, oldSize, group.photos);
            update.added.insert(update.added.end(), group.photos.begin() + qsizetype(before), group.photos.end());
        } else {
            update.removed.insert(update.removed.end(), group.photos.begin(), group.photos.end());
            group.photos.clear();
            if (pair)
                group.photos.push_back(std::move(pair));
            else
                appendSingles(group.files, 0, group.photos);
            group.paired = bool(group.photos.size() == 1 && group.photos.front()->previewVariant());
            update.added.insert(update.added.end(), group.photos.begin(), group.photos.end());
        }
        m_photoCount += group.photos.size();
    }
    return update;
}

std::vector<PhotoPtr> PhotoGrouping::photos() const
{
    std::vector<PhotoPtr> result;
    result.reserve(m_photoCount);
    for (const Group& group : m_groups)
        result.insert(result.end(), group.photos.begin(), group.photos.end());
    return result;
}

} // namespace vornakel
