#include "lightroom/LrPluginBridge.h"

#include "lightroom/PluginInstaller.h"
#include "lightroom/PluginMessages.h"
#include "platform/core/UserDefaults.h"
#include "platform/services/RunningApplications.h"
#include "platform/services/Workspace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QtDebug>
#include <QLoggingCategory>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcEditorLink, "vornakel.editorlink", QtInfoMsg)
} // namespace

// One connection attempt: its callers, ports and deadline. The timers of the attempt are its children, and
// every one of them checks that its attempt is still the current one, so that nothing scheduled for an attempt
// outlives it.
struct LrPluginBridge::Attempt : QObject {
    explicit Attempt(QObject* parent) : QObject(parent) {}
    std::vector<StateCallback> callers;
    quint16 sendToPluginOn = 0;
    quint16 receiveFromPluginOn = 0;
    bool retries = false;
    bool launchedEditor = false;
    QDeadlineTimer deadline = QDeadlineTimer::Forever;
    QTimer* hardDeadline = nullptr;
    QTimer* ready = nullptr;
};

namespace {

LrPluginBridge* gShared = nullptr;

} // namespace

LrPluginBridge::LrPluginBridge(Workspace& workspace, RunningApplications& applications, Options options,
                               QObject* parent)
    : QObject(parent), m_workspace(workspace), m_applications(applications), m_options(std::move(options)), m_inputBuffer(m_options.maxReplyLineLength)
{
    refreshLightroomIsRunning();
    if (m_options.runningPollInterval.count() > 0) {
        // The desktop announces no application launches or exits, so the bridge looks for itself.
        m_runningPoll = new QTimer(this);
        m_runningPoll->setInterval(m_options.runningPollInterval);
        connect(m_runningPoll, &QTimer::timeout, this, &LrPluginBridge::refreshLightroomIsRunning);
        m_runningPoll->start();
    }
}

LrPluginBridge::~LrPluginBridge()
{
    if (gShared == this)
        gShared = nullptr;
    for (QTcpSocket* socket : {m_readStream.data(), m_writeStream.data()})
        if (socket)
            QObject::disconnect(socket, nullptr, this, nullptr);
}

LrPluginBridge::Options LrPluginBridge::standardOptions(UserDefaults& defaults)
{
    Options options;
    const QString identifier = defaults.stringForKey(applicationIdentifierDefaultsKey());
    if (!identifier.trimmed().isEmpty())
        options.lightroomBundleIdentifier = identifier.trimmed();
    return options;
}

LrPluginBridge& LrPluginBridge::shared()
{
    if (!gShared)
        qFatal("LrPluginBridge::shared() was asked for before a bridge was installed with LrPluginBridge::setShared()");
    return *gShared;
}

void LrPluginBridge::setShared(LrPluginBridge* bridge) { gShared = bridge; }

QString LrPluginBridge::defaultApplicationIdentifier()
{
    return appIdentifierPrefix() + QStringLiteral(".ReferenceEditor");
}

QString LrPluginBridge::defaultModulesFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    return QDir(data).filePath(QStringLiteral("Adobe/Lightroom/Modules"));
}

QString LrPluginBridge::bundledPluginLocation()
{
    return QStringLiteral(":/lightroom/") + lightroomPluginFileName();
}

QString LrPluginBridge::startUrlText(quint16 sendToPluginOn, quint16 receiveFromPluginOn)
{
    return QStringLiteral("lightroom://%1/start?receiveCommandsPort=%2&sendResponsesPort=%3")
        .arg(pluginIdentifier())
        .arg(sendToPluginOn)
        .arg(receiveFromPluginOn);
}

void LrPluginBridge::log(const QString& message) const
{
    qCDebug(lcEditorLink).noquote() << message;
}

void LrPluginBridge::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    log(QStringLiteral("State is now ") + describe(state));
    emit stateChanged(state);
}

// ---------------------------------------------------------------------------------------------------------------
// The editor and the plug-in folder

std::optional<QString> LrPluginBridge::pluginInstallLocation() const
{
    if (m_options.modulesFolder.isEmpty())
        return std::nullopt;
    return QDir(m_options.modulesFolder).filePath(lightroomPluginFileName());
}

bool LrPluginBridge::lightroomIsInstalled() const
{
    return workspace().locateApplication(m_options.lightroomBundleIdentifier).has_value();
}

bool LrPluginBridge::pluginIsInstalled() const
{
    const std::optional<QString> location = pluginInstallLocation();
    return location && PluginInstaller::isInstalled(*location);
}

void LrPluginBridge::refreshLightroomIsRunning()
{
    const bool running = !applications().instances(m_options.lightroomBundleIdentifier).empty();
    if (running == m_lightroomIsRunning)
        return;
    m_lightroomIsRunning = running;
    emit lightroomIsRunningChanged(running);
}

void LrPluginBridge::quitLightroom(std::function<void()> callback)
{
    const std::vector<qint64> instances = applications().instances(m_options.lightroomBundleIdentifier);
    if (instances.empty() || !applications().terminate(instances.front())) {
        callback();
        return;
    }
    const qint64 pid = instances.front();
    log(QStringLiteral("Waiting for Lightroom to quit"));
    const QDeadlineTimer deadline(m_options.timings.quitTimeout);
    auto* poll = new QTimer(this);
    poll->setInterval(m_options.timings.quitPollInterval);
    connect(poll, &QTimer::timeout, this, [this, poll, pid, deadline, callback = std::move(callback)] {
        if (!applications().isTerminated(pid) && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        refreshLightroomIsRunning();
        callback();
    });
    poll->start();
}

std::optional<Error> LrPluginBridge::installOrUpdatePlugin(const QString& source)
{
    const std::optional<QString> location = pluginInstallLocation();
    std::optional<Error> error = location
        ? PluginInstaller::install(source, *location)
        : Error(PluginInstaller::errorDomain(), PluginInstaller::CannotCreateFolder,
                QStringLiteral("There is no folder to install the plug-in into."));
    emit pluginIsInstalledChanged(pluginIsInstalled());
    return error;
}

std::optional<Error> LrPluginBridge::uninstallPlugin()
{
    const std::optional<QString> location = pluginInstallLocation();
    std::optional<Error> error = location ? PluginInstaller::uninstall(*location) : std::nullopt;
    emit pluginIsInstalledChanged(pluginIsInstalled());
    return error;
}

// ---------------------------------------------------------------------------------------------------------------
// Launching and connecting

void LrPluginBridge::launchLightroomAndConnectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn,
                                                       std::chrono::milliseconds timeout, StateCallback callback)
{
    if (!lightroomIsInstalled()) {
        callback(m_state);
        return;
    }
    if (joinAttemptOrAnswer(callback))
        return;
    Attempt* attempt = beginAttempt(std::move(callback), sendToPluginOn, receiveFromPluginOn, timeout);
    refreshLightroomIsRunning();
    if (!m_lightroomIsRunning) {
        log(QStringLiteral("Launching Lightroom"));
        if (workspace().launchApplication(m_options.lightroomBundleIdentifier)) {
            finishAttempt(State::notConnected);
            return;
        }
        attempt->launchedEditor = true;
    }
    // Give the editor time to start before asking its plug-in to listen; an editor already running gets the
    // same time, which its plug-in may need as well.
    QTimer::singleShot(m_options.timings.launchWait, attempt, [this, attempt, timeout] {
        if (m_attempt != attempt)
            return;
        startPluginServer(attempt->sendToPluginOn, attempt->receiveFromPluginOn);
        armDeadline(attempt, timeout);
        openConnections();
    });
}

void LrPluginBridge::startPluginServer(quint16 sendToPluginOn, quint16 receiveFromPluginOn)
{
    const QUrl url(startUrlText(sendToPluginOn, receiveFromPluginOn));
    if (!url.isValid())
        return;
    log(QStringLiteral("Attempting to start plugin server at ") + url.toString());
    if (!workspace().openUrl(url))
        log(QStringLiteral("Attempt to start plugin server by opening URL failed!"));
}

void LrPluginBridge::connectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn, StateCallback callback)
{
    if (joinAttemptOrAnswer(callback))
        return;
    Attempt* attempt = beginAttempt(std::move(callback), sendToPluginOn, receiveFromPluginOn, std::nullopt);
    // Even a single try must end: a connection the other side never accepts would otherwise wait for ever.
    armDeadline(attempt, kLrPluginConnectTimeout);
    openConnections();
}

void LrPluginBridge::connectToPlugin(quint16 sendToPluginOn, quint16 receiveFromPluginOn,
                                     std::chrono::milliseconds timeout, StateCallback callback)
{
    if (joinAttemptOrAnswer(callback))
        return;
    Attempt* attempt = beginAttempt(std::move(callback), sendToPluginOn, receiveFromPluginOn, timeout);
    armDeadline(attempt, timeout);
    openConnections();
}

bool LrPluginBridge::joinAttemptOrAnswer(StateCallback& callback)
{
    if (m_attempt) {
        m_attempt->callers.push_back(std::move(callback));
        return true;
    }
    // A link that is closing is gone already as far as a new caller is concerned.
    finishPendingCloseNow();
    if (m_state == State::connected) {
        callback(m_state);
        return true;
    }
    return false;
}

LrPluginBridge::Attempt* LrPluginBridge::beginAttempt(StateCallback callback, quint16 sendToPluginOn,
                                                      quint16 receiveFromPluginOn,
                                                      std::optional<std::chrono::milliseconds> retryUntil)
{
    // A link still closing from a disconnect closes now, so that the new attempt starts from nothing.
    finishPendingCloseNow();
    auto* attempt = new Attempt(this);
    attempt->callers.push_back(std::move(callback));
    attempt->sendToPluginOn = sendToPluginOn;
    attempt->receiveFromPluginOn = receiveFromPluginOn;
    attempt->retries = retryUntil.has_value();
    m_attempt = attempt;
    setState(State::connecting);
    return attempt;
}

void LrPluginBridge::armDeadline(Attempt* attempt, std::chrono::milliseconds timeout)
{
    attempt->deadline = QDeadlineTimer(timeout);
    attempt->hardDeadline = new QTimer(attempt);
    attempt->hardDeadline->setSingleShot(true);
    attempt->hardDeadline->setTimerType(Qt::PreciseTimer);
    connect(attempt->hardDeadline, &QTimer::timeout, attempt, [this, attempt] {
        if (m_attempt != attempt)
            return;
        // Both connections may already be up and only the ready report outstanding.
        const bool up = m_writeStream && m_readStream && m_writeStream->state() == QAbstractSocket::ConnectedState
            && m_readStream->state() == QAbstractSocket::ConnectedState;
        log(up ? QStringLiteral("Connection attempt succeeded")
               : QStringLiteral("Recursive connection attempt failed and timeout reached. Cancelling."));
        finishAttempt(up ? State::connected : State::notConnected);
    });
    attempt->hardDeadline->start(timeout);
}

void LrPluginBridge::openConnections()
{
    log(QStringLiteral("Attempting to connect"));
    if (m_writeStream) {
        retireSocket(m_writeStream);
        log(QStringLiteral("Write stream existed — closed."));
    }
    if (m_readStream) {
        retireSocket(m_readStream);
        log(QStringLiteral("Read stream existed — closed."));
    }
    // Bytes left over from an earlier connection belong to no reply of this one.
    m_inputBuffer.clear();

    auto* writeStream = new QTcpSocket(this);
    auto* readStream = new QTcpSocket(this);
    m_writeStream = writeStream;
    m_readStream = readStream;
    for (QTcpSocket* socket : {writeStream, readStream}) {
        connect(socket, &QTcpSocket::connected, this, &LrPluginBridge::onSocketConnected);
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onSocketProblem(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onSocketProblem(socket); });
    }
    connect(readStream, &QTcpSocket::readyRead, this, &LrPluginBridge::onReplyBytes);
    emit connectionTryStarted();
    log(QStringLiteral("Creation of streams succeeded."));
    writeStream->connectToHost(QHostAddress(QHostAddress::LocalHost), m_attempt->sendToPluginOn);
    readStream->connectToHost(QHostAddress(QHostAddress::LocalHost), m_attempt->receiveFromPluginOn);
}

void LrPluginBridge::onSocketConnected()
{
    if (!m_writeStream || !m_readStream || m_writeStream->state() != QAbstractSocket::ConnectedState
        || m_readStream->state() != QAbstractSocket::ConnectedState)
        return;
    setState(State::connected);
    Attempt* attempt = m_attempt;
    if (!attempt)
        return;
    // The plug-in gets a moment between accepting and the first request.
    if (!attempt->ready) {
        attempt->ready = new QTimer(attempt);
        attempt->ready->setSingleShot(true);
        connect(attempt->ready, &QTimer::timeout, attempt, [this, attempt] {
            if (m_attempt != attempt || m_state != State::connected)
                return;
            log(QStringLiteral("Output stream now ready for requests"));
            log(QStringLiteral("Connection attempt succeeded"));
            finishAttempt(State::connected);
        });
    }
    attempt->ready->start(m_options.timings.readyDelay);
}

void LrPluginBridge::onSocketProblem(QTcpSocket* socket)
{
    if (socket != m_writeStream && socket != m_readStream)
        return;
    if (socket->error() != QAbstractSocket::UnknownSocketError) {
        m_connectionError = socket->errorString();
        log(QStringLiteral("Connection error is now ") + *m_connectionError);
    }
    if (m_attempt && m_attempt->ready)
        m_attempt->ready->stop();
    scheduleClose({});
}

void LrPluginBridge::onReplyBytes()
{
    QTcpSocket* readStream = m_readStream;
    if (!readStream)
        return;
    const QList<QByteArray> lines = m_inputBuffer.append(readStream->readAll());
    for (const QByteArray& line : lines)
        handleResponseLine(line);
    if (m_inputBuffer.overflowed() && m_readStream == readStream) {
        m_connectionError = QStringLiteral("A reply line from the plug-in is too long.");
        scheduleClose({});
    }
}

void LrPluginBridge::tryFailed()
{
    Attempt* attempt = m_attempt;
    if (!attempt->retries || attempt->deadline.hasExpired()) {
        finishAttempt(State::notConnected);
        return;
    }
    log(QStringLiteral("Recursive connection attempt failed. Trying again."));
    QTimer::singleShot(m_options.timings.retryDelay, attempt, [this, attempt] {
        if (m_attempt == attempt)
            openConnections();
    });
}

void LrPluginBridge::retireAttempt(Attempt* attempt)
{
    // Its own timers may be what is running now; every one of them checks that its attempt is current.
    for (QTimer* timer : attempt->findChildren<QTimer*>())
        timer->stop();
    attempt->deleteLater();
}

void LrPluginBridge::finishAttempt(State result)
{
    Attempt* attempt = m_attempt;
    if (!attempt)
        return;
    m_attempt = nullptr;
    std::vector<StateCallback> callers = std::move(attempt->callers);
    const bool launchedEditor = attempt->launchedEditor;
    retireAttempt(attempt);

    if (result == State::connected) {
        setState(State::connected);
    } else {
        if (m_writeStream || m_readStream)
            closeStreams();
        setState(State::notConnected);
    }
    if (launchedEditor) {
        QTimer::singleShot(m_options.timings.hideDelay, this, [this] {
            const std::vector<qint64> instances = applications().instances(m_options.lightroomBundleIdentifier);
            if (!instances.empty())
                applications().hide(instances.front());
        });
    }
    for (const StateCallback& caller : callers)
        if (caller)
            caller(result);
}

// ---------------------------------------------------------------------------------------------------------------
// Disconnecting and closing

void LrPluginBridge::disconnectFromPlugin(StateCallback callback)
{
    if (m_state == State::notConnected && !m_attempt && !m_closeTimer) {
        log(QStringLiteral("Asked to disconnect to plugin but state is ") + describe(m_state) + QStringLiteral(". Cancelling."));
        if (callback)
            callback(m_state);
        return;
    }
    // The attempt ends here; its callers hear the outcome once the link has closed.
    if (Attempt* attempt = m_attempt) {
        m_attempt = nullptr;
        std::vector<StateCallback> callers = std::move(attempt->callers);
        retireAttempt(attempt);
        scheduleClose([callers = std::move(callers)](State) {
            for (const StateCallback& caller : callers)
                if (caller)
                    caller(State::notConnected);
        });
    }
    scheduleClose(std::move(callback));
}

void LrPluginBridge::scheduleClose(StateCallback callback)
{
    if (callback)
        m_closeCallbacks.push_back(std::move(callback));
    if (m_closeTimer)
        return;
    // Asked once per close, however many reasons to close arrive.
    sendRequestWithoutReply(QVariantMap{{QStringLiteral("message"), QStringLiteral("stopServer")}});
    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    connect(m_closeTimer, &QTimer::timeout, this, &LrPluginBridge::runClose);
    m_closeTimer->start(m_options.timings.closeDelay);
}

void LrPluginBridge::finishPendingCloseNow()
{
    if (!m_closeTimer)
        return;
    m_closeTimer->stop();
    runClose();
}

void LrPluginBridge::runClose()
{
    if (QTimer* timer = m_closeTimer) {
        m_closeTimer = nullptr;
        timer->deleteLater();
    }
    closeStreams();
    log(QStringLiteral("Disconnected."));
    std::vector<StateCallback> callbacks = std::move(m_closeCallbacks);
    m_closeCallbacks.clear();
    if (m_attempt)
        tryFailed();
    for (const StateCallback& callback : callbacks)
        callback(m_state);
}

void LrPluginBridge::closeStreams()
{
    if (m_readStream)
        retireSocket(m_readStream);
    if (m_writeStream)
        retireSocket(m_writeStream);
    m_readStream = nullptr;
    m_writeStream = nullptr;
    setState(m_attempt ? State::connecting : State::notConnected);
    failAllPending(RequestError::notConnected);
}

void LrPluginBridge::retireSocket(QTcpSocket* socket)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (socket == m_writeStream)
        m_writeStream = nullptr;
    if (socket == m_readStream)
        m_readStream = nullptr;
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Let a last request (stopServer) leave before the connection goes.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QTimer::singleShot(m_options.timings.closeDelay, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

// ---------------------------------------------------------------------------------------------------------------
// Requests and replies

void LrPluginBridge::failAllPending(RequestError::Kind kind)
{
    std::map<qint64, PendingRequest> pending;
    pending.swap(m_pending);
    for (auto& [context, request] : pending) {
        delete request.timeout;
        request.handler(RequestError{kind, {}}, std::nullopt);
    }
}

void LrPluginBridge::sendRequest(const QVariantMap& request, ReplyHandler handler)
{
    if (m_state != State::connected || !m_writeStream) {
        log(QStringLiteral("Asked to send request but state is ") + describe(m_state) + QStringLiteral(". Cancelling."));
        handler(RequestError{RequestError::notConnected, {}}, std::nullopt);
        return;
    }
    const qint64 context = m_messageId++;
    const std::optional<QByteArray> line = PluginMessages::encodeRequest(request, context);
    if (!line) {
        log(QStringLiteral("Asked to send request but JSON encoding failed. Cancelling."));
        handler(RequestError{RequestError::remoteOperationFailed, {}}, std::nullopt);
        return;
    }
    auto* timeout = new QTimer(this);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, context] {
        auto it = m_pending.find(context);
        if (it == m_pending.end())
            return;
        ReplyHandler expired = std::move(it->second.handler);
        it->second.timeout->deleteLater();
        m_pending.erase(it);
        expired(RequestError{RequestError::timedOut, {}}, std::nullopt);
    });
    m_pending[context] = PendingRequest{std::move(handler), timeout};
    timeout->start(m_options.timings.requestTimeout);
    log(QStringLiteral("Sending request: ") + QString::fromUtf8(line->trimmed()));
    m_writeStream->write(*line);
}

void LrPluginBridge::sendRequestWithoutReply(const QVariantMap& request)
{
    if (m_state != State::connected || !m_writeStream)
        return;
    const std::optional<QByteArray> line = PluginMessages::encodeRequest(request, m_messageId++);
    if (!line)
        return;
    log(QStringLiteral("Sending request: ") + QString::fromUtf8(line->trimmed()));
    m_writeStream->write(*line);
}

void LrPluginBridge::handleResponseLine(const QByteArray& line)
{
    const std::optional<PluginMessages::Reply> reply = PluginMessages::parseReplyLine(line);
    if (!reply) {
        qCWarning(lcEditorLink).noquote() << "Unknown response!";
        return;
    }
    log(QStringLiteral("Got message response: ") + QString::fromUtf8(line.trimmed()));
    auto it = m_pending.find(reply->context);
    if (it == m_pending.end())
        return;
    PendingRequest request = std::move(it->second);
    m_pending.erase(it);
    delete request.timeout;
    request.handler(std::nullopt, reply->body);
}

void LrPluginBridge::sendCatalogPathRequest(
    const QVariantMap& request, std::function<void(std::optional<RequestError>, std::optional<QString>)> callback)
{
    sendRequest(request, [callback = std::move(callback)](std::optional<RequestError> error,
                                                          std::optional<QJsonObject> reply) {
        if (error || !reply)
            return callback(error ? error : RequestError{RequestError::invalidResponse, {}}, std::nullopt);
        auto result = PluginMessages::parseCatalogPathResponse(*reply);
        if (auto* failure = std::get_if<RequestError>(&result))
            return callback(*failure, std::nullopt);
        callback(std::nullopt, std::get<QString>(result));
    });
}

void LrPluginBridge::sendCatalogFoldersRequest(
    const QVariantMap& request, std::function<void(std::optional<RequestError>, std::optional<QStringList>)> callback)
{
    sendRequest(request, [callback = std::move(callback)](std::optional<RequestError> error,
                                                          std::optional<QJsonObject> reply) {
        if (error || !reply)
            return callback(error ? error : RequestError{RequestError::invalidResponse, {}}, std::nullopt);
        auto result = PluginMessages::parseCatalogFoldersResponse(*reply);
        if (auto* failure = std::get_if<RequestError>(&result))
            return callback(*failure, std::nullopt);
        callback(std::nullopt, std::get<QStringList>(result));
    });
}

namespace {

LrPluginBridge::ReplyHandler resultHandler(std::optional<LrPluginRequestError> (*mapping)(const QJsonObject&),
                                           std::function<void(std::optional<LrPluginRequestError>)> callback)
{
    return [mapping, callback = std::move(callback)](std::optional<LrPluginRequestError> error,
                                                     std::optional<QJsonObject> reply) {
        if (error || !reply)
            return callback(error ? error : LrPluginRequestError{LrPluginRequestError::invalidResponse, {}});
        callback(mapping(*reply));
    };
}

} // namespace

void LrPluginBridge::sendOperationStartedRequest(const QVariantMap& request,
                                                 std::function<void(std::optional<RequestError>)> callback)
{
    sendRequest(request, resultHandler(&PluginMessages::parseSuccessResponse, std::move(callback)));
}

void LrPluginBridge::sendAddImageRequest(const QVariantMap& request,
                                         std::function<void(std::optional<RequestError>)> callback)
{
    sendRequest(request, resultHandler(&PluginMessages::parseSuccessOrErrorResponse, std::move(callback)));
}

void LrPluginBridge::sendOperationEndedRequest(const QVariantMap& request,
                                               std::function<void(std::optional<RequestError>)> callback)
{
    sendRequest(request, resultHandler(&PluginMessages::parseSuccessResponse, std::move(callback)));
}

} // namespace vornakel
