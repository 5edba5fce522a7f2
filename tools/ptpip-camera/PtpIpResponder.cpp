#include "ptpip-camera/PtpIpResponder.h"

#include "platform/camera/simulated/SimulatedContent.h"
#include "testcamera-cli/TestCameraLinkFaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QTimer>

#include <algorithm>
#include <deque>

Q_LOGGING_CATEGORY(lcPtpIpCamera, "vornakel.ptpipcamera")

namespace vornakel::tools {

using namespace ptpip;

namespace {

constexpr uint32_t kStorageId = 0x00010001;
// More than this much unsent keeps the responder from queueing further data.
constexpr qint64 kMaxQueuedBytes = 2 * 1024 * 1024;

uint16_t formatOfName(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return FormatExifJpeg;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return FormatTiff;
    if (suffix == QLatin1String("png"))
        return FormatPng;
    // RAW files and anything else: cameras give them the undefined format.
    return FormatUndefined;
}

QString operationName(uint16_t code)
{
    switch (code) {
    case OpGetDeviceInfo: return QStringLiteral("GetDeviceInfo");
    case OpOpenSession: return QStringLiteral("OpenSession");
    case OpCloseSession: return QStringLiteral("CloseSession");
    case OpGetStorageIDs: return QStringLiteral("GetStorageIDs");
    case OpGetStorageInfo: return QStringLiteral("GetStorageInfo");
    case OpGetObjectHandles: return QStringLiteral("GetObjectHandles");
    case OpGetObjectInfo: return QStringLiteral("GetObjectInfo");
    case OpGetObject: return QStringLiteral("GetObject");
    case OpGetThumb: return QStringLiteral("GetThumb");
    case OpGetPartialObject: return QStringLiteral("GetPartialObject");
    case OpGetDevicePropDesc: return QStringLiteral("GetDevicePropDesc");
    case OpGetDevicePropValue: return QStringLiteral("GetDevicePropValue");
    case OpGetObjectPropList: return QStringLiteral("GetObjectPropList");
    case OpGetObjectPropValue: return QStringLiteral("GetObjectPropValue");
    case OpGetPartialObject64: return QStringLiteral("GetPartialObject64");
    default: return QStringLiteral("0x%1").arg(code, 4, 16, QLatin1Char('0'));
    }
}

} // namespace

struct PtpIpResponder::Object {
    uint32_t handle = 0;
    uint32_t parent = 0; // 0 in the root
    simulated::Entry entry;
    uint16_t format = FormatUndefined;
    // An object without a file: its `data`, or when that is empty `entry.size` bytes of a position pattern.
    bool synthetic = false;
    QByteArray data;
    bool removed = false; // deleted on the camera: listed no more, its handle answers "invalid"
};

struct PtpIpResponder::Transfer {
    uint32_t transaction = 0;
    const Object* object = nullptr;
    uint64_t offset = 0;
    uint64_t remaining = 0;
    uint64_t sent = 0;
    bool partial = false;
    bool faults = false;
    bool stalled = false;
    bool waiting = false; // a paced or stalled pump is scheduled
    QElapsedTimer clock;
    // Open for the whole transfer: a folder camera's file, or an in-memory object's reader.
    std::shared_ptr<QFile> file;
    std::shared_ptr<simulated::ContentReader> reader;
    uint64_t position = 0; // a synthetic object's next byte
};

struct PtpIpResponder::Connection {
    QPointer<QTcpSocket> socket;
    PacketReader reader;
    enum class Kind { Unknown, Command, Event } kind = Kind::Unknown;
    uint32_t number = 0;
    bool sessionOpen = false;
    bool busy = false;
    std::deque<OperationRequest> pending;
    std::optional<Transfer> transfer;
};

PtpIpResponderOptions PtpIpResponderOptions::fromCameraOptions(const SimulatedCameraOptions& camera)
{
    PtpIpResponderOptions options;
    takeLinkFaults(options, camera);
    if (camera.pairingPrompt)
        options.pairingHoldMs = std::max(1, camera.pairingDelayMs);
    if (camera.connectErrorCode == 1010)
        options.initFailReason = InitFailRejected;
    else if (camera.connectErrorCode == 1012)
        options.initFailReason = InitFailBusy;
    // The five battery levels (0 full … 4 empty) as a percentage.
    options.batteryPercent = camera.batteryLevel ? std::optional<int>(std::clamp(100 - *camera.batteryLevel * 25, 0, 100))
                                                 : std::nullopt;
    if (!camera.friendlyDisplayName.isEmpty())
        options.friendlyName = camera.friendlyDisplayName;
    return options;
}

PtpIpResponder::PtpIpResponder(const QString& folderPath, PtpIpResponderOptions options, QObject* parent)
    : QObject(parent), m_folderPath(QDir(folderPath).absolutePath()),
      m_content(simulated::CameraContent::onDisk(folderPath)), m_options(std::move(options))
{
    build();
}

PtpIpResponder::PtpIpResponder(SimulatedCameraContent content, PtpIpResponderOptions options, QObject* parent)
    : QObject(parent), m_content(simulated::CameraContent::inMemory(std::move(content))), m_options(std::move(options))
{
    build();
}

PtpIpResponder::~PtpIpResponder()
{
    for (auto& connection : m_connections) {
        if (connection->socket)
            connection->socket->disconnect(this);
    }
}

void PtpIpResponder::build()
{
    m_guid = QByteArray("VornakelPtpIpCam", 16);
    // Folders first, each followed by what it holds, in the listing's order.
    std::function<void(const simulated::Entry&, uint32_t)> walk = [&](const simulated::Entry& folder, uint32_t parent) {
        const auto listing = m_content->list(folder, true);
        if (!listing)
            return;
        for (const simulated::Entry& entry : *listing) {
            Object object;
            object.handle = uint32_t(m_objects.size() + 1);
            object.parent = parent;
            object.entry = entry;
            object.format = entry.isFolder ? uint16_t(FormatAssociation) : formatOfName(entry.name);
            // An in-memory file is served from its bytes, or its size of the same position pattern, without
            // going through a reader from its start for every partial read.
            if (entry.file) {
                object.synthetic = true;
                object.data = entry.file->data;
            }
            m_objects.push_back(object);
            if (entry.isFolder)
                walk(entry, object.handle);
        }
    };
    walk(m_content->root(), 0);
    for (const auto& [name, size] : m_options.syntheticFiles) {
        Object object;
        object.handle = uint32_t(m_objects.size() + 1);
        object.entry.name = name;
        object.entry.relativePath = name;
        object.entry.size = size;
        object.format = formatOfName(name);
        object.synthetic = true;
        m_objects.push_back(object);
    }
    connect(&m_server, &QTcpServer::newConnection, this, &PtpIpResponder::accept);
}

bool PtpIpResponder::listen(const QHostAddress& address, quint16 port) { return m_server.listen(address, port); }

quint16 PtpIpResponder::port() const { return m_server.serverPort(); }

std::vector<PtpIpResponder::ServedFile> PtpIpResponder::files() const
{
    std::vector<ServedFile> result;
    for (const Object& object : m_objects) {
        if (!object.entry.isFolder && !object.removed)
            result.push_back({object.entry.relativePath, object.entry.size, object.handle});
    }
    return result;
}

const PtpIpResponder::Object* PtpIpResponder::objectOf(uint32_t handle) const
{
    if (handle == 0 || handle > m_objects.size() || m_storageRemoved || m_objects[handle - 1].removed)
        return nullptr;
    return &m_objects[handle - 1];
}

void PtpIpResponder::log(const QString& line)
{
    if (m_options.log)
        qCInfo(lcPtpIpCamera).noquote() << line;
    emit operationLogged(line);
}

void PtpIpResponder::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        ++m_connectionCount;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] { pump(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { closeConnection(raw); });
    }
}

void PtpIpResponder::closeConnection(Connection* connection)
{
    const auto found = std::find_if(m_connections.begin(), m_connections.end(),
                                    [&](const auto& each) { return each.get() == connection; });
    if (found == m_connections.end())
        return;
    if (m_pendingPairing == connection)
        m_pendingPairing = nullptr;
    const bool command = connection->kind == Connection::Kind::Command;
    std::unique_ptr<Connection> owned = std::move(*found);
    m_connections.erase(found);
    if (owned->socket) {
        owned->socket->disconnect(this);
        owned->socket->close();
        owned->socket->deleteLater();
    }
    // The session ends with its command connection; the event connection goes with it.
    if (command) {
        log(QStringLiteral("command connection closed"));
        std::vector<Connection*> events;
        for (auto& each : m_connections) {
            if (each->kind == Connection::Kind::Event)
                events.push_back(each.get());
        }
        for (Connection* each : events)
            closeConnection(each);
    }
}

void PtpIpResponder::dropConnections()
{
    log(QStringLiteral("dropping the connections"));
    m_server.pauseAccepting();
    while (!m_connections.empty()) {
        Connection* connection = m_connections.front().get();
        if (connection->socket)
            connection->socket->abort();
        closeConnection(connection);
    }
    m_server.resumeAccepting();
}

void PtpIpResponder::readFrom(Connection* connection)
{
    if (!connection->socket || m_frozen)
        return;
    connection->reader.append(connection->socket->readAll());
    Packet packet;
    while (true) {
        const auto status = connection->reader.next(packet);
        if (status == PacketReader::Status::NeedMore)
            return;
        if (status == PacketReader::Status::Failed) {
            log(QStringLiteral("closing a connection: %1").arg(connection->reader.error()));
            closeConnection(connection);
            return;
        }
        handle(connection, packet);
        // The packet may have closed the connection.
        if (std::none_of(m_connections.begin(), m_connections.end(), [&](const auto& each) { return each.get() == connection; }))
            return;
    }
}

void PtpIpResponder::handle(Connection* connection, const Packet& packet)
{
    switch (packet.type) {
    case PacketType::InitCommandRequest: {
        const auto request = decodeInitCommandRequest(packet.payload);
        if (!request || connection->kind != Connection::Kind::Unknown) {
            closeConnection(connection);
            return;
        }
        connection->kind = Connection::Kind::Command;
        connection->number = m_nextConnectionNumber++;
        m_lastClientName = request->friendlyName;
        m_lastClientGuid = request->guid;
        log(QStringLiteral("Init Command Request from \"%1\"").arg(request->friendlyName));
        if (m_options.pairingHoldMs > 0 || m_options.pairingHeldUntilAnswered) {
            log(QStringLiteral("pairing prompt shown"));
            m_pendingPairing = connection;
            if (m_options.pairingHoldMs > 0 && !m_options.pairingHeldUntilAnswered) {
                QTimer::singleShot(m_options.pairingHoldMs, this, [this, connection] {
                    if (m_pendingPairing == connection)
                        answerPairing(!m_options.initFailReason || *m_options.initFailReason != InitFailRejected);
                });
            }
            return;
        }
        completeInit(connection);
        return;
    }
    case PacketType::InitEventRequest: {
        const auto number = decodeUint32(packet.payload);
        const bool known = number && std::any_of(m_connections.begin(), m_connections.end(), [&](const auto& each) {
            return each->kind == Connection::Kind::Command && each->number == *number;
        });
        if (!known || connection->kind != Connection::Kind::Unknown) {
            connection->socket->write(encodeInitFail(InitFailUnspecified));
            connection->socket->flush();
            closeConnection(connection);
            return;
        }
        connection->kind = Connection::Kind::Event;
        m_eventSocket = connection->socket;
        log(QStringLiteral("Init Event Request"));
        connection->socket->write(encodePacket(PacketType::InitEventAck, {}));
        return;
    }
    case PacketType::OperationRequest: {
        const auto request = decodeOperationRequest(packet.payload);
        if (!request || connection->kind != Connection::Kind::Command) {
            closeConnection(connection);
            return;
        }
        connection->pending.push_back(*request);
        if (!connection->busy) {
            const OperationRequest next = connection->pending.front();
            connection->pending.pop_front();
            runOperation(connection, next);
        }
        return;
    }
    case PacketType::Cancel: {
        const auto transaction = decodeUint32(packet.payload);
        for (auto& each : m_connections) {
            if (each->transfer && transaction && each->transfer->transaction == *transaction) {
                log(QStringLiteral("Cancel transaction %1").arg(*transaction));
                each->transfer.reset();
                respond(each.get(), *transaction, RespTransactionCancelled);
            }
        }
        return;
    }
    case PacketType::ProbeRequest:
        connection->socket->write(encodePacket(PacketType::ProbeResponse, {}));
        return;
    default:
        return;
    }
}

void PtpIpResponder::completeInit(Connection* connection)
{
    if (m_options.initFailReason) {
        log(QStringLiteral("Init Fail %1").arg(*m_options.initFailReason));
        connection->socket->write(encodeInitFail(*m_options.initFailReason));
        connection->socket->flush();
        connection->socket->disconnectFromHost();
        return;
    }
    InitCommandAck ack;
    ack.connectionNumber = connection->number;
    ack.guid = m_guid;
    ack.friendlyName = m_options.friendlyName;
    m_commandSocket = connection->socket;
    connection->socket->write(encode(ack));
}

void PtpIpResponder::answerPairing(bool accepted)
{
    Connection* connection = m_pendingPairing;
    m_pendingPairing = nullptr;
    if (!connection || !connection->socket)
        return;
    log(accepted ? QStringLiteral("pairing accepted on the camera") : QStringLiteral("pairing rejected on the camera"));
    if (!accepted) {
        connection->socket->write(encodeInitFail(InitFailRejected));
        connection->socket->flush();
        connection->socket->disconnectFromHost();
        return;
    }
    completeInit(connection);
}

bool PtpIpResponder::pairingPending() const { return m_pendingPairing != nullptr; }

void PtpIpResponder::setBatteryPercent(int percent)
{
    m_options.batteryPercent = percent;
    if (m_eventSocket) {
        log(QStringLiteral("DevicePropChanged BatteryLevel %1").arg(percent));
        m_eventSocket->write(encode(EventPacket{EventDevicePropChanged, 0xFFFFFFFF, {PropBatteryLevel}}));
    }
}

uint32_t PtpIpResponder::addFile(const QString& folderPath, const QString& name, const QByteArray& data)
{
    uint32_t parent = 0;
    if (!folderPath.isEmpty()) {
        const auto folder = std::find_if(m_objects.begin(), m_objects.end(), [&](const Object& each) {
            return each.entry.isFolder && each.entry.relativePath == folderPath;
        });
        if (folder == m_objects.end())
            return 0;
        parent = folder->handle;
    }
    Object object;
    object.handle = uint32_t(m_objects.size() + 1);
    object.parent = parent;
    object.entry.name = name;
    object.entry.relativePath = folderPath.isEmpty() ? name : folderPath + QLatin1Char('/') + name;
    object.entry.size = uint64_t(data.size());
    object.entry.dateCreated = QDateTime::currentDateTime();
    object.format = formatOfName(name);
    object.synthetic = true;
    object.data = data;
    m_objects.push_back(object);
    log(QStringLiteral("ObjectAdded 0x%1 %2").arg(object.handle, 0, 16).arg(object.entry.relativePath));
    if (m_eventSocket)
        m_eventSocket->write(encode(EventPacket{EventObjectAdded, 0xFFFFFFFF, {object.handle}}));
    return object.handle;
}

void PtpIpResponder::removeStorage()
{
    m_storageRemoved = true;
    log(QStringLiteral("StoreRemoved 0x%1").arg(kStorageId, 0, 16));
    if (m_eventSocket)
        m_eventSocket->write(encode(EventPacket{EventStoreRemoved, 0xFFFFFFFF, {kStorageId}}));
}

void PtpIpResponder::insertStorage()
{
    m_storageRemoved = false;
    log(QStringLiteral("StoreAdded 0x%1").arg(kStorageId, 0, 16));
    if (m_eventSocket)
        m_eventSocket->write(encode(EventPacket{EventStoreAdded, 0xFFFFFFFF, {kStorageId}}));
}

uint32_t PtpIpResponder::removeFile(const QString& relativePath)
{
    const auto file = std::find_if(m_objects.begin(), m_objects.end(), [&](const Object& each) {
        return !each.entry.isFolder && !each.removed && each.entry.relativePath == relativePath;
    });
    if (file == m_objects.end())
        return 0;
    file->removed = true;
    log(QStringLiteral("ObjectRemoved 0x%1 %2").arg(file->handle, 0, 16).arg(relativePath));
    if (m_eventSocket)
        m_eventSocket->write(encode(EventPacket{EventObjectRemoved, 0xFFFFFFFF, {file->handle}}));
    return file->handle;
}

bool PtpIpResponder::answerSsdp(const QHostAddress& address, quint16 port)
{
    delete m_ssdp;
    m_ssdp = new QUdpSocket(this);
    if (!m_ssdp->bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        delete m_ssdp;
        m_ssdp = nullptr;
        return false;
    }
    connect(m_ssdp, &QUdpSocket::readyRead, this, &PtpIpResponder::answerSearches);
    return true;
}

quint16 PtpIpResponder::ssdpPort() const { return m_ssdp ? m_ssdp->localPort() : 0; }

void PtpIpResponder::answerSearches()
{
    // A search is a few hundred bytes; what is larger, or is no search, goes unanswered.
    constexpr qint64 kMaxSearch = 4096;
    while (m_ssdp && m_ssdp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_ssdp->receiveDatagram(kMaxSearch + 1);
        const QByteArray text = datagram.data();
        if (text.size() > kMaxSearch)
            continue;
        const QList<QByteArray> lines = text.split('\n');
        if (lines.isEmpty() || lines.front().trimmed() != "M-SEARCH * HTTP/1.1")
            continue;
        QByteArray target;
        bool discover = false;
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toUpper();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "ST")
                target = value;
            else if (name == "MAN")
                discover = value == "\"ssdp:discover\"";
        }
        const QString service = ssdpServiceType();
        const bool answers = target == "ssdp:all" || target.compare(service.toLatin1(), Qt::CaseInsensitive) == 0;
        log(QStringLiteral("M-SEARCH for %1 from %2:%3%4")
                .arg(QString::fromLatin1(target), datagram.senderAddress().toString())
                .arg(datagram.senderPort())
                .arg(discover && answers ? QString() : QStringLiteral(", not answered")));
        if (!discover || !answers)
            continue;
        // The device's UUID is made from the camera's GUID, as cameras make theirs. Nothing here serves the
        // description LOCATION names: a PTP/IP client takes the camera's address from where the answer came.
        const QByteArray hex = m_guid.toHex();
        const QString uuid = QStringLiteral("%1-%2-%3-%4-%5")
                                 .arg(QString::fromLatin1(hex.mid(0, 8)), QString::fromLatin1(hex.mid(8, 4)),
                                      QString::fromLatin1(hex.mid(12, 4)), QString::fromLatin1(hex.mid(16, 4)),
                                      QString::fromLatin1(hex.mid(20, 12)));
        const QString answer = QStringLiteral("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\n"
                                              "LOCATION: http://%1:%2/upnp/CameraDevDesc.xml\r\n"
                                              "SERVER: Linux/1.0 UPnP/1.0 %3/1.0\r\nST: %4\r\nUSN: uuid:%5::%4\r\n\r\n")
                                   .arg(m_server.serverAddress().toString())
                                   .arg(m_server.serverPort())
                                   .arg(m_options.model, service, uuid);
        m_ssdp->writeDatagram(answer.toUtf8(), datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

void PtpIpResponder::sendOnEventConnection(const QByteArray& bytes)
{
    if (m_eventSocket)
        m_eventSocket->write(bytes);
}

void PtpIpResponder::respond(Connection* connection, uint32_t transaction, uint16_t code, std::vector<uint32_t> parameters)
{
    if (!connection->socket)
        return;
    connection->socket->write(encode(OperationResponse{code, transaction, std::move(parameters)}));
    connection->busy = false;
    if (!connection->pending.empty()) {
        const OperationRequest next = connection->pending.front();
        connection->pending.pop_front();
        runOperation(connection, next);
    }
}

void PtpIpResponder::sendData(Connection* connection, uint32_t transaction, QByteArray data)
{
    connection->socket->write(encode(StartData{transaction, uint64_t(data.size())}));
    connection->socket->write(encodeData(PacketType::EndData, transaction, data));
}

QByteArray PtpIpResponder::objectInfo(const Object& object) const
{
    ObjectInfo info;
    info.storageId = kStorageId;
    info.format = object.format;
    info.compressedSize = object.entry.size >= 0xFFFFFFFFull ? 0xFFFFFFFF : uint32_t(object.entry.size);
    info.parentObject = object.parent;
    info.filename = object.entry.name;
    if (object.entry.isFolder) {
        info.associationType = 1; // a generic folder
    } else {
        const bool thumbnail = !m_options.noThumbnailFiles.contains(object.entry.name);
        info.thumbFormat = thumbnail ? uint16_t(FormatExifJpeg) : uint16_t(0);
        info.thumbCompressedSize = thumbnail ? 8 * 1024 : 0;
        info.thumbPixWidth = thumbnail ? 160 : 0;
        info.thumbPixHeight = thumbnail ? 120 : 0;
        if (object.entry.dateCreated) {
            info.captureDate = formatPtpDate(*object.entry.dateCreated);
            info.modificationDate = info.captureDate;
        }
    }
    return encode(info);
}

void PtpIpResponder::runOperation(Connection* connection, const OperationRequest& request)
{
    connection->busy = true;
    ++m_operationCount;
    QStringList parameters;
    for (uint32_t parameter : request.parameters)
        parameters << QStringLiteral("0x%1").arg(parameter, 0, 16);
    log(QStringLiteral("%1(%2) transaction %3").arg(operationName(request.code), parameters.join(QStringLiteral(", "))).arg(request.transactionId));

    QElapsedTimer arrived;
    arrived.start();
    auto execute = [this, connection, request, arrived] {
        m_waitedNs += arrived.nsecsElapsed();
        if (m_options.latencyMs > 0)
            m_latencyBalanceNs = std::clamp<qint64>(m_latencyBalanceNs - arrived.nsecsElapsed(), -1000000000, 1000000000);
        if (std::none_of(m_connections.begin(), m_connections.end(), [&](const auto& each) { return each.get() == connection; }))
            return;
        if (m_replyOverride) {
            if (const auto bytes = m_replyOverride(request)) {
                connection->socket->write(*bytes);
                connection->busy = false;
                return;
            }
        }
        const uint32_t tx = request.transactionId;
        const auto parameter = [&](size_t index) { return index < request.parameters.size() ? request.parameters[index] : 0u; };
        if (request.code != OpGetDeviceInfo && request.code != OpOpenSession && !connection->sessionOpen) {
            respond(connection, tx, RespSessionNotOpen);
            return;
        }
        switch (request.code) {
        case OpGetDeviceInfo: {
            DeviceInfo info;
            info.operations = {OpGetDeviceInfo, OpOpenSession, OpCloseSession, OpGetStorageIDs, OpGetStorageInfo,
                               OpGetObjectHandles, OpGetObjectInfo, OpGetObject, OpGetThumb, OpGetPartialObject,
                               OpGetDevicePropDesc, OpGetDevicePropValue};
            if (m_options.objectPropList) {
                info.operations.push_back(OpGetObjectPropValue);
                info.operations.push_back(OpGetObjectPropList);
            }
            if (m_options.partialObject64)
                info.operations.push_back(OpGetPartialObject64);
            info.events = {EventObjectAdded, EventObjectRemoved, EventStoreAdded, EventStoreRemoved, EventDevicePropChanged};
            if (m_options.batteryPercent)
                info.deviceProperties = {PropBatteryLevel};
            info.imageFormats = {FormatUndefined, FormatAssociation, FormatExifJpeg, FormatTiff, FormatPng};
            info.manufacturer = QStringLiteral("Vornakel Test");
            info.model = m_options.model;
            info.deviceVersion = QStringLiteral("1.0");
            info.serialNumber = QStringLiteral("0000PTPIP0001");
            sendData(connection, tx, encode(info));
            respond(connection, tx, RespOK);
            return;
        }
        case OpOpenSession:
            if (connection->sessionOpen) {
                respond(connection, tx, RespSessionAlreadyOpen);
                return;
            }
            connection->sessionOpen = true;
            respond(connection, tx, RespOK);
            return;
        case OpCloseSession:
            connection->sessionOpen = false;
            respond(connection, tx, RespOK);
            return;
        case OpGetStorageIDs: {
            DatasetWriter writer;
            // A slot without a card keeps its number with a low half of 0.
            writer.u32Array({m_storageRemoved ? (kStorageId & 0xFFFF0000) : kStorageId});
            sendData(connection, tx, writer.data());
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetStorageInfo: {
            if (parameter(0) != kStorageId) {
                respond(connection, tx, RespInvalidStorageID);
                return;
            }
            StorageInfo info;
            info.maxCapacity = 64ull * 1024 * 1024 * 1024;
            info.freeSpaceInBytes = 32ull * 1024 * 1024 * 1024;
            info.freeSpaceInImages = 1000;
            info.description = QStringLiteral("SD");
            info.volumeLabel = QStringLiteral("VK-IP1 card");
            sendData(connection, tx, encode(info));
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetObjectHandles: {
            const uint32_t storage = parameter(0);
            const uint32_t format = parameter(1);
            const uint32_t parent = parameter(2);
            if ((storage != kStorageId && storage != kAllStorages) || m_storageRemoved) {
                respond(connection, tx, RespInvalidStorageID);
                return;
            }
            if (parent != 0 && parent != kRootParent) {
                const Object* folder = objectOf(parent);
                if (!folder || !folder->entry.isFolder) {
                    respond(connection, tx, RespInvalidObjectHandle);
                    return;
                }
            }
            std::vector<uint32_t> handles;
            for (const Object& object : m_objects) {
                if (object.removed || (format != 0 && object.format != format))
                    continue;
                if (parent == 0 || (parent == kRootParent ? object.parent == 0 : object.parent == parent))
                    handles.push_back(object.handle);
            }
            DatasetWriter writer;
            writer.u32Array(handles);
            sendData(connection, tx, writer.data());
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetObjectInfo: {
            const Object* object = objectOf(parameter(0));
            if (!object) {
                respond(connection, tx, RespInvalidObjectHandle);
                return;
            }
            sendData(connection, tx, objectInfo(*object));
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetThumb: {
            const Object* object = objectOf(parameter(0));
            if (!object || object->entry.isFolder) {
                respond(connection, tx, RespInvalidObjectHandle);
                return;
            }
            if (m_options.noThumbnailFiles.contains(object->entry.name)) {
                respond(connection, tx, RespNoThumbnailPresent);
                return;
            }
            const auto thumbnail = m_content->thumbnail(object->entry);
            if (!thumbnail || thumbnail->isEmpty()) {
                respond(connection, tx, RespNoThumbnailPresent);
                return;
            }
            sendData(connection, tx, *thumbnail);
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetObjectPropList: {
            if (!m_options.objectPropList) {
                respond(connection, tx, RespOperationNotSupported);
                return;
            }
            const uint32_t handle = parameter(0);
            const uint32_t property = parameter(2);
            const uint32_t depth = parameter(4);
            std::vector<const Object*> objects;
            if (handle == 0xFFFFFFFF) {
                for (const Object& object : m_objects) {
                    if (!object.removed)
                        objects.push_back(&object);
                }
            } else if (depth == 0) {
                if (const Object* object = objectOf(handle))
                    objects.push_back(object);
            } else {
                // The folder's objects (the root's for handle 0), one level down.
                if (handle != 0 && (!objectOf(handle) || !objectOf(handle)->entry.isFolder)) {
                    respond(connection, tx, RespInvalidObjectHandle);
                    return;
                }
                for (const Object& object : m_objects) {
                    if (object.parent == handle && !object.removed)
                        objects.push_back(&object);
                }
            }
            if (m_storageRemoved)
                objects.clear();
            std::vector<ObjectProperties> list;
            for (const Object* object : objects) {
                const ObjectInfo info = decodeObjectInfo(objectInfo(*object)).value_or(ObjectInfo{});
                ObjectProperties properties;
                properties.handle = object->handle;
                const auto wanted = [&](uint16_t code) { return property == kAllObjectProperties || property == 0 || property == code; };
                if (wanted(ObjectPropStorageId))
                    properties.storageId = kStorageId;
                if (wanted(ObjectPropFormat))
                    properties.format = object->format;
                if (wanted(ObjectPropSize))
                    properties.size = object->entry.size;
                if (wanted(ObjectPropFileName))
                    properties.filename = object->entry.name;
                if (wanted(ObjectPropDateCreated) && !info.captureDate.isEmpty())
                    properties.dateCreated = info.captureDate;
                if (wanted(ObjectPropDateModified) && !info.modificationDate.isEmpty())
                    properties.dateModified = info.modificationDate;
                if (wanted(ObjectPropParent))
                    properties.parent = object->parent == 0 ? 0xFFFFFFFF : object->parent;
                list.push_back(std::move(properties));
            }
            sendData(connection, tx, encodeObjectPropList(list));
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetObjectPropValue: {
            const Object* object = objectOf(parameter(0));
            if (!m_options.objectPropList || !object) {
                respond(connection, tx, m_options.objectPropList ? RespInvalidObjectHandle : RespOperationNotSupported);
                return;
            }
            if (parameter(1) != ObjectPropSize) {
                respond(connection, tx, RespObjectPropNotSupported);
                return;
            }
            DatasetWriter writer;
            writer.u64(object->entry.size);
            sendData(connection, tx, writer.data());
            respond(connection, tx, RespOK);
            return;
        }
        case OpGetObject:
        case OpGetPartialObject:
        case OpGetPartialObject64: {
            const Object* object = objectOf(parameter(0));
            const bool wide = request.code == OpGetPartialObject64;
            if (!object || object->entry.isFolder || (wide && !m_options.partialObject64)) {
                respond(connection, tx, object && wide ? RespOperationNotSupported : RespInvalidObjectHandle);
                return;
            }
            const bool partial = request.code != OpGetObject;
            const uint64_t offset = !partial ? 0 : wide ? (uint64_t(parameter(2)) << 32 | parameter(1)) : parameter(1);
            if (offset > object->entry.size) {
                respond(connection, tx, RespInvalidParameter);
                return;
            }
            uint64_t length = object->entry.size - offset;
            if (partial)
                length = std::min<uint64_t>(length, parameter(wide ? 3 : 2));
            startObjectTransfer(connection, tx, *object, offset, length, partial);
            return;
        }
        case OpGetDevicePropDesc:
        case OpGetDevicePropValue: {
            if (parameter(0) != PropBatteryLevel || !m_options.batteryPercent) {
                respond(connection, tx, RespDevicePropNotSupported);
                return;
            }
            const uint8_t percent = uint8_t(std::clamp(*m_options.batteryPercent, 0, 100));
            if (request.code == OpGetDevicePropDesc) {
                DevicePropDescUint8 desc;
                desc.code = PropBatteryLevel;
                desc.current = percent;
                desc.factoryDefault = 100;
                sendData(connection, tx, encode(desc));
            } else {
                sendData(connection, tx, QByteArray(1, char(percent)));
            }
            respond(connection, tx, RespOK);
            return;
        }
        default:
            respond(connection, tx, RespOperationNotSupported);
            return;
        }
    };
    // The added latency is what is measured, not the timer's slack: a busy machine wakes a timer late, so a reply
    // that went out late takes its lateness off the next ones, and the replies keep the latency on average.
    if (m_options.latencyMs > 0) {
        const qint64 wanted = qint64(m_options.latencyMs) * 1000000;
        const qint64 delayMs = std::max<qint64>(0, (wanted + m_latencyBalanceNs + 500000) / 1000000);
        m_latencyBalanceNs += wanted;
        QTimer::singleShot(std::chrono::milliseconds(delayMs), Qt::PreciseTimer, this, execute);
    } else {
        execute();
    }
}

qint64 PtpIpResponder::readObject(Transfer& transfer, char* into, qint64 maxBytes) const
{
    if (transfer.object->synthetic) {
        const QByteArray& data = transfer.object->data;
        if (!data.isEmpty()) {
            std::copy_n(data.constData() + transfer.position, maxBytes, into);
        } else {
            // The pattern repeats every 251 bytes: copied from one period on, it costs what a file read would.
            static const QByteArray period = [] {
                QByteArray bytes(251 * 2, Qt::Uninitialized);
                for (int i = 0; i < bytes.size(); ++i)
                    bytes[i] = char(uint64_t(i) * 31 % 251);
                return bytes;
            }();
            for (qint64 done = 0; done < maxBytes;) {
                const qint64 phase = qint64((transfer.position + uint64_t(done)) % 251);
                const qint64 count = std::min<qint64>(maxBytes - done, 251);
                std::copy_n(period.constData() + phase, count, into + done);
                done += count;
            }
        }
        transfer.position += uint64_t(maxBytes);
        return maxBytes;
    }
    if (transfer.file)
        return transfer.file->read(into, maxBytes);
    if (!transfer.reader)
        return -1;
    qint64 total = 0;
    while (total < maxBytes) {
        const auto chunk = transfer.reader->read(maxBytes - total);
        if (!chunk)
            return -1;
        if (chunk->isEmpty())
            break;
        std::copy(chunk->begin(), chunk->end(), into + total);
        total += chunk->size();
    }
    return total;
}

bool PtpIpResponder::openObject(Transfer& transfer, const Object& object, uint64_t offset) const
{
    if (object.synthetic) {
        transfer.position = offset;
        return true;
    }
    if (!m_folderPath.isEmpty()) {
        transfer.file = std::make_shared<QFile>(
            QFile::decodeName(QFile::encodeName(m_folderPath) + '/' + object.entry.nativeRelativePath));
        return transfer.file->open(QIODevice::ReadOnly) && transfer.file->seek(qint64(offset));
    }
    transfer.reader = m_content->open(object.entry);
    if (!transfer.reader)
        return false;
    uint64_t skipped = 0;
    while (skipped < offset) {
        const auto chunk = transfer.reader->read(qint64(std::min<uint64_t>(offset - skipped, 1 << 20)));
        if (!chunk || chunk->isEmpty())
            return false;
        skipped += uint64_t(chunk->size());
    }
    return true;
}

void PtpIpResponder::startObjectTransfer(Connection* connection, uint32_t transaction, const Object& object,
                                         uint64_t offset, uint64_t length, bool partial)
{
    Transfer transfer;
    transfer.transaction = transaction;
    transfer.object = &object;
    transfer.offset = offset;
    transfer.remaining = length;
    transfer.partial = partial;
    transfer.faults = m_options.streamFaultFiles.isEmpty() || m_options.streamFaultFiles.contains(object.entry.name);
    transfer.clock.start();
    if (!openObject(transfer, object, offset)) {
        respond(connection, transaction, RespGeneralError);
        return;
    }
    connection->transfer = transfer;
    connection->socket->write(encode(StartData{transaction, length}));
    pump(connection);
}

void PtpIpResponder::resumeLater(Connection* connection, uint32_t transaction, int milliseconds)
{
    // The connection may be gone, or busy with another transfer, by the time the wait ends.
    QTimer::singleShot(milliseconds, this, [this, connection, transaction] {
        if (std::none_of(m_connections.begin(), m_connections.end(), [&](const auto& each) { return each.get() == connection; }))
            return;
        if (connection->transfer && connection->transfer->transaction == transaction) {
            connection->transfer->waiting = false;
            pump(connection);
        }
    });
}

void PtpIpResponder::pump(Connection* connection)
{
    while (connection->transfer && connection->socket) {
        Transfer& transfer = *connection->transfer;
        if (transfer.waiting || connection->socket->bytesToWrite() > kMaxQueuedBytes)
            return;
        // Faults measure the bytes of this object sent, counted from its start.
        const uint64_t position = transfer.offset + transfer.sent;
        if (transfer.faults && m_options.streamErrorAfterBytes >= 0 && position >= uint64_t(m_options.streamErrorAfterBytes)
            && transfer.remaining > 0) {
            log(QStringLiteral("stream error after %1 bytes").arg(position));
            const uint32_t tx = transfer.transaction;
            connection->transfer.reset();
            connection->socket->write(encodeData(PacketType::EndData, tx, {}));
            respond(connection, tx, RespIncompleteTransfer);
            return;
        }
        if (transfer.faults && m_options.streamStallAfterBytes >= 0 && !transfer.stalled
            && position >= uint64_t(m_options.streamStallAfterBytes) && transfer.remaining > 0) {
            transfer.stalled = true;
            transfer.waiting = true;
            log(QStringLiteral("stream stalls after %1 bytes").arg(position));
            if (m_options.streamStallMs > 0) {
                resumeLater(connection, transfer.transaction, m_options.streamStallMs);
            }
            return;
        }
        if (m_options.throughputBytesPerSecond > 0) {
            const qint64 due = qint64(transfer.sent * 1000 / uint64_t(m_options.throughputBytesPerSecond));
            const qint64 early = due - transfer.clock.elapsed();
            if (early > 0) {
                transfer.waiting = true;
                resumeLater(connection, transfer.transaction, int(early));
                return;
            }
        }
        const qint64 size = qint64(std::min<uint64_t>(transfer.remaining, uint64_t(std::max(1, m_options.dataPacketSize))));
        const bool last = transfer.remaining == uint64_t(size);
        const uint32_t tx = transfer.transaction;
        // The object's bytes are read straight into the packet the socket takes.
        QByteArray packet = encodeDataToFill(last ? PacketType::EndData : PacketType::Data, tx, size);
        const qint64 read = size > 0 ? readObject(transfer, packet.data() + kDataPacketHeaderSize, size) : 0;
        if (read < 0 || read != size) {
            connection->transfer.reset();
            connection->socket->write(encodeData(PacketType::EndData, tx, {}));
            respond(connection, tx, RespGeneralError);
            return;
        }
        transfer.remaining -= uint64_t(size);
        transfer.sent += uint64_t(size);
        m_dataBytesSent += size;
        connection->socket->write(packet);
        if (m_options.dropAfterBytes >= 0 && m_dataBytesSent >= m_options.dropAfterBytes) {
            log(QStringLiteral("connection dropped after %1 bytes").arg(m_dataBytesSent));
            connection->socket->flush();
            dropConnections();
            return;
        }
        if (last) {
            const uint64_t sent = transfer.sent;
            const bool partial = transfer.partial;
            connection->transfer.reset();
            respond(connection, tx, RespOK, partial ? std::vector<uint32_t>{uint32_t(sent)} : std::vector<uint32_t>{});
            return;
        }
    }
}

} // namespace vornakel::tools
