#pragma once

// One PTP/IP session with a camera: the command and event connections, the Init handshake, and operations
// one transaction at a time, in the order asked (what a user waits to see goes before what waits unsent). Lives on the main thread and never blocks it: sockets are
// read as data arrives, and a data phase is handed on packet by packet (or gathered, up to a bound, for
// datasets). Every wait has a bound or a way out: the Init Command Ack may wait for the camera's own pairing
// prompt for as long as the user takes (the owner offers a cancel), everything else is watched by probes.

#include "platform/camera/ptpip/PtpIpCodec.h"
#include "platform/core/Error.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class QTcpSocket;

namespace vornakel::ptpip {

struct ConnectionTimings {
    // No bytes from the camera for this long while a reply is due, or while idle: a probe goes out.
    std::chrono::milliseconds probeAfter{3000};
    // A probe unanswered (no bytes at all) for this long: the camera is gone.
    std::chrono::milliseconds probeTimeout{4000};
    // The TCP connection itself (before the camera may show any prompt).
    std::chrono::milliseconds connectTimeout{5000};
};

struct TransactionResult {
    uint16_t code = 0;
    std::vector<uint32_t> parameters;
    QByteArray data; // gathered data phase (when the request gathers)
    uint64_t dataBytes = 0;
};

class PtpIpConnection : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, AwaitingAck, OpeningEvents, Ready, Closed };

    // Answer false to stop the data phase (the transaction is cancelled and completes with error 1004).
    using DataSink = std::function<bool(QByteArrayView bytes)>; // the bytes hold during the call only
    // A sink that also lends room for the data, so that the bytes are read from the socket straight into it
    // rather than through a buffer: `room` answers room for at most `wanted` bytes (at least one), and
    // `filled` says how many landed at its start (it is also told 0 when none did); false stops the data phase.
    struct DataRoom {
        std::function<std::span<char>(qsizetype wanted)> room;
        std::function<bool(qsizetype count)> filled;
        explicit operator bool() const { return room && filled; }
    };
    using Completion = std::function<void(std::optional<Error>, TransactionResult)>;
    // A camera answers one operation at a time: what the user waits to see on screen (thumbnails, a preview)
    // goes before the listings and metadata reads that wait unsent, behind what is under way and what of its
    // own kind was asked before.
    enum class Priority { normal, onScreen };

    explicit PtpIpConnection(ConnectionTimings timings = {}, QObject* parent = nullptr);
    ~PtpIpConnection() override;

    // Connects both connections; `initialized` reports the end of the handshake (an Init Fail as 1010 rejected,
    // 1012 busy, other failures as 1002). `waitingForCamera` tells that the TCP connection stands and the Ack
    // is awaited (the camera may be showing its pairing prompt).
    void open(const QString& host, quint16 port, const QByteArray& guid, const QString& clientName);
    State state() const { return m_state; }
    QString cameraName() const { return m_cameraName; }

    // Queues an operation. Without a sink the data phase is gathered up to `maxData` bytes (more is an error);
    // with one it is handed on as it arrives.
    // `storageId` names the storage the operation reads (0: none), so that a card taken out can end it.
    // With a sink, `room` may lend the room the data is read into (see DataRoom); what the reader holds already
    // still goes to the sink.
    void transact(uint16_t code, std::vector<uint32_t> parameters, Completion completion, DataSink sink = {},
                  qint64 maxData = 8 * 1024 * 1024, uint32_t storageId = 0, Priority priority = Priority::normal,
                  DataRoom room = {});
    // Ends every operation on the storage with the error: those waiting at once, the one under way by a
    // cancel (the camera's late answer to it is dropped).
    void failOperationsOnStorage(uint32_t storageId, const Error& error);
    // The same for the operations `which` picks (by code, parameters and storage).
    using OperationFilter = std::function<bool(uint16_t code, const std::vector<uint32_t>& parameters, uint32_t storageId)>;
    void failOperations(const OperationFilter& which, const Error& error);
    // Reading stops while paused (the data stays with the camera and TCP holds it back).
    void setReadingPaused(bool paused);
    // Both connections close; pending operations fail with 1002 (`lost` is not emitted for a close asked for).
    void close();

signals:
    void waitingForCamera();
    void initialized(std::optional<vornakel::Error> error);
    void eventReceived(uint16_t code, std::vector<uint32_t> parameters);
    // The camera went away (reset, closed, or silent past the probe bound); pending operations failed.
    void lost(const QString& reason);

private:
    struct Transaction {
        uint16_t code = 0;
        std::vector<uint32_t> parameters;
        Completion completion;
        DataSink sink;
        DataRoom room;
        qint64 maxData = 0;
        uint32_t storageId = 0;
        Priority priority = Priority::normal;
        uint32_t id = 0;
        bool sent = false;
        bool cancelled = false;
        std::optional<uint64_t> announced;
        TransactionResult result;
    };

    void readCommand();
    void readEvents();
    void handleCommandPacket(PacketType type, QByteArrayView payload);
    void handleData(QByteArrayView bytes);
    bool readDataIntoRoom();
    void sendNext();
    void fail(const QString& reason, int code);
    void finishFront(std::optional<Error> error);
    void watchdog();
    void noteActivity();
    void cancelFront(Error error);

    ConnectionTimings m_timings;
    State m_state = State::Idle;
    QPointer<QTcpSocket> m_command;
    QPointer<QTcpSocket> m_events;
    PacketReader m_commandReader;
    PacketReader m_eventReader;
    QString m_host;
    quint16 m_port = 0;
    QString m_cameraName;
    uint32_t m_connectionNumber = 0;
    uint32_t m_nextTransaction = 1;
    std::deque<Transaction> m_queue;
    bool m_readingPaused = false;
    QTimer m_watchdog;
    QElapsedTimer m_sinceActivity;
    bool m_probeOut = false;
    QTimer m_connectTimer;
    int m_eventsThisSecond = 0;
    QElapsedTimer m_eventWindow;
};

// The camera library's error for a PTP response code.
Error errorForResponse(uint16_t code, int fallbackCode);

} // namespace vornakel::ptpip
