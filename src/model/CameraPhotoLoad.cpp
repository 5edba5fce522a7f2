#include "model/CameraPhotoLoad.h"

#include <utility>

namespace vornakel {

CameraPhotoLoad::CameraPhotoLoad(std::shared_ptr<VKLCamera> camera) : m_camera(std::move(camera)) {}

CameraPhotoLoad::~CameraPhotoLoad() = default;

std::shared_ptr<CameraPhotoLoad> CameraPhotoLoad::create(std::shared_ptr<VKLCamera> camera,
                                                         const CameraFileScanning::Items& files, int chunkSize)
{
    std::shared_ptr<CameraPhotoLoad> load(new CameraPhotoLoad(std::move(camera)));
    load->m_delivery = FileSystemItemMetadataDelivery::create(files, chunkSize);
    load->m_grouping.reserve(files.size());
    return load;
}

std::shared_ptr<CameraPhotoLoad> CameraPhotoLoad::createWalking(std::shared_ptr<VKLCamera> camera, int chunkSize)
{
    std::shared_ptr<CameraPhotoLoad> load(new CameraPhotoLoad(std::move(camera)));
    load->m_chunkSize = chunkSize;
    load->m_scanner = std::make_unique<CameraFileScanning>();
    // The newest shots first: they fill the top of the grid, whose thumbnails are asked for once it holds
    // still, and the older folders' photos land below it.
    load->m_scanner->setFolderOrder(CameraFileScanning::FolderOrder::lastFirst);
    load->m_walkEnded = false;
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
    if (m_scanner) {
        walk();
        return;
    }
    startDelivery(&CameraPhotoLoad::handleCompletion);
}

void CameraPhotoLoad::startDelivery(void (CameraPhotoLoad::*ended)(bool finished))
{
    // The delivery's callbacks may outlive this load (the chain ends after the request in flight); while one
    // runs it holds the load, so a receiver may let go of it from inside a signal.
    const std::weak_ptr<CameraPhotoLoad> weakSelf = weak_from_this();
    m_delivery->startLoading(
        [weakSelf](const FileSystemItemMetadataDelivery::Items& files) {
            if (const auto self = weakSelf.lock())
                self->handleChunk(files);
        },
        [weakSelf, ended](const Result<void>& outcome) {
            if (const auto self = weakSelf.lock())
                ((*self).*ended)(outcome.hasValue());
        });
}

void CameraPhotoLoad::walk()
{
    // The scanner reports only while it lives, and it lives as long as this load.
    m_scanner->scan(
        m_camera, &CameraPhotoLoad::passesWalkFilter,
        [this](std::optional<CameraFileScanning::Items>, std::optional<CameraFileScanning::ScanError> error) {
            m_walkEnded = true;
            m_walkFailed = error.has_value();
            if (!m_delivering)
                deliverNext();
        },
        [this](const CameraFileScanning::Items& files, std::function<void()> listNext) {
            // The newest shots of the folder first, as its newest subfolder came first.
            m_listed.emplace_back(files.rbegin(), files.rend());
            m_listNext = std::move(listNext);
            if (!m_delivering)
                deliverNext();
        });
}

void CameraPhotoLoad::deliverNext()
{
    if (m_listed.empty()) {
        // This folder's files are in: the walk lists the next one. One camera answers one request at a time,
        // so the metadata (and the thumbnails the grid asks for meanwhile) would otherwise wait behind the
        // listing of every other folder.
        if (m_listNext) {
            std::exchange(m_listNext, nullptr)();
            return;
        }
        if (m_walkEnded && !m_completed)
            handleCompletion(!m_walkFailed);
        return;
    }
    m_delivering = true;
    m_delivery = FileSystemItemMetadataDelivery::create(m_listed.front(), m_chunkSize);
    m_listed.pop_front();
    startDelivery(&CameraPhotoLoad::handleDeliveryEnded);
}

void CameraPhotoLoad::handleDeliveryEnded(bool finished)
{
    m_delivering = false;
    if (!finished) {
        // The camera stopped answering: what the walk lists from here on cannot be loaded either.
        m_listed.clear();
        m_scanner.reset();
        handleCompletion(false);
        return;
    }
    deliverNext();
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
