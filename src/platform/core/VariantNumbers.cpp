#include "platform/core/VariantNumbers.h"

#include <cmath>
#include <limits>

namespace vornakel {

bool isNumericType(const QVariant& value, NumericTypes types)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    case QMetaType::Bool:
        return types.booleans;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return types.characters;
    default:
        return false;
    }
}

std::optional<double> doubleValue(const QVariant& value, NumericTypes types)
{
    if (!isNumericType(value, types))
        return std::nullopt;
    return value.toDouble();
}

std::optional<qint64> wholeNumberValue(const QVariant& value, NumericTypes types)
{
    if (!isNumericType(value, types))
        return std::nullopt;
    switch (value.typeId()) {
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(unsignedValue);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9.0e15)
            return std::nullopt;
        return qint64(number);
    }
    default:
        return value.toLongLong();
    }
}

} // namespace vornakel
