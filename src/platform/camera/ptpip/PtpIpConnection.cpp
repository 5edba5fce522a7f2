#include "platform/camera/ptpip/PtpIpConnection.h"

#include "platform/camera/VKLCamera.h"

#include <QLoggingCategory>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPtpIp, "vornakel.camera.ptpip")

namespace vornakel::ptpip {

namespace {

// Unread bytes Qt keeps per socket; past it, TCP holds the camera back.
constexpr qint64 kSocketReadBuffer = 8 * 1024 * 1024;
// Events past this many a second are dropped (a camera flooding the event connection).
constexpr int kMaxEventsPerSecond = 200;

} // namespace

Error errorForResponse(uint16_t code, int fallbackCode)
{
    int vklCode = fallbackCode;
    switch (code) {
    case RespInvalidObjectHandle:
        vklCode = VKLErrorFileNotFound;
        break;
    case RespDeviceBusy:
        vklCode = VKLErrorBusy;
        break;
    case RespSessionNotOpen:
        vklCode = VKLErrorNotConnected;
        break;
    case RespTransactionCancelled:
        vklCode = VKLErrorCancelled;
        break;
    default:
        break;
    }
    Error error = errorWithVKLErrorCode(vklCode);
    error.userInfo.insert(QStringLiteral("PTPResponseCode"), int(code));
    return error;
}

PtpIpConnection::PtpIpConnection(ConnectionTimings timings, QObject* parent) : QObject(parent), m_timings(timings)
{
    m_watchdog.setInterval(std::max<std::chrono::milliseconds>(std::chrono::milliseconds(50), m_timings.probeAfter / 4));
    connect(&m_watchdog, &QTimer::timeout, this, &PtpIpConnection::watchdog);
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting || m_state == State::OpeningEvents)
            fail(QStringLiteral("The camera did not accept the connection."), VKLErrorConnectionLost);
    });
}

PtpIpConnection::~PtpIpConnection()
{
    for (QTcpSocket* socket : {m_command.data(), m_events.data()}) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            delete socket;
        }
    }
}

void PtpIpConnection::open(const QString& host, quint16 port, const QByteArray& guid, const QString& clientName)
{
    if (m_state != State::Idle)
        return;
    m_host = host;
    m_port = port;
    m_state = State::Connecting;
    m_command = new QTcpSocket(this);
    m_command->setReadBufferSize(kSocketReadBuffer);
    m_command->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_command, &QTcpSocket::connected, this, [this, guid, clientName] {
        m_connectTimer.stop();
        m_state = State::AwaitingAck;
        m_command->write(encode(InitCommandRequest{guid, clientName, kProtocolVersion}));
        emit waitingForCamera();
    });
    connect(m_command, &QTcpSocket::readyRead, this, &PtpIpConnection::readCommand);
    connect(m_command, &QTcpSocket::errorOccurred, this, [this] {
        if (m_command)
            fail(m_command->errorString(), VKLErrorConnectionLost);
    });
    m_connectTimer.start(m_timings.connectTimeout);
    m_command->connectToHost(host, port);
}

void PtpIpConnection::readCommand()
{
    if (!m_command || m_readingPaused)
        return;
    noteActivity();
    PacketReader::Piece piece;
    while (m_command && !m_readingPaused) {
        const bool intoRoom = m_state == State::Ready && !m_queue.empty() && m_queue.front().sent
            && !m_queue.front().cancelled && m_queue.front().room;
        if (intoRoom && m_commandReader.pieceLeft() > 0 && m_commandReader.buffered() == 0) {
            if (!readDataIntoRoom())
                return;
            continue;
        }
        const auto status = m_commandReader.nextPiece(piece);
        if (status == PacketReader::Status::NeedMore) {
            // Everything the socket holds is taken before returning: it tells of new bytes only. While data is
            // read into a room, only the packets' headers pass through the reader.
            const qsizetype before = m_commandReader.buffered();
            m_commandReader.appendFrom(*m_command, intoRoom ? kDataPacketHeaderSize : std::numeric_limits<qint64>::max());
            if (m_commandReader.buffered() == before)
                return;
            continue;
        }
        if (status == PacketReader::Status::Failed) {
            fail(m_commandReader.error(), VKLErrorConnectionLost);
            return;
        }
        if (!piece.continued) {
            handleCommandPacket(piece.type, piece.bytes);
        } else if (m_state == State::Ready && !m_queue.empty() && m_queue.front().sent) {
            handleData(piece.bytes);
        } else if (m_state == State::Ready) {
            fail(QStringLiteral("The camera sent a reply nobody asked for."), VKLErrorConnectionLost);
            return;
        }
    }
}

// The rest of a data packet, read from the socket straight into the room the front transaction lends.
bool PtpIpConnection::readDataIntoRoom()
{
    Transaction& front = m_queue.front();
    const std::span<char> room = front.room.room(m_commandReader.pieceLeft());
    // Asking for the room's size even when the socket holds less makes it read from the network again.
    const qint64 read = room.empty() ? 0 : m_command->read(room.data(), qint64(room.size()));
    const qsizetype count = qsizetype(std::max<qint64>(read, 0));
    m_commandReader.tookPieceBytes(count);
    front.result.dataBytes += uint64_t(count);
    if (front.announced && front.result.dataBytes > *front.announced) {
        (void)front.room.filled(0); // the bytes are dropped: the transaction fails with the connection
        fail(QStringLiteral("The camera sent more data than it announced."), VKLErrorConnectionLost);
        return false;
    }
    if (!front.room.filled(count)) {
        cancelFront(errorWithVKLErrorCode(VKLErrorCancelled));
        return true;
    }
    return count > 0;
}

void PtpIpConnection::readEvents()
{
    if (!m_events)
        return;
    noteActivity();
    m_eventReader.append(m_events->readAll());
    Packet packet;
    while (m_events) {
        const auto status = m_eventReader.next(packet);
        if (status == PacketReader::Status::NeedMore)
            return;
        if (status == PacketReader::Status::Failed) {
            fail(m_eventReader.error(), VKLErrorConnectionLost);
            return;
        }
        if (packet.type == PacketType::InitEventAck && m_state == State::OpeningEvents) {
            m_connectTimer.stop();
            m_state = State::Ready;
            m_sinceActivity.start();
            m_watchdog.start();
            emit initialized(std::nullopt);
            sendNext();
        } else if (packet.type == PacketType::InitFail && m_state == State::OpeningEvents) {
            fail(QStringLiteral("The camera refused the event connection."), VKLErrorConnectionLost);
            return;
        } else if (packet.type == PacketType::ProbeRequest) {
            m_events->write(encodePacket(PacketType::ProbeResponse, {}));
        } else if (packet.type == PacketType::Event && m_state == State::Ready) {
            const auto event = decodeEvent(packet.payload);
            if (!event)
                continue;
            if (!m_eventWindow.isValid() || m_eventWindow.elapsed() > 1000) {
                m_eventWindow.start();
                m_eventsThisSecond = 0;
            }
            if (++m_eventsThisSecond > kMaxEventsPerSecond)
                continue;
            emit eventReceived(event->code, event->parameters);
        }
    }
}

void PtpIpConnection::handleCommandPacket(PacketType type, QByteArrayView view)
{
    // Data is handed on from the reader's buffer; the few words of other packets are copied.
    const bool data = type == PacketType::Data || type == PacketType::EndData;
    Packet packet{type, data ? QByteArray() : view.toByteArray()};
    switch (packet.type) {
    case PacketType::InitCommandAck: {
        if (m_state != State::AwaitingAck)
            break;
        const auto ack = decodeInitCommandAck(packet.payload);
        if (!ack) {
            fail(QStringLiteral("The camera's Init Command Ack is malformed."), VKLErrorConnectionLost);
            return;
        }
        m_connectionNumber = ack->connectionNumber;
        m_cameraName = ack->friendlyName;
        m_state = State::OpeningEvents;
        m_events = new QTcpSocket(this);
        connect(m_events, &QTcpSocket::connected, this, [this] {
            m_events->write(encodeInitEventRequest(m_connectionNumber));
        });
        connect(m_events, &QTcpSocket::readyRead, this, &PtpIpConnection::readEvents);
        connect(m_events, &QTcpSocket::errorOccurred, this, [this] {
            if (m_events)
                fail(m_events->errorString(), VKLErrorConnectionLost);
        });
        m_connectTimer.start(m_timings.connectTimeout);
        m_events->connectToHost(m_host, m_port);
        return;
    }
    case PacketType::InitFail: {
        const auto reason = decodeUint32(packet.payload).value_or(InitFailUnspecified);
        const int code = reason == InitFailRejected ? VKLErrorPairingRejected
                         : reason == InitFailBusy   ? VKLErrorBusy
                                                    : VKLErrorGeneric;
        fail(QStringLiteral("The camera answered Init Fail (reason %1).").arg(reason), code);
        return;
    }
    case PacketType::ProbeRequest:
        m_command->write(encodePacket(PacketType::ProbeResponse, {}));
        return;
    case PacketType::ProbeResponse:
        return;
    case PacketType::StartData:
    case PacketType::Data:
    case PacketType::EndData:
    case PacketType::OperationResponse:
        break;
    default:
        fail(QStringLiteral("The camera sent an unexpected packet of type %1.").arg(uint32_t(packet.type)), VKLErrorConnectionLost);
        return;
    }
    if (m_state != State::Ready)
        return;
    if (m_queue.empty() || !m_queue.front().sent) {
        fail(QStringLiteral("The camera sent a reply nobody asked for."), VKLErrorConnectionLost);
        return;
    }
    Transaction& front = m_queue.front();
    if (packet.type == PacketType::StartData) {
        const auto start = decodeStartData(packet.payload);
        if (!start || start->transactionId != front.id) {
            fail(QStringLiteral("The camera's data phase belongs to another transaction."), VKLErrorConnectionLost);
            return;
        }
        if (start->totalLength != kUnknownDataLength) {
            front.announced = start->totalLength;
            if (!front.sink && !front.cancelled && start->totalLength > uint64_t(front.maxData)) {
                fail(QStringLiteral("The camera announced %1 bytes where at most %2 make sense.")
                         .arg(start->totalLength)
                         .arg(front.maxData),
                     VKLErrorConnectionLost);
                return;
            }
        }
        return;
    }
    if (packet.type == PacketType::Data || packet.type == PacketType::EndData) {
        if (view.size() < 4 || qFromLittleEndian<quint32>(view.data()) != front.id) {
            fail(QStringLiteral("The camera's data belongs to another transaction."), VKLErrorConnectionLost);
            return;
        }
        handleData(view.sliced(4));
        return;
    }
    const auto response = decodeOperationResponse(packet.payload);
    if (!response || response->transactionId != front.id) {
        fail(QStringLiteral("The camera answered another transaction."), VKLErrorConnectionLost);
        return;
    }
    front.result.code = response->code;
    front.result.parameters = response->parameters;
    if (front.cancelled) {
        m_queue.pop_front();
        sendNext();
        return;
    }
    finishFront(response->code == RespOK ? std::nullopt
                                         : std::optional<Error>(errorForResponse(response->code, VKLErrorGeneric)));
}

// Bytes of the front transaction's data phase, a whole packet's or a piece of one.
void PtpIpConnection::handleData(QByteArrayView bytes)
{
    Transaction& front = m_queue.front();
    front.result.dataBytes += uint64_t(bytes.size());
    if (front.announced && front.result.dataBytes > *front.announced) {
        fail(QStringLiteral("The camera sent more data than it announced."), VKLErrorConnectionLost);
        return;
    }
    if (front.cancelled || bytes.isEmpty())
        return;
    if (front.sink) {
        if (!front.sink(bytes))
            cancelFront(errorWithVKLErrorCode(VKLErrorCancelled));
        return;
    }
    if (front.result.data.size() + bytes.size() > front.maxData) {
        fail(QStringLiteral("The camera sent more than %1 bytes for a dataset.").arg(front.maxData), VKLErrorConnectionLost);
        return;
    }
    front.result.data.append(bytes);
}

void PtpIpConnection::cancelFront(Error error)
{
    Transaction& front = m_queue.front();
    front.cancelled = true;
    m_command->write(encodeCancel(front.id));
    // The caller hears now; the camera's late data and answer for it are read and dropped.
    Completion completion = std::move(front.completion);
    front.completion = nullptr;
    front.sink = nullptr;
    front.room = {};
    if (completion)
        completion(std::move(error), std::move(front.result));
}

void PtpIpConnection::failOperationsOnStorage(uint32_t storageId, const Error& error)
{
    if (storageId == 0)
        return;
    failOperations([storageId](uint16_t, const std::vector<uint32_t>&, uint32_t storage) { return storage == storageId; }, error);
}

void PtpIpConnection::failOperations(const OperationFilter& which, const Error& error)
{
    if (m_state == State::Closed)
        return;
    const auto picked = [&which](const Transaction& each) { return which(each.code, each.parameters, each.storageId); };
    // Completions run after the queue is settled: they may queue further operations.
    const bool frontUnderWay = !m_queue.empty() && m_queue.front().sent && !m_queue.front().cancelled
        && picked(m_queue.front());
    std::vector<Completion> failed;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!it->sent && picked(*it)) {
            failed.push_back(std::move(it->completion));
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    if (frontUnderWay)
        cancelFront(error);
    for (Completion& completion : failed) {
        if (completion)
            completion(error, {});
    }
}

void PtpIpConnection::finishFront(std::optional<Error> error)
{
    Transaction done = std::move(m_queue.front());
    m_queue.pop_front();
    if (done.completion)
        done.completion(std::move(error), std::move(done.result));
    sendNext();
}

void PtpIpConnection::transact(uint16_t code, std::vector<uint32_t> parameters, Completion completion, DataSink sink,
                               qint64 maxData, uint32_t storageId, Priority priority, DataRoom room)
{
    if (m_state == State::Closed) {
        if (completion)
            completion(errorWithVKLErrorCode(VKLErrorConnectionLost), {});
        return;
    }
    Transaction transaction;
    transaction.code = code;
    transaction.parameters = std::move(parameters);
    transaction.completion = std::move(completion);
    transaction.sink = std::move(sink);
    if (transaction.sink)
        transaction.room = std::move(room);
    transaction.maxData = maxData;
    transaction.storageId = storageId;
    transaction.priority = priority;
    auto at = m_queue.end();
    if (priority == Priority::onScreen) {
        at = std::find_if(m_queue.begin(), m_queue.end(), [](const Transaction& each) {
            return !each.sent && each.priority != Priority::onScreen;
        });
    }
    m_queue.insert(at, std::move(transaction));
    sendNext();
}

void PtpIpConnection::sendNext()
{
    if (m_state != State::Ready || m_queue.empty() || m_queue.front().sent || !m_command)
        return;
    Transaction& front = m_queue.front();
    front.id = m_nextTransaction++;
    if (m_nextTransaction == 0xFFFFFFFF)
        m_nextTransaction = 1;
    front.sent = true;
    m_command->write(encode(OperationRequest{DataPhaseNoneOrIn, front.code, front.id, front.parameters}));
}

void PtpIpConnection::setReadingPaused(bool paused)
{
    if (m_readingPaused == paused)
        return;
    m_readingPaused = paused;
    if (!paused)
        QMetaObject::invokeMethod(this, &PtpIpConnection::readCommand, Qt::QueuedConnection);
}

void PtpIpConnection::noteActivity()
{
    m_sinceActivity.start();
    m_probeOut = false;
}

void PtpIpConnection::watchdog()
{
    if (m_state != State::Ready || !m_events)
        return;
    // While reading is paused the silence is ours, not the camera's.
    if (m_readingPaused) {
        noteActivity();
        return;
    }
    const auto silent = std::chrono::milliseconds(m_sinceActivity.elapsed());
    if (!m_probeOut && silent >= m_timings.probeAfter) {
        m_probeOut = true;
        m_events->write(encodePacket(PacketType::ProbeRequest, {}));
    } else if (m_probeOut && silent >= m_timings.probeAfter + m_timings.probeTimeout) {
        fail(QStringLiteral("The camera stopped answering."), VKLErrorConnectionLost);
    }
}

void PtpIpConnection::fail(const QString& reason, int code)
{
    if (m_state == State::Closed)
        return;
    const bool wasReady = m_state == State::Ready;
    qCInfo(lcPtpIp).noquote() << "PTP/IP connection to" << m_host << "ends:" << reason;
    close();
    if (wasReady)
        emit lost(reason);
    else
        emit initialized(errorWithVKLErrorCode(code));
}

void PtpIpConnection::close()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_watchdog.stop();
    m_connectTimer.stop();
    for (QTcpSocket* socket : {m_command.data(), m_events.data()}) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
    }
    m_command.clear();
    m_events.clear();
    std::deque<Transaction> pending = std::move(m_queue);
    m_queue.clear();
    for (Transaction& transaction : pending) {
        if (transaction.completion)
            transaction.completion(errorWithVKLErrorCode(VKLErrorConnectionLost), {});
    }
}

} // namespace vornakel::ptpip
