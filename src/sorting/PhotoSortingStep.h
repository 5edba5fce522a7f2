#pragma once

#include "sorting/SortingContext.h"

#include <QString>

namespace vornakel {

class PhotoVariant;

// One path component made from a photo variant: a folder name or the whole file name.
class PhotoSortingStep {
public:
    virtual ~PhotoSortingStep() = default;

    // The component's text for the variant; never fails. The text is not yet safe as a file name: the
    // preset's path builder passes it through `safePathComponent`.
    QString name(const PhotoVariant& variant, const SortingContext& context = SortingContext::system()) const
    {
        return makeName(variant, context);
    }

    // The text of a step that has nothing to say for a variant (no date, no extension, an empty pattern).
    static QString unknownName() { return QStringLiteral("Unknown"); }

protected:
    virtual QString makeName(const PhotoVariant& variant, const SortingContext& context) const = 0;
};

// The camera file's name, unchanged.
class OriginalFileNameSortingStep final : public PhotoSortingStep {
public:
    static const OriginalFileNameSortingStep& shared();

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;
};

// The camera file's name without its last extension.
class DisplayFileNameSortingStep final : public PhotoSortingStep {
public:
    static const DisplayFileNameSortingStep& shared();

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;
};

// The camera file's last extension without the full stop, letter case kept; "Unknown" when there is none.
class FileNameExtensionSortingStep final : public PhotoSortingStep {
public:
    static const FileNameExtensionSortingStep& shared();

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;
};

// "JPEG" or "RAW" (the "FamilySortingJPEG" / "FamilySortingRAW" texts).
class FileFormatFamilySortingStep final : public PhotoSortingStep {
public:
    static const FileFormatFamilySortingStep& shared();

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;
};

// One part of the capture date in the context's locale and time zone; "Unknown" without a date.
class DateComponentSortingStep final : public PhotoSortingStep {
public:
    enum class Component { fourDigitYear, twoDigitYear, oneDigitMonth, twoDigitMonth, namedMonth, shortNamedMonth,
                           oneDigitDay, twoDigitDay };

    // The shared step of each component (the date tokens use these).
    static const DateComponentSortingStep& shared(Component component);

    explicit DateComponentSortingStep(Component component);
    Component component() const { return m_component; }
    // The date pattern this step writes ("yyyy", "yy", "M", "MM", "MMMM", "MMM", "d", "dd").
    QString format() const;

    // The component of a calendar day as the context's locale writes it.
    QString text(QDate date, const SortingContext& context) const;

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;

private:
    Component m_component;
};

} // namespace vornakel
