#pragma once

// A camera that speaks PTP/IP on a TCP port: it serves a camera folder (or an in-memory listing) the way a
// Wi-Fi camera in its "connect to computer" mode does, with the simulated link's faults. The command and
// event connections arrive on the one port and are told apart by their first packet. Main thread only.

#include "platform/camera/ptpip/PtpIpCodec.h"
#include "platform/camera/simulated/SimulatedCamera.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTcpSocket;
class QUdpSocket;

namespace vornakel::simulated {
class CameraContent;
}

namespace vornakel::tools {

struct PtpIpResponderOptions {
    int latencyMs = 0;                   // added before every operation response
    qint64 throughputBytesPerSecond = 0; // 0: as fast as the socket takes it
    int dataPacketSize = 256 * 1024;
    int pairingHoldMs = 0;               // the Init Command Ack waits this long (the camera's own prompt)
    bool pairingHeldUntilAnswered = false; // … or until `answerPairing` is called
    std::optional<uint32_t> initFailReason; // answer Init Fail with this reason instead of the Ack
    qint64 streamErrorAfterBytes = -1;   // an object transfer ends with a general error after this many bytes
    qint64 streamStallAfterBytes = -1;   // … or sends nothing more for `streamStallMs` (0: for ever)
    int streamStallMs = 0;
    qint64 dropAfterBytes = -1;          // both connections close once this many data bytes went out
    QStringList noThumbnailFiles;        // GetThumb answers "no thumbnail" for these names
    QStringList streamFaultFiles;        // the stream faults apply to these names; empty: all
    std::optional<int> batteryPercent = 75;
    // GetDeviceInfo lists MTP's GetObjectPropList and GetObjectPropValue (the properties of a folder's objects
    // in one reply, sizes in 64 bits).
    bool objectPropList = false;
    // GetDeviceInfo lists MTP's 64-bit partial read (GetPartialObject64).
    bool partialObject64 = false;
    // Objects of these sizes (without a file behind them: their bytes are a pattern of the position) in the
    // storage's root, after the folder's own; sizes of 4 GiB or more show as 0xFFFFFFFF in ObjectInfo.
    std::vector<std::pair<QString, uint64_t>> syntheticFiles;
    QString friendlyName = QStringLiteral("PTP/IP Test Camera");
    QString model = QStringLiteral("VK-IP1");
    bool log = false;                    // one line per operation on the diagnostics category

    // The options of a camera folder's "camera.ini", read as the simulated camera reads them.
    static PtpIpResponderOptions fromCameraOptions(const SimulatedCameraOptions& camera);
};

class PtpIpResponder : public QObject {
    Q_OBJECT
public:
    // Serves a camera folder or an in-memory listing.
    PtpIpResponder(const QString& folderPath, PtpIpResponderOptions options, QObject* parent = nullptr);
    PtpIpResponder(SimulatedCameraContent content, PtpIpResponderOptions options, QObject* parent = nullptr);
    ~PtpIpResponder() override;

    // Port 0 takes a free port; false when the address cannot be bound.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;

    PtpIpResponderOptions& options() { return m_options; }
    // The files served, by handle order: path from the root, size and handle.
    struct ServedFile {
        QString relativePath;
        uint64_t size = 0;
        uint32_t handle = 0;
    };
    std::vector<ServedFile> files() const;

    // Test controls.
    // A held pairing prompt is answered: accepted (the Ack goes out) or rejected (Init Fail).
    void answerPairing(bool accepted);
    bool pairingPending() const;
    void setBatteryPercent(int percent); // sends DevicePropChanged on the event connection
    void dropConnections();              // as if the camera went out of range
    // A new photo on the card (as after a shot): it joins the folder (a path from the root, "" for the root)
    // and ObjectAdded goes out. Answers its handle, 0 when there is no such folder.
    uint32_t addFile(const QString& folderPath, const QString& name, const QByteArray& data);
    // The card is taken out: StoreRemoved goes out, and the storage and its objects are gone.
    void removeStorage();
    // The card is put back in: its storage and objects are there again, and StoreAdded goes out.
    void insertStorage();
    // A file is deleted on the camera (a path from the root): it leaves the listings and ObjectRemoved goes
    // out. Answers its handle, 0 when there is no such file.
    uint32_t removeFile(const QString& relativePath);
    // Answers SSDP searches (M-SEARCH) on this UDP address as a camera in its "connect to computer" mode
    // announces its MTP/IP service; port 0 takes a free port. False when the address cannot be bound.
    bool answerSsdp(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 ssdpPort() const;
    // The service a search must ask for (or "ssdp:all") to be answered.
    static QString ssdpServiceType() { return QStringLiteral("urn:microsoft-com:service:MtpNullService:1"); }
    // Answers an operation with these raw bytes instead of its reply, when the function gives some; the
    // responder then waits for the next request (as a broken or hostile camera would, or would not).
    using ReplyOverride = std::function<std::optional<QByteArray>(const ptpip::OperationRequest&)>;
    void setReplyOverride(ReplyOverride override) { m_replyOverride = std::move(override); }
    // A frozen camera reads nothing and answers nothing, probes included, but keeps its connections.
    void setFrozen(bool frozen) { m_frozen = frozen; }
    // Writes raw bytes on the event connection.
    void sendOnEventConnection(const QByteArray& bytes);
    // The client name and GUID of the last Init Command Request.
    QString lastClientName() const { return m_lastClientName; }
    QByteArray lastClientGuid() const { return m_lastClientGuid; }
    int operationCount() const { return m_operationCount; }
    // How long operations waited in all before they were answered: the added latency as the timers kept it.
    qint64 waitedNanoseconds() const { return m_waitedNs; }
    int connectionCount() const { return m_connectionCount; }

signals:
    void operationLogged(const QString& line);

private:
    struct Object;
    struct Connection;
    struct Transfer;

    void build();
    void accept();
    void readFrom(Connection* connection);
    void handle(Connection* connection, const ptpip::Packet& packet);
    void completeInit(Connection* connection);
    void runOperation(Connection* connection, const ptpip::OperationRequest& request);
    void respond(Connection* connection, uint32_t transaction, uint16_t code, std::vector<uint32_t> parameters = {});
    void sendData(Connection* connection, uint32_t transaction, QByteArray data);
    void startObjectTransfer(Connection* connection, uint32_t transaction, const Object& object, uint64_t offset,
                             uint64_t length, bool partial);
    void pump(Connection* connection);
    // Takes a waiting transfer up again after a while, when it is still the connection's.
    void resumeLater(Connection* connection, uint32_t transaction, int milliseconds);
    void closeConnection(Connection* connection);
    void answerSearches();
    void log(const QString& line);
    const Object* objectOf(uint32_t handle) const;
    QByteArray objectInfo(const Object& object) const;
    bool openObject(Transfer& transfer, const Object& object, uint64_t offset) const;
    qint64 readObject(Transfer& transfer, char* into, qint64 maxBytes) const;

    QString m_folderPath;
    std::shared_ptr<simulated::CameraContent> m_content;
    PtpIpResponderOptions m_options;
    QTcpServer m_server;
    QUdpSocket* m_ssdp = nullptr;
    std::deque<Object> m_objects; // handle = index + 1; transfers point into it while it grows
    bool m_storageRemoved = false;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QPointer<QTcpSocket> m_commandSocket;
    QPointer<QTcpSocket> m_eventSocket;
    uint32_t m_nextConnectionNumber = 1;
    Connection* m_pendingPairing = nullptr;
    QByteArray m_guid;
    QString m_lastClientName;
    QByteArray m_lastClientGuid;
    ReplyOverride m_replyOverride;
    bool m_frozen = false;
    qint64 m_dataBytesSent = 0;
    int m_operationCount = 0;
    qint64 m_waitedNs = 0;
    qint64 m_latencyBalanceNs = 0; // latency owed (positive) or given too much (negative) so far
    int m_connectionCount = 0;
};

} // namespace vornakel::tools
