// Feeds arbitrary bytes to the keyed-archive reader. Whatever it accepts and can archive again must read back.
#include "platform/core/KeyedArchive.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto decoded = KeyedArchive::unarchive(bytes);
    const auto* root = std::get_if<QVariant>(&decoded);
    if (!root)
        return 0;
    auto archived = KeyedArchive::archive(*root);
    const auto* archive = std::get_if<QByteArray>(&archived);
    if (!archive)
        return 0;
    if (!std::holds_alternative<QVariant>(KeyedArchive::unarchive(*archive)))
        __builtin_trap();
    return 0;
}
