#pragma once

// A camera item with fixed values that asks no camera for anything: name, size and date are what it was built
// with, its metadata is always loaded, `loadMetadata` completes at once inside the call, and thumbnail, preview
// and stream requests are dropped. It is the base of the in-process fakes of tests and benchmarks, which
// override only what they do differently.

#include "platform/camera/VKLCamera.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace vornakel {

template <typename Interface>
class StaticItem : public Interface {
    static_assert(std::is_base_of_v<VKLFileSystemItem, Interface>, "a camera file system item");

public:
    explicit StaticItem(std::optional<QString> name, std::optional<QDateTime> dateCreated = std::nullopt,
                        uint64_t size = 0)
        : m_name(std::move(name)), m_dateCreated(std::move(dateCreated)), m_size(size) {}

    std::optional<QString> name() const override { return m_name; }
    uint64_t size() const override { return m_size; }
    std::optional<QDateTime> dateCreated() const override { return m_dateCreated; }
    std::optional<int> orientation() const override { return m_orientation; }
    void setOrientation(std::optional<int> orientation) { m_orientation = orientation; }
    std::optional<VKLShootingData> shootingData() const override { return m_shootingData; }
    void setShootingData(std::optional<VKLShootingData> data) { m_shootingData = std::move(data); }
    // Files stand for images; folders do not.
    bool isKnownImageType() const override { return !std::is_base_of_v<VKLFileSystemFolderItem, Interface>; }
    bool metadataLoaded() const override { return true; }
    std::shared_ptr<VKLFileStorage> storage() const override { return nullptr; }
    void loadMetadata(VKLFileSystemItem::ErrorCallback completion) override
    {
        if (completion)
            completion(std::nullopt);
    }
    void fetchThumbnail(VKLFileSystemItem::PreflightBlock, VKLFileSystemItem::ImageDeliveryBlock) override {}
    void fetchPreview(VKLFileSystemItem::PreflightBlock, VKLFileSystemItem::ImageDeliveryBlock) override {}
    void streamItem(VKLFileSystemItem::StreamPreflightBlock, QueuePtr, VKLFileSystemItem::StreamChunkBlock, QueuePtr,
                    VKLFileSystemItem::StreamCompleteBlock, QueuePtr) override {}

protected:
    std::optional<QString> m_name;
    std::optional<QDateTime> m_dateCreated;
    uint64_t m_size;
    std::optional<int> m_orientation;
    std::optional<VKLShootingData> m_shootingData;
};

using StaticFileItem = StaticItem<VKLFileSystemItem>;
// A folder still answers `loadChildren` and `children` itself.
using StaticFolderItem = StaticItem<VKLFileSystemFolderItem>;

} // namespace vornakel
