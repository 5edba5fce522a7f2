#include "reference-editor/ReferenceEditorPeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace vornakel::tools {
namespace {

QString catalogFileName()
{
    return QStringLiteral("Reference Catalog.lrcat");
}

QByteArray lineFor(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

ReferenceEditorPeer::ReferenceEditorPeer(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
    if (m_options.modulesFolder.isEmpty())
        m_options.modulesFolder = defaultModulesFolder();
    if (!m_options.catalogFolder.isEmpty()) {
        QDir().mkpath(m_options.catalogFolder);
        QFile catalog(catalogPath());
        if (catalog.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : catalog.readAll().split('\n'))
                if (!line.isEmpty())
                    m_images << QString::fromUtf8(line);
        } else if (catalog.open(QIODevice::WriteOnly)) {
            catalog.close();
        }
    }
}

ReferenceEditorPeer::~ReferenceEditorPeer() = default;

QString ReferenceEditorPeer::defaultModulesFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Adobe/Lightroom/Modules"));
}

bool ReferenceEditorPeer::pluginIsInstalled() const
{
    QFile info(QDir(m_options.modulesFolder).filePath(pluginFolderName() + QStringLiteral("/Info.lua")));
    if (!info.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(info.read(64 * 1024));
    return text.contains(QStringLiteral("LrToolkitIdentifier = '%1'").arg(pluginIdentifier()));
}

QString ReferenceEditorPeer::catalogPath() const
{
    if (m_options.catalogFolder.isEmpty())
        return {};
    return QFileInfo(QDir(m_options.catalogFolder).filePath(catalogFileName())).absoluteFilePath();
}

QStringList ReferenceEditorPeer::catalogFolders() const
{
    QStringList folders = m_options.folders;
    for (const QString& image : m_images)
        folders << QFileInfo(image).absolutePath();
    folders.removeDuplicates();
    folders.sort();
    return folders;
}

bool ReferenceEditorPeer::handleUrl(const QUrl& url)
{
    if (url.scheme() != QStringLiteral("lightroom") || url.host() != pluginIdentifier()
        || url.path() != QStringLiteral("/start")) {
        emit message(QStringLiteral("Ignoring %1").arg(url.toString()));
        return false;
    }
    const QUrlQuery query(url);
    bool commandOk = false;
    bool responseOk = false;
    const uint commandPort = query.queryItemValue(QStringLiteral("receiveCommandsPort")).toUInt(&commandOk);
    const uint responsePort = query.queryItemValue(QStringLiteral("sendResponsesPort")).toUInt(&responseOk);
    if (!commandOk || !responseOk || commandPort == 0 || responsePort == 0 || commandPort > 65535 || responsePort > 65535) {
        emit message(QStringLiteral("The start address names no ports: %1").arg(url.toString()));
        return false;
    }
    if (!pluginIsInstalled()) {
        emit message(QStringLiteral("The plug-in is not installed in %1").arg(m_options.modulesFolder));
        return false;
    }
    if (m_options.faults.listenDelay.count() <= 0)
        return startServing(quint16(commandPort), quint16(responsePort));
    const int generation = ++m_listenGeneration;
    QTimer::singleShot(m_options.faults.listenDelay, this, [this, generation, commandPort, responsePort] {
        if (generation == m_listenGeneration)
            startServing(quint16(commandPort), quint16(responsePort));
    });
    return true;
}

bool ReferenceEditorPeer::startServing(quint16 commandPort, quint16 responsePort)
{
    if (!pluginIsInstalled())
        return false;
    if (isServing() && m_commandServer->serverPort() == commandPort && m_responseServer->serverPort() == responsePort)
        return true;
    stopServing();
    m_commandServer = new QTcpServer(this);
    m_responseServer = new QTcpServer(this);
    if (!m_commandServer->listen(QHostAddress::LocalHost, commandPort)
        || !m_responseServer->listen(QHostAddress::LocalHost, responsePort)) {
        emit message(QStringLiteral("Could not listen on 127.0.0.1 ports %1 and %2").arg(commandPort).arg(responsePort));
        stopServing();
        return false;
    }
    connect(m_commandServer, &QTcpServer::newConnection, this, &ReferenceEditorPeer::acceptCommandConnection);
    connect(m_responseServer, &QTcpServer::newConnection, this, &ReferenceEditorPeer::acceptResponseConnection);
    emit message(QStringLiteral("Serving: requests on 127.0.0.1:%1, replies on 127.0.0.1:%2").arg(commandPort).arg(responsePort));
    emit servingStarted(commandPort, responsePort);
    return true;
}

void ReferenceEditorPeer::stopServing()
{
    ++m_listenGeneration;
    const bool wasServing = isServing();
    dropConnections();
    for (QTcpServer* server : {m_commandServer, m_responseServer})
        if (server) {
            server->close();
            server->deleteLater();
        }
    m_commandServer = nullptr;
    m_responseServer = nullptr;
    if (wasServing)
        emit servingStopped();
}

bool ReferenceEditorPeer::isServing() const
{
    return m_commandServer && m_commandServer->isListening() && m_responseServer && m_responseServer->isListening();
}

void ReferenceEditorPeer::dropConnections()
{
    for (QTcpSocket* socket : {m_commandSocket.data(), m_responseSocket.data()})
        if (socket) {
            socket->disconnect(this);
            socket->disconnectFromHost();
            socket->deleteLater();
        }
    m_commandSocket = nullptr;
    m_responseSocket = nullptr;
    m_pendingRequestBytes.clear();
    m_heldReplies.clear();
    m_queuedWrites.clear();
    m_splitParts.clear();
}

void ReferenceEditorPeer::acceptCommandConnection()
{
    while (QTcpSocket* socket = m_commandServer->nextPendingConnection()) {
        // A new session replaces the old one, as the plug-in serves one program at a time.
        if (m_commandSocket) {
            m_commandSocket->disconnect(this);
            m_commandSocket->disconnectFromHost();
            m_commandSocket->deleteLater();
        }
        m_commandSocket = socket;
        m_pendingRequestBytes.clear();
        ++m_commandConnections;
        connect(socket, &QTcpSocket::readyRead, this, &ReferenceEditorPeer::readRequests);
    }
}

void ReferenceEditorPeer::acceptResponseConnection()
{
    while (QTcpSocket* socket = m_responseServer->nextPendingConnection()) {
        if (m_responseSocket) {
            m_responseSocket->disconnect(this);
            m_responseSocket->disconnectFromHost();
            m_responseSocket->deleteLater();
        }
        m_responseSocket = socket;
        flushQueuedReplies();
    }
}

void ReferenceEditorPeer::readRequests()
{
    QTcpSocket* socket = m_commandSocket;
    if (!socket)
        return;
    const QByteArray bytes = socket->readAll();
    m_received += bytes;
    m_pendingRequestBytes += bytes;
    qsizetype newline;
    while ((newline = m_pendingRequestBytes.indexOf('\n')) >= 0) {
        const QByteArray line = m_pendingRequestBytes.left(newline);
        m_pendingRequestBytes.remove(0, newline + 1);
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject()) {
            emit message(QStringLiteral("Not a request: %1").arg(QString::fromUtf8(line)));
            continue;
        }
        handleRequest(document.object());
        if (m_commandSocket != socket)
            return;
    }
}

void ReferenceEditorPeer::handleRequest(const QJsonObject& request)
{
    m_requests.push_back(request);
    ++m_requestCount;
    emit message(QStringLiteral("Request: %1").arg(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))));
    emit requestReceived(request);
    if (m_options.faults.closeAfterRequests >= 0 && m_requestCount >= m_options.faults.closeAfterRequests) {
        emit message(QStringLiteral("Closing the connections mid-session"));
        dropConnections();
        return;
    }
    const QString command = request.value(QStringLiteral("message")).toString();
    if (m_options.faults.silentCommands.contains(command))
        return;
    QJsonObject reply = answer(request);
    const bool stop = command == QStringLiteral("stopServer");
    const auto send = [this, reply, stop] {
        sendReply(reply);
        if (stop) {
            // Let the reply leave before the connections go.
            QTimer::singleShot(0, this, [this] {
                if (m_responseSocket)
                    m_responseSocket->flush();
                stopServing();
            });
        }
    };
    if (m_options.faults.replyDelay.count() > 0)
        QTimer::singleShot(m_options.faults.replyDelay, this, send);
    else
        send();
}

QJsonObject ReferenceEditorPeer::answer(const QJsonObject& request)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("context"), request.value(QStringLiteral("context")));
    const QString command = request.value(QStringLiteral("message")).toString();
    const auto success = [&reply] { reply.insert(QStringLiteral("result"), QStringLiteral("success")); };
    if (command == QStringLiteral("getCatalogPath")) {
        reply.insert(QStringLiteral("path"), catalogPath());
    } else if (command == QStringLiteral("getCatalogFolders")) {
        reply.insert(QStringLiteral("paths"), QJsonArray::fromStringList(catalogFolders()));
    } else if (command == QStringLiteral("operationStarted")) {
        const QJsonValue count = request.value(QStringLiteral("fileCount"));
        if (count.isDouble() && count.toDouble() >= 0 && std::trunc(count.toDouble()) == count.toDouble())
            success();
        else
            reply.insert(QStringLiteral("result"), QStringLiteral("failure"));
    } else if (command == QStringLiteral("addImageToCatalog")) {
        const QString path = request.value(QStringLiteral("path")).toString();
        if (path.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo(path).isFile()) {
            reply.insert(QStringLiteral("error"), QStringLiteral("There is no image at “%1”.").arg(path));
        } else {
            const QString clean = QDir::cleanPath(path);
            if (!m_images.contains(clean)) {
                m_images << clean;
                QFile catalog(catalogPath());
                if (catalog.open(QIODevice::Append))
                    catalog.write(clean.toUtf8() + '\n');
            }
            success();
        }
    } else if (command == QStringLiteral("operationEnded") || command == QStringLiteral("stopServer")) {
        success();
    } else {
        reply.insert(QStringLiteral("error"), QStringLiteral("Unknown command “%1”.").arg(command));
    }
    return reply;
}

void ReferenceEditorPeer::sendReply(const QJsonObject& reply)
{
    QJsonObject shifted = reply;
    if (m_options.faults.contextOffset != 0)
        shifted.insert(QStringLiteral("context"),
                       reply.value(QStringLiteral("context")).toInteger() + m_options.faults.contextOffset);
    QByteArray bytes;
    for (; m_options.faults.garbageLinesBeforeNextReply > 0; --m_options.faults.garbageLinesBeforeNextReply)
        bytes += "this is not a reply }{\n";
    bytes += lineFor(shifted);
    emit message(QStringLiteral("Reply: %1").arg(QString::fromUtf8(bytes.trimmed())));
    if (m_options.faults.mergeReplies > 1) {
        m_heldReplies.append(bytes);
        if (m_heldReplies.size() < m_options.faults.mergeReplies)
            return;
        if (m_options.faults.reverseMergedReplies)
            std::reverse(m_heldReplies.begin(), m_heldReplies.end());
        bytes = m_heldReplies.join();
        m_heldReplies.clear();
    }
    const int parts = std::max(1, m_options.faults.splitRepliesInto);
    if (parts == 1) {
        writeReplyBytes(bytes);
        return;
    }
    // The parts leave one per tick, after any parts of earlier replies, so replies never interleave.
    const qsizetype size = (bytes.size() + parts - 1) / parts;
    for (int i = 0; i < parts; ++i) {
        const QByteArray part = bytes.mid(i * size, size);
        if (!part.isEmpty())
            m_splitParts.append(part);
    }
    if (!m_splitTimer) {
        m_splitTimer = new QTimer(this);
        m_splitTimer->setInterval(5);
        connect(m_splitTimer, &QTimer::timeout, this, [this] {
            if (m_splitParts.isEmpty()) {
                m_splitTimer->stop();
                return;
            }
            writeReplyBytes(m_splitParts.takeFirst());
        });
    }
    if (!m_splitTimer->isActive()) {
        writeReplyBytes(m_splitParts.takeFirst());
        m_splitTimer->start();
    }
}

void ReferenceEditorPeer::writeReplyBytes(const QByteArray& bytes)
{
    m_queuedWrites.append(bytes);
    flushQueuedReplies();
}

void ReferenceEditorPeer::flushQueuedReplies()
{
    if (!m_responseSocket || m_responseSocket->state() != QAbstractSocket::ConnectedState)
        return;
    for (const QByteArray& bytes : m_queuedWrites) {
        m_responseSocket->write(bytes);
        m_responseSocket->flush();
    }
    m_queuedWrites.clear();
}

} // namespace vornakel::tools
