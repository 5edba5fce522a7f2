#include "platform/photolibrary/PhotoLibrary.h"

namespace vornakel {
namespace {

constexpr qsizetype kMaxNameBytes = 255;

void stripLeadingDotsAndBlanks(QString& name)
{
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == u'.' || name.at(start).isSpace()))
        ++start;
    name.remove(0, start);
}

} // namespace

std::optional<QString> PhotoLibrary::sanitizedName(const QString& name)
{
    QString result;
    result.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'/')
            result += u'-';
        else if (c.category() != QChar::Other_Control)
            result += c;
    }
    stripLeadingDotsAndBlanks(result);
    // Cut to what one file-name component may hold, never in the middle of a character.
    while (result.toUtf8().size() > kMaxNameBytes) {
        result.chop(1);
        if (!result.isEmpty() && result.back().isHighSurrogate())
            result.chop(1);
    }
    result = result.trimmed();
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace vornakel
