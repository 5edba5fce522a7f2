#pragma once

#include "model/Photo.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

#include <atomic>
#include <list>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace vornakel {

// Decoded grid thumbnails, bounded by bytes, with the loading behind them.
//
// A request first decodes the photo's cached "Thumbnail.jpg" on a worker thread (scaled to the cell, turned
// upright with the photo's orientation; reading it also refreshes the cache folder's "LastSeen"); only when
// there is none is the camera asked, and its delivery is decoded the same way. Results come back to the main
// thread, where the cache and the signal live; nothing here touches a widget. One request per photo is in
// flight at a time, and requests for photos the grid no longer shows are declined by their preflight, which
// reads only a thread-safe flag.
//
// What decides how much the camera is asked for, and so how much lands in the on-disk cache: only the photos the
// grid wants (those on screen and its bounded look-ahead, see ImageGridView), and only once that set has held
// still for the camera fetch delay (counted from the cache's making): no photo left it for that long. While a
// camera's photos stream in at the top of the grid the cells change every frame; asking for each photo that
// passes would fetch and store thousands nobody saw, and a different few thousand on every run. Photos that
// only join the set (the first photos filling an empty grid) do not restart the wait, so the first screen is
// asked for as soon as it shows, not after the whole walk. Held requests are sent in the order the grid wanted
// them (on screen first, top to bottom, then the look-ahead), so the same scroll caches the same photos in the
// same order (past the first screen of photos, which may be pushed down before its thumbnails all came).
class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    enum class State { ready, loading, unavailable };
    static constexpr qint64 kDefaultByteLimit = 64ll * 1024 * 1024;
    // Longer than the gap between two chunks of a streaming photo list, short enough not to be noticed.
    static constexpr std::chrono::milliseconds kDefaultCameraFetchDelay{250};

    explicit ThumbnailCache(QSize box, qint64 byteLimit = kDefaultByteLimit, QObject* parent = nullptr);
    ~ThumbnailCache() override;

    // The decoded thumbnail, or a null image; a hit counts as recent use.
    QImage thumbnail(const Photo* photo);
    // What a cell should show for the photo; starts loading when nothing is known yet. Main thread only.
    State request(const PhotoPtr& photo);
    // Only these photos (those on screen) are still wanted: the others' requests are declined before they
    // reach the camera or the decoder (one that already runs still finishes and lands in the cache). Thumbnails
    // on screen are not evicted, so the bound may be passed while more than it fits on screen.
    void keepOnly(const std::unordered_set<const Photo*>& wanted);
    // The same, in the order they are wanted: camera requests go out in this order.
    void keepOnly(const std::vector<const Photo*>& wantedInOrder);
    // How long the wanted photos must go without one leaving them before the camera is asked for those not
    // cached on disk. Changing it reschedules what waits.
    void setCameraFetchDelay(std::chrono::milliseconds delay);
    // The clock that wait is measured on (a steady time in milliseconds); tests give their own. The wait
    // counts from now on the new clock.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);
    // Requests waiting for the wanted photos to hold still before going to the camera.
    size_t requestsAwaitingCamera() const { return m_awaitingCamera.size(); }
    // The photo left the grid: its thumbnail and state go.
    void forget(const Photo* photo);

    qint64 byteCount() const { return m_bytes; }
    qint64 byteLimit() const { return m_byteLimit; }
    size_t imageCount() const { return m_images.size(); }
    size_t requestsInFlight() const { return m_inFlight.size(); }
    void setBox(QSize box) { m_box = box; }

signals:
    // The photo's cell can be drawn again: its thumbnail arrived, or it turned out to have none.
    void thumbnailChanged(const Photo* photo);

private:
    struct Request;
    void start(const std::shared_ptr<Request>& request);
    void decodeOffMainThread(const std::shared_ptr<Request>& request, bool afterFetch);
    void fetchFromCamera(const std::shared_ptr<Request>& request);
    void sendToCamera(const std::shared_ptr<Request>& request);
    void sendAwaitingRequests();
    void scheduleAwaitingRequests();
    void wantedChanged(std::unordered_set<const Photo*> wanted, std::unordered_map<const Photo*, size_t> order);
    void finish(const std::shared_ptr<Request>& request, QImage image);
    void dropped(const std::shared_ptr<Request>& request);
    void store(const Photo* photo, QImage image);
    void evict();

    QSize m_box;
    qint64 m_byteLimit;
    qint64 m_bytes = 0;
    // Most recently used first.
    std::list<std::pair<const Photo*, QImage>> m_lru;
    std::unordered_map<const Photo*, std::list<std::pair<const Photo*, QImage>>::iterator> m_images;
    std::unordered_map<const Photo*, std::shared_ptr<Request>> m_inFlight;
    std::unordered_set<const Photo*> m_unavailable;
    std::unordered_set<const Photo*> m_onScreen;
    // Photos whose requests were marked wanted since the last `keepOnly`. With those on screen they are the only
    // requests that can still be wanted, so a change of screen looks at them alone, never at every request still
    // waiting for the camera (thousands while photos stream in).
    std::vector<const Photo*> m_wantedSinceKeep;
    // Where each wanted photo stands in the grid's order; requests for photos not in it go last.
    std::unordered_map<const Photo*, size_t> m_wantedOrder;
    std::vector<std::shared_ptr<Request>> m_awaitingCamera;
    std::chrono::milliseconds m_cameraFetchDelay = kDefaultCameraFetchDelay;
    Clock m_clock;
    qint64 m_stillSince = 0; // on m_clock: when a wanted photo last left the set, or the cache was made
    QTimer m_cameraFetchTimer;
};

} // namespace vornakel
