#include "platform/camera/olympus/OlympusImageList.h"

#include "platform/core/SafePathComponent.h"

#include <QList>
#include <QRegularExpression>
#include <QSet>

namespace vornakel::olympus {

namespace {

std::optional<uint64_t> unsignedField(const QByteArray& field)
{
    if (field.isEmpty() || field.size() > 20)
        return std::nullopt;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    bool ok = false;
    const qulonglong value = field.toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return uint64_t(value);
}

} // namespace

std::optional<QDateTime> dateFromFat(uint64_t date, uint64_t time)
{
    if (date > 0xFFFF || time > 0xFFFF)
        return std::nullopt;
    const int year = 1980 + int(date >> 9);
    const int month = int((date >> 5) & 0x0F);
    const int day = int(date & 0x1F);
    const int hour = int(time >> 11);
    const int minute = int((time >> 5) & 0x3F);
    const int second = int(time & 0x1F) * 2;
    const QDate calendarDate(year, month, day);
    const QTime clockTime(hour, minute, second);
    if (!calendarDate.isValid() || !clockTime.isValid())
        return std::nullopt;
    return QDateTime(calendarDate, clockTime, Qt::LocalTime);
}

bool isPlainName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control
            || c.category() == QChar::Other_Format || c.category() == QChar::Other_NotAssigned)
            return false;
    }
    return safePathComponent(name) == name;
}

std::variant<ImageList, QString> parseImageList(const QByteArray& body, const QString& directory,
                                                const ImageListLimits& limits)
{
    if (body.size() > limits.maximumBytes)
        return QStringLiteral("The camera's listing of %1 is larger than %2 bytes.").arg(directory).arg(limits.maximumBytes);
    const QList<QByteArray> lines = body.split('\n');
    if (lines.size() > limits.maximumLines + 2)
        return QStringLiteral("The camera's listing of %1 has more than %2 lines.").arg(directory).arg(limits.maximumLines);
    if (lines.isEmpty() || !lines.front().startsWith("VER_"))
        return QStringLiteral("The camera's answer for %1 is not an image list.").arg(directory);

    ImageList list;
    QSet<QString> seen;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (line.size() > limits.maximumLineLength) {
            ++list.skipped;
            continue;
        }
        // The folder may itself hold commas only in theory (DCF names do not); the last five fields are fixed.
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() != 6) {
            ++list.skipped;
            continue;
        }
        const QString folder = QString::fromUtf8(fields[0]);
        const QString name = QString::fromUtf8(fields[1]);
        const auto size = unsignedField(fields[2]);
        const auto attributes = unsignedField(fields[3]);
        const auto date = unsignedField(fields[4]);
        const auto time = unsignedField(fields[5]);
        // A camera naming another folder than the one asked for, or a name that would lead elsewhere, is not followed.
        if (folder != directory || !isPlainName(name) || name.contains(QChar::ReplacementCharacter) || !size
            || *size > kMaximumListedSize || !attributes || *attributes > 0xFF) {
            ++list.skipped;
            continue;
        }
        // A volume label is no file.
        if (*attributes & 0x08) {
            ++list.skipped;
            continue;
        }
        ImageListEntry entry;
        entry.name = name;
        entry.attributes = uint32_t(*attributes);
        entry.size = entry.isFolder() ? 0 : *size;
        if (date && time)
            entry.date = dateFromFat(*date, *time);
        if (seen.contains(name)) {
            ++list.skipped;
            continue;
        }
        seen.insert(name);
        list.entries.push_back(std::move(entry));
    }
    return list;
}

std::optional<QString> modelFromCameraInfo(const QByteArray& body)
{
    // A few hundred bytes of XML; one element is wanted, so no XML reader (and no entity) is involved.
    static const QRegularExpression model(QStringLiteral("<caminfo>.*<model>([^<&]{1,64})</model>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    if (body.size() > kMaximumCameraInfoBytes)
        return std::nullopt;
    const auto match = model.match(QString::fromUtf8(body));
    if (!match.hasMatch())
        return std::nullopt;
    QString name = match.captured(1).trimmed();
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

} // namespace vornakel::olympus
