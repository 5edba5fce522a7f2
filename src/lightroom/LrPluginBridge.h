#pragma once

#include "lightroom/LrPluginTypes.h"
#include "lightroom/PluginLineBuffer.h"
#include "platform/core/Error.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <vector>

class QTcpSocket;
class QTimer;

namespace vornakel {

class RunningApplications;
class UserDefaults;
class Workspace;

// The one object through which the program deals with the photo editor: whether it is installed and running,
// launching and quitting it, installing the program's plug-in into its modules folder, and the link to that
// plug-in: a start URL that asks it to listen, two one-way TCP connections to 127.0.0.1 (requests out on one,
// replies in on the other) carrying one JSON object per line, and the requests sent over them.
// Main thread only.
class LrPluginBridge : public QObject {
    Q_OBJECT
public:
    using State = LrPluginState;
    using RequestError = LrPluginRequestError;
    using StateCallback = std::function<void(State)>;
    // A request's raw outcome: an error, or the reply object.
    using ReplyHandler = std::function<void(std::optional<RequestError>, std::optional<QJsonObject>)>;

    struct Options {
        QString lightroomBundleIdentifier = defaultApplicationIdentifier(); // desktop-entry id of the editor
        QString modulesFolder = defaultModulesFolder();                    // empty: no place to install into
        LrPluginBridgeTimings timings;
        std::chrono::milliseconds runningPollInterval{2000}; // how often to look whether the editor runs; 0: never
        qsizetype maxReplyLineLength = 8 * 1024 * 1024;
    };

    // The editor is found, launched and sent its start URL through `workspace`, and watched and quit through
    // `applications`; both must outlive the bridge.
    LrPluginBridge(Workspace& workspace, RunningApplications& applications, Options options,
                   QObject* parent = nullptr);
    ~LrPluginBridge() override;

    // The bridge every pane and destination shares, so that they share one link: the one the application's
    // composition point installed. Asking before one is installed is a programming error and ends the program.
    static LrPluginBridge& shared();
    static void setShared(LrPluginBridge* bridge);
    // The options the application runs the bridge with: the editor the user defaults name, if any.
    static Options standardOptions(UserDefaults& defaults);

    // The user default naming another editor's desktop entry than the reference editor's.
    static QString applicationIdentifierDefaultsKey() { return QStringLiteral("LightroomApplicationIdentifier"); }
    static QString defaultApplicationIdentifier();
    static QString defaultModulesFolder();
    // The plug-in folder shipped in the program's resources.
    static QString bundledPluginLocation();
    static QString lightroomPluginFileName() { return QStringLiteral("Vornakel Transfer.lrplugin"); }
    static QString pluginIdentifier() { return appIdentifierPrefix() + QStringLiteral(".transfer.lrplugin"); }
    // The address that asks the plug-in to listen for requests on one port and send replies from the other.
    static QString startUrlText(quint16 sendToPluginOn, quint16 receiveFromPluginOn);

    QString lightroomBundleIdentifier() const { return m_options.lightroomBundleIdentifier; }
    std::optional<QString> pluginInstallLocation() const;
    bool lightroomIsInstalled() const;
    bool lightroomIsRunning() const { return m_lightroomIsRunning; }
    bool pluginIsInstalled() const;
    State state() const { return m_state; }
    // The last socket error's description; never cleared by the link.
    std::optional<QString> connectionError() const { return m_connectionError; }
    qint64 messageId() const { return m_messageId; }
    std::size_t pendingRequestCount() const { return m_pending.size(); }
    // Bytes of a reply line still waiting for its newline.
    qsizetype bufferedReplyBytes() const { return m_inputBuffer.pendingSize(); }
    const LrPluginBridgeTimings& timings() const { return m_options.timings; }

    void refreshLightroomIsRunning();
    // Asks the editor's first attributed instance to quit and calls back once it has, after the quit timeout, or
    // at once when none runs or it cannot be asked. Exactly one call back in every case.
    void quitLightroom(std::function<void()> callback);
    [[nodiscard]] std::optional<Error> installOrUpdatePlugin(const QString& source);
    [[nodiscard]] std::optional<Error> uninstallPlugin();

    // Launches the editor unless it runs, waits for it to start, asks the plug-in to listen and connects with
    // a deadline; hides an editor it launched once the attempt is over. One call back with the outcome.
    void launchLightroomAndConnectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn,
                                           std::chrono::milliseconds timeout, StateCallback callback);
    void startPluginServer(quint16 sendToPluginOn, quint16 receiveFromPluginOn);
    // One try.
    void connectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn, StateCallback callback);
    // Tries until connected or the deadline has passed. A caller arriving while an attempt runs waits for the
    // attempt's outcome.
    void connectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn, std::chrono::milliseconds timeout,
                         StateCallback callback);
    // Asks the plug-in to stop, closes the link shortly after and calls back with the state then. Ends a
    // running connection attempt, whose callers hear notConnected.
    void disconnectFromPlugin(StateCallback callback);

    // Sends the request with the next context number; the handler gets the reply, or notConnected when the link
    // is down or closes first, or timedOut. `request` carries "message" and the command's own keys.
    void sendRequest(const QVariantMap& request, ReplyHandler handler);
    void sendCatalogPathRequest(const QVariantMap& request,
                                std::function<void(std::optional<RequestError>, std::optional<QString>)> callback);
    void sendCatalogFoldersRequest(const QVariantMap& request,
                                   std::function<void(std::optional<RequestError>, std::optional<QStringList>)> callback);
    void sendOperationStartedRequest(const QVariantMap& request, std::function<void(std::optional<RequestError>)> callback);
    void sendAddImageRequest(const QVariantMap& request, std::function<void(std::optional<RequestError>)> callback);
    void sendOperationEndedRequest(const QVariantMap& request, std::function<void(std::optional<RequestError>)> callback);
    // Sends only when connected; any reply is dropped.
    void sendRequestWithoutReply(const QVariantMap& request);

    // One reply line, newline included, as the link cuts it.
    void handleResponseLine(const QByteArray& line);

signals:
    void stateChanged(vornakel::LrPluginState state);
    void lightroomIsRunningChanged(bool running);
    // After every install, update and removal, whether or not it worked.
    void pluginIsInstalledChanged(bool installed);
    // Each try of a connection attempt opens both connections anew.
    void connectionTryStarted();

private:
    struct Attempt;
    struct PendingRequest {
        ReplyHandler handler;
        QTimer* timeout = nullptr;
    };

    Workspace& workspace() const { return m_workspace; }
    RunningApplications& applications() const { return m_applications; }
    void log(const QString& message) const;
    void setState(State state);

    Attempt* beginAttempt(StateCallback callback, quint16 sendToPluginOn, quint16 receiveFromPluginOn,
                          std::optional<std::chrono::milliseconds> retryUntil);
    void armDeadline(Attempt* attempt, std::chrono::milliseconds timeout);
    void openConnections();
    void tryFailed();
    void finishAttempt(State result);
    void retireAttempt(Attempt* attempt);
    void onSocketConnected();
    void onSocketProblem(QTcpSocket* socket);
    void onReplyBytes();
    void scheduleClose(StateCallback callback);
    void finishPendingCloseNow();
    // Adds the caller to a running attempt, or answers at once when already connected; false when a new
    // attempt must start.
    bool joinAttemptOrAnswer(StateCallback& callback);
    void runClose();
    void closeStreams();
    void retireSocket(QTcpSocket* socket);
    void failAllPending(RequestError::Kind kind);

    Workspace& m_workspace;
    RunningApplications& m_applications;
    Options m_options;
    bool m_lightroomIsRunning = false;
    State m_state = State::notConnected;
    std::optional<QString> m_connectionError;
    qint64 m_messageId = 1;
    std::map<qint64, PendingRequest> m_pending;
    PluginLineBuffer m_inputBuffer;
    QPointer<QTcpSocket> m_writeStream;
    QPointer<QTcpSocket> m_readStream;
    Attempt* m_attempt = nullptr; // child of the bridge; its timers die with it
    QPointer<QTimer> m_closeTimer;
    std::vector<StateCallback> m_closeCallbacks;
    QTimer* m_runningPoll = nullptr;
};

} // namespace vornakel
