#pragma once

#include "platform/camera/simulated/SimulatedCamera.h"
#include "samplecamera/SampleCameraGenerator.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace vornakel::test {

// A small camera card written once per test run: 6 shots in DCIM/100VKLCM and 101VKLCM, half with a RAW file.
const tools::SampleCameraResult& sampleCamera();
QString sampleCameraFolder();

// Waits for an asynchronous call that reports an optional error; a call that never reports fails the test.
std::optional<Error> awaitError(const std::function<void(std::function<void(std::optional<Error>)>)>& call);

std::optional<Error> connectCamera(VKLCamera& camera);
// Connects and switches to storage access; answers the root folder.
std::shared_ptr<VKLFileSystemFolderItem> openStorage(VKLCamera& camera);
// Lists the folder tree below `folder` one request at a time; files in listing order, folders depth first.
std::vector<VKLFileSystemItem::ItemPtr> walkFiles(const std::shared_ptr<VKLFileSystemFolderItem>& folder);
VKLFileSystemItem::ItemPtr findFile(const std::vector<VKLFileSystemItem::ItemPtr>& files, const QString& name);

struct ImageResult {
    bool delivered = false;
    std::optional<Error> error;
    std::optional<QByteArray> data;
    QString queueLabel;
};
ImageResult fetchImage(const VKLFileSystemItem::ItemPtr& item, bool preview);

struct StreamResult {
    QByteArray data;
    int chunks = 0;
    int completions = 0;
    std::optional<Error> error;
    bool contextUnchanged = false;
};
// Streams the item through the three queues (main queue when none are given); `stopAfterChunks` answers 1 then.
StreamResult streamFile(const VKLFileSystemItem::ItemPtr& item, QueuePtr queue = {}, int stopAfterChunks = -1);

QByteArray readFile(const QString& path);

} // namespace vornakel::test
