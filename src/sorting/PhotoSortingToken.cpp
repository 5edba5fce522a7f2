#include "sorting/PhotoSortingToken.h"

#include "platform/core/KeyedArchive.h"
#include "platform/core/Strings.h"
#include "platform/core/VariantNumbers.h"
#include "sorting/PhotoSortingStep.h"

#include <QVariantHash>

namespace vornakel {
namespace {

using C = DateComponentSortingStep::Component;

template <typename Map>
std::optional<PhotoSortingToken> tokenFromMap(const Map& map)
{
    std::optional<qint64> raw;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const std::optional<qint64> number = wholeNumberValue(it.value(), {.characters = true});
        if (!number)
            return std::nullopt; // not a dictionary of integers
        if (it.key() == tokenObjectValueKey())
            raw = number;
    }
    return raw ? photoSortingTokenFromRawValue(*raw) : std::nullopt;
}

} // namespace

std::optional<PhotoSortingToken> photoSortingTokenFromRawValue(qint64 rawValue)
{
    for (PhotoSortingToken token : kAllPhotoSortingTokens) {
        if (static_cast<int>(token) == rawValue)
            return token;
    }
    return std::nullopt;
}

QString titleKey(PhotoSortingToken token)
{
    switch (token) {
    case PhotoSortingToken::originalFileName: return QStringLiteral("OriginalFileNameTokenTitle");
    case PhotoSortingToken::originalDisplayName: return QStringLiteral("OriginalDisplayNameTokenTitle");
    case PhotoSortingToken::originalFileExtension: return QStringLiteral("OriginalFileExtensionTokenTitle");
    case PhotoSortingToken::originalFileFormatFamily: return QStringLiteral("OriginalFileFormatFamilyTokenTitle");
    case PhotoSortingToken::fourDigitYear: return QStringLiteral("FourDigitYearTokenTitle");
    case PhotoSortingToken::twoDigitYear: return QStringLiteral("TwoDigitYearTokenTitle");
    case PhotoSortingToken::oneDigitMonth: return QStringLiteral("OneDigitMonthTokenTitle");
    case PhotoSortingToken::twoDigitMonth: return QStringLiteral("TwoDigitMonthTokenTitle");
    case PhotoSortingToken::namedMonth: return QStringLiteral("NamedMonthTokenTitle");
    case PhotoSortingToken::shortNamedMonth: return QStringLiteral("ShortNamedMonthTokenTitle");
    case PhotoSortingToken::oneDigitDay: return QStringLiteral("OneDigitDayTokenTitle");
    case PhotoSortingToken::twoDigitDay: return QStringLiteral("TwoDigitDayTokenTitle");
    }
    return {};
}

QString title(PhotoSortingToken token)
{
    return GeneralUI::text(titleKey(token));
}

const PhotoSortingStep& sortingStep(PhotoSortingToken token)
{
    switch (token) {
    case PhotoSortingToken::originalFileName: return OriginalFileNameSortingStep::shared();
    case PhotoSortingToken::originalDisplayName: return DisplayFileNameSortingStep::shared();
    case PhotoSortingToken::originalFileExtension: return FileNameExtensionSortingStep::shared();
    case PhotoSortingToken::originalFileFormatFamily: return FileFormatFamilySortingStep::shared();
    case PhotoSortingToken::fourDigitYear: return DateComponentSortingStep::shared(C::fourDigitYear);
    case PhotoSortingToken::twoDigitYear: return DateComponentSortingStep::shared(C::twoDigitYear);
    case PhotoSortingToken::oneDigitMonth: return DateComponentSortingStep::shared(C::oneDigitMonth);
    case PhotoSortingToken::twoDigitMonth: return DateComponentSortingStep::shared(C::twoDigitMonth);
    case PhotoSortingToken::namedMonth: return DateComponentSortingStep::shared(C::namedMonth);
    case PhotoSortingToken::shortNamedMonth: return DateComponentSortingStep::shared(C::shortNamedMonth);
    case PhotoSortingToken::oneDigitDay: return DateComponentSortingStep::shared(C::oneDigitDay);
    case PhotoSortingToken::twoDigitDay: return DateComponentSortingStep::shared(C::twoDigitDay);
    }
    return OriginalFileNameSortingStep::shared();
}

QString tokenObjectValueKey()
{
    return QStringLiteral("value");
}

QVariantMap tokenObject(PhotoSortingToken token)
{
    return QVariantMap{{tokenObjectValueKey(), QVariant::fromValue(qint64(rawValue(token)))}};
}

std::optional<PhotoSortingToken> photoSortingToken(const QVariant& representedObject)
{
    switch (representedObject.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = representedObject.toMap();
        return tokenFromMap(map);
    }
    case QMetaType::QVariantHash: {
        const QVariantHash hash = representedObject.toHash();
        return tokenFromMap(hash);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> displayString(const QVariant& representedObject)
{
    if (representedObject.typeId() == QMetaType::QString)
        return representedObject.toString();
    if (const auto token = photoSortingToken(representedObject))
        return title(*token);
    return std::nullopt;
}

QString tokenPasteboardType()
{
    return QStringLiteral("TokenType");
}

Result<QByteArray> tokenPasteboardData(const QVariantList& representedObjects)
{
    return KeyedArchive::archive(QVariant(representedObjects));
}

std::optional<QVariantList> representedObjectsFromTokenPasteboardData(const QByteArray& data)
{
    const auto root = KeyedArchive::unarchive(data);
    if (!root || root->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    // Another program may put anything under this type. Whatever is read here ends up in a stored preset, and
    // an object this program cannot archive again would make the whole preset list unreadable at the next
    // launch, so only literals and tokens (rewritten in their canonical form) get through.
    QVariantList objects;
    for (const QVariant& element : root->toList()) {
        if (element.typeId() == QMetaType::QString)
            objects.append(element.toString());
        else if (const auto token = photoSortingToken(element))
            objects.append(QVariant(tokenObject(*token)));
    }
    return objects;
}

} // namespace vornakel
