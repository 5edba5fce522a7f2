#include "lightroom/PluginInstaller.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace vornakel::PluginInstaller {
namespace {

Error failure(ErrorCode code, const QString& message)
{
    return Error(errorDomain(), code, message);
}

// A hidden name in the same folder, so that renames between them never cross a file system.
QString siblingName(const QString& location, const QString& purpose)
{
    const QFileInfo info(location);
    return info.dir().filePath(QStringLiteral(".%1.%2-%3")
                                   .arg(info.fileName(), purpose,
                                        QUuid::createUuid().toString(QUuid::Id128).left(12)));
}

std::optional<Error> copyTree(const QString& source, const QString& target)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir())
        return failure(CannotCopy, QStringLiteral("The plug-in %1 is missing.").arg(source));
    if (!QDir().mkpath(target))
        return failure(CannotCopy, QStringLiteral("Could not create %1.").arg(target));
    const QDir sourceDir(source);
    QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        const QString destination = QDir(target).filePath(sourceDir.relativeFilePath(entry.filePath()));
        if (entry.isDir() && !entry.isSymLink()) {
            if (!QDir().mkpath(destination))
                return failure(CannotCopy, QStringLiteral("Could not create %1.").arg(destination));
            continue;
        }
        if (!QFile::copy(entry.filePath(), destination))
            return failure(CannotCopy, QStringLiteral("Could not copy %1.").arg(entry.filePath()));
        // Files from the resources come out read-only.
        QFile::setPermissions(destination, QFile::permissions(destination) | QFileDevice::WriteOwner);
    }
    return std::nullopt;
}

bool removeTree(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

} // namespace

QString errorDomain()
{
    return appIdentifierPrefix() + QStringLiteral(".lightroom-plugin");
}

bool isInstalled(const QString& location)
{
    return !location.isEmpty() && QFileInfo::exists(location);
}

std::optional<Error> install(const QString& source, const QString& location)
{
    if (location.isEmpty())
        return failure(CannotCreateFolder, QStringLiteral("There is no folder to install the plug-in into."));
    const QString folder = QFileInfo(location).absolutePath();
    if (!QDir().mkpath(folder))
        return failure(CannotCreateFolder, QStringLiteral("Could not create %1.").arg(folder));

    const QString fresh = siblingName(location, QStringLiteral("installing"));
    if (std::optional<Error> error = copyTree(source, fresh)) {
        removeTree(fresh);
        return error;
    }
    QString previous;
    if (isInstalled(location) || QFileInfo(location).isSymLink()) {
        previous = siblingName(location, QStringLiteral("replaced"));
        if (!QDir().rename(location, previous)) {
            removeTree(fresh);
            return failure(CannotReplace, QStringLiteral("Could not move the installed plug-in aside."));
        }
    }
    if (!QDir().rename(fresh, location)) {
        removeTree(fresh);
        if (!previous.isEmpty())
            QDir().rename(previous, location);
        return failure(CannotReplace, QStringLiteral("Could not put the new plug-in in place."));
    }
    if (!previous.isEmpty())
        removeTree(previous);
    return std::nullopt;
}

std::optional<Error> uninstall(const QString& location)
{
    if (location.isEmpty() || (!isInstalled(location) && !QFileInfo(location).isSymLink()))
        return std::nullopt;
    // Moving it aside first makes the removal all or nothing as far as the editor can see.
    const QString doomed = siblingName(location, QStringLiteral("removing"));
    if (!QDir().rename(location, doomed))
        return failure(CannotRemove, QStringLiteral("Could not remove %1.").arg(location));
    if (!removeTree(doomed))
        return failure(CannotRemove, QStringLiteral("Could not remove all of %1.").arg(doomed));
    return std::nullopt;
}

} // namespace vornakel::PluginInstaller
