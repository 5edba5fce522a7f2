#include "sorting/PhotoSortingStep.h"

#include "model/PhotoVariant.h"
#include "platform/core/Strings.h"

#include <array>

namespace vornakel {

const OriginalFileNameSortingStep& OriginalFileNameSortingStep::shared()
{
    static const OriginalFileNameSortingStep step;
    return step;
}

QString OriginalFileNameSortingStep::makeName(const PhotoVariant& variant, const SortingContext&) const
{
    return variant.fileName();
}

const DisplayFileNameSortingStep& DisplayFileNameSortingStep::shared()
{
    static const DisplayFileNameSortingStep step;
    return step;
}

QString DisplayFileNameSortingStep::makeName(const PhotoVariant& variant, const SortingContext&) const
{
    // Deliberately the file name's stem, not the variant's display name, which may be formatted differently.
    return PhotoVariant::deletingPathExtension(variant.fileName());
}

const FileNameExtensionSortingStep& FileNameExtensionSortingStep::shared()
{
    static const FileNameExtensionSortingStep step;
    return step;
}

QString FileNameExtensionSortingStep::makeName(const PhotoVariant& variant, const SortingContext&) const
{
    const QString extension = PhotoVariant::pathExtension(variant.fileName());
    return extension.isEmpty() ? unknownName() : extension;
}

const FileFormatFamilySortingStep& FileFormatFamilySortingStep::shared()
{
    static const FileFormatFamilySortingStep step;
    return step;
}

QString FileFormatFamilySortingStep::makeName(const PhotoVariant& variant, const SortingContext&) const
{
    static const QString jpeg = GeneralUI::text(QStringLiteral("FamilySortingJPEG"));
    static const QString raw = GeneralUI::text(QStringLiteral("FamilySortingRAW"));
    return variant.formatFamily() == PhotoFormatFamily::jpeg ? jpeg : raw;
}

const DateComponentSortingStep& DateComponentSortingStep::shared(Component component)
{
    using C = Component;
    static const std::array<DateComponentSortingStep, 8> steps{
        DateComponentSortingStep(C::fourDigitYear), DateComponentSortingStep(C::twoDigitYear),
        DateComponentSortingStep(C::oneDigitMonth), DateComponentSortingStep(C::twoDigitMonth),
        DateComponentSortingStep(C::namedMonth),    DateComponentSortingStep(C::shortNamedMonth),
        DateComponentSortingStep(C::oneDigitDay),   DateComponentSortingStep(C::twoDigitDay)};
    return steps[static_cast<size_t>(component)];
}

DateComponentSortingStep::DateComponentSortingStep(Component component)
    : m_component(component)
{
}

QString DateComponentSortingStep::format() const
{
    switch (m_component) {
    case Component::fourDigitYear: return QStringLiteral("yyyy");
    case Component::twoDigitYear: return QStringLiteral("yy");
    case Component::oneDigitMonth: return QStringLiteral("M");
    case Component::twoDigitMonth: return QStringLiteral("MM");
    case Component::namedMonth: return QStringLiteral("MMMM");
    case Component::shortNamedMonth: return QStringLiteral("MMM");
    case Component::oneDigitDay: return QStringLiteral("d");
    case Component::twoDigitDay: return QStringLiteral("dd");
    }
    return {};
}

QString DateComponentSortingStep::text(QDate date, const SortingContext& context) const
{
    switch (m_component) {
    case Component::namedMonth:
        return context.monthName(date.month());
    case Component::shortNamedMonth:
        return context.shortMonthName(date.month());
    default:
        break;
    }
    const int year = date.year();
    if (!context.usesAsciiDigits() || year < 1 || year > 9999)
        return context.locale().toString(date, format());

    // The numeric parts written directly: this runs for every file of a copy.
    auto padded = [](int value, int width) { return QString::number(value).rightJustified(width, QLatin1Char('0')); };
    switch (m_component) {
    case Component::fourDigitYear: return padded(year, 4);
    case Component::twoDigitYear: return padded(year % 100, 2);
    case Component::oneDigitMonth: return QString::number(date.month());
    case Component::twoDigitMonth: return padded(date.month(), 2);
    case Component::oneDigitDay: return QString::number(date.day());
    case Component::twoDigitDay: return padded(date.day(), 2);
    case Component::namedMonth:
    case Component::shortNamedMonth: break;
    }
    return {};
}

QString DateComponentSortingStep::makeName(const PhotoVariant& variant, const SortingContext& context) const
{
    const std::optional<QDateTime>& created = variant.dateCreated();
    if (!created)
        return unknownName();
    const QDate date = context.localDate(*created);
    if (!date.isValid())
        return unknownName();
    return text(date, context);
}

} // namespace vornakel
