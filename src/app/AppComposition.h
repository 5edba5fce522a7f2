#pragma once

#include "app/AppCollaborators.h"
#include "app/AppDelegate.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/camera/CameraBackendRegistry.h"
#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QString>

#include <memory>

namespace vornakel {

class CopyFlowController;
class HelpBook;
class LrPluginBridge;
class PhotoLibrary;
class PhotoSortingModel;
class RunningApplications;
class SoftwareUpdater;
class UserDefaults;
class VKLCameraDiscovery;
class WiFiInterface;
class WiFiNetworkAutoLaunching;
class Workspace;

// The one place where the running application builds its process-wide objects and hands each to the objects
// that use it through their constructors. Only the objects the design reaches process-wide (the camera discovery,
// the help book behind every help button, the editor bridge and the Wi-Fi watcher) are also installed for their
// `shared()` accessors while it lives, and taken back when it goes.
// Build it on the main thread, after the QApplication.
class AppComposition {
public:
    // The environment variable that names the camera backend when the command line does not.
    static QString cameraBackendVariable() { return QStringLiteral("VORNAKEL_CAMERA_BACKEND"); }
    // The backends this program carries; the first is the default.
    static CameraBackendRegistry cameraBackends();

    static QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".composition"); }
    enum ErrorCode { UnknownCameraBackend = 1 };

    // The backend to build for the name given on the command line: an empty name takes the environment
    // variable's, else the default backend. An UnknownCameraBackend error, whose message names the backends
    // carried, for a backend not carried.
    [[nodiscard]] static Result<QString> chosenCameraBackend(const QString& requested);
    // How the application was started. A scripted run (the smoke test, the screenshots) leaves the user's login
    // item and Wi-Fi watcher helper alone: the helper outlives the application, and a run that only checks the
    // program must leave nothing behind.
    enum class Run { interactive, scripted };
    // An UnknownCameraBackend error when the chosen backend is not one of `cameraBackends()`.
    [[nodiscard]] static Result<std::unique_ptr<AppComposition>> create(const QString& cameraBackend,
                                                                        Run run = Run::interactive);
    ~AppComposition();

    AppComposition(const AppComposition&) = delete;
    AppComposition& operator=(const AppComposition&) = delete;

    const QString& cameraBackendName() const { return m_cameraBackendName; }
    VKLCameraDiscovery& cameraDiscovery() const { return *m_cameraDiscovery; }
    UserDefaults& userDefaults() const { return m_userDefaults; }
    // The computer's Wi-Fi interface; none for a computer without Wi-Fi.
    const std::shared_ptr<WiFiInterface>& wifiInterface() const { return m_wifi; }
    Workspace& workspace() const { return *m_workspace; }
    WiFiNetworkAutoLaunching& wifiPolicy() const { return *m_autoLaunching; }
    PhotoSortingModel& photoSorting() const { return *m_photoSorting; }
    LrPluginBridge& editorBridge() const { return *m_editorBridge; }
    const std::shared_ptr<PhotoLibrary>& photoLibrary() const { return m_photoLibrary; }

    // The application delegate's and main window's collaborators, over the objects built here.
    WiFiNetworkPolicy& wifiNetworkPolicy() const { return *m_wifiNetworkPolicy; }
    AppDelegate::Collaborators collaborators() const;
    // The main window's contents (the discovery screen and the connected camera's view) over the objects built here.
    std::unique_ptr<CameraScreens> makeCameraScreens() const;
    // The copy sheets' flow over the objects built here.
    std::unique_ptr<CopyFlowController> makeCopyFlow() const;

private:
    AppComposition(QString cameraBackendName, std::unique_ptr<VKLCameraDiscovery> discovery, Run run);

    QString m_cameraBackendName;
    UserDefaults& m_userDefaults;
    std::unique_ptr<VKLCameraDiscovery> m_cameraDiscovery;
    std::shared_ptr<WiFiInterface> m_wifi;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<RunningApplications> m_runningApplications;
    std::shared_ptr<PhotoLibrary> m_photoLibrary;
    std::unique_ptr<HelpBook> m_helpBook;
    std::unique_ptr<SoftwareUpdater> m_softwareUpdater;
    std::unique_ptr<WiFiNetworkAutoLaunching> m_autoLaunching;
    std::unique_ptr<PhotoSortingModel> m_photoSorting;
    std::unique_ptr<LrPluginBridge> m_editorBridge;
    std::unique_ptr<WiFiNetworkPolicy> m_wifiNetworkPolicy;
    std::unique_ptr<ImageCachePurger> m_imageCache;
    std::unique_ptr<VendorFramework> m_vendor;
    std::unique_ptr<HelpRegistration> m_help;
    std::unique_ptr<VersionInfoProvider> m_versions;
};

} // namespace vornakel
