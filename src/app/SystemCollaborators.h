#pragma once

#include "app/AppCollaborators.h"
#include "copying/ui/CopyFlowController.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/WiFiNetworkPolicy.h"

#include <memory>

namespace vornakel {

class HelpBook;
class LrPluginBridge;
class PhotoLibrary;
class PhotoSortingModel;
class SoftwareUpdater;
class UserDefaults;
class VKLCameraDiscovery;
class WiFiInterface;
class WiFiNetworkAutoLaunching;
class Workspace;

// The objects the running application uses for each collaborator, over the objects the composition point
// (AppComposition) built. Each maker below is the one place where the real object is chosen.
// Whether start-up and updates switch the login item and the Wi-Fi watcher helper to follow the auto-launch setting.
enum class HelperControl { followSetting, leaveAlone };
std::unique_ptr<WiFiNetworkPolicy> makeWiFiNetworkPolicy(WiFiNetworkAutoLaunching& autoLaunching,
                                                         HelperControl helperControl = HelperControl::followSetting);
std::unique_ptr<ImageCachePurger> makeImageCachePurger();
std::unique_ptr<VendorFramework> makeVendorFramework(SoftwareUpdater& updater, Workspace& workspace);
std::unique_ptr<HelpRegistration> makeHelpRegistration(HelpBook& book);
std::unique_ptr<VersionInfoProvider> makeVersionInfoProvider();
PreferencesPanes makePreferencesPanes(WiFiNetworkAutoLaunching& autoLaunching, PhotoSortingModel& sorting,
                                      LrPluginBridge& editorBridge);
// What the main window's contents are made over.
struct CameraScreensCollaborators {
    VKLCameraDiscovery& cameraDiscovery;
    std::shared_ptr<WiFiInterface> wifiInterface;
    WiFiNetworkPolicy& wifiPolicy;
    WiFiNetworkAutoLaunching& autoLaunching;
    UserDefaults& defaults;
};
// The maker of the main window's contents (the discovery screen and the connected camera's view), on the
// camera library's discovery, the process's Wi-Fi and webcam (or the images VORNAKEL_WEBCAM_IMAGES names).
std::unique_ptr<CameraScreens> makeCameraScreens(const CameraScreensCollaborators& collaborators);
// What the copy sheets' flow is made over.
struct CopyFlowCollaborators {
    UserDefaults& defaults;
    PhotoSortingModel& sorting;
    std::shared_ptr<PhotoLibrary> library;
    LrPluginBridge& editorBridge;
    Workspace& workspace;
};
// The copy sheets' flow: the destinations this computer offers (the folder; the photo library and the photo
// editor where they exist), logind's sleep inhibitor and the workspace.
std::unique_ptr<CopyFlowController> makeCopyFlow(const CopyFlowCollaborators& collaborators);

// A pane of the given size that stands in for one still being written.
std::unique_ptr<QWidget> makePlaceholderPane(const QString& objectName, const QSize& size);

// The application's own version values: VKL_VERSION and the build number set by the build.
BundleVersionInfo applicationBundleInfo();

} // namespace vornakel
