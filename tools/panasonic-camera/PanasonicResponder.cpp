#include "panasonic-camera/PanasonicResponder.h"

namespace vornakel::tools {

UpnpResponderOptions PanasonicResponder::mediaServerOptions(UpnpResponderOptions options)
{
    options.descriptionPath = QStringLiteral("/Server0/ddd");
    options.manufacturer = QStringLiteral("Panasonic");
    options.modelName = QStringLiteral("LUMIX");
    if (options.friendlyName == UpnpResponderOptions().friendlyName)
        options.friendlyName = QStringLiteral("VK1-5A3C21");
    return options;
}

PanasonicResponder::PanasonicResponder(const QString& folderPath, UpnpResponderOptions mediaServer,
                                       PanasonicCamCgiOptions camCgi, QObject* parent)
    : QObject(parent), m_mediaServer(new UpnpResponder(folderPath, mediaServerOptions(std::move(mediaServer)), this))
{
    hostCamCgi(std::move(camCgi));
}

PanasonicResponder::PanasonicResponder(SimulatedCameraContent content, UpnpResponderOptions mediaServer,
                                       PanasonicCamCgiOptions camCgi, QObject* parent)
    : QObject(parent), m_mediaServer(new UpnpResponder(std::move(content), mediaServerOptions(std::move(mediaServer)), this))
{
    hostCamCgi(std::move(camCgi));
}

void PanasonicResponder::hostCamCgi(PanasonicCamCgiOptions camCgi)
{
    m_camCgi = new PanasonicCamCgi(std::move(camCgi), this);
    PanasonicCamCgi* camCgiPage = m_camCgi;
    m_mediaServer->addHandler([camCgiPage](const HttpRequest& request) -> std::optional<HttpReply> {
        if (request.path != QLatin1String("/cam.cgi"))
            return std::nullopt;
        if (request.method != "GET")
            return HttpReply{405, "text/plain", {}, {}};
        const PanasonicCamCgi::Reply reply = camCgiPage->handle(request.query, request.headers.value("x-session_id"));
        return HttpReply{reply.status, reply.contentType, reply.body, {}};
    });
    m_mediaServer->setAccessGate([camCgiPage](const HttpRequest&) { return camCgiPage->accessGranted(); });
}

PanasonicResponder::~PanasonicResponder() = default;

} // namespace vornakel::tools
