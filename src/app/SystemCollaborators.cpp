#include "app/SystemCollaborators.h"

#include "app/FeedbackDialog.h"
#include "copying/destinations/ui/LibraryAndEditorOffers.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "discovery/ui/GeneralPreferencesWidget.h"
#include "lightroom/LrPluginBridge.h"
#include "lightroom/ui/AdvancedPreferencesViewController.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "model/ImageCache.h"
#include "platform/camera/VKLCamera.h"
#include "platform/power/SleepInhibitor.h"
#include "platform/services/Workspace.h"
#include "platform/services/HelpBook.h"
#include "platform/services/SoftwareUpdater.h"
#include "platform/services/TouchBar.h"
#include "platform/services/UsageReport.h"
#include "platform/webcam/CameraFrameSource.h"
#include "platform/webcam/ImageFolderFrameSource.h"
#include "platform/wifi/WiFiInterface.h"
#include "sorting/PhotoSortingModel.h"
#include "sorting/editor/PhotoSortingViewController.h"

#include <QApplication>
#include <QPointer>

namespace vornakel {
namespace {

class SharedWiFiNetworkPolicy : public WiFiNetworkPolicy {
public:
    void createSharedWatcher() override { WiFiNetworkAutoLaunching::shared(); }
    // Failures are reported on the console by the policy object itself.
    void enforceAutoLaunchSetting() override { WiFiNetworkAutoLaunching::shared().enforceAutoLaunchSetting(); }
    void quitHelperIfRunning() override { WiFiNetworkAutoLaunching::shared().quitHelperIfRunning(); }
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>& camera) const override
    {
        return camera && vornakel::isCurrentWiFiGateway(*camera);
    }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        WiFiNetworkAutoLaunching::shared().disconnectFromCurrentWiFiNetworkInBackground(std::move(completion));
    }
};

class CacheFolderPurger : public ImageCachePurger {
public:
    void purgeOutOfDateThumbnailsAndPreviews() override { ImageCache::purgeOutOfDateThumbnailsAndPreviews(); }
};

class LocalVendorFramework : public VendorFramework {
public:
    void sendTrackingReport() override { UsageReport::sendTrackingReport(); }
    void setupIssuesController(bool reportingUnhandledIssues) override { IssueReporter::setup(reportingUnhandledIssues); }
    void setUpdaterDelegate(QObject* context, std::function<void()> willInstallUpdate) override
    {
        SoftwareUpdater::shared().setWillInstallUpdateHandler(context, std::move(willInstallUpdate));
    }
    void showFeedbackDialog(QWidget* parent) override
    {
        if (m_dialog) {
            m_dialog->raise();
            m_dialog->activateWindow();
            return;
        }
        auto* dialog = new FeedbackDialog(applicationBundleInfo().shortVersion.value_or(QString()), parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_dialog = dialog;
        dialog->show();
    }

private:
    QPointer<FeedbackDialog> m_dialog;
};

class LocalTouchBarSupport : public TouchBarSupport {
public:
    bool isAvailable() const override { return TouchBar::isAvailable(); }
    void setAutomaticCustomizeTouchBarMenuItemEnabled(bool enabled) override
    {
        TouchBar::setAutomaticCustomizeTouchBarMenuItemEnabled(enabled);
    }
};

class LocalHelpRegistration : public HelpRegistration {
public:
    void registerBooks() override
    {
        if (const auto error = HelpBook::shared().registerBooks())
            qWarning("Help pages not installed: %s", qPrintable(error->description()));
    }
    void openHelpAnchor(const QString& anchor) override { HelpBook::shared().openHelpAnchor(anchor); }
};

// The camera library's values come from the library itself, as its bundle would give them.
class LibraryVersionInfoProvider : public VersionInfoProvider {
public:
    BundleVersionInfo applicationInfo() const override { return applicationBundleInfo(); }
    BundleVersionInfo cameraLibraryInfo() const override
    {
        return {VKLLibrary::shortVersionString(), VKLLibrary::bundleVersion(), VKLLibrary::verboseVersionString()};
    }
};

} // namespace

BundleVersionInfo applicationBundleInfo()
{
    return {QStringLiteral(VKL_VERSION), QStringLiteral(VKL_BUILD_NUMBER), std::nullopt};
}

std::unique_ptr<WiFiNetworkPolicy> makeWiFiNetworkPolicy()
{
    return std::make_unique<SharedWiFiNetworkPolicy>();
}

std::unique_ptr<ImageCachePurger> makeImageCachePurger()
{
    return std::make_unique<CacheFolderPurger>();
}

std::unique_ptr<VendorFramework> makeVendorFramework()
{
    return std::make_unique<LocalVendorFramework>();
}

std::unique_ptr<TouchBarSupport> makeTouchBarSupport()
{
    return std::make_unique<LocalTouchBarSupport>();
}

std::unique_ptr<HelpRegistration> makeHelpRegistration()
{
    return std::make_unique<LocalHelpRegistration>();
}

std::unique_ptr<VersionInfoProvider> makeVersionInfoProvider()
{
    return std::make_unique<LibraryVersionInfoProvider>();
}

std::unique_ptr<QWidget> makePlaceholderPane(const QString& objectName, const QSize& size)
{
    auto pane = std::make_unique<QWidget>();
    pane->setObjectName(objectName);
    pane->resize(size);
    return pane;
}

PreferencesPanes makePreferencesPanes()
{
    PreferencesPanes panes;
    panes.general = [] {
        std::unique_ptr<QWidget> pane = std::make_unique<GeneralPreferencesWidget>(WiFiNetworkAutoLaunching::shared());
        pane->setObjectName(QStringLiteral("GeneralPreferences"));
        return pane;
    };
    panes.photoSorting = [] { return std::make_unique<PhotoSortingViewController>(PhotoSortingModel::shared()); };
    panes.advanced = [] { return std::make_unique<AdvancedPreferencesViewController>(LrPluginBridge::shared()); };
    return panes;
}

std::unique_ptr<CameraScreens> makeCameraScreens(WiFiNetworkPolicy& wifi, UserDefaults& defaults)
{
    CameraDiscoveryEnvironment discovery;
    discovery.noteConnected = [](const std::shared_ptr<VKLCamera>& camera) {
        if (camera)
            WiFiNetworkAutoLaunching::shared().noteConnectedTo(*camera);
    };
    discovery.wifi = [] { return WiFiClient::interface(); };
    discovery.leaveWiFi = [] {
        // Leaving a network blocks until the system is done; only the camera network noted now is left.
        const std::optional<QString> cameraNetwork = WiFiNetworkAutoLaunching::shared().cameraNetworkSSID();
        if (!cameraNetwork)
            return;
        DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([ssid = *cameraNetwork] {
            WiFiNetworkAutoLaunching::shared().disconnectFromCurrentWiFiNetwork(ssid);
        });
    };
    discovery.frameSource = []() -> std::unique_ptr<VideoFrameSource> {
        const QString images = qEnvironmentVariable(qPrintable(ImageFolderFrameSource::environmentVariable()));
        if (!images.isEmpty())
            return std::make_unique<ImageFolderFrameSource>(images);
        return std::make_unique<CameraFrameSource>();
    };
    discovery.beep = [] { QApplication::beep(); };

    ConnectedCameraEnvironment connected;
    connected.wifi = &wifi;
    connected.defaults = &defaults;
    // The thumbnail grid; the copy flow becomes the copy entry point (makeCopyFlow).
    connected.makeBrowser = [](QWidget*) -> std::unique_ptr<PhotoBrowser> { return makeImageGrid(); };
    return std::make_unique<CameraScreens>(std::move(discovery), std::move(connected));
}

std::unique_ptr<CopyFlowController> makeCopyFlow(UserDefaults& defaults)
{
    CopySheetEnvironment environment;
    environment.defaults = &defaults;
    environment.sleepInhibitor = SleepInhibitor::createSystem();
    environment.workspace = &Workspace::shared();
    environment.beep = [] { QApplication::beep(); };
    CopyDestinationOffers offers = [&defaults] {
        std::vector<CopyDestinationOffer> offered;
        offered.push_back(folderCopyDestinationOffer(defaults, PhotoSortingModel::shared()));
        for (CopyDestinationOffer& offer : libraryAndEditorOffers())
            offered.push_back(std::move(offer));
        return offered;
    };
    return std::make_unique<CopyFlowController>(std::move(offers), std::move(environment), PhotoSortingModel::shared());
}

} // namespace vornakel
