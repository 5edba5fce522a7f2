// Feeds arbitrary bytes as what a PTP/IP camera sends: cut into packets, each packet decoded as every kind it
// could be, and the payloads read as every dataset. Nothing may crash, read out of bounds or allocate by a
// count the peer chose.
#include "platform/camera/ptpip/PtpIpCodec.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel::ptpip;

namespace {

void decodeAsDatasets(const QByteArray& bytes)
{
    (void)decodeDeviceInfo(bytes);
    (void)decodeStorageInfo(bytes);
    (void)decodeObjectInfo(bytes);
    (void)decodeUint32Array(bytes);
    (void)decodeDevicePropDescUint8Current(bytes);
    (void)decodeObjectPropList(bytes);
    (void)decodeUint64(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    PacketReader reader;
    // In two pieces, as a socket would hand them over.
    reader.append(bytes.left(bytes.size() / 2));
    Packet packet;
    for (int round = 0; round < 2; ++round) {
        while (reader.next(packet) == PacketReader::Status::Ready) {
            (void)decodeInitCommandRequest(packet.payload);
            (void)decodeInitCommandAck(packet.payload);
            (void)decodeUint32(packet.payload);
            (void)decodeOperationRequest(packet.payload);
            (void)decodeOperationResponse(packet.payload);
            (void)decodeEvent(packet.payload);
            (void)decodeStartData(packet.payload);
            if (const auto payload = decodeData(packet.payload))
                decodeAsDatasets(payload->bytes);
        }
        reader.append(bytes.mid(bytes.size() / 2));
    }
    // As the connection reads: data packets in pieces as they come, in three cuts.
    PacketReader pieces;
    PacketReader::Piece piece;
    for (int round = 0; round < 3; ++round) {
        pieces.append(bytes.mid(round * bytes.size() / 3, (round + 1) * bytes.size() / 3 - round * bytes.size() / 3));
        while (pieces.nextPiece(piece) == PacketReader::Status::Ready) {
            if (!piece.continued)
                (void)decodeData(piece.bytes.toByteArray());
        }
    }
    decodeAsDatasets(bytes);
    (void)parsePtpDate(QString::fromLatin1(bytes.left(40)));
    return 0;
}
