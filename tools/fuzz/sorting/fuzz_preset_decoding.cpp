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
    const auto* presets = std::get_if<std::vector<PhotoSortingModel::PresetPtr>>(&decoded);
    if (!presets)
        return 0;
    auto encoded = PhotoSortingModel::encodePresets(*presets);
    const auto* archive = std::get_if<QByteArray>(&encoded);
    if (!archive)
        return 0;
    auto again = PhotoSortingModel::decodePresets(*archive);
    const auto* reread = std::get_if<std::vector<PhotoSortingModel::PresetPtr>>(&again);
    if (!reread || reread->size() != presets->size())
        __builtin_trap();
    return 0;
}
