// Feeds arbitrary bytes as an Olympus camera's `get_imglist.cgi` and `get_caminfo.cgi` answers. Nothing may crash
// or read out of bounds; every entry kept must be a plain name of the folder asked for, with a bounded size.
#include "platform/camera/olympus/OlympusImageList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace vornakel::olympus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto parsed = parseImageList(bytes, QStringLiteral("/DCIM/100OLYMP"));
    if (const ImageList* list = std::get_if<ImageList>(&parsed)) {
        for (const ImageListEntry& entry : list->entries) {
            if (!isPlainName(entry.name) || entry.size > kMaximumListedSize)
                std::abort();
        }
    }
    (void)modelFromCameraInfo(bytes);
    if (size >= 4)
        (void)dateFromFat(uint64_t(data[0]) << 8 | data[1], uint64_t(data[2]) << 8 | data[3]);
    return 0;
}
