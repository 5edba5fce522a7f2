#pragma once

#include "platform/camera/VKLCamera.h"

#include <QString>

#include <memory>
#include <optional>

namespace vornakel {

// Where on the camera the storage walk found each file. The camera's file items do not know their parent
// folder, but the image cache needs it to keep apart two files of one name in different folders.
namespace RemoteItemLocations {

// Records the folder path of a file item; entries of items that are gone are dropped over time.
void record(const std::shared_ptr<VKLFileSystemItem>& item, const QString& folderPath);
std::optional<QString> folderPath(const std::shared_ptr<VKLFileSystemItem>& item);

} // namespace RemoteItemLocations
} // namespace vornakel
