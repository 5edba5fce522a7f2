#include "app/SystemCollaborators.h"

#include "app/FeedbackDialog.h"
#include "app/HelpPageOpener.h"
#include "copying/destinations/ui/LibraryAndEditorOffers.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "discovery/ui/GeneralPreferencesWidget.h"
#include "lightroom/LrPluginBridge.h"
#include "lightroom/ui/AdvancedPreferencesViewController.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "model/ImageCache.h"
#include "model/Photo.h"
#include "platform/camera/VKLCamera.h"
#include "platform/power/SleepInhibitor.h"
#include "platform/services/Workspace.h"
#include "platform/services/HelpBook.h"
#include "platform/services/SoftwareUpdater.h"
#include "platform/services/UsageReport.h"
#include "platform/webcam/CameraFrameSource.h"
#include "platform/webcam/ImageFolderFrameSource.h"
#include "platform/wifi/WiFiInterface.h"
#include "sorting/PhotoSortingModel.h"
#include "sorting/editor/PhotoSortingViewController.h"

#include <QApplication>
#include <QPointer>
#include <QLoggingCategory>

#include <tuple>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcApp, "vornakel.app")

class AutoLaunchingWiFiNetworkPolicy : public WiFiNetworkPolicy {
public:
    AutoLaunchingWiFiNetworkPolicy(WiFiNetworkAutoLaunching& autoLaunching, HelperControl helperControl)
        : m_autoLaunching(autoLaunching), m_helperControl(helperControl)
    {
    }
    // The watcher was built by the composition point; nothing is left to create.
    void createSharedWatcher() override {}
    // Failures are reported on the console by the policy object itself.
    void enforceAutoLaunchSetting() override
    {
        // The policy reports its own failures on the console.
        if (m_helperControl == HelperControl::followSetting)
            std::ignore = m_autoLaunching.enforceAutoLaunchSetting();
    }
    void quitHelperIfRunning() override
    {
        if (m_helperControl == HelperControl::followSetting)
            m_autoLaunching.quitHelperIfRunning();
    }
    bool isCurrentWiFiGateway(const std::shared_ptr<VKLCamera>& camera) const override
    {
        return camera && m_autoLaunching.isCurrentWiFiGateway(*camera);
    }
    void disconnectFromCurrentWiFiNetwork(std::function<void()> completion) override
    {
        m_autoLaunching.disconnectFromCurrentWiFiNetworkInBackground(std::move(completion));
    }

private:
    WiFiNetworkAutoLaunching& m_autoLaunching;
    HelperControl m_helperControl;
};

// Purges off the GUI thread, so that the window shows without waiting for the walk; a quit ends the walk.
class CacheFolderPurger : public ImageCachePurger {
public:
    ~CacheFolderPurger() override { *m_stop = true; }
    void purgeOutOfDateThumbnailsAndPreviews() override
    {
        if (qApp)
            QObject::connect(qApp, &QCoreApplication::aboutToQuit, [stop = m_stop] { *stop = true; });
        ImageCache::purgeOutOfDateThumbnailsAndPreviewsInBackground(Photo::imageCachesDirectory(), Photo::now(), m_stop,
                                                                    {});
    }

private:
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
};

class LocalVendorFramework : public VendorFramework {
public:
    LocalVendorFramework(SoftwareUpdater& updater, Workspace& workspace) : m_updater(updater), m_workspace(workspace) {}
    void sendTrackingReport() override { UsageReport::sendTrackingReport(); }
    void setupIssuesController(bool reportingUnhandledIssues) override { IssueReporter::setup(reportingUnhandledIssues); }
    void setUpdaterDelegate(QObject* context, std::function<void()> willInstallUpdate) override
    {
        m_updater.setWillInstallUpdateHandler(context, std::move(willInstallUpdate));
    }
    void showFeedbackDialog(QWidget* parent) override
    {
        if (m_dialog) {
            m_dialog->raise();
            m_dialog->activateWindow();
            return;
        }
        auto* dialog = new FeedbackDialog(applicationBundleInfo().shortVersion.value_or(QString()), m_workspace, parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_dialog = dialog;
        dialog->show();
    }

private:
    SoftwareUpdater& m_updater;
    Workspace& m_workspace;
    QPointer<FeedbackDialog> m_dialog;
};

class LocalHelpRegistration : public HelpRegistration {
public:
    explicit LocalHelpRegistration(HelpBook& book) : m_book(book) {}
    void registerBooks() override
    {
        if (const auto error = m_book.registerBooks())
            qCWarning(lcApp, "Help pages not installed: %s", qPrintable(error->description()));
    }
    void openHelpAnchor(const QString& anchor, std::function<void(const QString&)> unavailable) override
    {
        if (!m_book.isRegistered())
            registerBooks();
        const std::optional<QUrl> page = m_book.urlForAnchor(anchor);
        if (!page) {
            if (unavailable)
                unavailable(m_book.installFolder());
            return;
        }
        m_opener.open(*page, [unavailable = std::move(unavailable), path = page->toLocalFile()](bool opened) {
            if (!opened && unavailable)
                unavailable(path);
        });
    }

private:
    HelpBook& m_book;
    HelpPageOpener m_opener;
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

std::unique_ptr<WiFiNetworkPolicy> makeWiFiNetworkPolicy(WiFiNetworkAutoLaunching& autoLaunching,
                                                         HelperControl helperControl)
{
    return std::make_unique<AutoLaunchingWiFiNetworkPolicy>(autoLaunching, helperControl);
}

std::unique_ptr<ImageCachePurger> makeImageCachePurger()
{
    return std::make_unique<CacheFolderPurger>();
}

std::unique_ptr<VendorFramework> makeVendorFramework(SoftwareUpdater& updater, Workspace& workspace)
{
    return std::make_unique<LocalVendorFramework>(updater, workspace);
}

std::unique_ptr<HelpRegistration> makeHelpRegistration(HelpBook& book)
{
    return std::make_unique<LocalHelpRegistration>(book);
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

PreferencesPanes makePreferencesPanes(WiFiNetworkAutoLaunching& autoLaunching, PhotoSortingModel& sorting,
                                      LrPluginBridge& editorBridge)
{
    PreferencesPanes panes;
    panes.general = [&autoLaunching] {
        std::unique_ptr<QWidget> pane = std::make_unique<GeneralPreferencesWidget>(autoLaunching);
        pane->setObjectName(QStringLiteral("GeneralPreferences"));
        return pane;
    };
    panes.photoSorting = [&sorting] { return std::make_unique<PhotoSortingViewController>(sorting); };
    panes.advanced = [&editorBridge] { return std::make_unique<AdvancedPreferencesViewController>(editorBridge); };
    return panes;
}

std::unique_ptr<CameraScreens> makeCameraScreens(const CameraScreensCollaborators& collaborators)
{
    WiFiNetworkAutoLaunching& autoLaunching = collaborators.autoLaunching;
    CameraDiscoveryEnvironment discovery(collaborators.cameraDiscovery);
    discovery.noteConnected = [&autoLaunching](const std::shared_ptr<VKLCamera>& camera) {
        if (camera)
            autoLaunching.noteConnectedTo(*camera);
    };
    discovery.wifi = [interface = collaborators.wifiInterface] { return interface; };
    // Leaving a network blocks until the system is done, so it happens on the policy's own queue; only the camera
    // network noted now is left.
    discovery.leaveWiFi = [&autoLaunching] { autoLaunching.disconnectFromCurrentWiFiNetworkInBackground({}); };
    discovery.frameSource = []() -> std::unique_ptr<VideoFrameSource> {
        const QString images = qEnvironmentVariable(qPrintable(ImageFolderFrameSource::environmentVariable()));
        if (!images.isEmpty())
            return std::make_unique<ImageFolderFrameSource>(images);
        return std::make_unique<CameraFrameSource>();
    };
    discovery.beep = [] { QApplication::beep(); };

    ConnectedCameraEnvironment connected;
    connected.wifi = &collaborators.wifiPolicy;
    connected.defaults = &collaborators.defaults;
    // The thumbnail grid; the copy flow becomes the copy entry point (makeCopyFlow).
    connected.makeBrowser = [](QWidget*) -> std::unique_ptr<PhotoBrowser> { return makeImageGrid(); };
    return std::make_unique<CameraScreens>(std::move(discovery), std::move(connected));
}

std::unique_ptr<CopyFlowController> makeCopyFlow(const CopyFlowCollaborators& collaborators)
{
    UserDefaults& defaults = collaborators.defaults;
    PhotoSortingModel& sorting = collaborators.sorting;
    CopySheetEnvironment environment(collaborators.workspace);
    environment.defaults = &defaults;
    environment.sleepInhibitor = SleepInhibitor::createSystem();
    environment.beep = [] { QApplication::beep(); };
    // Made once and kept by the flow, so a destination's settings and pane carry over from one copy to the next.
    auto libraryAndEditor = std::make_shared<LibraryAndEditorDestinations>(collaborators.library,
                                                                           collaborators.editorBridge, defaults, sorting);
    CopyDestinationOffers offers = [&defaults, &sorting, libraryAndEditor] {
        std::vector<CopyDestinationOffer> offered;
        offered.push_back(folderCopyDestinationOffer(defaults, sorting));
        for (CopyDestinationOffer& offer : libraryAndEditor->offers())
            offered.push_back(std::move(offer));
        return offered;
    };
    return std::make_unique<CopyFlowController>(std::move(offers), std::move(environment), sorting);
}

} // namespace vornakel
