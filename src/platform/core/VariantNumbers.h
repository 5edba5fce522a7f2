#pragma once

#include <QVariant>

#include <optional>

namespace vornakel {

// Which QVariant types count as numbers. Integers of every width from short up, float and double always do;
// booleans and the char types only where a caller says so.
struct NumericTypes {
    bool booleans = false;   // property lists store a boolean as a number
    bool characters = false; // char, signed char and unsigned char, read as small integers
};

// Whether the variant holds a number of the given types (never a text that only looks like one).
bool isNumericType(const QVariant& value, NumericTypes types = {});

// The number the variant holds as a double; none for anything that is not a number of the given types.
std::optional<double> doubleValue(const QVariant& value, NumericTypes types = {});

// The whole number the variant holds; none for anything else: a fraction, a float that is not finite or whose
// magnitude is past 9e15 (where doubles stop being exact), or an unsigned 64-bit value past the largest qint64.
std::optional<qint64> wholeNumberValue(const QVariant& value, NumericTypes types = {});

} // namespace vornakel
