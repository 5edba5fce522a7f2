#include "platform/core/Strings.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <mutex>

namespace vornakel::GeneralUI {
namespace {

QString unescape(QStringView text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            result += c;
            continue;
        }
        const QChar next = text[++i];
        if (next == QLatin1Char('n'))
            result += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            result += QLatin1Char('\t');
        else
            result += next;
    }
    return result;
}

QHash<QString, QString> loadTable()
{
    QHash<QString, QString> table;
    QFile file(QStringLiteral(":/strings/GeneralUI.strings"));
    if (!file.open(QIODevice::ReadOnly))
        return table;
    const QString contents = QString::fromUtf8(file.readAll());
    static const QRegularExpression entry(QStringLiteral(R"re("((?:[^"\\]|\\.)*)"\s*=\s*"((?:[^"\\]|\\.)*)"\s*;)re"));
    static const QRegularExpression comment(QStringLiteral(R"(/\*.*?\*/)"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QString withoutComments = contents;
    withoutComments.remove(comment);
    for (auto it = entry.globalMatch(withoutComments); it.hasNext();) {
        const auto match = it.next();
        table.insert(unescape(match.capturedView(1)), unescape(match.capturedView(2)));
    }
    return table;
}

const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> strings = loadTable();
    return strings;
}

} // namespace

QString text(const QString& key)
{
    return table().value(key, key);
}

QString substitute(const QString& text, const QStringList& arguments)
{
    QString result;
    result.reserve(text.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() && text[i + 1] == QLatin1Char('@')) {
            result += arguments.value(next++);
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

QString format(const QString& key, const QStringList& arguments)
{
    return substitute(text(key), arguments);
}

QString counted(const QString& key, qint64 count, const QStringList& arguments)
{
    const QString fullKey = count == 1 ? key : key + QStringLiteral("_Plural");
    QString pattern = text(fullKey);
    const QString number = QString::number(count);
    pattern.replace(QStringLiteral("%ld"), number).replace(QStringLiteral("%d"), number);
    return substitute(pattern, arguments.isEmpty() ? QStringList{number} : arguments);
}

} // namespace vornakel::GeneralUI
