#include "LightroomTestSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QHostAddress>
#include <QMutex>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace vornakel::test {
namespace {

QMutex gConsoleMutex;
QStringList gConsole;
QtMessageHandler gPrevious = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&gConsoleMutex);
        gConsole << message;
    }
    if (gPrevious)
        gPrevious(type, context, message);
}

} // namespace

std::pair<quint16, quint16> freePorts()
{
    QTcpServer first;
    QTcpServer second;
    first.listen(QHostAddress::LocalHost, 0);
    second.listen(QHostAddress::LocalHost, 0);
    return {first.serverPort(), second.serverPort()};
}

ConsoleCapture::ConsoleCapture()
{
    QMutexLocker lock(&gConsoleMutex);
    gConsole.clear();
    gPrevious = qInstallMessageHandler(captureMessage);
}

ConsoleCapture::~ConsoleCapture()
{
    qInstallMessageHandler(gPrevious);
    QMutexLocker lock(&gConsoleMutex);
    gConsole.clear();
}

QStringList ConsoleCapture::lines() const
{
    QMutexLocker lock(&gConsoleMutex);
    return gConsole;
}

BridgeFixture::BridgeFixture()
    : workspace(applications, LrPluginBridge::defaultApplicationIdentifier())
{
    std::tie(requestPort, responsePort) = freePorts();
    bridge = makeBridge(options());
}

LrPluginBridge::Options BridgeFixture::options()
{
    LrPluginBridge::Options options;
    options.modulesFolder = home.filePath(QStringLiteral("Modules"));
    // A twentieth of the real delays: retries every 75 ms, launch wait 150 ms.
    options.timings = LrPluginBridgeTimings{}.scaledDown(20);
    options.runningPollInterval = std::chrono::milliseconds(0);
    return options;
}

std::unique_ptr<LrPluginBridge> BridgeFixture::makeBridge(LrPluginBridge::Options options)
{
    return std::make_unique<LrPluginBridge>(workspace, applications, std::move(options));
}

tools::ReferenceEditorPeer& BridgeFixture::makePeer(tools::ReferenceEditorFaults faults)
{
    if (!bridge->pluginIsInstalled()) {
        EXPECT_EQ(bridge->installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation()), std::nullopt);
    }
    tools::ReferenceEditorPeer::Options peerOptions;
    peerOptions.modulesFolder = home.filePath(QStringLiteral("Modules"));
    peerOptions.catalogFolder = home.filePath(QStringLiteral("Catalog"));
    peerOptions.folders = {home.filePath(QStringLiteral("Pictures"))};
    peerOptions.faults = std::move(faults);
    peer = std::make_unique<tools::ReferenceEditorPeer>(peerOptions);
    workspace.peer = peer.get();
    return *peer;
}

tools::ReferenceEditorPeer& BridgeFixture::servingPeer(tools::ReferenceEditorFaults faults)
{
    tools::ReferenceEditorPeer& serving = makePeer(std::move(faults));
    serving.startServing(requestPort, responsePort);
    return serving;
}

LrPluginState BridgeFixture::connectAndWait(std::chrono::milliseconds timeout)
{
    auto outcome = std::make_shared<std::optional<LrPluginState>>();
    bridge->connectToPlugin(requestPort, responsePort, timeout, [outcome](LrPluginState state) { *outcome = state; });
    runUntil([&] { return outcome->has_value(); }, timeout + std::chrono::milliseconds(5000));
    return outcome->value_or(LrPluginState::connecting);
}

} // namespace vornakel::test
