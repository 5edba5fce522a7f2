#include "platform/loginitems/HelperProcess.h"

#include "platform/loginitems/LoginItem.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <utility>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace vornakel {

namespace {
const QByteArray kQuitRequest = QByteArrayLiteral("quit\n");
const QByteArray kActivateRequest = QByteArrayLiteral("activate\n");
constexpr int kSocketTimeoutMs = 500;
} // namespace

HelperProcess::HelperProcess(QString identifier, QString program, QStringList arguments)
    : m_identifier(std::move(identifier)), m_program(std::move(program)), m_arguments(std::move(arguments))
{
}

QString HelperProcess::socketPath(const QString& identifier)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // One instance per user and home folder: a runtime folder shared by several sessions or users (the
    // temporary folder, or a test's HOME under one XDG_RUNTIME_DIR) must not let one answer for another.
    const QByteArray home = QCryptographicHash::hash(QDir::homePath().toUtf8(), QCryptographicHash::Sha256);
    return folder + QLatin1Char('/') + identifier + QStringLiteral("-%1-%2.socket")
                                                        .arg(uint(::getuid()))
                                                        .arg(QString::fromLatin1(home.toHex().left(8)));
}

bool processIsAlive(qint64 processId)
{
    if (processId <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (name) state ...": the name may hold blanks and parentheses, the state follows the last ')'.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

namespace {

// The HOME a process was started with; empty when it cannot be read.
QByteArray homeOf(qint64 processId)
{
    QFile environment(QStringLiteral("/proc/%1/environ").arg(processId));
    if (!environment.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& entry : environment.read(1 << 20).split('\0')) {
        if (entry.startsWith("HOME="))
            return entry.mid(5);
    }
    return {};
}

} // namespace

QList<qint64> processesRunningProgram(const QString& program)
{
    const QString wanted = QFileInfo(program).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const qint64 self = QCoreApplication::applicationPid();
    const QByteArray ourHome = qgetenv("HOME");
    QList<qint64> found;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 processId = entry.toLongLong(&isNumber);
        if (!isNumber || processId == self)
            continue;
        struct stat owner {};
        if (::stat(QFile::encodeName(proc.filePath(entry)).constData(), &owner) != 0 || owner.st_uid != ::geteuid())
            continue;
        QString executable = QFile::symLinkTarget(proc.filePath(entry + QStringLiteral("/exe")));
        // A program replaced on disk while it runs (an update) is still that program.
        if (executable.endsWith(QLatin1String(" (deleted)")))
            executable.chop(10);
        if (executable == wanted && processIsAlive(processId) && homeOf(processId) == ourHome)
            found.append(processId);
    }
    return found;
}

bool HelperProcess::isRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_identifier));
    // A local connect completes at once or fails at once; the wait only covers a busy listener.
    if (socket.waitForConnected(kSocketTimeoutMs))
        return true;
    return processIsAlive(m_launchedProcess) || !processesRunningProgram(m_program).isEmpty();
}

std::optional<Error> HelperProcess::launch()
{
    // The helper outlives the app: it must not hold the app's terminal or pipes open.
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(m_arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 processId = 0;
    if (!process.startDetached(&processId))
        return Error(loginItemErrorDomain(), LoginItemErrorLaunchFailed,
                     QStringLiteral("Could not start %1.").arg(m_program));
    m_launchedProcess = processId;
    return std::nullopt;
}

bool HelperProcess::requestQuit()
{
    const qint64 launched = std::exchange(m_launchedProcess, 0);
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_identifier));
    bool asked = false;
    pid_t listener = 0;
    if (socket.waitForConnected(kSocketTimeoutMs)) {
        struct ucred peer {};
        socklen_t length = sizeof peer;
        if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
            listener = peer.pid;
        socket.write(kQuitRequest);
        asked = socket.waitForBytesWritten(kSocketTimeoutMs);
    }
    // The others (one just started, one listening in another runtime folder) hold nothing worth a clean
    // shutdown.
    QList<qint64> others = processesRunningProgram(m_program);
    if (processIsAlive(launched) && !others.contains(launched))
        others.append(launched);
    bool ended = false;
    for (const qint64 processId : std::as_const(others))
        if (processId != listener || !asked)
            ended = ::kill(static_cast<pid_t>(processId), SIGTERM) == 0 || ended;
    return asked || ended;
}

bool HelperProcess::requestActivation()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_identifier));
    if (!socket.waitForConnected(kSocketTimeoutMs))
        return false;
    socket.write(kActivateRequest);
    return socket.waitForBytesWritten(kSocketTimeoutMs);
}

HelperInstance::HelperInstance(QString identifier, QObject* parent)
    : QObject(parent), m_identifier(std::move(identifier))
{
}

HelperInstance::~HelperInstance() = default;

bool HelperInstance::claim()
{
    if (m_server)
        return true;
    const QString path = HelperProcess::socketPath(m_identifier);
    if (HelperProcess(m_identifier, {}).isRunning())
        return false;
    // A socket file left by an instance that crashed answers no one; it is safe to take over.
    QLocalServer::removeServer(path);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path))
        return false;
    connect(server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QByteArray request = socket->readLine();
                    if (request == kQuitRequest)
                        emit quitRequested();
                    else if (request == kActivateRequest)
                        emit activationRequested();
                }
            });
        }
    });
    m_server = std::move(server);
    return true;
}

} // namespace vornakel
