#include "platform/camera/ptpip/PtpIpCodec.h"

#include <QStringDecoder>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace vornakel::ptpip {

namespace {

void putU16(QByteArray& out, uint16_t value)
{
    const char bytes[2] = {char(value & 0xff), char(value >> 8)};
    out.append(bytes, 2);
}

void putU32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void putU64(QByteArray& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

uint32_t readU32(const char* data)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uint8_t(data[i]);
    return value;
}

// UTF-16LE code units, terminated by a zero unit, as Init packets carry names.
void putTerminatedString(QByteArray& out, const QString& text)
{
    const QString cut = text.left(kMaxStringUnits - 1);
    for (QChar unit : cut)
        putU16(out, unit.unicode());
    putU16(out, 0);
}

// Strict UTF-16: a lone surrogate is not a name.
std::optional<QString> decodeUtf16(const std::vector<char16_t>& units)
{
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit)) {
            if (i + 1 >= units.size() || !QChar::isLowSurrogate(units[i + 1]))
                return std::nullopt;
            ++i;
        } else if (QChar::isLowSurrogate(unit)) {
            return std::nullopt;
        }
    }
    return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
}

std::optional<QString> takeTerminatedString(DatasetReader& reader)
{
    std::vector<char16_t> units;
    while (true) {
        const uint16_t unit = reader.u16();
        if (!reader.ok() || units.size() > size_t(kMaxStringUnits))
            return std::nullopt;
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return decodeUtf16(units);
}

QByteArray encodeWithParameters(uint16_t code, uint32_t transactionId, const std::vector<uint32_t>& parameters,
                                int maxParameters)
{
    QByteArray out;
    putU16(out, code);
    putU32(out, transactionId);
    for (size_t i = 0; i < parameters.size() && int(i) < maxParameters; ++i)
        putU32(out, parameters[i]);
    return out;
}

// Code, transaction and up to `maxParameters` parameters; trailing bytes that do not make a whole
// parameter are refused.
bool decodeWithParameters(const QByteArray& payload, int maxParameters, uint16_t& code, uint32_t& transactionId,
                          std::vector<uint32_t>& parameters)
{
    DatasetReader reader(payload);
    code = reader.u16();
    transactionId = reader.u32();
    if (!reader.ok() || reader.remaining() % 4 != 0 || reader.remaining() / 4 > maxParameters)
        return false;
    while (reader.remaining() > 0)
        parameters.push_back(reader.u32());
    return reader.ok();
}

} // namespace

// ---- Framing ------------------------------------------------------------------------------------------------

bool isKnownPacketType(uint32_t type) { return type >= 1 && type <= 14; }

uint32_t maxPacketSize(PacketType type)
{
    return type == PacketType::Data || type == PacketType::EndData ? kMaxDataPacketSize + kHeaderSize + 4
                                                                   : kMaxControlPacketSize;
}

QByteArray encodePacket(PacketType type, const QByteArray& payload)
{
    QByteArray out;
    out.reserve(payload.size() + kHeaderSize);
    putU32(out, uint32_t(payload.size() + kHeaderSize));
    putU32(out, uint32_t(type));
    out.append(payload);
    return out;
}

void PacketReader::append(const QByteArray& bytes)
{
    // Handed-out bytes are dropped in one move once they are most of the buffer, not packet by packet.
    if (m_offset > 0 && (m_offset == m_buffer.size() || m_offset >= m_buffer.size() / 2)) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    if (m_buffer.isEmpty())
        m_buffer = bytes;
    else
        m_buffer.append(bytes);
}

void PacketReader::appendFrom(QIODevice& device, qint64 atMost)
{
    const qint64 available = std::max<qint64>(device.bytesAvailable(), 0);
    if (m_offset > 0 && (m_offset == m_buffer.size() || m_offset >= m_buffer.size() / 2)) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    constexpr qint64 kMore = 64 * 1024;
    const qint64 asked = std::clamp<qint64>(available + kMore, 1, std::max<qint64>(atMost, 1));
    const qsizetype before = m_buffer.size();
    m_buffer.resize(before + qsizetype(asked));
    const qint64 read = device.read(m_buffer.data() + before, asked);
    m_buffer.resize(before + qsizetype(std::max<qint64>(read, 0)));
}

PacketReader::Status PacketReader::next(Packet& packet)
{
    QByteArrayView payload;
    const Status status = next(packet.type, payload);
    if (status == Status::Ready)
        packet.payload = payload.toByteArray();
    return status;
}

PacketReader::Status PacketReader::header(uint32_t& length, PacketType& packetType)
{
    if (!m_error.isEmpty())
        return Status::Failed;
    if (buffered() < qsizetype(kHeaderSize))
        return Status::NeedMore;
    const char* start = m_buffer.constData() + m_offset;
    length = readU32(start);
    const uint32_t type = readU32(start + 4);
    if (!isKnownPacketType(type)) {
        m_error = QStringLiteral("The camera sent a packet of unknown type %1.").arg(type);
        return Status::Failed;
    }
    if (length < kHeaderSize || length > maxPacketSize(PacketType(type))) {
        m_error = QStringLiteral("The camera sent a packet of type %1 with an impossible length of %2 bytes.")
                      .arg(type)
                      .arg(length);
        return Status::Failed;
    }
    packetType = PacketType(type);
    return Status::Ready;
}

PacketReader::Status PacketReader::next(PacketType& packetType, QByteArrayView& payload)
{
    uint32_t length = 0;
    PacketType type{};
    if (const Status status = header(length, type); status != Status::Ready)
        return status;
    if (buffered() < qsizetype(length))
        return Status::NeedMore;
    packetType = type;
    payload = QByteArrayView(m_buffer.constData() + m_offset + kHeaderSize, qsizetype(length - kHeaderSize));
    m_offset += length;
    return Status::Ready;
}

PacketReader::Status PacketReader::nextPiece(Piece& piece)
{
    if (!m_error.isEmpty())
        return Status::Failed;
    if (m_pieceLeft > 0) {
        if (buffered() == 0)
            return Status::NeedMore;
        const qsizetype count = std::min(buffered(), m_pieceLeft);
        piece = {m_pieceType, QByteArrayView(m_buffer.constData() + m_offset, count), true};
        m_offset += count;
        m_pieceLeft -= count;
        return Status::Ready;
    }
    uint32_t length = 0;
    PacketType type{};
    if (const Status status = header(length, type); status != Status::Ready)
        return status;
    const qsizetype whole = qsizetype(length);
    const qsizetype withId = qsizetype(kHeaderSize) + 4;
    if ((type != PacketType::Data && type != PacketType::EndData) || whole <= withId) {
        QByteArrayView payload;
        const Status status = next(type, payload);
        if (status == Status::Ready)
            piece = {type, payload, false};
        return status;
    }
    if (buffered() < withId)
        return Status::NeedMore;
    const qsizetype count = std::min(buffered(), whole);
    piece = {type, QByteArrayView(m_buffer.constData() + m_offset + kHeaderSize, count - qsizetype(kHeaderSize)), false};
    m_offset += count;
    m_pieceLeft = whole - count;
    m_pieceType = type;
    return Status::Ready;
}

void PacketReader::tookPieceBytes(qsizetype count)
{
    m_pieceLeft -= std::clamp<qsizetype>(count, 0, m_pieceLeft);
}

// ---- Packets ------------------------------------------------------------------------------------------------

QByteArray encode(const InitCommandRequest& request)
{
    QByteArray out = request.guid.left(16).leftJustified(16, '\0');
    putTerminatedString(out, request.friendlyName);
    putU32(out, request.version);
    return encodePacket(PacketType::InitCommandRequest, out);
}

QByteArray encode(const InitCommandAck& ack)
{
    QByteArray out;
    putU32(out, ack.connectionNumber);
    out.append(ack.guid.left(16).leftJustified(16, '\0'));
    putTerminatedString(out, ack.friendlyName);
    putU32(out, ack.version);
    return encodePacket(PacketType::InitCommandAck, out);
}

QByteArray encodeInitEventRequest(uint32_t connectionNumber)
{
    QByteArray out;
    putU32(out, connectionNumber);
    return encodePacket(PacketType::InitEventRequest, out);
}

QByteArray encodeInitFail(uint32_t reason)
{
    QByteArray out;
    putU32(out, reason);
    return encodePacket(PacketType::InitFail, out);
}

QByteArray encode(const OperationRequest& request)
{
    QByteArray out;
    putU32(out, request.dataPhase);
    out.append(encodeWithParameters(request.code, request.transactionId, request.parameters, kMaxParameters));
    return encodePacket(PacketType::OperationRequest, out);
}

QByteArray encode(const OperationResponse& response)
{
    return encodePacket(PacketType::OperationResponse,
                        encodeWithParameters(response.code, response.transactionId, response.parameters, kMaxParameters));
}

QByteArray encode(const EventPacket& event)
{
    return encodePacket(PacketType::Event, encodeWithParameters(event.code, event.transactionId, event.parameters, 3));
}

QByteArray encode(const StartData& start)
{
    QByteArray out;
    putU32(out, start.transactionId);
    putU64(out, start.totalLength);
    return encodePacket(PacketType::StartData, out);
}

QByteArray encodeDataToFill(PacketType type, uint32_t transactionId, qsizetype size)
{
    QByteArray out;
    out.reserve(kDataPacketHeaderSize + size);
    putU32(out, uint32_t(kDataPacketHeaderSize + size));
    putU32(out, uint32_t(type));
    putU32(out, transactionId);
    out.resize(kDataPacketHeaderSize + size);
    return out;
}

QByteArray encodeData(PacketType type, uint32_t transactionId, const QByteArray& bytes)
{
    QByteArray out = encodeDataToFill(type, transactionId, bytes.size());
    if (!bytes.isEmpty())
        std::memcpy(out.data() + kDataPacketHeaderSize, bytes.constData(), size_t(bytes.size()));
    return out;
}

QByteArray encodeCancel(uint32_t transactionId)
{
    QByteArray out;
    putU32(out, transactionId);
    return encodePacket(PacketType::Cancel, out);
}

std::optional<InitCommandRequest> decodeInitCommandRequest(const QByteArray& payload)
{
    if (payload.size() < 16 + 2 + 4)
        return std::nullopt;
    InitCommandRequest request;
    request.guid = payload.left(16);
    const QByteArray rest = payload.mid(16);
    DatasetReader reader(rest);
    const auto name = takeTerminatedString(reader);
    request.version = reader.u32();
    if (!name || !reader.ok())
        return std::nullopt;
    request.friendlyName = *name;
    return request;
}

std::optional<InitCommandAck> decodeInitCommandAck(const QByteArray& payload)
{
    if (payload.size() < 4 + 16 + 2)
        return std::nullopt;
    InitCommandAck ack;
    DatasetReader head(payload);
    ack.connectionNumber = head.u32();
    ack.guid = payload.mid(4, 16);
    const QByteArray rest = payload.mid(20);
    DatasetReader reader(rest);
    const auto name = takeTerminatedString(reader);
    if (!name)
        return std::nullopt;
    ack.friendlyName = *name;
    // Some cameras leave the version out; it is not needed to go on.
    if (reader.remaining() >= 4)
        ack.version = reader.u32();
    return ack;
}

std::optional<uint32_t> decodeUint32(const QByteArray& payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return readU32(payload.constData());
}

std::optional<OperationRequest> decodeOperationRequest(const QByteArray& payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    OperationRequest request;
    request.dataPhase = readU32(payload.constData());
    if (!decodeWithParameters(payload.mid(4), kMaxParameters, request.code, request.transactionId, request.parameters))
        return std::nullopt;
    return request;
}

std::optional<OperationResponse> decodeOperationResponse(const QByteArray& payload)
{
    OperationResponse response;
    if (!decodeWithParameters(payload, kMaxParameters, response.code, response.transactionId, response.parameters))
        return std::nullopt;
    return response;
}

std::optional<EventPacket> decodeEvent(const QByteArray& payload)
{
    EventPacket event;
    if (!decodeWithParameters(payload, 3, event.code, event.transactionId, event.parameters))
        return std::nullopt;
    return event;
}

std::optional<StartData> decodeStartData(const QByteArray& payload)
{
    DatasetReader reader(payload);
    StartData start;
    start.transactionId = reader.u32();
    start.totalLength = reader.u64();
    if (!reader.ok())
        return std::nullopt;
    return start;
}

std::optional<DataPayload> decodeData(const QByteArray& payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return DataPayload{readU32(payload.constData()), payload.mid(4)};
}

// ---- Datasets -----------------------------------------------------------------------------------------------

bool DatasetReader::take(qsizetype count, const char** data)
{
    if (!m_ok || count < 0 || m_bytes.size() - m_position < count) {
        m_ok = false;
        return false;
    }
    *data = m_bytes.constData() + m_position;
    m_position += count;
    return true;
}

uint8_t DatasetReader::u8()
{
    const char* data = nullptr;
    return take(1, &data) ? uint8_t(data[0]) : 0;
}

uint16_t DatasetReader::u16()
{
    const char* data = nullptr;
    return take(2, &data) ? uint16_t(uint8_t(data[0]) | (uint8_t(data[1]) << 8)) : 0;
}

uint32_t DatasetReader::u32()
{
    const char* data = nullptr;
    return take(4, &data) ? readU32(data) : 0;
}

uint64_t DatasetReader::u64()
{
    const uint64_t low = u32();
    const uint64_t high = u32();
    return low | (high << 32);
}

QString DatasetReader::string()
{
    // A count of code units including the terminating zero; 0 for an empty string.
    const uint8_t count = u8();
    if (!m_ok || count == 0)
        return {};
    std::vector<char16_t> units;
    units.reserve(count);
    for (int i = 0; i < count; ++i)
        units.push_back(u16());
    if (!m_ok)
        return {};
    while (!units.empty() && units.back() == 0)
        units.pop_back();
    if (std::find(units.begin(), units.end(), char16_t(0)) != units.end()) {
        m_ok = false;
        return {};
    }
    const auto text = decodeUtf16(units);
    if (!text) {
        m_ok = false;
        return {};
    }
    return *text;
}

std::vector<uint16_t> DatasetReader::u16Array(uint32_t maxCount)
{
    const uint32_t count = u32();
    // The count must fit both the bound and the bytes left, so a lying count allocates nothing.
    if (!m_ok || count > maxCount || qsizetype(count) * 2 > remaining()) {
        m_ok = false;
        return {};
    }
    std::vector<uint16_t> values(count);
    for (auto& value : values)
        value = u16();
    return values;
}

std::vector<uint32_t> DatasetReader::u32Array(uint32_t maxCount)
{
    const uint32_t count = u32();
    if (!m_ok || count > maxCount || qsizetype(count) * 4 > remaining()) {
        m_ok = false;
        return {};
    }
    std::vector<uint32_t> values(count);
    for (auto& value : values)
        value = u32();
    return values;
}

DatasetWriter& DatasetWriter::u8(uint8_t value)
{
    m_data.append(char(value));
    return *this;
}

DatasetWriter& DatasetWriter::u16(uint16_t value)
{
    putU16(m_data, value);
    return *this;
}

DatasetWriter& DatasetWriter::u32(uint32_t value)
{
    putU32(m_data, value);
    return *this;
}

DatasetWriter& DatasetWriter::u64(uint64_t value)
{
    putU64(m_data, value);
    return *this;
}

DatasetWriter& DatasetWriter::string(const QString& value)
{
    if (value.isEmpty())
        return u8(0);
    QString cut = value.left(kMaxStringUnits - 1);
    // Never cut a surrogate pair in half.
    if (cut.size() < value.size() && cut.back().isHighSurrogate())
        cut.chop(1);
    u8(uint8_t(cut.size() + 1));
    for (QChar unit : cut)
        u16(unit.unicode());
    return u16(0);
}

DatasetWriter& DatasetWriter::u16Array(const std::vector<uint16_t>& values)
{
    u32(uint32_t(values.size()));
    for (uint16_t value : values)
        u16(value);
    return *this;
}

DatasetWriter& DatasetWriter::u32Array(const std::vector<uint32_t>& values)
{
    u32(uint32_t(values.size()));
    for (uint32_t value : values)
        u32(value);
    return *this;
}

DatasetWriter& DatasetWriter::bytes(const QByteArray& value)
{
    m_data.append(value);
    return *this;
}

bool DeviceInfo::supportsOperation(uint16_t code) const
{
    return std::find(operations.begin(), operations.end(), code) != operations.end();
}

bool DeviceInfo::supportsProperty(uint16_t code) const
{
    return std::find(deviceProperties.begin(), deviceProperties.end(), code) != deviceProperties.end();
}

QByteArray encode(const DeviceInfo& info)
{
    DatasetWriter writer;
    writer.u16(info.standardVersion).u32(info.vendorExtensionId).u16(info.vendorExtensionVersion)
        .string(info.vendorExtensionDescription).u16(info.functionalMode).u16Array(info.operations)
        .u16Array(info.events).u16Array(info.deviceProperties).u16Array(info.captureFormats)
        .u16Array(info.imageFormats).string(info.manufacturer).string(info.model).string(info.deviceVersion)
        .string(info.serialNumber);
    return writer.data();
}

QByteArray encode(const StorageInfo& info)
{
    DatasetWriter writer;
    writer.u16(info.storageType).u16(info.filesystemType).u16(info.accessCapability).u64(info.maxCapacity)
        .u64(info.freeSpaceInBytes).u32(info.freeSpaceInImages).string(info.description).string(info.volumeLabel);
    return writer.data();
}

QByteArray encode(const ObjectInfo& info)
{
    DatasetWriter writer;
    writer.u32(info.storageId).u16(info.format).u16(info.protectionStatus).u32(info.compressedSize)
        .u16(info.thumbFormat).u32(info.thumbCompressedSize).u32(info.thumbPixWidth).u32(info.thumbPixHeight)
        .u32(info.imagePixWidth).u32(info.imagePixHeight).u32(info.imageBitDepth).u32(info.parentObject)
        .u16(info.associationType).u32(info.associationDescription).u32(info.sequenceNumber)
        .string(info.filename).string(info.captureDate).string(info.modificationDate).string(info.keywords);
    return writer.data();
}

QByteArray encode(const DevicePropDescUint8& desc)
{
    DatasetWriter writer;
    // Data type 0x0002 (UINT8), get only, then the range form.
    writer.u16(desc.code).u16(0x0002).u8(0).u8(desc.factoryDefault).u8(desc.current).u8(0x01)
        .u8(desc.minimum).u8(desc.maximum).u8(desc.step);
    return writer.data();
}

std::optional<DeviceInfo> decodeDeviceInfo(const QByteArray& data)
{
    DatasetReader reader(data);
    DeviceInfo info;
    info.standardVersion = reader.u16();
    info.vendorExtensionId = reader.u32();
    info.vendorExtensionVersion = reader.u16();
    info.vendorExtensionDescription = reader.string();
    info.functionalMode = reader.u16();
    info.operations = reader.u16Array(4096);
    info.events = reader.u16Array(4096);
    info.deviceProperties = reader.u16Array(4096);
    info.captureFormats = reader.u16Array(4096);
    info.imageFormats = reader.u16Array(4096);
    info.manufacturer = reader.string();
    info.model = reader.string();
    info.deviceVersion = reader.string();
    info.serialNumber = reader.string();
    if (!reader.ok())
        return std::nullopt;
    return info;
}

std::optional<StorageInfo> decodeStorageInfo(const QByteArray& data)
{
    DatasetReader reader(data);
    StorageInfo info;
    info.storageType = reader.u16();
    info.filesystemType = reader.u16();
    info.accessCapability = reader.u16();
    info.maxCapacity = reader.u64();
    info.freeSpaceInBytes = reader.u64();
    info.freeSpaceInImages = reader.u32();
    info.description = reader.string();
    info.volumeLabel = reader.string();
    if (!reader.ok())
        return std::nullopt;
    return info;
}

std::optional<ObjectInfo> decodeObjectInfo(const QByteArray& data)
{
    DatasetReader reader(data);
    ObjectInfo info;
    info.storageId = reader.u32();
    info.format = reader.u16();
    info.protectionStatus = reader.u16();
    info.compressedSize = reader.u32();
    info.thumbFormat = reader.u16();
    info.thumbCompressedSize = reader.u32();
    info.thumbPixWidth = reader.u32();
    info.thumbPixHeight = reader.u32();
    info.imagePixWidth = reader.u32();
    info.imagePixHeight = reader.u32();
    info.imageBitDepth = reader.u32();
    info.parentObject = reader.u32();
    info.associationType = reader.u16();
    info.associationDescription = reader.u32();
    info.sequenceNumber = reader.u32();
    info.filename = reader.string();
    info.captureDate = reader.string();
    info.modificationDate = reader.string();
    // Keywords are optional in practice: several cameras end the dataset after the dates.
    if (reader.ok() && reader.remaining() > 0)
        info.keywords = reader.string();
    if (!reader.ok())
        return std::nullopt;
    return info;
}

std::optional<std::vector<uint32_t>> decodeUint32Array(const QByteArray& data)
{
    DatasetReader reader(data);
    auto values = reader.u32Array(kMaxArrayCount);
    if (!reader.ok())
        return std::nullopt;
    return values;
}

namespace {

enum DataType : uint16_t {
    TypeInt8 = 0x0001,
    TypeUint8 = 0x0002,
    TypeUint16 = 0x0004,
    TypeUint32 = 0x0006,
    TypeUint64 = 0x0008,
    TypeUint128 = 0x000A,
    TypeArrayFirst = 0x4001,
    TypeArrayLast = 0x400A,
    TypeString = 0xFFFF,
};

// The size of one value of a simple type (0x0001 … 0x000A are 1, 1, 2, 2, 4, 4, 8, 8, 16, 16 bytes).
int simpleTypeSize(uint16_t type)
{
    if (type < TypeInt8 || type > TypeUint128)
        return 0;
    return 1 << ((type - 1) / 2);
}

// Skips a value we do not read; false for a type we do not know.
bool skipValue(DatasetReader& reader, uint16_t type)
{
    if (type == TypeString) {
        reader.string();
        return reader.ok();
    }
    if (type >= TypeArrayFirst && type <= TypeArrayLast) {
        const uint32_t count = reader.u32();
        const int size = simpleTypeSize(uint16_t(type - 0x4000));
        if (!reader.ok() || qint64(count) * size > reader.remaining())
            return false;
        for (qint64 i = 0; i < qint64(count) * size; ++i)
            reader.u8();
        return reader.ok();
    }
    const int size = simpleTypeSize(type);
    if (size == 0)
        return false;
    for (int i = 0; i < size; ++i)
        reader.u8();
    return reader.ok();
}

// An unsigned value of any simple unsigned or signed type up to 64 bits; none for other types.
std::optional<uint64_t> readInteger(DatasetReader& reader, uint16_t type)
{
    switch (simpleTypeSize(type)) {
    case 1: return reader.u8();
    case 2: return reader.u16();
    case 4: return reader.u32();
    case 8: return reader.u64();
    default: return std::nullopt;
    }
}

} // namespace

std::optional<ObjectInfo> ObjectProperties::toObjectInfo() const
{
    if (!filename || !format)
        return std::nullopt;
    ObjectInfo info;
    info.storageId = storageId.value_or(0);
    info.format = *format;
    info.compressedSize = size ? uint32_t(std::min<uint64_t>(*size, 0xFFFFFFFF)) : 0;
    info.parentObject = parent.value_or(0);
    info.filename = *filename;
    info.captureDate = dateCreated.value_or(QString());
    info.modificationDate = dateModified.value_or(QString());
    return info;
}

std::optional<std::vector<ObjectProperties>> decodeObjectPropList(const QByteArray& data)
{
    DatasetReader reader(data);
    const uint32_t count = reader.u32();
    // An element is at least a handle, a code, a type and one byte.
    if (!reader.ok() || qint64(count) * 9 > reader.remaining())
        return std::nullopt;
    std::vector<ObjectProperties> objects;
    std::unordered_map<uint32_t, size_t> indexOf;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t handle = reader.u32();
        const uint16_t code = reader.u16();
        const uint16_t type = reader.u16();
        if (!reader.ok())
            return std::nullopt;
        auto [found, added] = indexOf.try_emplace(handle, objects.size());
        if (added) {
            objects.emplace_back();
            objects.back().handle = handle;
        }
        ObjectProperties& object = objects[found->second];
        const bool integer = simpleTypeSize(type) > 0 && simpleTypeSize(type) <= 8;
        switch (code) {
        case ObjectPropFileName:
        case ObjectPropDateCreated:
        case ObjectPropDateModified: {
            if (type != TypeString)
                return std::nullopt;
            const QString text = reader.string();
            if (code == ObjectPropFileName)
                object.filename = text;
            else if (code == ObjectPropDateCreated)
                object.dateCreated = text;
            else
                object.dateModified = text;
            break;
        }
        case ObjectPropStorageId:
        case ObjectPropFormat:
        case ObjectPropSize:
        case ObjectPropParent: {
            if (!integer)
                return std::nullopt;
            const uint64_t value = *readInteger(reader, type);
            if (code == ObjectPropStorageId)
                object.storageId = uint32_t(value);
            else if (code == ObjectPropFormat)
                object.format = uint16_t(value);
            else if (code == ObjectPropSize)
                object.size = value;
            else
                object.parent = uint32_t(value);
            break;
        }
        default:
            if (!skipValue(reader, type))
                return std::nullopt;
        }
        if (!reader.ok())
            return std::nullopt;
    }
    return objects;
}

QByteArray encodeObjectPropList(const std::vector<ObjectProperties>& objects)
{
    DatasetWriter body;
    uint32_t count = 0;
    const auto element = [&](uint32_t handle, uint16_t code, uint16_t type) {
        body.u32(handle).u16(code).u16(type);
        ++count;
    };
    for (const ObjectProperties& object : objects) {
        if (object.storageId) {
            element(object.handle, ObjectPropStorageId, TypeUint32);
            body.u32(*object.storageId);
        }
        if (object.format) {
            element(object.handle, ObjectPropFormat, TypeUint16);
            body.u16(*object.format);
        }
        if (object.size) {
            element(object.handle, ObjectPropSize, TypeUint64);
            body.u64(*object.size);
        }
        if (object.filename) {
            element(object.handle, ObjectPropFileName, TypeString);
            body.string(*object.filename);
        }
        if (object.dateCreated) {
            element(object.handle, ObjectPropDateCreated, TypeString);
            body.string(*object.dateCreated);
        }
        if (object.dateModified) {
            element(object.handle, ObjectPropDateModified, TypeString);
            body.string(*object.dateModified);
        }
        if (object.parent) {
            element(object.handle, ObjectPropParent, TypeUint32);
            body.u32(*object.parent);
        }
    }
    DatasetWriter writer;
    writer.u32(count).bytes(body.data());
    return writer.data();
}

std::optional<uint64_t> decodeUint64(const QByteArray& data)
{
    DatasetReader reader(data);
    const uint64_t value = reader.u64();
    if (!reader.ok())
        return std::nullopt;
    return value;
}

std::vector<uint32_t> partialRead64Parameters(uint16_t operation, uint32_t handle, uint64_t offset, uint32_t length)
{
    std::vector<uint32_t> parameters{handle, uint32_t(offset & 0xFFFFFFFF), uint32_t(offset >> 32), length};
    if (operation == OpNikonGetPartialObjectEx)
        parameters.push_back(0); // the length's high half
    return parameters;
}

std::optional<uint8_t> decodeDevicePropDescUint8Current(const QByteArray& data)
{
    DatasetReader reader(data);
    reader.u16(); // the property code
    const uint16_t type = reader.u16();
    reader.u8(); // get/set
    reader.u8(); // factory default
    const uint8_t current = reader.u8();
    if (!reader.ok() || type != 0x0002)
        return std::nullopt;
    return current;
}

std::optional<QDateTime> parsePtpDate(const QString& text)
{
    // YYYYMMDDThhmmss, then optionally ".s", then optionally "Z" or "+hhmm"/"-hhmm".
    if (text.size() < 15 || text.size() > 32 || text.at(8) != QLatin1Char('T'))
        return std::nullopt;
    for (int i = 0; i < 15; ++i) {
        if (i != 8 && !text.at(i).isDigit())
            return std::nullopt;
    }
    const QDate date(text.mid(0, 4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    const QTime time(text.mid(9, 2).toInt(), text.mid(11, 2).toInt(), text.mid(13, 2).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    QString rest = text.mid(15);
    if (rest.startsWith(QLatin1Char('.'))) {
        int digits = 1;
        while (digits < rest.size() && rest.at(digits).isDigit())
            ++digits;
        rest = rest.mid(digits);
    }
    if (rest.isEmpty())
        return QDateTime(date, time);
    if (rest == QLatin1String("Z"))
        return QDateTime(date, time, QTimeZone::utc());
    if (rest.size() == 5 && (rest.at(0) == QLatin1Char('+') || rest.at(0) == QLatin1Char('-'))) {
        bool okHours = false, okMinutes = false;
        const int hours = rest.mid(1, 2).toInt(&okHours);
        const int minutes = rest.mid(3, 2).toInt(&okMinutes);
        if (!okHours || !okMinutes || hours > 14 || minutes > 59)
            return std::nullopt;
        const int offset = (hours * 3600 + minutes * 60) * (rest.at(0) == QLatin1Char('-') ? -1 : 1);
        return QDateTime(date, time, QTimeZone(offset));
    }
    return std::nullopt;
}

QString formatPtpDate(const QDateTime& date)
{
    return date.toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

} // namespace vornakel::ptpip
