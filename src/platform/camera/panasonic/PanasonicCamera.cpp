#include "platform/camera/panasonic/PanasonicCamera.h"


#include <QLoggingCategory>
#include <QTimer>


Q_LOGGING_CATEGORY(lcPanasonic, "vornakel.camera.panasonic")

namespace vornakel {

bool PanasonicCamera::isPanasonicMediaServer(const upnp::DeviceDescription& description)
{
    return description.manufacturer.contains(QLatin1String("Panasonic"), Qt::CaseInsensitive) && description.contentDirectory();
}

PanasonicCameraOptions PanasonicCamera::optionsFor(const QUrl& descriptionUrl, std::optional<upnp::DeviceDescription> description)
{
    PanasonicCameraOptions options;
    options.mediaServer.descriptionUrl = descriptionUrl;
    options.mediaServer.identifierScheme = PanasonicCameraDiscovery::backendName();
    options.mediaServer.description = std::move(description);
    const int port = descriptionUrl.port(kMediaServerPort);
    options.camCgiPort = port == kMediaServerPort ? 80 : quint16(port);
    return options;
}

std::shared_ptr<PanasonicCamera> PanasonicCamera::create(PanasonicCameraOptions options)
{
    return std::shared_ptr<PanasonicCamera>(new PanasonicCamera(std::move(options)));
}

PanasonicCamera::PanasonicCamera(PanasonicCameraOptions options)
    : MediaServerCamera(options.mediaServer), m_panasonic(std::move(options))
{
}

PanasonicCamera::~PanasonicCamera()
{
    if (m_access)
        m_access->close();
}

void PanasonicCamera::prepareConnection(const QString& clientName, const InterventionCallback& intervention,
                                        std::function<void(std::optional<Error>)> done)
{
    if (m_access) {
        m_access->close();
        m_access->deleteLater();
    }
    m_access = new PanasonicAccess(m_panasonic.mediaServer.descriptionUrl.host(), m_panasonic.camCgiPort, m_panasonic.access, this);
    QPointer<PanasonicAccess> access = m_access;
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    m_access->open(clientName, m_panasonic.guid, intervention,
                   [weak, access, done](std::optional<Error> error, PanasonicAccess::Granted granted) {
                       auto camera = weak.lock();
                       if (!camera || access != camera->m_access)
                           return;
                       if (!error)
                           camera->properties().batteryLevel()->setValue(granted.batteryLevel);
                       done(error);
                   });
}

void PanasonicCamera::poll(std::function<void(bool)> done)
{
    if (!m_access) {
        QTimer::singleShot(0, this, [done] { done(false); });
        return;
    }
    QPointer<PanasonicAccess> access = m_access;
    std::weak_ptr<PanasonicCamera> weak = std::static_pointer_cast<PanasonicCamera>(shared_from_this());
    m_access->readState([weak, access, done](std::optional<Error> error, std::optional<int> batteryLevel) {
        auto camera = weak.lock();
        if (!camera)
            return;
        if (error)
            qCInfo(lcPanasonic) << "the camera stopped answering:" << error->description();
        else if (access == camera->m_access)
            camera->properties().batteryLevel()->setValue(batteryLevel);
        done(!error);
    });
}

void PanasonicCamera::connectionEnded()
{
    if (m_access)
        m_access->close();
}

// ---- Discovery ----------------------------------------------------------------------------------------------

namespace {

MediaServerMaker lumix()
{
    MediaServerMaker maker;
    maker.backendName = PanasonicCameraDiscovery::backendName();
    maker.listedScheme = PanasonicCameraDiscovery::backendName();
    maker.port = PanasonicCamera::kMediaServerPort;
    maker.descriptionPaths = PanasonicCamera::descriptionPaths();
    maker.accepts = [](const upnp::DeviceDescription& description, bool) { return PanasonicCamera::isPanasonicMediaServer(description); };
    maker.makeCamera = [](const upnp::FoundMediaServer& found) -> std::shared_ptr<MediaServerCamera> {
        return PanasonicCamera::create(PanasonicCamera::optionsFor(found.descriptionUrl, found.description));
    };
    return maker;
}

} // namespace

PanasonicCameraDiscovery::PanasonicCameraDiscovery(QObject* parent) : MediaServerCameraDiscovery(lumix(), parent) {}

} // namespace vornakel
