#include "platform/photolibrary/PhotoLibrary.h"


#include <mutex>

namespace vornakel {
namespace {

constexpr qsizetype kMaxNameBytes = 255;

std::mutex& sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<PhotoLibrary>& sharedSlot()
{
    static std::shared_ptr<PhotoLibrary> library;
    return library;
}

void stripLeadingDotsAndBlanks(QString& name)
{
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == u'.' || name.at(start).isSpace()))
        ++start;
    name.remove(0, start);
}

} // namespace

std::shared_ptr<PhotoLibrary> PhotoLibrary::shared()
{
    std::lock_guard lock(sharedMutex());
    const std::shared_ptr<PhotoLibrary>& library = sharedSlot();
    if (!library)
        qFatal("PhotoLibrary::shared() was asked for before a library was installed with PhotoLibrary::setShared()");
    return library;
}

void PhotoLibrary::setShared(std::shared_ptr<PhotoLibrary> library)
{
    std::lock_guard lock(sharedMutex());
    sharedSlot() = std::move(library);
}

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
