#pragma once

#include <QByteArray>
#include <QSize>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vornakel::HeifStructure {

// A clean aperture ('clap'): the visible window of a coded image, centred at an offset from the image's centre.
struct CleanAperture {
    double width = 0;
    double height = 0;
    double horizontalOffset = 0;
    double verticalOffset = 0;
};

// What a HEIF file's 'meta' box says about one item, read without decoding anything.
struct Item {
    uint32_t id = 0;
    QByteArray type;                      // "hvc1", "grid", "iovl", "Exif", …
    std::optional<QSize> spatialExtent;   // 'ispe': the size the item claims, before its transformations
    std::optional<CleanAperture> cleanAperture;
    int rotation = 0;                     // 'irot': anticlockwise, in degrees (0, 90, 180, 270)
    std::optional<int> mirrorAxis;        // 'imir': 0 mirrors left and right, 1 top and bottom
    QByteArray hevcConfiguration;         // the payload of its 'hvcC' property
    std::vector<uint32_t> derivedFrom;    // 'dimg' references: the tiles or layers it is built from
    std::optional<uint32_t> thumbnailOf;  // 'thmb' reference
    std::optional<uint32_t> describes;    // 'cdsc' reference (EXIF and XMP items)
    // Where its data lie: (offset, length) in the file, or in the 'idat' box when `inItemData`.
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    bool inItemData = false;
};

struct File {
    uint32_t primaryItem = 0;
    std::map<uint32_t, Item> items;
    QByteArray itemData; // the 'idat' box's payload
    // The 'iref' box holds a reference box whose length runs past it: libheif may read references from it that
    // this reader does not, so nothing derived can be checked.
    bool damagedReferences = false;

    const Item* item(uint32_t id) const;
    // The item's data, joined from its extents; none when an extent lies outside the file or is too large.
    std::optional<QByteArray> dataOf(const Item& item, const QByteArray& file, qint64 maxBytes) const;
};

// The items of a HEIF file; none when the data has no readable 'meta' box. Every length is checked against
// the data, and counts are bounded, so hostile files cost little.
std::optional<File> read(const QByteArray& data);

// The size of the canvas a grid ('grid') or overlay ('iovl') item is drawn on, from its data; none when the
// data does not say.
std::optional<QSize> derivedCanvasSize(const QByteArray& type, const QByteArray& itemData);

} // namespace vornakel::HeifStructure
