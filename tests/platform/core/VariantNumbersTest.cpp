#include "platform/core/VariantNumbers.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vornakel;

namespace {

struct Case {
    const char* what;
    QVariant value;
    std::optional<double> asDouble;       // default types
    std::optional<qint64> whole;          // default types
    std::optional<qint64> wholeWithChars; // characters count
    bool numberWithBooleans;              // booleans count
};

TEST(VariantNumbers, ReadsEachTypeByTheCallersRules)
{
    const double huge = 1.0e16;
    const qint64 large = qint64(1) << 40;
    const Case cases[] = {
        {"int", QVariant(-7), -7.0, -7, -7, true},
        {"uint", QVariant(7u), 7.0, 7, 7, true},
        {"long long", QVariant(large), double(large), large, large, true},
        {"short", QVariant::fromValue(short(-3)), -3.0, -3, -3, true},
        {"unsigned short", QVariant::fromValue(ushort(3)), 3.0, 3, 3, true},
        {"long", QVariant::fromValue(long(12)), 12.0, 12, 12, true},
        {"unsigned long", QVariant::fromValue(ulong(12)), 12.0, 12, 12, true},
        {"unsigned long long in range", QVariant(qulonglong(42)), 42.0, 42, 42, true},
        {"unsigned long long past qint64", QVariant(std::numeric_limits<qulonglong>::max()),
         double(std::numeric_limits<qulonglong>::max()), std::nullopt, std::nullopt, true},
        {"whole double", QVariant(3.0), 3.0, 3, 3, true},
        {"fraction", QVariant(2.5), 2.5, std::nullopt, std::nullopt, true},
        {"whole float", QVariant(4.0f), 4.0, 4, 4, true},
        {"double past 9e15", QVariant(huge), huge, std::nullopt, std::nullopt, true},
        {"infinity", QVariant(std::numeric_limits<double>::infinity()), std::numeric_limits<double>::infinity(),
         std::nullopt, std::nullopt, true},
        {"bool", QVariant(true), std::nullopt, std::nullopt, std::nullopt, true},
        {"char", QVariant::fromValue(char('A')), std::nullopt, std::nullopt, 65, false},
        {"signed char", QVariant::fromValue((signed char)(-2)), std::nullopt, std::nullopt, -2, false},
        {"unsigned char", QVariant::fromValue((unsigned char)(200)), std::nullopt, std::nullopt, 200, false},
        {"numeric text", QVariant(QStringLiteral("12")), std::nullopt, std::nullopt, std::nullopt, false},
        {"date", QVariant(QDateTime::fromSecsSinceEpoch(0)), std::nullopt, std::nullopt, std::nullopt, false},
        {"invalid", QVariant(), std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isNumericType(c.value), c.asDouble.has_value());
        EXPECT_EQ(doubleValue(c.value), c.asDouble);
        EXPECT_EQ(wholeNumberValue(c.value), c.whole);
        EXPECT_EQ(wholeNumberValue(c.value, {.characters = true}), c.wholeWithChars);
        EXPECT_EQ(isNumericType(c.value, {.booleans = true}), c.numberWithBooleans);
    }
}

} // namespace
