#include "platform/camera/ptpip/PtpIpCodec.h"
#include "support/TestSupport.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace vornakel::ptpip {
namespace {

QByteArray le32(uint32_t value)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

QByteArray header(uint32_t length, uint32_t type) { return le32(length) + le32(type); }

TEST(PtpIpCodec, PacketsSurviveTheRoundTripAndArriveWholeFromPieces)
{
    const QByteArray guid("0123456789abcdef", 16);
    QByteArray stream = encode(InitCommandRequest{guid, QStringLiteral("Vornakel ä"), kProtocolVersion});
    stream += encode(OperationRequest{DataPhaseNoneOrIn, OpGetPartialObject, 7, {42, 1024, 4096}});
    stream += encode(StartData{7, 5});
    stream += encodeData(PacketType::EndData, 7, "hello");
    stream += encode(EventPacket{EventDevicePropChanged, 0xFFFFFFFF, {PropBatteryLevel}});

    PacketReader reader;
    std::vector<Packet> packets;
    // One byte at a time: packets come out whole, never early.
    for (char byte : stream) {
        reader.append(QByteArray(1, byte));
        Packet packet;
        while (reader.next(packet) == PacketReader::Status::Ready)
            packets.push_back(packet);
    }
    ASSERT_EQ(packets.size(), 5u);
    const auto init = decodeInitCommandRequest(packets[0].payload);
    ASSERT_TRUE(init);
    EXPECT_EQ(init->guid, guid);
    EXPECT_EQ(init->friendlyName, QStringLiteral("Vornakel ä"));
    const auto request = decodeOperationRequest(packets[1].payload);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->code, OpGetPartialObject);
    EXPECT_EQ(request->parameters, (std::vector<uint32_t>{42, 1024, 4096}));
    EXPECT_EQ(decodeStartData(packets[2].payload)->totalLength, 5u);
    EXPECT_EQ(decodeData(packets[3].payload)->bytes, QByteArray("hello"));
    EXPECT_EQ(decodeEvent(packets[4].payload)->parameters, (std::vector<uint32_t>{PropBatteryLevel}));
}

// Data packets come out in pieces as their bytes arrive, whatever the cuts; every other packet comes out whole.
TEST(PtpIpCodec, DataPacketsArriveInPiecesAndOtherPacketsWhole)
{
    const QByteArray content = QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(50);
    QByteArray stream = encode(StartData{7, uint64_t(content.size()) + 5});
    stream += encodeData(PacketType::Data, 7, content);
    stream += encodeData(PacketType::EndData, 7, "hello");
    stream += encode(OperationResponse{RespOK, 7, {}});
    for (const qsizetype cut : {qsizetype(1), qsizetype(5), qsizetype(13), qsizetype(1000), stream.size()}) {
        SCOPED_TRACE(cut);
        PacketReader reader;
        std::vector<PacketType> whole;
        QByteArray data;
        int firstPieces = 0;
        for (qsizetype at = 0; at < stream.size(); at += cut) {
            reader.append(stream.mid(at, cut));
            PacketReader::Piece piece;
            while (reader.nextPiece(piece) == PacketReader::Status::Ready) {
                if (piece.type != PacketType::Data && piece.type != PacketType::EndData) {
                    EXPECT_FALSE(piece.continued);
                    whole.push_back(piece.type);
                    continue;
                }
                if (!piece.continued) {
                    ++firstPieces;
                    ASSERT_GE(piece.bytes.size(), 4) << "a first piece holds the transaction id";
                    EXPECT_EQ(decodeUint32(piece.bytes.first(4).toByteArray()), 7u);
                    piece.bytes = piece.bytes.sliced(4);
                }
                data += piece.bytes.toByteArray();
            }
            ASSERT_TRUE(reader.error().isEmpty());
        }
        EXPECT_EQ(firstPieces, 2);
        EXPECT_EQ(whole, (std::vector<PacketType>{PacketType::StartData, PacketType::OperationResponse}));
        EXPECT_TRUE(data == content + "hello");
        EXPECT_EQ(reader.pieceLeft(), 0);
    }
}

TEST(PtpIpCodec, RefusesLengthsThatLieAndUnknownTypes)
{
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"shorter than its header", header(4, uint32_t(PacketType::OperationResponse))},
        {"a control packet of a gigabyte", header(0x40000000, uint32_t(PacketType::OperationResponse))},
        {"a data packet past the bound", header(kMaxDataPacketSize + 64, uint32_t(PacketType::Data))},
        {"an unknown type", header(8, 99)},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        PacketReader reader;
        reader.append(each.bytes);
        Packet packet;
        EXPECT_EQ(reader.next(packet), PacketReader::Status::Failed);
        EXPECT_FALSE(reader.error().isEmpty());
    }
}

TEST(PtpIpCodec, DatasetsRoundTripAndHostileOnesAreRefused)
{
    ObjectInfo info;
    info.storageId = 0x00010001;
    info.format = FormatExifJpeg;
    info.compressedSize = 123456;
    info.parentObject = 3;
    info.filename = QStringLiteral("IMG_0001.JPG");
    info.captureDate = QStringLiteral("20240511T134501");
    const auto decoded = decodeObjectInfo(encode(info));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->filename, info.filename);
    EXPECT_EQ(decoded->compressedSize, info.compressedSize);
    EXPECT_EQ(decoded->captureDate, info.captureDate);

    DeviceInfo device;
    device.operations = {OpGetDeviceInfo, OpGetPartialObject};
    device.deviceProperties = {PropBatteryLevel};
    device.model = QStringLiteral("VK-IP1");
    const auto decodedDevice = decodeDeviceInfo(encode(device));
    ASSERT_TRUE(decodedDevice);
    EXPECT_TRUE(decodedDevice->supportsOperation(OpGetPartialObject));
    EXPECT_TRUE(decodedDevice->supportsProperty(PropBatteryLevel));
    EXPECT_EQ(decodedDevice->model, device.model);

    QByteArray loneSurrogate = encode(info);
    // The filename's first code unit (after the 52 fixed bytes and the count byte) becomes a lone high surrogate.
    loneSurrogate[53] = char(0x00);
    loneSurrogate[54] = char(0xD8);
    QByteArray truncated = encode(info);
    truncated.chop(10);
    DatasetWriter lyingArray;
    lyingArray.u32(1000000).u32(1).u32(2);
    DatasetWriter hugeArray;
    hugeArray.u32(0xFFFFFFFF);

    EXPECT_FALSE(decodeObjectInfo(loneSurrogate)) << "a name that is not UTF-16";
    EXPECT_FALSE(decodeObjectInfo(truncated)) << "a dataset cut short";
    EXPECT_FALSE(decodeUint32Array(lyingArray.data())) << "a count larger than the data";
    EXPECT_FALSE(decodeUint32Array(hugeArray.data())) << "a count past the bound";
    EXPECT_FALSE(decodeDeviceInfo(QByteArray(3, '\0')));
}

TEST(PtpIpCodec, ObjectPropListsGiveEachObjectsPropertiesAndHostileOnesAreRefused)
{
    ObjectProperties photo;
    photo.handle = 7;
    photo.storageId = 0x00010001;
    photo.format = FormatExifJpeg;
    photo.size = 5ull * 1024 * 1024 * 1024; // past what ObjectInfo's 32 bits hold
    photo.filename = QStringLiteral("IMG_0001.JPG");
    photo.dateCreated = QStringLiteral("20240511T134501");
    photo.parent = 3;
    ObjectProperties folder;
    folder.handle = 3;
    folder.format = FormatAssociation;
    folder.filename = QStringLiteral("100VKLCM");
    // Properties we do not read (an array and a string) come between the ones we do, and are skipped.
    DatasetWriter extra;
    extra.u32(7).u16(0xDC44).u16(0xFFFF).string(QStringLiteral("IMG_0001"));
    extra.u32(7).u16(0xDC86).u16(0x4002).u32(3).u8(1).u8(2).u8(3);
    const QByteArray listed = encodeObjectPropList({photo, folder});
    DatasetReader countReader(listed);
    const uint32_t count = countReader.u32();
    DatasetWriter withExtra;
    withExtra.u32(count + 2).bytes(extra.data()).bytes(listed.mid(4));

    const auto decoded = decodeObjectPropList(withExtra.data());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    EXPECT_EQ((*decoded)[0].handle, 7u);
    EXPECT_EQ((*decoded)[0].size, photo.size);
    EXPECT_EQ((*decoded)[0].filename, photo.filename);
    EXPECT_EQ((*decoded)[0].parent, 3u);
    const auto info = (*decoded)[0].toObjectInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->compressedSize, 0xFFFFFFFFu) << "as ObjectInfo says 4 GiB or more";
    EXPECT_EQ(info->captureDate, photo.dateCreated);
    EXPECT_EQ((*decoded)[1].format, FormatAssociation);

    DatasetWriter lyingCount;
    lyingCount.u32(1000000).u32(7).u16(ObjectPropFormat).u16(0x0004).u16(FormatExifJpeg);
    DatasetWriter unknownType;
    unknownType.u32(1).u32(7).u16(0xDC99).u16(0x0077).u32(0);
    DatasetWriter nameNotAString;
    nameNotAString.u32(1).u32(7).u16(ObjectPropFileName).u16(0x0006).u32(0);
    DatasetWriter lyingArray;
    lyingArray.u32(1).u32(7).u16(0xDC86).u16(0x4006).u32(0x40000000);
    QByteArray cutShort = listed;
    cutShort.chop(3);
    EXPECT_FALSE(decodeObjectPropList(lyingCount.data())) << "a count larger than the data";
    EXPECT_FALSE(decodeObjectPropList(unknownType.data())) << "a data type that cannot be skipped";
    EXPECT_FALSE(decodeObjectPropList(nameNotAString.data())) << "a name that is a number";
    EXPECT_FALSE(decodeObjectPropList(lyingArray.data())) << "an array longer than the data";
    EXPECT_FALSE(decodeObjectPropList(cutShort)) << "a dataset cut short";
}

TEST(PtpIpCodec, PartialReadsPast4GiBSplitTheOffsetIntoTwoWords)
{
    struct Case {
        uint16_t operation;
        uint64_t offset;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {OpGetPartialObject64, 0, {9, 0, 0, 4096}},
        {OpGetPartialObject64, 0x100000010ull, {9, 0x10, 1, 4096}},
        {OpNikonGetPartialObjectEx, 0x2FFFFFFFFull, {9, 0xFFFFFFFF, 2, 4096, 0}},
    };
    for (const Case& each : cases)
        EXPECT_EQ(partialRead64Parameters(each.operation, 9, each.offset, 4096), each.expected) << each.offset;
}

TEST(PtpIpCodec, CaptureDatesReadAsCamerasWriteThem)
{
    struct Case {
        const char* text;
        std::optional<QDateTime> expected;
    };
    const QDate day(2024, 5, 11);
    const QTime time(13, 45, 1);
    const Case cases[] = {
        {"20240511T134501", QDateTime(day, time)},
        {"20240511T134501.3", QDateTime(day, time)},
        {"20240511T134501Z", QDateTime(day, time, QTimeZone::utc())},
        {"20240511T134501+0200", QDateTime(day, time, QTimeZone(7200))},
        {"20241311T134501", std::nullopt},
        {"2024-05-11 13:45", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.text);
        const auto parsed = parsePtpDate(QString::fromLatin1(each.text));
        EXPECT_EQ(parsed.has_value(), each.expected.has_value());
        if (parsed && each.expected) {
            EXPECT_EQ(*parsed, *each.expected);
        }
    }
}

} // namespace
} // namespace vornakel::ptpip
