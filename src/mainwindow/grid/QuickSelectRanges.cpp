#include "mainwindow/grid/QuickSelectRanges.h"

#include <QLocale>

namespace vornakel {

QDate GridCalendar::dayOf(const QDateTime& moment) const
{
    if (!moment.isValid())
        return {};
    return moment.toTimeZone(timeZone).date();
}

GridCalendar GridCalendar::system()
{
    GridCalendar calendar;
    calendar.firstDayOfWeek = QLocale().firstDayOfWeek();
    return calendar;
}

std::optional<DayRange> quickSelectionRange(QuickSelection selection, const QDate& today,
                                            Qt::DayOfWeek firstDayOfWeek)
{
    if (!today.isValid())
        return std::nullopt;
    switch (selection) {
    case QuickSelection::all:
    case QuickSelection::none:
        return std::nullopt;
    case QuickSelection::today:
        return DayRange{today, today};
    case QuickSelection::yesterday: {
        const QDate yesterday = today.addDays(-1);
        return DayRange{yesterday, yesterday};
    }
    case QuickSelection::thisWeek: {
        const int daysIntoWeek = (today.dayOfWeek() - int(firstDayOfWeek) + 7) % 7;
        const QDate start = today.addDays(-daysIntoWeek);
        return DayRange{start, start.addDays(6)};
    }
    case QuickSelection::thisMonth:
        return DayRange{QDate(today.year(), today.month(), 1),
                        QDate(today.year(), today.month(), today.daysInMonth())};
    case QuickSelection::thisYear:
        return DayRange{QDate(today.year(), 1, 1), QDate(today.year(), 12, 31)};
    }
    return std::nullopt;
}

} // namespace vornakel
