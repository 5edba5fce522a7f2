#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace vornakel::tools {

// Misbehaviour to play, so that the program's side of the link can be tried against a peer that is slow,
// silent, garbled or gone.
struct ReferenceEditorFaults {
    std::chrono::milliseconds listenDelay{0}; // start listening this long after being asked to
    std::chrono::milliseconds replyDelay{0};  // answer each request this long after it arrives
    QSet<QString> silentCommands;             // commands never answered
    int garbageLinesBeforeNextReply = 0;      // lines that are not JSON, sent once before the next reply
    int splitRepliesInto = 1;                 // writes per reply, a few milliseconds apart
    int mergeReplies = 1;                     // replies held back and sent together in one write
    bool reverseMergedReplies = false;        // held replies go out last first
    qint64 contextOffset = 0;                 // replies carry the request's context plus this
    int closeAfterRequests = -1;              // closes both connections when this request arrives, unanswered
};

// The editor's side of the plug-in link, for trying the program without a real editor: it listens on the two
// ports the start address names (requests come in on the first, replies go out on the second), answers the six
// commands over a catalog kept in a folder, and serves only while the program's plug-in sits in its modules
// folder.
class ReferenceEditorPeer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString modulesFolder;    // where the plug-in must be installed
        QString catalogFolder;    // holds the catalog file
        QStringList folders;      // catalog folders besides those of the images added
        ReferenceEditorFaults faults;
    };

    explicit ReferenceEditorPeer(Options options, QObject* parent = nullptr);
    ~ReferenceEditorPeer() override;

    static QString pluginFolderName() { return QStringLiteral("Vornakel Transfer.lrplugin"); }
    static QString pluginIdentifier() { return QStringLiteral("com.vornakel.transfer.lrplugin"); }
    static QString desktopEntryId() { return QStringLiteral("com.vornakel.ReferenceEditor"); }
    static QString defaultModulesFolder();

    // Whether the modules folder holds a plug-in that names itself by the program's plug-in identifier.
    bool pluginIsInstalled() const;
    // A start address for the program's plug-in: starts serving on its ports (after the listen delay).
    // Answers whether the address was one and the plug-in is installed.
    bool handleUrl(const QUrl& url);
    // Listens on both ports at once; false when the plug-in is not installed or a port is taken.
    bool startServing(quint16 commandPort, quint16 responsePort);
    void stopServing();
    bool isServing() const;
    // Closes the current connections but keeps listening.
    void dropConnections();

    // Writes bytes on the reply connection as they are, for replies no well-behaved plug-in would send.
    void writeRawReplyBytes(const QByteArray& bytes) { writeReplyBytes(bytes); }

    ReferenceEditorFaults& faults() { return m_options.faults; }
    QString catalogPath() const;
    QStringList catalogFolders() const;
    QStringList addedImages() const { return m_images; }
    const std::vector<QJsonObject>& requests() const { return m_requests; }
    // Every byte that arrived on the request connections.
    QByteArray receivedBytes() const { return m_received; }
    int commandConnectionsAccepted() const { return m_commandConnections; }

signals:
    void requestReceived(const QJsonObject& request);
    void servingStarted(quint16 commandPort, quint16 responsePort);
    void servingStopped();
    void message(const QString& text);

private:
    void acceptCommandConnection();
    void acceptResponseConnection();
    void readRequests();
    void handleRequest(const QJsonObject& request);
    QJsonObject answer(const QJsonObject& request);
    void sendReply(const QJsonObject& reply);
    void writeReplyBytes(const QByteArray& bytes);
    void flushQueuedReplies();

    Options m_options;
    QTcpServer* m_commandServer = nullptr;
    QTcpServer* m_responseServer = nullptr;
    QPointer<QTcpSocket> m_commandSocket;
    QPointer<QTcpSocket> m_responseSocket;
    QByteArray m_pendingRequestBytes;
    QByteArray m_received;
    QList<QByteArray> m_heldReplies;
    QList<QByteArray> m_queuedWrites; // replies waiting for the response connection
    QList<QByteArray> m_splitParts;   // parts of split replies still to send
    QTimer* m_splitTimer = nullptr;
    std::vector<QJsonObject> m_requests;
    QStringList m_images;
    int m_commandConnections = 0;
    int m_requestCount = 0;
    int m_listenGeneration = 0;
};

} // namespace vornakel::tools
