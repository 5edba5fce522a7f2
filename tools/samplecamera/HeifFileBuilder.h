#pragma once

// Writes HEIF files box by box, for the cases real cameras and hostile files make and libheif's encoder does
// not: thumbnails coded with padding, an image's own rotation next to an EXIF orientation, colour profiles an
// EXIF reader rejects, overlays whose canvas is far larger than the size they claim.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vornakel::tools {

// A picture coded by libheif's HEVC encoder: the 'hvcC' property's payload and the item's data.
struct HevcPicture {
    QByteArray configuration;
    QByteArray data;
};
// None when libheif has no HEVC encoder or would pad the picture: its sides must be multiples of 64.
std::optional<HevcPicture> encodeHevc(const QImage& image);

struct HeifItem {
    uint32_t id = 0;
    QByteArray type = QByteArrayLiteral("hvc1");
    QByteArray data;           // in 'mdat', or in 'idat' when `inItemData`
    bool inItemData = false;
    QByteArray hevcConfiguration;
    std::optional<QSize> spatialExtent;
    // 'clap' fields: width, height, horizontal and vertical offset, each numerator and denominator.
    std::optional<std::array<uint32_t, 8>> cleanAperture;
    int rotation = 0;          // 'irot', anticlockwise degrees
    QByteArray iccProfile;     // a 'colr' property of type 'prof'
    std::vector<uint32_t> derivedFrom;
    std::optional<uint32_t> thumbnailOf;
    std::optional<uint32_t> describes;
};

QByteArray buildHeif(uint32_t primaryItem, const std::vector<HeifItem>& items);

// An overlay's description: canvas size (32-bit fields) and one layer at the origin per reference.
QByteArray overlayDescription(QSize canvas, int layers);
// An EXIF item's data: the offset word and a TIFF block with the orientation, and the shooting tags when given
// a date ("YYYY:MM:DD HH:MM:SS"; empty leaves the date out but keeps the other tags).
struct HeifExif {
    int orientation = 1;
    QByteArray dateTimeOriginal;
    uint32_t exposureDenominator = 250; // 1/250 s
    uint32_t fNumberTenths = 56;        // f/5.6
    uint16_t iso = 400;
    uint32_t focalLength = 35;          // mm
};
QByteArray exifItemData(const HeifExif& exif);

// The file that once took 8 GB to decode: a small overlay that claims 64 × 64 pixels and draws on a canvas of
// 50,000 × 50,000, with one 64 × 64 layer.
QByteArray overlayCanvasBomb();

} // namespace vornakel::tools
