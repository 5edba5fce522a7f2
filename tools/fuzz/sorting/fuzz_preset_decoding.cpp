// Feeds arbitrary bytes to the stored sorting presets' reader, above the keyed archive: class checks, presets and
// steps built from whatever the archive holds. Presets it accepts must store and read back as many presets.
#include "sorting/PhotoSortingModel.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto decoded = PhotoSortingModel::decodePresets(bytes);
    if (!decoded)
        return 0;
    auto encoded = PhotoSortingModel::encodePresets(*decoded);
    if (!encoded)
        return 0;
    auto again = PhotoSortingModel::decodePresets(*encoded);
    if (!again || again->size() != decoded->size())
        __builtin_trap();
    return 0;
}
