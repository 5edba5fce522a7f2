#include "platform/services/RunningApplications.h"

#include "platform/services/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace vornakel {
namespace {

QString canonicalProgram(const QString& program)
{
    if (program.isEmpty())
        return {};
    QString path = program;
    if (!program.contains(QLatin1Char('/')))
        path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return {};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

QStringList processArguments(const QString& procEntry)
{
    QFile file(procEntry + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    QStringList arguments;
    for (const QByteArray& part : data.split('\0'))
        arguments << QString::fromLocal8Bit(part);
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();
    return arguments;
}

} // namespace


bool SystemRunningApplications::commandLineMatches(const QStringList& processArguments,
                                                   const QString& processExecutable, const QStringList& entryCommand)
{
    if (entryCommand.isEmpty() || processArguments.isEmpty())
        return false;
    const QString program = canonicalProgram(entryCommand.first());
    if (program.isEmpty())
        return false;
    const QStringList fixed = entryCommand.mid(1);
    const auto followedByFixedArguments = [&](qsizetype programIndex) {
        if (processArguments.size() < programIndex + 1 + fixed.size())
            return false;
        return std::equal(fixed.begin(), fixed.end(), processArguments.begin() + programIndex + 1);
    };
    const QString executable = QFileInfo(processExecutable).canonicalFilePath();
    if ((executable == program || canonicalProgram(processArguments.first()) == program) && followedByFixedArguments(0))
        return true;
    // A script run through the interpreter named on its first line: the interpreter is the executable and the
    // script is the first argument after it.
    return processArguments.size() > 1 && canonicalProgram(processArguments.at(1)) == program
        && followedByFixedArguments(1);
}

std::vector<qint64> SystemRunningApplications::instances(const QString& desktopId) const
{
    const std::optional<QString> entry = SystemWorkspace().locateApplication(desktopId);
    if (!entry || !entry->endsWith(QStringLiteral(".desktop")))
        return {};
    const QStringList command = SystemWorkspace::commandFromDesktopEntry(*entry);
    if (command.isEmpty())
        return {};
    std::vector<qint64> pids;
    const QDir proc(QStringLiteral("/proc"));
    const qint64 self = ::getpid();
    for (const QString& name : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = name.toLongLong(&isNumber);
        if (!isNumber || pid == self)
            continue;
        const QString entryPath = proc.filePath(name);
        if (QFileInfo(entryPath).ownerId() != ::getuid())
            continue;
        const QString executable = QFileInfo(entryPath + QStringLiteral("/exe")).symLinkTarget();
        if (commandLineMatches(processArguments(entryPath), executable, command))
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool SystemRunningApplications::terminate(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

bool SystemRunningApplications::isTerminated(qint64 pid) const
{
    if (pid <= 0)
        return true;
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return errno == ESRCH;
    // A process that has exited but is not yet reaped by its parent counts as gone.
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = status.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && line.at(close + 2) == 'Z';
}

bool SystemRunningApplications::hide(qint64)
{
    // Neither Wayland nor a portable X11 call lets one client hide another's windows.
    return false;
}

} // namespace vornakel
