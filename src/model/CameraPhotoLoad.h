#pragma once

#include "model/CameraFileScanning.h"
#include "model/FileSystemItemMetadataDelivery.h"

#include <QObject>

#include <deque>
#include <functional>
#include <memory>

namespace vornakel {

// The photos of one connected camera while their metadata loads: the walk's files go through one metadata
// delivery in chunks, and every chunk through one PhotoGrouping for the whole load, so a RAW+JPEG pair whose
// files arrive in different chunks still ends as one photo. Whoever holds the load keeps it loading: the
// discovery screen until the first photos arrive, then the connected camera's view.
class CameraPhotoLoad : public QObject, public std::enable_shared_from_this<CameraPhotoLoad> {
    Q_OBJECT
public:
    static constexpr int kDeliveryChunkSize = 10;

    // Files that are not known image types once their metadata has loaded (movies, sidecars) are dropped.
    static std::shared_ptr<CameraPhotoLoad> create(std::shared_ptr<VKLCamera> camera,
                                                   const CameraFileScanning::Items& files,
                                                   int chunkSize = kDeliveryChunkSize);
    // A load that walks the camera's storages itself (with `passesWalkFilter`) and loads each folder's files
    // as soon as the walk has listed it, so the first photos (and their thumbnails) come while the rest of a
    // large card is still being listed. The walk takes a folder's last subfolder first (the newest shots), and
    // a folder's files from its last (cameras number them upwards): each chunk lands below the photos shown
    // before it in the newest-first grid instead of pushing them down, so the first screen holds still and its
    // thumbnails are asked for while the walk goes on. It completes once the walk and every metadata request
    // have ended; a walk that fails completes it with what was found until then. The walk belongs to the load:
    // it goes on when the load changes hands, and stops when the load goes.
    static std::shared_ptr<CameraPhotoLoad> createWalking(std::shared_ptr<VKLCamera> camera,
                                                          int chunkSize = kDeliveryChunkSize);
    ~CameraPhotoLoad() override;

    // Starts loading; the first chunk may be reported before this returns (files whose metadata was already
    // there come at once).
    void start();

    const std::shared_ptr<VKLCamera>& camera() const { return m_camera; }
    // Every photo so far.
    std::vector<PhotoPtr> photos() const { return m_grouping.photos(); }
    size_t photoCount() const { return m_grouping.photoCount(); }
    bool hasCompleted() const { return m_completed; }
    // Whether the last metadata request ran to the end (false after a cancel or when the owner let go).
    bool finished() const { return m_finished; }

    // The walk's filter: known image types, and files whose type is not known until their metadata loads.
    static bool passesWalkFilter(const CameraFileScanning::ItemPtr& item);

signals:
    // The photos changed: `added` are new, `removed` were replaced by some of them.
    void photosChanged(const vornakel::PhotoGrouping::Update& update);
    void completed(bool finished);

private:
    explicit CameraPhotoLoad(std::shared_ptr<VKLCamera> camera);
    void handleChunk(const CameraFileScanning::Items& files);
    void handleCompletion(bool finished);
    void startDelivery(void (CameraPhotoLoad::*ended)(bool finished));
    void walk();
    // Loads the next listed folder's files once the delivery before has ended.
    void deliverNext();
    void handleDeliveryEnded(bool finished);

    std::shared_ptr<VKLCamera> m_camera;
    std::shared_ptr<FileSystemItemMetadataDelivery> m_delivery;
    int m_chunkSize = kDeliveryChunkSize;
    std::unique_ptr<CameraFileScanning> m_scanner; // a walking load's walk
    std::deque<CameraFileScanning::Items> m_listed; // folders listed, not yet handed to a delivery
    std::function<void()> m_listNext;               // goes on with the walk once they are delivered
    bool m_walkEnded = true;
    bool m_walkFailed = false;
    bool m_delivering = false;
    PhotoGrouping m_grouping;
    bool m_started = false;
    bool m_completed = false;
    bool m_finished = false;
};

} // namespace vornakel
