#include "mainwindow/grid/ThumbnailCache.h"

#include "mainwindow/grid/BackgroundWork.h"
#include "model/ImageMetadataHelper.h"
#include "platform/core/DispatchQueue.h"

#include <algorithm>
#include <limits>

namespace vornakel {

struct ThumbnailCache::Request {
    explicit Request(PhotoPtr p) : photo(std::move(p)) {}
    const PhotoPtr photo;
    // Written on the main thread, read by the worker and the camera's preflight.
    std::atomic<bool> wanted{true};
};

ThumbnailCache::ThumbnailCache(QSize box, qint64 byteLimit, QObject* parent)
    : QObject(parent), m_box(box), m_byteLimit(byteLimit)
{
    m_clock = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    m_stillSince = m_clock();
    m_cameraFetchTimer.setSingleShot(true);
    connect(&m_cameraFetchTimer, &QTimer::timeout, this, &ThumbnailCache::sendAwaitingRequests);
}

ThumbnailCache::~ThumbnailCache()
{
    for (auto& [photo, request] : m_inFlight)
        request->wanted = false;
}

QImage ThumbnailCache::thumbnail(const Photo* photo)
{
    const auto found = m_images.find(photo);
    if (found == m_images.end())
        return {};
    if (found->second != m_lru.begin())
        m_lru.splice(m_lru.begin(), m_lru, found->second);
    return found->second->second;
}

ThumbnailCache::State ThumbnailCache::request(const PhotoPtr& photo)
{
    if (!photo)
        return State::unavailable;
    if (m_images.count(photo.get()) != 0)
        return State::ready;
    if (m_unavailable.count(photo.get()) != 0)
        return State::unavailable;
    const auto running = m_inFlight.find(photo.get());
    m_wantedSinceKeep.push_back(photo.get());
    // Asked again and again without a `keepOnly` in between: keep only what is wanted, at a cost that each
    // growth by the number in flight pays for.
    if (m_wantedSinceKeep.size() > 2 * m_inFlight.size() + 256) {
        m_wantedSinceKeep.clear();
        for (const auto& [each, request] : m_inFlight)
            if (request->wanted)
                m_wantedSinceKeep.push_back(each);
        m_wantedSinceKeep.push_back(photo.get());
    }
    if (running != m_inFlight.end()) {
        running->second->wanted = true;
        return State::loading;
    }
    auto request = std::make_shared<Request>(photo);
    m_inFlight.emplace(photo.get(), request);
    start(request);
    return State::loading;
}

void ThumbnailCache::keepOnly(const std::unordered_set<const Photo*>& wanted)
{
    wantedChanged(wanted, {});
}

void ThumbnailCache::keepOnly(const std::vector<const Photo*>& wantedInOrder)
{
    std::unordered_map<const Photo*, size_t> order;
    for (const Photo* photo : wantedInOrder)
        order.emplace(photo, order.size());
    wantedChanged(std::unordered_set<const Photo*>(wantedInOrder.begin(), wantedInOrder.end()), std::move(order));
}

void ThumbnailCache::wantedChanged(std::unordered_set<const Photo*> wanted, std::unordered_map<const Photo*, size_t> order)
{
    const auto unwant = [&](const Photo* photo) {
        if (wanted.count(photo) != 0)
            return;
        if (const auto running = m_inFlight.find(photo); running != m_inFlight.end())
            running->second->wanted = false;
    };
    for (const Photo* photo : m_onScreen)
        unwant(photo);
    for (const Photo* photo : m_wantedSinceKeep)
        unwant(photo);
    m_wantedSinceKeep.clear();
    m_wantedOrder = std::move(order);
    // Repaints of an unchanged screen (a thumbnail arriving) leave what waits as it is.
    if (wanted == m_onScreen)
        return;
    // Photos that only join (a screen filling up, the look-ahead growing) waste nothing that was asked for, so
    // they do not restart the wait; one that leaves says the screen still moves (scrolled, or pushed down by
    // photos landing at the top).
    const bool anyLeft = std::any_of(m_onScreen.begin(), m_onScreen.end(),
                                     [&wanted](const Photo* photo) { return wanted.count(photo) == 0; });
    m_onScreen = std::move(wanted);
    if (anyLeft)
        m_stillSince = m_clock();
    scheduleAwaitingRequests();
}

void ThumbnailCache::setCameraFetchDelay(std::chrono::milliseconds delay)
{
    m_cameraFetchDelay = delay;
    scheduleAwaitingRequests();
}

void ThumbnailCache::setClock(Clock clock)
{
    m_clock = std::move(clock);
    m_stillSince = m_clock();
    scheduleAwaitingRequests();
}

void ThumbnailCache::scheduleAwaitingRequests()
{
    if (m_awaitingCamera.empty())
        return;
    const qint64 remaining = m_cameraFetchDelay.count() - (m_clock() - m_stillSince);
    if (remaining <= 0) {
        m_cameraFetchTimer.stop();
        sendAwaitingRequests();
        return;
    }
    m_cameraFetchTimer.start(int(std::min<qint64>(remaining, std::numeric_limits<int>::max())));
}

void ThumbnailCache::sendAwaitingRequests()
{
    if (m_clock() - m_stillSince < m_cameraFetchDelay.count()) {
        scheduleAwaitingRequests();
        return;
    }
    std::vector<std::shared_ptr<Request>> awaiting;
    awaiting.swap(m_awaitingCamera);
    const auto rank = [this](const std::shared_ptr<Request>& request) {
        const auto found = m_wantedOrder.find(request->photo.get());
        return found == m_wantedOrder.end() ? std::numeric_limits<size_t>::max() : found->second;
    };
    std::stable_sort(awaiting.begin(), awaiting.end(),
                     [&rank](const auto& a, const auto& b) { return rank(a) < rank(b); });
    for (const std::shared_ptr<Request>& request : awaiting)
        sendToCamera(request);
}

void ThumbnailCache::forget(const Photo* photo)
{
    const auto found = m_images.find(photo);
    if (found != m_images.end()) {
        m_bytes -= found->second->second.sizeInBytes();
        m_lru.erase(found->second);
        m_images.erase(found);
    }
    m_unavailable.erase(photo);
    m_onScreen.erase(photo);
    const auto running = m_inFlight.find(photo);
    if (running != m_inFlight.end()) {
        running->second->wanted = false;
        m_inFlight.erase(running);
    }
}

void ThumbnailCache::start(const std::shared_ptr<Request>& request) { decodeOffMainThread(request, false); }

void ThumbnailCache::decodeOffMainThread(const std::shared_ptr<Request>& request, bool afterFetch)
{
    const QSize box = m_box;
    const DispatchQueue::Context guard(this);
    ThumbnailCache* self = this;
    DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([request, afterFetch, box, guard, self,
                                                                      token = BackgroundWork::Token()] {
        const auto toMain = [guard, self](std::function<void(ThumbnailCache&)> work) {
            DispatchQueue::main()->async(guard, [self, work = std::move(work)] { work(*self); });
        };
        if (!request->wanted) {
            toMain([request](ThumbnailCache& cache) { cache.dropped(request); });
            return;
        }
        // Reading the thumbnail through the photo refreshes its cache folder's "LastSeen".
        const std::shared_ptr<const ImageReference> file = request->photo->thumbnail();
        if (!file) {
            if (afterFetch)
                toMain([request](ThumbnailCache& cache) { cache.finish(request, {}); });
            else
                toMain([request](ThumbnailCache& cache) { cache.fetchFromCamera(request); });
            return;
        }
        BackgroundWork::noteDecoding();
        // Read through the cache, which follows no link put in the file's place.
        const std::optional<QByteArray> data = file->data();
        QImage image = data ? ImageMetadataHelper::decodeUpright(*data, box, request->photo->orientation()) : QImage();
        toMain([request, image = std::move(image)](ThumbnailCache& cache) mutable {
            cache.finish(request, std::move(image));
        });
    });
}

void ThumbnailCache::fetchFromCamera(const std::shared_ptr<Request>& request)
{
    if (!request->wanted) {
        dropped(request);
        return;
    }
    m_awaitingCamera.push_back(request);
    scheduleAwaitingRequests();
}

void ThumbnailCache::sendToCamera(const std::shared_ptr<Request>& request)
{
    const auto current = m_inFlight.find(request->photo.get());
    if (current == m_inFlight.end() || current->second != request)
        return; // forgotten while it waited
    if (!request->wanted) {
        dropped(request);
        return;
    }
    const DispatchQueue::Context guard(this);
    ThumbnailCache* self = this;
    request->photo->loadThumbnail(
        // Runs on whatever queue the camera asks on: reads the flag and nothing else.
        [request, guard, self](const PhotoPtr&) {
            const bool wanted = request->wanted;
            if (!wanted)
                DispatchQueue::main()->async(guard, [request, self] { self->dropped(request); });
            return wanted;
        },
        // Runs on the camera's delivery queue once the data is in the photo's cache folder, or was left out of
        // it because the grid no longer wanted it by then.
        [request, guard, self](const Photo::LoadResult& result) {
            const bool stored = !(result.error && result.error->domain == imageCacheErrorDomain()
                                  && result.error->code == ImageCacheErrorNoLongerWanted);
            DispatchQueue::main()->async(guard, [request, self, stored] {
                if (stored)
                    self->decodeOffMainThread(request, true);
                else
                    self->dropped(request);
            });
        },
        // Checked where the camera delivers: reads the flag and nothing else.
        [request](const PhotoPtr&) { return request->wanted.load(); });
}

void ThumbnailCache::dropped(const std::shared_ptr<Request>& request)
{
    const auto found = m_inFlight.find(request->photo.get());
    if (found == m_inFlight.end() || found->second != request)
        return;
    m_inFlight.erase(found);
    // Wanted again after it was declined: start over.
    if (request->wanted)
        this->request(request->photo);
}

void ThumbnailCache::finish(const std::shared_ptr<Request>& request, QImage image)
{
    const Photo* photo = request->photo.get();
    const auto found = m_inFlight.find(photo);
    if (found == m_inFlight.end() || found->second != request)
        return; // forgotten meanwhile
    m_inFlight.erase(found);
    if (image.isNull())
        m_unavailable.insert(photo);
    else
        store(photo, std::move(image));
    emit thumbnailChanged(photo);
}

void ThumbnailCache::store(const Photo* photo, QImage image)
{
    const auto found = m_images.find(photo);
    if (found != m_images.end()) {
        m_bytes -= found->second->second.sizeInBytes();
        m_lru.erase(found->second);
        m_images.erase(found);
    }
    m_bytes += image.sizeInBytes();
    m_lru.emplace_front(photo, std::move(image));
    m_images[photo] = m_lru.begin();
    evict();
}

void ThumbnailCache::evict()
{
    // Least recently used first, but never what is on screen: evicting a shown thumbnail would only bring it
    // back with the next paint.
    auto candidate = m_lru.end();
    while (m_bytes > m_byteLimit && candidate != m_lru.begin()) {
        --candidate;
        if (m_onScreen.count(candidate->first) != 0)
            continue;
        m_bytes -= candidate->second.sizeInBytes();
        m_images.erase(candidate->first);
        candidate = m_lru.erase(candidate);
    }
}

} // namespace vornakel
