#pragma once

// A LUMIX camera's control page on a TCP port of 127.0.0.1: a small HTTP/1.1 server (GET, keep-alive) that
// hands "/cam.cgi" to PanasonicCamCgi and answers 404 to anything else. Main thread only.

#include "panasonic-camera/PanasonicCamCgi.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;

namespace vornakel::tools {

class PanasonicCameraServer : public QObject {
    Q_OBJECT
public:
    explicit PanasonicCameraServer(PanasonicCamCgiOptions options, QObject* parent = nullptr);
    ~PanasonicCameraServer() override;

    // Port 0 takes a free port; false when the address cannot be bound.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return m_port; }
    PanasonicCamCgi& camCgi() { return *m_camCgi; }

    // As if the camera went out of range: every connection is reset and new ones are refused.
    void dropConnections();
    // A frozen camera keeps its connections but answers nothing.
    void setFrozen(bool frozen) { m_frozen = frozen; }

private:
    struct Connection;
    void accept();
    void abortAll();
    void readFrom(Connection* connection);
    void serve(Connection* connection, const QByteArray& head);
    void send(Connection* connection, int status, const QByteArray& contentType, const QByteArray& body);

    QTcpServer m_server;
    quint16 m_port = 0;
    PanasonicCamCgi* m_camCgi = nullptr;
    std::vector<std::unique_ptr<Connection>> m_connections;
    bool m_frozen = false;
};

} // namespace vornakel::tools
