#pragma once

#include "lightroom/LrPluginBridge.h"
#include "reference-editor/ReferenceEditorPeer.h"
#include "support/FakeRunningApplications.h"
#include "support/RecordingWorkspace.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>

namespace vornakel::test {

// Two loopback ports nothing listens on at the moment of asking.
std::pair<quint16, quint16> freePorts();

// Collects the console lines the program prints while it lives.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    int count(const QString& line) const { return int(lines().count(line)); }
    QStringList lines() const;
};

// The editor as the desktop presents it: installed under the bridge's desktop id, launched by recording the
// launch and marking it running, and handing start addresses to the reference editor peer.
class EditorWorkspace : public RecordingWorkspace {
public:
    EditorWorkspace(FakeRunningApplications& applications, QString desktopId)
        : m_applications(applications), m_desktopId(std::move(desktopId)) {}

    bool openUrl(const QUrl& url) override
    {
        RecordingWorkspace::openUrl(url);
        if (peer)
            peer->handleUrl(url);
        return true;
    }
    std::optional<QString> locateApplication(const QString& application) const override
    {
        if (!installed || application != m_desktopId)
            return std::nullopt;
        return QStringLiteral("/usr/share/applications/") + application + QStringLiteral(".desktop");
    }
    std::optional<Error> launchApplication(const QString& application, const QStringList&) override
    {
        launched.push_back(application);
        if (refuseLaunch)
            return Error(errorDomain(), LaunchFailed);
        m_applications.running[application].push_back(4242);
        return std::nullopt;
    }

    tools::ReferenceEditorPeer* peer = nullptr;
    bool installed = true;
    bool refuseLaunch = false;
    std::vector<QString> launched;

private:
    FakeRunningApplications& m_applications;
    QString m_desktopId;
};

// A bridge on fast timings with a private modules folder, a fake desktop and a reference editor peer whose
// plug-in is installed.
struct BridgeFixture {
    BridgeFixture();

    // The fixture's options, for a test that needs a bridge with some delay of its own.
    LrPluginBridge::Options options();
    // A bridge over the fixture's desktop with the given options.
    std::unique_ptr<LrPluginBridge> makeBridge(LrPluginBridge::Options options);
    tools::ReferenceEditorPeer& makePeer(tools::ReferenceEditorFaults faults = {});
    // Serves on the fixture's ports now.
    tools::ReferenceEditorPeer& servingPeer(tools::ReferenceEditorFaults faults = {});
    // Connects with the deadline form and waits for the outcome.
    LrPluginState connectAndWait(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

    QTemporaryDir home;
    FakeRunningApplications applications;
    EditorWorkspace workspace;
    std::unique_ptr<LrPluginBridge> bridge;
    std::unique_ptr<tools::ReferenceEditorPeer> peer;
    quint16 requestPort = 0;
    quint16 responsePort = 0;
};

} // namespace vornakel::test
