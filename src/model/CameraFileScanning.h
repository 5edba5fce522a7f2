#pragma once

#include "model/Photo.h"
#include "platform/camera/VKLCamera.h"

#include <QHash>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace vornakel {

// Walks a connected camera's storages for the files a filter accepts, and groups camera files into photos.
class CameraFileScanning {
public:
    using ItemPtr = std::shared_ptr<VKLFileSystemItem>;
    using Items = std::vector<ItemPtr>;

    struct ScanError {
        enum class Kind { cameraError, noStorageDevices, noRootFolders };
        Kind kind = Kind::cameraError;
        std::optional<Error> cameraError; // the library's error, unchanged, for Kind::cameraError
        static ScanError fromCamera(Error error) { return {Kind::cameraError, std::move(error)}; }
        static ScanError noStorageDevices() { return {Kind::noStorageDevices, std::nullopt}; }
        static ScanError noRootFolders() { return {Kind::noRootFolders, std::nullopt}; }
    };

    // Gets a file item (never a folder); true keeps it.
    using Filter = std::function<bool(const ItemPtr&)>;
    // (files, none) on success, possibly empty; (none, error) on failure.
    using Completion = std::function<void(std::optional<Items>, std::optional<ScanError>)>;
    // The files one folder's listing added, as soon as it is listed (never empty). The walk lists the next
    // folder once `listNext` is called, so that what the listener asks the camera for meanwhile does not wait
    // behind the rest of the walk.
    using Progress = std::function<void(const Items& files, std::function<void()> listNext)>;

    CameraFileScanning();
    ~CameraFileScanning();
    CameraFileScanning(const CameraFileScanning&) = delete;
    CameraFileScanning& operator=(const CameraFileScanning&) = delete;

    // Lists every folder of every storage depth-first, one listing request at a time; a folder's own files
    // come before its subfolders'. Returns at once; the two early failures are reported before it returns, the
    // rest from the camera's callbacks. Once this scanner is destroyed, a running walk stops without reporting.
    // The walk keeps its folders on a heap stack and tolerates a camera that answers synchronously, so neither
    // deep trees nor huge folders grow the call stack.
    // `progress`, when given, hears each folder's files as the walk lists them, before the completion hears
    // them all.
    void scan(const std::shared_ptr<VKLCamera>& camera, Filter filter, Completion completion, Progress progress = {});
    // Which subfolder of a folder is listed first: the first the camera lists, or its last. Cameras number
    // their folders upwards (DCIM/100…, 101…), so the last holds the newest shots, which the grid shows first.
    enum class FolderOrder { asListed, lastFirst };
    void setFolderOrder(FolderOrder order) { m_folderOrder = order; }

    // One photo per file, except that a RAW and a JPEG file of the same name (without extension, case
    // sensitive) created less than 10 seconds apart, and alone under that name, become one photo with the RAW
    // as primary. Files without a name are skipped. The order of the result is not meaningful.
    static std::vector<PhotoPtr> photos(const Items& files);

private:
    struct Walk;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    FolderOrder m_folderOrder = FolderOrder::asListed;
};

// Grouping for files that arrive in parts (the metadata chunks): keeps every file seen so far and reports how
// the photos change, so that a RAW+JPEG pair whose files come in different parts still becomes one photo, and
// a third file of one name splits a pair exactly as `CameraFileScanning::photos` would for the whole list.
class PhotoGrouping {
public:
    struct Update {
        std::vector<PhotoPtr> added;   // new photos
        std::vector<PhotoPtr> removed; // photos replaced by ones in `added`; drop them
    };

    // Makes room for this many files up front, so that no chunk of a large load pays for growing the whole
    // grouping at once (a spike of several milliseconds at 16,000 files).
    void reserve(size_t fileCount);
    Update add(const CameraFileScanning::Items& files);
    // Every current photo.
    std::vector<PhotoPtr> photos() const;
    size_t photoCount() const { return m_photoCount; }

private:
    struct Group {
        CameraFileScanning::Items files;
        std::vector<PhotoPtr> photos; // parallel to `files` when unpaired, one photo when paired
        bool paired = false;
        size_t generation = 0; // the last `add` that touched this group
        size_t sizeBefore = 0; // file count before that `add`
    };
    std::vector<Group> m_groups;
    QHash<QString, size_t> m_groupIndex;
    size_t m_photoCount = 0;
    size_t m_generation = 0;
};

} // namespace vornakel
