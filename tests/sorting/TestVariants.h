#pragma once

#include "model/PhotoVariant.h"
#include "support/StaticFileItem.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

namespace vornakel::test {

// A variant of a camera file that only has a name, a size and a date: all that sorting reads of a variant.
inline std::shared_ptr<PhotoVariant> makeVariant(const QString& name, std::optional<QDateTime> date = std::nullopt)
{
    return PhotoVariant::create(std::make_shared<StaticFileItem>(name, std::move(date), 1000));
}

inline QDateTime utc(int year, int month, int day, int hour = 12, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC);
}

} // namespace vornakel::test
