// Feeds arbitrary bytes to the keyed-archive reader. Whatever it accepts and can archive again must read back.
#include "platform/core/KeyedArchive.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto decoded = KeyedArchive::unarchive(bytes);
    if (!decoded)
        return 0;
    auto archived = KeyedArchive::archive(*decoded);
    if (!archived)
        return 0;
    if (!KeyedArchive::unarchive(*archived).hasValue())
        __builtin_trap();
    return 0;
}
