#pragma once

#include "copying/destinations/LightroomCopyDestination.h"
#include "copying/destinations/PhotosCopyDestination.h"
#include "copying/ui/CopyDestinationOffer.h"

#include <memory>
#include <vector>

namespace vornakel {

class LrPluginBridge;
class PhotoLibrary;
class PhotoSortingModel;
class UserDefaults;

// The photo library and photo editor as the copy sheet offers them. Each destination is made once, the first
// time it exists, and kept, so its settings and its pane's state carry over from one copy to the next.
class LibraryAndEditorDestinations {
public:
    LibraryAndEditorDestinations(std::shared_ptr<PhotoLibrary> library, LrPluginBridge& bridge, UserDefaults& defaults,
                                 PhotoSortingModel& presets, QString cacheFolder = {});

    // The library's offer while it reports a library, then the editor's while the editor is installed.
    std::vector<CopyDestinationOffer> offers();

    PhotosCopyDestination::Ptr photosDestination();
    LightroomCopyDestination::Ptr lightroomDestination();

private:
    std::shared_ptr<PhotoLibrary> m_library;
    LrPluginBridge& m_bridge;
    UserDefaults& m_defaults;
    PhotoSortingModel& m_presets;
    QString m_cacheFolder;
    PhotosCopyDestination::Ptr m_photos;
    LightroomCopyDestination::Ptr m_lightroom;
};

} // namespace vornakel
