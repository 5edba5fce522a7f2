// The reference editor: plays the photo editor's side of the plug-in link so that the program can be tried
// without a real editor. Started with a start address (by the desktop's URL handler) it serves on the ports the
// address names; a second start hands its address to the instance already running and exits.
#include "reference-editor/ReferenceEditorPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

using vornakel::tools::ReferenceEditorPeer;

namespace {

QString instanceName()
{
    return QStringLiteral("vkl-reference-editor-%1").arg(::getuid());
}

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// The program as a desktop entry's Exec key names it: quoted only when it must be, since older xdg-open takes
// the key's first word as it stands.
QString execProgram(const QString& path)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+-]+$"));
    if (plain.match(path).hasMatch())
        return path;
    QString quoted = path;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('`'), QStringLiteral("\\`"))
        .replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Makes the entry the handler of lightroom:// addresses in the user's mimeapps.list, as xdg-mime would.
bool registerSchemeHandler()
{
    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QDir().mkpath(configFolder);
    const QString path = QDir(configFolder).filePath(QStringLiteral("mimeapps.list"));
    const QString key = QStringLiteral("x-scheme-handler/lightroom");
    const QString line = key + QLatin1Char('=') + ReferenceEditorPeer::desktopEntryId() + QStringLiteral(".desktop");
    QStringList lines;
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype group = lines.indexOf(QStringLiteral("[Default Applications]"));
    if (group < 0) {
        lines << QStringLiteral("[Default Applications]");
        group = lines.size() - 1;
    }
    qsizetype end = group + 1;
    bool replaced = false;
    for (; end < lines.size() && !lines.at(end).startsWith(QLatin1Char('[')); ++end) {
        if (lines.at(end).startsWith(key + QLatin1Char('='))) {
            lines[end] = line;
            replaced = true;
        }
    }
    if (!replaced)
        lines.insert(end, line);
    QFile file(path + QStringLiteral(".new"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 || !file.flush()) {
        file.remove();
        say(QStringLiteral("Could not write %1").arg(path));
        return false;
    }
    file.close();
    QFile::remove(path);
    if (!QFile::rename(file.fileName(), path)) {
        say(QStringLiteral("Could not write %1").arg(path));
        return false;
    }
    say(QStringLiteral("Registered in %1 as the handler of lightroom:// addresses.").arg(path));
    return true;
}

int installDesktopEntry()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(ReferenceEditorPeer::desktopEntryId() + QStringLiteral(".desktop"));
    QFile entry(path);
    if (!entry.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        say(QStringLiteral("Could not write %1").arg(path));
        return 1;
    }
    QTextStream out(&entry);
    out << "[Desktop Entry]\nType=Application\nName=Reference Editor (Vornakel Transfer)\n"
        << "Comment=Plays the photo editor's side of the plug-in link\n"
        << "Exec=" << execProgram(QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath()) << " %u\n"
        << "MimeType=x-scheme-handler/lightroom;\nNoDisplay=true\nTerminal=false\n";
    out.flush();
    entry.close();
    say(QStringLiteral("Wrote %1").arg(path));
    return registerSchemeHandler() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-reference-editor"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plays the photo editor's side of Vornakel Transfer's plug-in link."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("A lightroom:// start address."), QStringLiteral("[address]"));
    const QCommandLineOption install(QStringLiteral("install-desktop-entry"),
                                     QStringLiteral("Write the desktop entry and register it for lightroom:// addresses, then exit."));
    const QCommandLineOption modules(QStringLiteral("modules-folder"), QStringLiteral("Where the plug-in must be installed."),
                                     QStringLiteral("folder"), ReferenceEditorPeer::defaultModulesFolder());
    const QCommandLineOption catalog(QStringLiteral("catalog"), QStringLiteral("The folder holding the catalog."),
                                     QStringLiteral("folder"),
                                     QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                                         .filePath(QStringLiteral("vkl-reference-editor")));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("A catalog folder (repeatable)."), QStringLiteral("path"));
    const QCommandLineOption serve(QStringLiteral("serve"), QStringLiteral("Serve on the standard ports at once."));
    const QCommandLineOption listenLate(QStringLiteral("listen-late"), QStringLiteral("Start listening this late."), QStringLiteral("ms"));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"), QStringLiteral("Answer this late."), QStringLiteral("ms"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Never answer this command (repeatable)."), QStringLiteral("command"));
    const QCommandLineOption garbage(QStringLiteral("garbage"), QStringLiteral("Send this many non-JSON lines before the next reply."), QStringLiteral("count"));
    const QCommandLineOption split(QStringLiteral("split"), QStringLiteral("Send each reply in this many writes."), QStringLiteral("count"));
    const QCommandLineOption merge(QStringLiteral("merge"), QStringLiteral("Send this many replies in one write."), QStringLiteral("count"));
    const QCommandLineOption reverse(QStringLiteral("reverse"), QStringLiteral("Send merged replies last first."));
    const QCommandLineOption wrongContext(QStringLiteral("context-offset"), QStringLiteral("Add this to every reply's context."), QStringLiteral("n"));
    const QCommandLineOption closeAfter(QStringLiteral("close-after"), QStringLiteral("Close the connections when this request arrives."), QStringLiteral("n"));
    parser.addOptions({install, modules, catalog, folder, serve, listenLate, replyDelay, silent, garbage, split, merge,
                       reverse, wrongContext, closeAfter});
    parser.process(app);

    if (parser.isSet(install))
        return installDesktopEntry();

    const QStringList addresses = parser.positionalArguments();
    // A running instance takes the address; this one has nothing more to do.
    {
        QLocalSocket running;
        running.connectToServer(instanceName());
        if (running.waitForConnected(500)) {
            for (const QString& address : addresses)
                running.write(address.toUtf8() + '\n');
            running.flush();
            running.waitForBytesWritten(1000);
            running.disconnectFromServer();
            return 0;
        }
    }

    ReferenceEditorPeer::Options options;
    options.modulesFolder = parser.value(modules);
    options.catalogFolder = parser.value(catalog);
    options.folders = parser.values(folder);
    options.faults.listenDelay = std::chrono::milliseconds(parser.value(listenLate).toInt());
    options.faults.replyDelay = std::chrono::milliseconds(parser.value(replyDelay).toInt());
    for (const QString& command : parser.values(silent))
        options.faults.silentCommands.insert(command);
    options.faults.garbageLinesBeforeNextReply = parser.value(garbage).toInt();
    options.faults.splitRepliesInto = std::max(1, parser.value(split).toInt());
    options.faults.mergeReplies = std::max(1, parser.value(merge).toInt());
    options.faults.reverseMergedReplies = parser.isSet(reverse);
    options.faults.contextOffset = parser.value(wrongContext).toLongLong();
    options.faults.closeAfterRequests = parser.isSet(closeAfter) ? parser.value(closeAfter).toInt() : -1;

    ReferenceEditorPeer peer(options);
    QObject::connect(&peer, &ReferenceEditorPeer::message, &app, say);
    say(QStringLiteral("Reference editor %1: modules folder %2, catalog %3")
            .arg(::getpid())
            .arg(options.modulesFolder, peer.catalogPath()));
    say(peer.pluginIsInstalled() ? QStringLiteral("The plug-in is installed.")
                                 : QStringLiteral("The plug-in is not installed: start addresses are ignored until it is."));

    QLocalServer::removeServer(instanceName());
    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(instanceName()))
        say(QStringLiteral("Could not take start addresses from later starts: %1").arg(server.errorString()));
    QObject::connect(&server, &QLocalServer::newConnection, &app, [&server, &peer] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &peer] {
                while (socket->canReadLine())
                    peer.handleUrl(QUrl(QString::fromUtf8(socket->readLine()).trimmed()));
            });
        }
    });

    for (const QString& address : addresses)
        peer.handleUrl(QUrl(address));
    if (parser.isSet(serve))
        peer.startServing(33446, 33445);
    return app.exec();
}
