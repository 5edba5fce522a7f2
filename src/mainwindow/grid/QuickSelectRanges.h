#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace vornakel {

enum class QuickSelection { all, none, today, yesterday, thisWeek, thisMonth, thisYear };

// The days a quick selection covers, both ends included. Worked out on calendar dates, so that a day with a
// daylight-saving change (23 or 25 hours long) still counts as one day.
struct DayRange {
    QDate first;
    QDate last;
    bool contains(const QDate& day) const { return day.isValid() && first <= day && day <= last; }
};

// "Now" and the calendar the grid sorts days in. Tests give fixed clocks, zones and week starts.
struct GridCalendar {
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    Qt::DayOfWeek firstDayOfWeek = Qt::Monday;

    // The calendar day of a moment in this calendar's time zone.
    QDate dayOf(const QDateTime& moment) const;
    QDate today() const { return dayOf(clock()); }
    // The system calendar: the system time zone and the locale's first day of the week.
    static GridCalendar system();
};

// The range of a dated quick selection for the given day; none for `all` and `none`, which are not ranges.
std::optional<DayRange> quickSelectionRange(QuickSelection selection, const QDate& today,
                                            Qt::DayOfWeek firstDayOfWeek);

} // namespace vornakel
