#include "copying/FileNames.h"

#include "model/PhotoVariant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace vornakel {

bool fileEntryExists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<QString> nextAvailableFileURL(const QString& path, int maximumNumber,
                                            const std::function<bool(const QString&)>& taken)
{
    if (path.isEmpty() || QDir::isRelativePath(path))
        return std::nullopt;
    // `taken` is asked first: a file that stops counting as taken meanwhile is in place by then, so the file
    // system sees it. The other way round a file moved in between the two questions is seen by neither.
    const auto isFree = [&taken](const QString& candidate) {
        return !(taken && taken(candidate)) && !fileEntryExists(candidate);
    };
    if (isFree(path))
        return path;
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const QString extension = PhotoVariant::pathExtension(fileName);
    const QString name = PhotoVariant::deletingPathExtension(fileName);
    const QDir folder = info.dir();
    for (int number = 2; number <= maximumNumber; ++number) {
        QString candidate = name + QLatin1Char(' ') + QString::number(number);
        if (!extension.isEmpty())
            candidate += QLatin1Char('.') + extension;
        const QString candidatePath = folder.filePath(candidate);
        if (isFree(candidatePath))
            return candidatePath;
    }
    return std::nullopt;
}

} // namespace vornakel
