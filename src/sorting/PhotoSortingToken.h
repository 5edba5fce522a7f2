#pragma once

#include "platform/core/PropertyList.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

namespace vornakel {

class PhotoSortingStep;

// The tokens a user-defined step's pattern can hold. The raw values are stored in presets and on the
// clipboard and never change; they are grouped by hundreds (file 0-3, year 100-101, month 110-113, day 120-121).
enum class PhotoSortingToken : int {
    originalFileName = 0,
    originalDisplayName = 1,
    originalFileExtension = 2,
    originalFileFormatFamily = 3,
    fourDigitYear = 100,
    twoDigitYear = 101,
    oneDigitMonth = 110,
    twoDigitMonth = 111,
    namedMonth = 112,
    shortNamedMonth = 113,
    oneDigitDay = 120,
    twoDigitDay = 121,
};

// Every token, in declaration order.
inline constexpr std::array<PhotoSortingToken, 12> kAllPhotoSortingTokens{
    PhotoSortingToken::originalFileName,  PhotoSortingToken::originalDisplayName,
    PhotoSortingToken::originalFileExtension, PhotoSortingToken::originalFileFormatFamily,
    PhotoSortingToken::fourDigitYear,     PhotoSortingToken::twoDigitYear,
    PhotoSortingToken::oneDigitMonth,     PhotoSortingToken::twoDigitMonth,
    PhotoSortingToken::namedMonth,        PhotoSortingToken::shortNamedMonth,
    PhotoSortingToken::oneDigitDay,       PhotoSortingToken::twoDigitDay};

inline int rawValue(PhotoSortingToken token) { return static_cast<int>(token); }
std::optional<PhotoSortingToken> photoSortingTokenFromRawValue(qint64 rawValue);

// The key of the token's title in the "GeneralUI" table ("FourDigitYearTokenTitle"), and the title itself.
QString titleKey(PhotoSortingToken token);
QString title(PhotoSortingToken token);

// The shared step that makes the token's text.
const PhotoSortingStep& sortingStep(PhotoSortingToken token);

// A token as it stands in a pattern, in a stored preset and on the clipboard: {"value": raw value}.
QString tokenObjectValueKey(); // "value"
QVariantMap tokenObject(PhotoSortingToken token);

// The token a pattern element stands for: a map (or hash) whose values are all integers and whose "value" is
// one of the raw values. Anything else, an absent value included, is no token.
std::optional<PhotoSortingToken> photoSortingToken(const QVariant& representedObject);

// What a token field shows for a pattern element: a string unchanged, a token by its title, anything else
// nothing.
std::optional<QString> displayString(const QVariant& representedObject);

// The clipboard form of a run of pattern elements: type "TokenType", whose data is a keyed archive of the
// element array (strings and token objects, in pattern order).
QString tokenPasteboardType(); // "TokenType"
[[nodiscard]] Result<QByteArray> tokenPasteboardData(const QVariantList& representedObjects);
// The elements read back; none unless the data is an archive whose root is an array. Only strings and valid
// token objects are kept; anything else another program put there is dropped.
std::optional<QVariantList> representedObjectsFromTokenPasteboardData(const QByteArray& data);

} // namespace vornakel
