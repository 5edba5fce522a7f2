#include "copying/destinations/ui/LibraryAndEditorOffers.h"

#include "copying/destinations/ui/LightroomDestinationPane.h"
#include "copying/destinations/ui/PhotosDestinationPane.h"
#include "lightroom/LrPluginBridge.h"
#include "platform/core/UserDefaults.h"
#include "platform/photolibrary/PhotoLibrary.h"
#include "sorting/PhotoSortingModel.h"

namespace vornakel {

LibraryAndEditorDestinations::LibraryAndEditorDestinations(std::shared_ptr<PhotoLibrary> library, LrPluginBridge& bridge,
                                                           UserDefaults& defaults, PhotoSortingModel& presets,
                                                           QString cacheFolder)
    : m_library(std::move(library)), m_bridge(bridge), m_defaults(defaults), m_presets(presets),
      m_cacheFolder(std::move(cacheFolder))
{
}

PhotosCopyDestination::Ptr LibraryAndEditorDestinations::photosDestination()
{
    if (!m_photos && m_library && m_library->exists())
        m_photos = PhotosCopyDestination::create(m_library, m_defaults, m_presets, m_cacheFolder);
    return m_photos;
}

LightroomCopyDestination::Ptr LibraryAndEditorDestinations::lightroomDestination()
{
    if (!m_lightroom && m_bridge.lightroomIsInstalled())
        m_lightroom = LightroomCopyDestination::create(m_bridge, m_defaults, m_presets);
    return m_lightroom;
}

std::vector<CopyDestinationOffer> LibraryAndEditorDestinations::offers()
{
    std::vector<CopyDestinationOffer> offers;
    UserDefaults* defaults = &m_defaults;
    PhotoSortingModel* presets = &m_presets;
    if (auto photos = photosDestination()) {
        offers.push_back({photos, [defaults, presets](const CopyDestinationPtr& destination) -> std::unique_ptr<QWidget> {
            auto typed = std::dynamic_pointer_cast<PhotosCopyDestination>(destination);
            if (!typed)
                return nullptr;
            return std::make_unique<PhotosDestinationPane>(typed, *defaults, *presets);
        }});
    }
    if (auto lightroom = lightroomDestination()) {
        offers.push_back({lightroom, [defaults, presets](const CopyDestinationPtr& destination) -> std::unique_ptr<QWidget> {
            auto typed = std::dynamic_pointer_cast<LightroomCopyDestination>(destination);
            if (!typed)
                return nullptr;
            return std::make_unique<LightroomDestinationPane>(typed, *defaults, *presets);
        }});
    }
    return offers;
}

} // namespace vornakel
