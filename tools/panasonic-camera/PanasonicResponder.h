#pragma once

// A LUMIX camera in its image-app mode on a TCP port of 127.0.0.1: the UPnP test camera (UpnpResponder.h)
// describing itself as Panasonic's media server at "/Server0/ddd", with the control page (PanasonicCamCgi.h)
// beside it on the same port. The card is closed until the access request is granted. Main thread only.

#include "panasonic-camera/PanasonicCamCgi.h"
#include "upnp-camera/UpnpResponder.h"

#include <memory>

namespace vornakel::tools {

class PanasonicResponder : public QObject {
    Q_OBJECT
public:
    // The media server's options made a LUMIX's: its description path, maker and names.
    static UpnpResponderOptions mediaServerOptions(UpnpResponderOptions options);

    // Serves a camera folder or an in-memory listing.
    PanasonicResponder(const QString& folderPath, UpnpResponderOptions mediaServer, PanasonicCamCgiOptions camCgi,
                       QObject* parent = nullptr);
    PanasonicResponder(SimulatedCameraContent content, UpnpResponderOptions mediaServer, PanasonicCamCgiOptions camCgi,
                       QObject* parent = nullptr);
    ~PanasonicResponder() override;

    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0) { return m_mediaServer->listen(address, port); }
    quint16 port() const { return m_mediaServer->port(); }
    QString descriptionUrl() const { return m_mediaServer->descriptionUrl(); }
    UpnpResponder& mediaServer() { return *m_mediaServer; }
    PanasonicCamCgi& camCgi() { return *m_camCgi; }

private:
    // Puts the control page beside the media server and closes the card until access is granted.
    void hostCamCgi(PanasonicCamCgiOptions camCgi);

    PanasonicCamCgi* m_camCgi = nullptr;
    UpnpResponder* m_mediaServer = nullptr;
};

} // namespace vornakel::tools
