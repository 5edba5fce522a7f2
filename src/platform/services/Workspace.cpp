#include "platform/services/Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <sys/types.h>

namespace vornakel {
namespace {

QString desktopId(const QString& application)
{
    return application.endsWith(QStringLiteral(".desktop")) ? application : application + QStringLiteral(".desktop");
}

bool looksLikeDesktopId(const QString& application)
{
    return !application.contains(QLatin1Char('/')) && application.contains(QLatin1Char('.'))
        && !application.endsWith(QStringLiteral(".sh"));
}

} // namespace

bool SystemWorkspace::openUrl(const QUrl& url)
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool SystemWorkspace::revealFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service).value()) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
        if (bus.send(call))
            return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

std::optional<QString> SystemWorkspace::locateApplication(const QString& application) const
{
    if (application.isEmpty())
        return std::nullopt;
    if (looksLikeDesktopId(application)) {
        const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId(application));
        if (!entry.isEmpty())
            return entry;
    }
    if (application.contains(QLatin1Char('/'))) {
        const QFileInfo info(application);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
        return std::nullopt;
    }
    const QString executable = QStandardPaths::findExecutable(application);
    if (executable.isEmpty())
        return std::nullopt;
    return executable;
}

QStringList SystemWorkspace::commandFromDesktopEntry(const QString& desktopFilePath)
{
    QFile file(desktopFilePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || !line.startsWith(QStringLiteral("Exec=")))
            continue;
        QStringList command;
        for (const QString& word : QProcess::splitCommand(line.mid(5))) {
            // Field codes stand for files or URLs the launcher would pass; we pass our own arguments instead.
            if (word.size() == 2 && word.startsWith(QLatin1Char('%')))
                continue;
            command << word;
        }
        return command;
    }
    return {};
}

std::optional<Error> SystemWorkspace::launchApplication(const QString& application, const QStringList& arguments)
{
    const std::optional<QString> location = locateApplication(application);
    if (!location)
        return Error(errorDomain(), ApplicationNotFound, QStringLiteral("%1 is not installed.").arg(application));
    QStringList command = location->endsWith(QStringLiteral(".desktop")) ? commandFromDesktopEntry(*location)
                                                                          : QStringList{*location};
    if (command.isEmpty())
        return Error(errorDomain(), LaunchFailed, QStringLiteral("%1 has no command to run.").arg(application));
    const QString program = command.takeFirst();
    if (!QProcess::startDetached(program, command + arguments))
        return Error(errorDomain(), LaunchFailed, QStringLiteral("%1 could not be started.").arg(application));
    return std::nullopt;
}

std::vector<qint64> SystemWorkspace::runningProcesses(const QString& executableName) const
{
    std::vector<qint64> pids;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        const QString target = QFileInfo(proc.filePath(entry + QStringLiteral("/exe"))).symLinkTarget();
        if (!target.isEmpty() && QFileInfo(target).fileName() == executableName)
            pids.push_back(pid);
    }
    return pids;
}

bool SystemWorkspace::quitApplication(const QString& executableName)
{
    bool asked = false;
    for (const qint64 pid : runningProcesses(executableName))
        asked = ::kill(static_cast<pid_t>(pid), SIGTERM) == 0 || asked;
    return asked;
}

} // namespace vornakel
