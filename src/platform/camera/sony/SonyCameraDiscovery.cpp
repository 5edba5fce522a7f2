#include "platform/camera/sony/SonyCameraDiscovery.h"

#include "platform/camera/upnp/MediaServerCamera.h"

namespace vornakel {

namespace {

MediaServerMaker sony()
{
    MediaServerMaker maker;
    maker.backendName = SonyCameraDiscovery::backendName();
    maker.listedScheme = SonyCameraDiscovery::listedScheme();
    maker.port = SonyCameraDiscovery::kMakersPort;
    maker.descriptionPaths = SonyCameraDiscovery::descriptionPaths();
    maker.accepts = [](const upnp::DeviceDescription& description, bool listed) {
        if (SonyCameraDiscovery::isSonyMediaServer(description))
            return true;
        // A listed address may be any media server, but not one another maker's backend takes.
        return listed && !description.manufacturer.contains(QLatin1String("Panasonic"), Qt::CaseInsensitive);
    };
    maker.makeCamera = [](const upnp::FoundMediaServer& found) {
        MediaServerCameraOptions options;
        options.descriptionUrl = found.descriptionUrl;
        options.identifierScheme = SonyCameraDiscovery::backendName();
        options.displayName = found.description.friendlyName.simplified().left(128);
        return MediaServerCamera::create(options);
    };
    return maker;
}

} // namespace

bool SonyCameraDiscovery::isSonyMediaServer(const upnp::DeviceDescription& description)
{
    return description.manufacturer.contains(QLatin1String("Sony"), Qt::CaseInsensitive) && description.contentDirectory();
}

SonyCameraDiscovery::SonyCameraDiscovery(QObject* parent) : MediaServerCameraDiscovery(sony(), parent) {}

} // namespace vornakel
