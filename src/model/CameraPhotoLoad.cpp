#include "model/CameraPhotoLoad.h"

namespace vornakel {

CameraPhotoLoad::CameraPhotoLoad(std::shared_ptr<VKLCamera> camera) : m_camera(std::move(camera)) {}

CameraPhotoLoad::~CameraPhotoLoad() = default;

std::shared_ptr<CameraPhotoLoad> CameraPhotoLoad::create(std::shared_ptr<VKLCamera> camera,
                                                         const CameraFileScanning::Items& files, int chunkSize)
{
    std::shared_ptr<CameraPhotoLoad> load(new CameraPhotoLoad(std::move(camera)));
    load->m_delivery = FileSystemItemMetadataDelivery::create(files, chunkSize);
    return load;
}

bool CameraPhotoLoad::passesWalkFilter(const CameraFileScanning::ItemPtr& item)
{
    return item && (item->isKnownImageType() || !item->metadataLoaded());
}

void CameraPhotoLoad::start()
{
    if (m_started)
        return;
    m_started = true;
    // The delivery's callbacks may outlive this load (the chain ends after the request in flight); while one
    // runs it holds the load, so a receiver may let go of it from inside a signal.
    const std::weak_ptr<CameraPhotoLoad> weakSelf = weak_from_this();
    m_delivery->startLoading(
        [weakSelf](const FileSystemItemMetadataDelivery::Items& files) {
            if (const auto self = weakSelf.lock())
                self->handleChunk(files);
        },
        [weakSelf](const Result<void>& outcome) {
            if (const auto self = weakSelf.lock())
                self->handleCompletion(outcome.hasValue());
        });
}

void CameraPhotoLoad::handleChunk(const CameraFileScanning::Items& files)
{
    CameraFileScanning::Items images;
    images.reserve(files.size());
    for (const CameraFileScanning::ItemPtr& file : files)
        if (file && file->isKnownImageType())
            images.push_back(file);
    PhotoGrouping::Update update = m_grouping.add(images);
    if (!update.added.empty() || !update.removed.empty())
        emit photosChanged(update);
}

void CameraPhotoLoad::handleCompletion(bool finished)
{
    m_completed = true;
    m_finished = finished;
    emit completed(finished);
}

} // namespace vornakel
