#include "platform/core/SafePathComponent.h"

namespace vornakel {
namespace {

constexpr char16_t kSlashSubstitute = u'\u2215';
constexpr char16_t kSubstitute = u'_';
// An extension longer than this is part of the name, not a type to keep.
constexpr qsizetype kLongestKeptExtension = 16;

bool isUnsafe(char16_t c) { return c == u'/' || c < 0x20 || c == 0x7f; }

QString shortened(const QString& name, qsizetype maximumBytes)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool keepsExtension = dot > 0 && name.size() - dot <= kLongestKeptExtension;
    const QString extension = keepsExtension ? name.mid(dot) : QString();
    const qsizetype extensionBytes = extension.toUtf8().size();
    const QString stem = truncatedToUtf8Bytes(keepsExtension ? name.left(dot) : name, maximumBytes - extensionBytes);
    return stem + extension;
}

} // namespace

QString truncatedToUtf8Bytes(const QString& text, qsizetype maximumBytes)
{
    if (text.toUtf8().size() <= maximumBytes)
        return text;
    QString result;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Keep surrogate pairs whole.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype characterBytes = text.mid(i, length).toUtf8().size();
        if (bytes + characterBytes > maximumBytes)
            break;
        result += text.mid(i, length);
        bytes += characterBytes;
        i += length - 1;
    }
    return result;
}

QString safePathComponent(const QString& component, qsizetype maximumBytes)
{
    if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
        return QString(QChar(kSubstitute));

    QString safe = component;
    for (qsizetype i = 0; i < safe.size(); ++i) {
        const char16_t c = safe[i].unicode();
        if (isUnsafe(c))
            safe[i] = QChar(c == u'/' ? kSlashSubstitute : kSubstitute);
    }
    if (safe.toUtf8().size() > maximumBytes)
        safe = shortened(safe, maximumBytes);
    return safe.isEmpty() ? QString(QChar(kSubstitute)) : safe;
}

} // namespace vornakel
