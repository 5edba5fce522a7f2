#include "sorting/SortingContext.h"

#include <atomic>

namespace vornakel {
namespace {

std::atomic<quint64> nextSerial{1};

} // namespace

const SortingContext& SortingContext::system()
{
    static const SortingContext context{QLocale()};
    return context;
}

SortingContext::SortingContext(QLocale locale, std::optional<QTimeZone> timeZone)
    : m_locale(std::move(locale))
    , m_timeZone(timeZone && timeZone->isValid() ? std::move(*timeZone) : QTimeZone::systemTimeZone())
    , m_asciiDigits(m_locale.zeroDigit() == QLatin1String("0"))
    , m_serial(nextSerial++)
{
    for (int month = 1; month <= 12; ++month) {
        const QDate date(2001, month, 1);
        m_monthNames[size_t(month - 1)] = m_locale.toString(date, QStringLiteral("MMMM"));
        m_shortMonthNames[size_t(month - 1)] = m_locale.toString(date, QStringLiteral("MMM"));
    }
}

QDate SortingContext::localDate(const QDateTime& instant) const
{
    if (!instant.isValid())
        return {};
    struct Memo {
        quint64 serial = 0;
        qint64 msecs = 0;
        QDate date;
    };
    thread_local Memo memo;
    const qint64 msecs = instant.toMSecsSinceEpoch();
    if (memo.serial == m_serial && memo.msecs == msecs)
        return memo.date;
    const QDate date = m_timeZone.isValid() ? instant.toTimeZone(m_timeZone).date() : instant.toLocalTime().date();
    memo = Memo{m_serial, msecs, date};
    return date;
}

} // namespace vornakel
