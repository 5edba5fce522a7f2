#pragma once

// The PTP/IP wire format (CIPA DC-X005 framing carrying ISO 15740 operations) and the PTP datasets we read
// and write. Everything a peer sends is hostile input: every decoder checks lengths against the bytes it
// has and against fixed bounds, and answers none (or an error) rather than trusting a count.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace vornakel::ptpip {

constexpr uint16_t kDefaultPort = 15740;
constexpr uint32_t kProtocolVersion = 0x00010000;
constexpr uint32_t kHeaderSize = 8;
// Packets other than data carry a few words; data packets carry at most this much (cameras use far less).
constexpr uint32_t kMaxControlPacketSize = 4096;
constexpr uint32_t kMaxDataPacketSize = 16 * 1024 * 1024;
// Strings in Init packets and datasets: PTP strings cannot exceed 255 code units.
constexpr int kMaxStringUnits = 255;
constexpr int kMaxParameters = 5;

enum class PacketType : uint32_t {
    InitCommandRequest = 1,
    InitCommandAck = 2,
    InitEventRequest = 3,
    InitEventAck = 4,
    InitFail = 5,
    OperationRequest = 6,
    OperationResponse = 7,
    Event = 8,
    StartData = 9,
    Data = 10,
    Cancel = 11,
    EndData = 12,
    ProbeRequest = 13,
    ProbeResponse = 14,
};

enum InitFailReason : uint32_t { InitFailRejected = 1, InitFailBusy = 2, InitFailUnspecified = 3 };

// Operation request data-phase values.
enum DataPhase : uint32_t { DataPhaseNoneOrIn = 1, DataPhaseOut = 2, DataPhaseUnknown = 3 };

enum OperationCode : uint16_t {
    OpGetDeviceInfo = 0x1001,
    OpOpenSession = 0x1002,
    OpCloseSession = 0x1003,
    OpGetStorageIDs = 0x1004,
    OpGetStorageInfo = 0x1005,
    OpGetObjectHandles = 0x1007,
    OpGetObjectInfo = 0x1008,
    OpGetObject = 0x1009,
    OpGetThumb = 0x100A,
    OpGetDevicePropDesc = 0x1014,
    OpGetDevicePropValue = 0x1015,
    OpGetPartialObject = 0x101B,
    // MTP's object properties, which some cameras offer beside PTP's datasets.
    OpGetObjectPropValue = 0x9803,
    OpGetObjectPropList = 0x9805,
    // Partial reads with 64-bit offsets, for objects of 4 GiB or more: MTP's extension (handle, offset low,
    // offset high, length) and Nikon's (handle, offset low, offset high, length low, length high).
    OpGetPartialObject64 = 0x95C1,
    OpNikonGetPartialObjectEx = 0x9431,
    // Nikon's 64-bit object size (handle; the size comes as the data).
    OpNikonGetObjectSize = 0x9421,
};

enum ResponseCode : uint16_t {
    RespOK = 0x2001,
    RespGeneralError = 0x2002,
    RespSessionNotOpen = 0x2003,
    RespInvalidTransactionID = 0x2004,
    RespOperationNotSupported = 0x2005,
    RespParameterNotSupported = 0x2006,
    RespIncompleteTransfer = 0x2007,
    RespInvalidStorageID = 0x2008,
    RespInvalidObjectHandle = 0x2009,
    RespDevicePropNotSupported = 0x200A,
    RespAccessDenied = 0x200F,
    RespNoThumbnailPresent = 0x2010,
    RespDeviceBusy = 0x2019,
    RespInvalidParameter = 0x201D,
    RespSessionAlreadyOpen = 0x201E,
    RespTransactionCancelled = 0x201F,
    RespObjectPropNotSupported = 0xA80A,
};

enum EventCode : uint16_t {
    EventCancelTransaction = 0x4001,
    EventObjectAdded = 0x4002,
    EventObjectRemoved = 0x4003,
    EventStoreAdded = 0x4004,
    EventStoreRemoved = 0x4005,
    EventDevicePropChanged = 0x4006,
    EventDeviceReset = 0x400B,
};

enum ObjectFormat : uint16_t {
    FormatUndefined = 0x3000,
    FormatAssociation = 0x3001,
    FormatUndefinedImage = 0x3800,
    FormatExifJpeg = 0x3801,
    FormatTiffEp = 0x3802,
    FormatBmp = 0x3804,
    FormatGif = 0x3807,
    FormatJfif = 0x3808,
    FormatPng = 0x380B,
    FormatTiff = 0x380D,
};

enum DeviceProperty : uint16_t { PropBatteryLevel = 0x5001 };

enum ObjectProperty : uint16_t {
    ObjectPropStorageId = 0xDC01,
    ObjectPropFormat = 0xDC02,
    ObjectPropProtectionStatus = 0xDC03,
    ObjectPropSize = 0xDC04,
    ObjectPropFileName = 0xDC07,
    ObjectPropDateCreated = 0xDC08,
    ObjectPropDateModified = 0xDC09,
    ObjectPropParent = 0xDC0B,
};
// GetObjectPropList's property parameter for every property of the objects.
constexpr uint32_t kAllObjectProperties = 0xFFFFFFFF;

constexpr uint32_t kAllStorages = 0xFFFFFFFF;
constexpr uint32_t kRootParent = 0xFFFFFFFF;
constexpr uint64_t kUnknownDataLength = 0xFFFFFFFFFFFFFFFFull;

// ---- Framing ------------------------------------------------------------------------------------------------

struct Packet {
    PacketType type = PacketType::ProbeRequest;
    QByteArray payload; // the bytes after the 8-byte header
};

QByteArray encodePacket(PacketType type, const QByteArray& payload);

// Cuts a byte stream into packets. Bytes are appended as they arrive; `next` hands out whole packets. A length
// below the header, above the bound for its type, or an unknown type is an error and the stream is unusable.
class PacketReader {
public:
    enum class Status { NeedMore, Ready, Failed };

    void append(const QByteArray& bytes);
    // Reads what the device has straight into the buffer (no copy in between). It asks for a little more than
    // the device holds, also when it holds nothing: a socket whose read buffer filled up reads from the network
    // again only once a read asks it for more than it has. At most `atMost` bytes are taken.
    void appendFrom(QIODevice& device, qint64 atMost = std::numeric_limits<qint64>::max());
    Status next(Packet& packet);
    // As `next`, without copying the payload: the view points into the buffer and holds until the next append.
    Status next(PacketType& type, QByteArrayView& payload);

    // A part of a packet: a Data or EndData packet is handed out in pieces as its bytes come (a data phase of
    // megabytes then waits in no buffer), every other packet whole. The first piece of a data packet starts
    // with its transaction id, as a whole payload does; the pieces after it are `continued`.
    struct Piece {
        PacketType type{};
        QByteArrayView bytes; // points into the buffer and holds until the next append
        bool continued = false;
    };
    // One of `next` and `nextPiece` is used on a stream, not both.
    Status nextPiece(Piece& piece);
    // Bytes of the data packet handed out in part that are still to come.
    qsizetype pieceLeft() const { return m_pieceLeft; }
    // The caller read `count` of those bytes from the device itself, the buffer being empty.
    void tookPieceBytes(qsizetype count);

    QString error() const { return m_error; }
    qsizetype buffered() const { return m_buffer.size() - m_offset; }

private:
    Status header(uint32_t& length, PacketType& type);

    QByteArray m_buffer;
    qsizetype m_offset = 0; // bytes at the front already handed out
    qsizetype m_pieceLeft = 0;
    PacketType m_pieceType{};
    QString m_error;
};

bool isKnownPacketType(uint32_t type);
uint32_t maxPacketSize(PacketType type);

// ---- Packets ------------------------------------------------------------------------------------------------

struct InitCommandRequest {
    QByteArray guid; // 16 bytes
    QString friendlyName;
    uint32_t version = kProtocolVersion;
};
struct InitCommandAck {
    uint32_t connectionNumber = 0;
    QByteArray guid;
    QString friendlyName;
    uint32_t version = kProtocolVersion;
};
struct OperationRequest {
    uint32_t dataPhase = DataPhaseNoneOrIn;
    uint16_t code = 0;
    uint32_t transactionId = 0;
    std::vector<uint32_t> parameters;
};
struct OperationResponse {
    uint16_t code = 0;
    uint32_t transactionId = 0;
    std::vector<uint32_t> parameters;
};
struct EventPacket {
    uint16_t code = 0;
    uint32_t transactionId = 0;
    std::vector<uint32_t> parameters;
};
struct StartData {
    uint32_t transactionId = 0;
    uint64_t totalLength = 0;
};
// Data and End Data.
struct DataPayload {
    uint32_t transactionId = 0;
    QByteArray bytes;
};

QByteArray encode(const InitCommandRequest& request);
QByteArray encode(const InitCommandAck& ack);
QByteArray encodeInitEventRequest(uint32_t connectionNumber);
QByteArray encodeInitFail(uint32_t reason);
QByteArray encode(const OperationRequest& request);
QByteArray encode(const OperationResponse& response);
QByteArray encode(const EventPacket& event);
QByteArray encode(const StartData& start);
QByteArray encodeData(PacketType type, uint32_t transactionId, const QByteArray& bytes);
// A Data or EndData packet whose `size` payload bytes are left to fill at `kDataPacketHeaderSize` (a sender
// reads a file straight into it instead of copying the bytes into a packet).
constexpr qsizetype kDataPacketHeaderSize = kHeaderSize + 4;
QByteArray encodeDataToFill(PacketType type, uint32_t transactionId, qsizetype size);
QByteArray encodeCancel(uint32_t transactionId);

// Decoders take a packet's payload.
std::optional<InitCommandRequest> decodeInitCommandRequest(const QByteArray& payload);
std::optional<InitCommandAck> decodeInitCommandAck(const QByteArray& payload);
std::optional<uint32_t> decodeUint32(const QByteArray& payload); // Init Event Request, Init Fail, Cancel
std::optional<OperationRequest> decodeOperationRequest(const QByteArray& payload);
std::optional<OperationResponse> decodeOperationResponse(const QByteArray& payload);
std::optional<EventPacket> decodeEvent(const QByteArray& payload);
std::optional<StartData> decodeStartData(const QByteArray& payload);
std::optional<DataPayload> decodeData(const QByteArray& payload);

// ---- Datasets -----------------------------------------------------------------------------------------------

// Reads little-endian values from a dataset; any read past the end, a count above the bound or a string that
// is not valid UTF-16 makes the reader fail, and it stays failed.
class DatasetReader {
public:
    explicit DatasetReader(const QByteArray& bytes) : m_bytes(bytes) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    QString string();
    std::vector<uint16_t> u16Array(uint32_t maxCount);
    std::vector<uint32_t> u32Array(uint32_t maxCount);
    bool ok() const { return m_ok; }
    qsizetype remaining() const { return m_ok ? m_bytes.size() - m_position : 0; }

private:
    bool take(qsizetype count, const char** data);
    const QByteArray& m_bytes;
    qsizetype m_position = 0;
    bool m_ok = true;
};

class DatasetWriter {
public:
    DatasetWriter& u8(uint8_t value);
    DatasetWriter& u16(uint16_t value);
    DatasetWriter& u32(uint32_t value);
    DatasetWriter& u64(uint64_t value);
    // Longer strings are cut to the 254 code units a PTP string holds.
    DatasetWriter& string(const QString& value);
    DatasetWriter& u16Array(const std::vector<uint16_t>& values);
    DatasetWriter& u32Array(const std::vector<uint32_t>& values);
    DatasetWriter& bytes(const QByteArray& value);
    const QByteArray& data() const { return m_data; }

private:
    QByteArray m_data;
};

struct DeviceInfo {
    uint16_t standardVersion = 100;
    uint32_t vendorExtensionId = 0;
    uint16_t vendorExtensionVersion = 0;
    QString vendorExtensionDescription;
    uint16_t functionalMode = 0;
    std::vector<uint16_t> operations;
    std::vector<uint16_t> events;
    std::vector<uint16_t> deviceProperties;
    std::vector<uint16_t> captureFormats;
    std::vector<uint16_t> imageFormats;
    QString manufacturer;
    QString model;
    QString deviceVersion;
    QString serialNumber;

    bool supportsOperation(uint16_t code) const;
    bool supportsProperty(uint16_t code) const;
};

struct StorageInfo {
    uint16_t storageType = 4; // removable RAM (a memory card)
    uint16_t filesystemType = 2; // generic hierarchical
    uint16_t accessCapability = 1; // read-only without deletion
    uint64_t maxCapacity = 0;
    uint64_t freeSpaceInBytes = 0;
    uint32_t freeSpaceInImages = 0;
    QString description;
    QString volumeLabel;
};

struct ObjectInfo {
    uint32_t storageId = 0;
    uint16_t format = FormatUndefined;
    uint16_t protectionStatus = 0;
    uint32_t compressedSize = 0; // 0xFFFFFFFF for objects of 4 GiB or more
    uint16_t thumbFormat = 0;
    uint32_t thumbCompressedSize = 0;
    uint32_t thumbPixWidth = 0;
    uint32_t thumbPixHeight = 0;
    uint32_t imagePixWidth = 0;
    uint32_t imagePixHeight = 0;
    uint32_t imageBitDepth = 0;
    uint32_t parentObject = 0;
    uint16_t associationType = 0;
    uint32_t associationDescription = 0;
    uint32_t sequenceNumber = 0;
    QString filename;
    QString captureDate; // "YYYYMMDDThhmmss" with optional tenths and zone
    QString modificationDate;
    QString keywords;
};

// A device property's description, for the one-byte unsigned properties we read (battery level).
struct DevicePropDescUint8 {
    uint16_t code = 0;
    uint8_t current = 0;
    uint8_t factoryDefault = 0;
    uint8_t minimum = 0;
    uint8_t maximum = 100;
    uint8_t step = 1;
};

constexpr uint32_t kMaxArrayCount = 1 << 20;

// The properties of one object from an ObjectPropList dataset; each none when the list left it out.
struct ObjectProperties {
    uint32_t handle = 0;
    std::optional<uint32_t> storageId;
    std::optional<uint16_t> format;
    std::optional<uint64_t> size;
    std::optional<QString> filename;
    std::optional<QString> dateCreated;
    std::optional<QString> dateModified;
    std::optional<uint32_t> parent;

    // As an ObjectInfo, for objects whose list gave at least a name and a format; a size of 4 GiB or more
    // becomes 0xFFFFFFFF there, as the dataset says it.
    std::optional<ObjectInfo> toObjectInfo() const;
};

QByteArray encode(const DeviceInfo& info);
QByteArray encode(const StorageInfo& info);
QByteArray encode(const ObjectInfo& info);
QByteArray encode(const DevicePropDescUint8& desc);
std::optional<DeviceInfo> decodeDeviceInfo(const QByteArray& data);
std::optional<StorageInfo> decodeStorageInfo(const QByteArray& data);
std::optional<ObjectInfo> decodeObjectInfo(const QByteArray& data);
std::optional<std::vector<uint32_t>> decodeUint32Array(const QByteArray& data);
// An ObjectPropList dataset (count, then handle, property, data type and value per element), objects in the
// order of their first element. Properties we do not read are skipped by their data type; an unknown data type,
// a count larger than the bytes could hold or a value past the end is none.
std::optional<std::vector<ObjectProperties>> decodeObjectPropList(const QByteArray& data);
QByteArray encodeObjectPropList(const std::vector<ObjectProperties>& objects);
// A 64-bit value sent as a data phase (GetObjectPropValue of the object size, Nikon's GetObjectSize).
std::optional<uint64_t> decodeUint64(const QByteArray& data);
// The parameters of a 64-bit partial read (OpGetPartialObject64 or OpNikonGetPartialObjectEx).
std::vector<uint32_t> partialRead64Parameters(uint16_t operation, uint32_t handle, uint64_t offset, uint32_t length);
// The current value of a property description whose value is one unsigned byte (data type 0x0002).
std::optional<uint8_t> decodeDevicePropDescUint8Current(const QByteArray& data);

// "YYYYMMDDThhmmss" (optional ".s" and a zone "Z" or "+hhmm"): without a zone, the camera's local time.
std::optional<QDateTime> parsePtpDate(const QString& text);
QString formatPtpDate(const QDateTime& date);

} // namespace vornakel::ptpip
