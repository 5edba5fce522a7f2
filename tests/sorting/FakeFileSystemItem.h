#pragma once

#include "model/PhotoVariant.h"
#include "platform/camera/VKLCamera.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

namespace vornakel::test {

// A camera file that only has a name, a size and a date: all that sorting reads of a variant.
class FakeFileSystemItem final : public VKLFileSystemItem {
public:
    FakeFileSystemItem(std::optional<QString> name, std::optional<QDateTime> date, uint64_t size = 1000)
        : m_name(std::move(name)), m_date(std::move(date)), m_size(size) {}

    std::optional<QString> name() const override { return m_name; }
    uint64_t size() const override { return m_size; }
    std::optional<QDateTime> dateCreated() const override { return m_date; }
    bool isKnownImageType() const override { return true; }
    bool metadataLoaded() const override { return true; }
    std::shared_ptr<VKLFileStorage> storage() const override { return nullptr; }
    void loadMetadata(ErrorCallback) override {}
    void fetchThumbnail(PreflightBlock, ImageDeliveryBlock) override {}
    void fetchPreview(PreflightBlock, ImageDeliveryBlock) override {}
    void streamItem(StreamPreflightBlock, QueuePtr, StreamChunkBlock, QueuePtr, StreamCompleteBlock, QueuePtr) override {}

private:
    std::optional<QString> m_name;
    std::optional<QDateTime> m_date;
    uint64_t m_size;
};

inline std::shared_ptr<PhotoVariant> makeVariant(const QString& name, std::optional<QDateTime> date = std::nullopt)
{
    return PhotoVariant::create(std::make_shared<FakeFileSystemItem>(name, std::move(date)));
}

inline QDateTime utc(int year, int month, int day, int hour = 12, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC);
}

} // namespace vornakel::test
