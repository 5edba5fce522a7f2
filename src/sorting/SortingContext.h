#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <array>
#include <optional>

namespace vornakel {

// The locale and time zone in which sorting steps turn a capture date into text. The program uses the user's
// locale and the system time zone (`system()`); tests and tools pass their own. What naming needs of the locale
// (month names, its digits) is worked out once here, not for every file.
class SortingContext {
public:
    // The user's locale and the system time zone, captured once on first use, so that every file of a copy is
    // named alike even if the settings change meanwhile.
    static const SortingContext& system();

    // No time zone means the system time zone.
    explicit SortingContext(QLocale locale, std::optional<QTimeZone> timeZone = std::nullopt);

    const QLocale& locale() const { return m_locale; }
    const QTimeZone& timeZone() const { return m_timeZone; }

    // The calendar day of an instant in this context's time zone; invalid for an invalid instant. The steps of
    // one file ask for the same instant in turn, so the last answer is remembered per thread.
    QDate localDate(const QDateTime& instant) const;

    // Month names as the locale writes "MMMM" and "MMM" (month 1 to 12).
    const QString& monthName(int month) const { return m_monthNames[size_t(month - 1)]; }
    const QString& shortMonthName(int month) const { return m_shortMonthNames[size_t(month - 1)]; }
    // Whether the locale writes numbers with the digits 0-9 (most do); others go through the locale.
    bool usesAsciiDigits() const { return m_asciiDigits; }

private:
    QLocale m_locale;
    QTimeZone m_timeZone; // invalid when the system's zone cannot be named: then the C library's local time
    std::array<QString, 12> m_monthNames;
    std::array<QString, 12> m_shortMonthNames;
    bool m_asciiDigits = true;
    quint64 m_serial = 0;
};

} // namespace vornakel
