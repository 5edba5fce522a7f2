#include "sorting/SafePathComponent.h"

namespace vornakel {
namespace {

constexpr char16_t kSlashSubstitute = u'\u2215';
constexpr char16_t kSubstitute = u'_';

} // namespace

QString safePathComponent(const QString& component)
{
    if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
        return QString(QChar(kSubstitute));

    qsizetype firstUnsafe = -1;
    for (qsizetype i = 0; i < component.size(); ++i) {
        const char16_t c = component[i].unicode();
        if (c == u'/' || c == u'\0') {
            firstUnsafe = i;
            break;
        }
    }
    if (firstUnsafe < 0)
        return component;

    QString safe = component;
    for (qsizetype i = firstUnsafe; i < safe.size(); ++i) {
        const char16_t c = safe[i].unicode();
        if (c == u'/')
            safe[i] = QChar(kSlashSubstitute);
        else if (c == u'\0')
            safe[i] = QChar(kSubstitute);
    }
    return safe;
}

} // namespace vornakel
