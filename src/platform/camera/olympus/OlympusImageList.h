#pragma once

// The answers of an Olympus camera that carry its text. `get_imglist.cgi` answers a "VER_100" line, then one CSV
// line per entry of the folder asked for: folder, name, size, attributes, date and time as FAT fields;
// `get_caminfo.cgi` a short XML text naming the model. Both are hostile input: they are read within bounds, and
// an entry that could not be asked for again safely is left out.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace vornakel::olympus {

struct ImageListEntry {
    QString name;
    uint64_t size = 0;
    uint32_t attributes = 0;
    std::optional<QDateTime> date; // the camera's local time; none when the FAT fields are not a time
    bool isFolder() const { return attributes & 0x10; }
};

struct ImageList {
    std::vector<ImageListEntry> entries;
    int skipped = 0; // lines left out: a name that is no plain file name, a folder not asked for, a bad size
};

struct ImageListLimits {
    qsizetype maximumBytes = 4 * 1024 * 1024;
    // A DCF folder holds at most 9,999 files; more lines than this is not a camera's listing.
    int maximumLines = 20000;
    qsizetype maximumLineLength = 1024;
};

// The largest size a listing may claim for one file; more is a lie.
inline constexpr uint64_t kMaximumListedSize = uint64_t(1) << 40;

// The entries of the folder `directory` ("/DCIM/100OLYMP"); an error text for a body that is not an image
// list or is past the limits.
std::variant<ImageList, QString> parseImageList(const QByteArray& body, const QString& directory,
                                                const ImageListLimits& limits = {});

// A FAT date and time (the camera's local time); none for fields that are no valid time.
std::optional<QDateTime> dateFromFat(uint64_t date, uint64_t time);

// Whether a name from the camera is one plain file or folder name: not empty, not "." or "..", no '/', '\\' or
// control character, and unchanged by the one path gate.
bool isPlainName(const QString& name);

// The longest `get_caminfo.cgi` answer read; a camera's is a few hundred bytes.
inline constexpr qsizetype kMaximumCameraInfoBytes = 64 * 1024;

// The model named in a `get_caminfo.cgi` answer; none when the answer is not an Olympus camera's.
std::optional<QString> modelFromCameraInfo(const QByteArray& body);

} // namespace vornakel::olympus
