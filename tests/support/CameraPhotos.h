#pragma once

#include "model/CameraFileScanning.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace vornakel::test {

// Connects to the camera and answers its photos, metadata loaded, by file name.
inline std::vector<PhotoPtr> photosOf(const std::shared_ptr<VKLCamera>& camera)
{
    std::optional<std::optional<Error>> connected;
    camera->connectWithClientName(QStringLiteral("test"), [&](std::optional<Error> error, auto) { connected = error; }, {});
    EXPECT_TRUE(runUntil([&] { return connected.has_value(); }));
    CameraFileScanning scanning;
    std::optional<CameraFileScanning::Items> files;
    scanning.scan(camera, [](const CameraFileScanning::ItemPtr& item) { return item->isKnownImageType(); },
                  [&](std::optional<CameraFileScanning::Items> items, auto) { files = std::move(items); });
    EXPECT_TRUE(runUntil([&] { return files.has_value(); }));
    if (!files)
        return {};
    size_t loaded = 0;
    for (const auto& item : *files)
        item->loadMetadata([&](std::optional<Error>) { ++loaded; });
    EXPECT_TRUE(runUntil([&] { return loaded == files->size(); }));
    std::vector<PhotoPtr> photos = CameraFileScanning::photos(*files);
    std::sort(photos.begin(), photos.end(), [](const PhotoPtr& a, const PhotoPtr& b) {
        return a->primaryVariant()->fileName() < b->primaryVariant()->fileName();
    });
    return photos;
}

} // namespace vornakel::test
