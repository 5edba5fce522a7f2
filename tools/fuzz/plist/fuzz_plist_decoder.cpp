// Feeds arbitrary bytes to the property-list reader. Whatever it accepts must encode, and what we encode must
// read back as the same value. (Encoded bytes are not compared: libplist's de-duplication of equal values is not
// deterministic.)
#include "platform/core/PropertyList.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace vornakel;

namespace {

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.metaType() != b.metaType())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantList: {
        const QVariantList left = a.toList();
        const QVariantList right = b.toList();
        if (left.size() != right.size())
            return false;
        for (qsizetype i = 0; i < left.size(); ++i) {
            if (!sameValue(left[i], right[i]))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap left = a.toMap();
        const QVariantMap right = b.toMap();
        if (left.keys() != right.keys())
            return false;
        for (auto it = left.cbegin(); it != left.cend(); ++it) {
            if (!sameValue(it.value(), right.value(it.key())))
                return false;
        }
        return true;
    }
    case QMetaType::Double: {
        const double left = a.toDouble();
        const double right = b.toDouble();
        return (std::isnan(left) && std::isnan(right)) || std::memcmp(&left, &right, sizeof left) == 0;
    }
    default:
        return a == b;
    }
}

std::optional<QVariant> decode(const QByteArray& bytes)
{
    auto decoded = PropertyList::fromData(bytes);
    if (decoded)
        return *decoded;
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto value = decode(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!value)
        return 0;
    auto encoded = PropertyList::toBinary(*value);
    if (!encoded.hasValue())
        return 0;
    const auto again = decode(encoded.value());
    if (!again)
        __builtin_trap();
    auto reencoded = PropertyList::toBinary(*again);
    if (!reencoded.hasValue())
        __builtin_trap();
    const auto third = decode(reencoded.value());
    if (!third || !sameValue(*again, *third))
        __builtin_trap();
    return 0;
}
