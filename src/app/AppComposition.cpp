#include "app/AppComposition.h"

#include "app/SystemCollaborators.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "lightroom/LrPluginBridge.h"
#include "platform/camera/olympus/OlympusCamera.h"
#include "platform/camera/panasonic/PanasonicCamera.h"
#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/sony/SonyCameraDiscovery.h"
#include "platform/core/UserDefaults.h"
#include "platform/exiv2/Exiv2Library.h"
#include "platform/photolibrary/FolderPhotoLibrary.h"
#include "platform/services/HelpBook.h"
#include "platform/services/RunningApplications.h"
#include "platform/services/SoftwareUpdater.h"
#include "platform/services/Workspace.h"
#include "platform/wifi/WiFiInterface.h"
#include "sorting/PhotoSortingModel.h"

#include <QCoreApplication>

namespace vornakel {

CameraBackendRegistry AppComposition::cameraBackends()
{
    CameraBackendRegistry registry;
    // Real cameras are always searched for.
    registry.add(PtpIpCameraDiscovery::backendName(), [] { return std::make_unique<PtpIpCameraDiscovery>(); },
                 [] { return true; });
    registry.add(OlympusCameraDiscovery::backendName(), [] { return std::make_unique<OlympusCameraDiscovery>(); },
                 [] { return true; });
    registry.add(SonyCameraDiscovery::backendName(), [] { return std::make_unique<SonyCameraDiscovery>(); },
                 [] { return true; });
    registry.add(PanasonicCameraDiscovery::backendName(), [] { return std::make_unique<PanasonicCameraDiscovery>(); },
                 [] { return true; });
    // The simulated cameras join the default search only when the environment names camera folders.
    registry.add(SimulatedCameraDiscovery::backendName(), [] { return std::make_unique<SimulatedCameraDiscovery>(); },
                 [] { return !SimulatedCameraDiscovery::environmentCameraFolders().isEmpty(); });
    return registry;
}

Result<QString> AppComposition::chosenCameraBackend(const QString& requested)
{
    const CameraBackendRegistry registry = cameraBackends();
    QString name = requested.isEmpty() ? qEnvironmentVariable(qPrintable(cameraBackendVariable())) : requested;
    if (name.isEmpty())
        name = CameraBackendRegistry::defaultName();
    if (registry.contains(name))
        return name;
    const QStringList names = QStringList{CameraBackendRegistry::defaultName()} + registry.names();
    return Error(errorDomain(), UnknownCameraBackend,
                 QStringLiteral("There is no camera backend named \"%1\"; choose one of: %2.")
                     .arg(name, names.join(QStringLiteral(", "))));
}

Result<std::unique_ptr<AppComposition>> AppComposition::create(const QString& cameraBackend, Run run)
{
    Result<QString> name = chosenCameraBackend(cameraBackend);
    if (!name)
        return name.error();
    std::unique_ptr<VKLCameraDiscovery> discovery = cameraBackends().create(*name);
    if (!discovery) {
        return Error(errorDomain(), UnknownCameraBackend,
                     QStringLiteral("The camera backend \"%1\" could not be made.").arg(*name));
    }
    return std::unique_ptr<AppComposition>(new AppComposition(std::move(name).value(), std::move(discovery), run));
}

AppComposition::AppComposition(QString cameraBackendName, std::unique_ptr<VKLCameraDiscovery> discovery, Run run)
    : m_cameraBackendName(std::move(cameraBackendName)), m_userDefaults(UserDefaults::standard()),
      m_cameraDiscovery(std::move(discovery))
{
    // exiv2 is set up here, before any worker thread can reach it.
    Exiv2Library::initialize();

    // The simulated Wi-Fi offers the simulated cameras' own networks, and those of the camera folders that a test
    // camera under tools/ serves on 127.0.0.1 (VORNAKEL_SIMULATED_NETWORKS), so that their QR codes can be
    // joined and the camera then found as the network's gateway.
    auto networks = SimulatedCameraDiscovery::networksOfCameraFolders(SimulatedCameraDiscovery::environmentCameraFolders());
    for (SimulatedCameraNetwork network : SimulatedCameraDiscovery::networksOfCameraFolders(
             qEnvironmentVariable("VORNAKEL_SIMULATED_NETWORKS").split(QLatin1Char(':'), Qt::SkipEmptyParts))) {
        network.cameraAddress = QStringLiteral("127.0.0.1");
        networks.push_back(network);
    }
    SimulatedNetworkState::shared().setCameraNetworks(std::move(networks));

    VKLCameraDiscovery::setSharedInstance(m_cameraDiscovery.get());

    m_wifi = WiFiClient::makeSystemInterface();

    m_workspace = std::make_unique<SystemWorkspace>();
    m_runningApplications = std::make_unique<SystemRunningApplications>();
    m_photoLibrary = std::make_shared<FolderPhotoLibrary>();
    m_helpBook = std::make_unique<HelpBook>(*m_workspace);
    HelpBook::setShared(m_helpBook.get());
    m_softwareUpdater = std::make_unique<SoftwareUpdater>();

    const std::shared_ptr<WiFiInterface> wifi = m_wifi;
    m_autoLaunching = WiFiNetworkAutoLaunching::create(m_userDefaults, [wifi] { return wifi; },
                                                       WiFiNetworkAutoLaunching::defaultHelperProgramPath());
    WiFiNetworkAutoLaunching::setShared(m_autoLaunching.get());

    m_photoSorting = std::make_unique<PhotoSortingModel>(m_userDefaults);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_photoSorting.get(),
                         &PhotoSortingModel::applicationWillTerminate);
    }

    m_editorBridge = std::make_unique<LrPluginBridge>(*m_workspace, *m_runningApplications,
                                                      LrPluginBridge::standardOptions(m_userDefaults));
    LrPluginBridge::setShared(m_editorBridge.get());

    m_wifiNetworkPolicy = makeWiFiNetworkPolicy(*m_autoLaunching,
                                                run == Run::interactive ? HelperControl::followSetting : HelperControl::leaveAlone);
    m_imageCache = makeImageCachePurger();
    m_vendor = makeVendorFramework(*m_softwareUpdater, *m_workspace);
    m_help = makeHelpRegistration(*m_helpBook);
    m_versions = makeVersionInfoProvider();
}

AppComposition::~AppComposition()
{
    LrPluginBridge::setShared(nullptr);
    WiFiNetworkAutoLaunching::setShared(nullptr);
    HelpBook::setShared(nullptr);
    VKLCameraDiscovery::setSharedInstance(nullptr);
}

AppDelegate::Collaborators AppComposition::collaborators() const
{
    return {*m_wifiNetworkPolicy, *m_imageCache,  *m_vendor,  *m_help,
            *m_workspace,         m_userDefaults, *m_versions, makePreferencesPanes(*m_autoLaunching, *m_photoSorting, *m_editorBridge)};
}

std::unique_ptr<CameraScreens> AppComposition::makeCameraScreens() const
{
    return vornakel::makeCameraScreens(
        {*m_cameraDiscovery, m_wifi, *m_wifiNetworkPolicy, *m_autoLaunching, m_userDefaults});
}

std::unique_ptr<CopyFlowController> AppComposition::makeCopyFlow() const
{
    return vornakel::makeCopyFlow({m_userDefaults, *m_photoSorting, m_photoLibrary, *m_editorBridge, *m_workspace});
}

} // namespace vornakel
