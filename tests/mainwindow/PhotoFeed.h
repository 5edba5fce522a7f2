#pragma once

// Photos for the grid, delivered the way the connected-camera view gets them: files on an in-process camera,
// their metadata loaded in chunks of 10 by the metadata delivery, each chunk grouped into photos and handed
// over as a grouping update.

#include "mainwindow/PhotoBrowser.h"
#include "model/CameraFileScanning.h"
#include "model/FileSystemItemMetadataDelivery.h"
#include "support/InProcessCamera.h"
#include "support/ScopedImageCache.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace vornakel::test {

// A JPEG of the given size and colour, as a camera would deliver a thumbnail or preview.
inline QByteArray jpegBytes(QSize size, QColor colour = QColor(90, 140, 200))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    // A darker top-left quarter shows which way the image is turned.
    for (int y = 0; y < size.height() / 2; ++y)
        for (int x = 0; x < size.width() / 2; ++x)
            image.setPixelColor(x, y, colour.darker(300));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

inline QDateTime at(int year, int month, int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc());
}

class PhotoFeed {
public:
    PhotoFeed()
        : m_options(std::make_shared<InProcessCameraOptions>())
        , m_camera(std::make_shared<InProcessCamera>(QStringLiteral("FeedCamera")))
        , m_root(std::make_shared<InProcessFolder>(QStringLiteral("DCIM"), m_options))
        , m_storage(std::make_shared<InProcessStorage>(m_root, m_camera))
    {
        m_camera->addStorage(m_storage);
        // Each feed gets its own image cache, so thumbnails of one test never show up in another.
        Photo::forgetCacheFolderClaims();
    }
    ~PhotoFeed()
    {
        // A preview or thumbnail still on its way would otherwise be stored after the test, into a gone folder.
        EXPECT_TRUE(InProcessCamera::waitForDeliveries());
        Photo::forgetCacheFolderClaims();
    }

    std::shared_ptr<InProcessFile> add(const QString& name, std::optional<QDateTime> date)
    {
        auto file = m_root->addFile(name, std::move(date));
        file->setStorage(m_storage);
        file->setLoaded(false);
        m_files.push_back(file);
        return file;
    }
    const std::vector<std::shared_ptr<InProcessFile>>& files() const { return m_files; }
    const std::shared_ptr<InProcessCamera>& camera() const { return m_camera; }
    const std::shared_ptr<InProcessCameraOptions>& options() const { return m_options; }
    const PhotoGrouping& grouping() const { return m_grouping; }

    // Delivers the files (all of them, or those given, in that order) in chunks of 10, each chunk's grouping
    // update going to `apply`; returns once the delivery has ended.
    void deliver(const std::function<void(const PhotoGrouping::Update&)>& apply,
                 std::vector<std::shared_ptr<InProcessFile>> order = {})
    {
        if (order.empty())
            order = m_files;
        FileSystemItemMetadataDelivery::Items items(order.begin(), order.end());
        auto delivery = FileSystemItemMetadataDelivery::create(items, 10);
        bool done = false;
        delivery->startLoading(
            [this, apply](const FileSystemItemMetadataDelivery::Items& chunk) {
                const PhotoGrouping::Update update = m_grouping.add(chunk);
                apply(update);
            },
            [&done](const Result<void>&) { done = true; });
        ASSERT_TRUE(runUntil([&] { return done; }));
    }
    void deliver(PhotoBrowser& browser, std::vector<std::shared_ptr<InProcessFile>> order = {})
    {
        deliver([&browser](const PhotoGrouping::Update& update) { browser.applyGroupingUpdate(update); },
                std::move(order));
    }

private:
    QTemporaryDir m_cache;
    ScopedImageCache m_cacheInUse{m_cache.path()};
    std::shared_ptr<InProcessCameraOptions> m_options;
    std::shared_ptr<InProcessCamera> m_camera;
    std::shared_ptr<InProcessFolder> m_root;
    std::shared_ptr<InProcessStorage> m_storage;
    std::vector<std::shared_ptr<InProcessFile>> m_files;
    PhotoGrouping m_grouping;
};

inline QStringList namesOf(const std::vector<PhotoPtr>& photos)
{
    QStringList names;
    for (const PhotoPtr& photo : photos)
        names << photo->primaryVariant()->fileName() +
                     (photo->previewVariant() ? QStringLiteral("+") + photo->previewVariant()->fileName() : QString());
    return names;
}

} // namespace vornakel::test
