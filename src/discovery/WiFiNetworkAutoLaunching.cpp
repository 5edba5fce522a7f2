#include "discovery/WiFiNetworkAutoLaunching.h"

#include "platform/camera/VKLCamera.h"
#include "platform/core/UserDefaults.h"
#include "platform/loginitems/HelperProcess.h"
#include "platform/loginitems/LoginItem.h"
#include "platform/wifi/WiFiInterface.h"

#include <QCoreApplication>
#include <QPointer>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QLoggingCategory>

#include <tuple>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcWifi, "vornakel.wifi")
} // namespace

namespace {

// Network names and addresses compare by canonical equivalence, letter case significant.
bool sameText(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

qsizetype indexOfText(const QStringList& list, const QString& text)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (sameText(list[i], text))
            return i;
    }
    return -1;
}

bool isGateway(const VKLCamera& camera, const std::shared_ptr<WiFiInterface>& interface)
{
    if (!interface)
        return false;
    const QString name = interface->interfaceName();
    if (name.isEmpty())
        return false;
    const auto gateway = VKLNetworkConfigurationHelper::ipAddressOfGatewayForInterface(name);
    const auto address = camera.service().ipv4Address;
    return gateway && address && !gateway->isEmpty() && sameText(*gateway, *address);
}

void leaveCameraNetwork(WiFiInterface& interface, const QString& cameraNetworkSSID)
{
    const auto current = interface.ssid();
    if (!current || !sameText(*current, cameraNetworkSSID))
        return;
    interface.disassociate();
    // Switching the power off and on makes the system rejoin the user's preferred network.
    if (interface.setPower(false))
        return;
    if (const auto error = interface.setPower(true))
        qCWarning(lcWifi, "Wi-Fi stays switched off after leaving the camera network: %s", qPrintable(error->description()));
}

} // namespace


QString WiFiNetworkAutoLaunching::helperBundleIdentifier()
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.wifi-watcher");
}

QString WiFiNetworkAutoLaunching::defaultHelperProgramPath()
{
    return helperProgramPath(QCoreApplication::applicationDirPath());
}

QString WiFiNetworkAutoLaunching::helperProgramPath(const QString& applicationDirectory)
{
    const QDir directory(applicationDirectory);
    const QString beside = directory.filePath(helperProgramName());
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QDir::cleanPath(directory.filePath(QStringLiteral(VKL_HELPER_DIR_FROM_BINDIR)) + QLatin1Char('/')
                           + helperProgramName());
}

namespace {
WiFiNetworkAutoLaunching* gInstalledPolicy = nullptr;
} // namespace

std::unique_ptr<WiFiNetworkAutoLaunching> WiFiNetworkAutoLaunching::create(UserDefaults& userDefaults,
                                                                           InterfaceProvider wifi,
                                                                           const QString& helperProgramPath)
{
    const QStringList arguments{QStringLiteral("--app"), QCoreApplication::applicationFilePath()};
    return std::make_unique<WiFiNetworkAutoLaunching>(
        userDefaults, std::move(wifi),
        std::make_unique<LoginItem>(helperBundleIdentifier(), QStringLiteral("Vornakel Transfer Helper"),
                                    helperProgramPath, arguments),
        std::make_unique<HelperProcess>(helperBundleIdentifier(), helperProgramPath, arguments));
}

WiFiNetworkAutoLaunching& WiFiNetworkAutoLaunching::shared()
{
    if (!gInstalledPolicy)
        qFatal("WiFiNetworkAutoLaunching::shared() was asked for before a policy was installed with "
               "WiFiNetworkAutoLaunching::setShared()");
    return *gInstalledPolicy;
}

void WiFiNetworkAutoLaunching::setShared(WiFiNetworkAutoLaunching* policy) { gInstalledPolicy = policy; }

WiFiNetworkAutoLaunching::WiFiNetworkAutoLaunching(UserDefaults& userDefaults, InterfaceProvider wifi,
                                                   std::unique_ptr<LoginItem> loginItem,
                                                   std::unique_ptr<HelperProcess> helper, QObject* parent)
    : QObject(parent), m_userDefaults(userDefaults), m_wifi(std::move(wifi)), m_loginItem(std::move(loginItem)),
      m_helper(std::move(helper)),
      m_wifiQueue(DispatchQueue::createSerial(appIdentifierPrefix() + QStringLiteral(".zediriri-zir.wifi")))
{
}

WiFiNetworkAutoLaunching::~WiFiNetworkAutoLaunching() = default;

bool WiFiNetworkAutoLaunching::shouldAutoLaunchWhenWatchedNetworksJoined() const
{
    return m_userDefaults.boolForKey(shouldAutoLaunchUserDefaultsKey);
}

void WiFiNetworkAutoLaunching::setShouldAutoLaunchWhenWatchedNetworksJoined(bool autoLaunch)
{
    m_userDefaults.setBool(shouldAutoLaunchUserDefaultsKey, autoLaunch);
    // A failure is logged by the enforcing itself, and observers hear the state it left.
    std::ignore = enforceAutoLaunchSetting();
}

std::optional<Error> WiFiNetworkAutoLaunching::enforceAutoLaunchSetting()
{
    const bool autoLaunch = shouldAutoLaunchWhenWatchedNetworksJoined();
    std::optional<Error> error = m_loginItem->setEnabled(autoLaunch);
    if (!error) {
        // The helper reads the setting from the defaults file, so it must be on disk before it starts.
        m_userDefaults.synchronize();
        if (autoLaunch)
            error = launchHelperIfNeeded();
        else
            quitHelperIfRunning();
    }
    if (error)
        qCWarning(lcWifi, "Could not %s automatic launching on camera networks: %s", autoLaunch ? "switch on" : "switch off",
                 qPrintable(error->description()));
    emit autoLaunchStateChanged();
    return error;
}

bool WiFiNetworkAutoLaunching::isAutoLaunchActive() const { return m_loginItem->isEnabled() && helperIsRunning(); }

bool WiFiNetworkAutoLaunching::helperIsRunning() const { return m_helper->isRunning(); }

std::optional<Error> WiFiNetworkAutoLaunching::launchHelperIfNeeded()
{
    if (helperIsRunning())
        return std::nullopt;
    if (auto error = m_helper->launch())
        return error;
    QTimer::singleShot(m_helperStartCheckDelay, this, [this] {
        if (shouldAutoLaunchWhenWatchedNetworksJoined() && !helperIsRunning())
            qCWarning(lcWifi, "The Wi-Fi watcher %s stopped right after it was started.", qPrintable(m_helper->program()));
        emit autoLaunchStateChanged();
    });
    return std::nullopt;
}

void WiFiNetworkAutoLaunching::quitHelperIfRunning()
{
    if (helperIsRunning())
        m_helper->requestQuit();
}

QStringList WiFiNetworkAutoLaunching::watchedNetworkNames() const
{
    const QVariant value = m_userDefaults.object(watchedSSIDsUserDefaultsKey);
    // Anything but a list of strings reads as an empty list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return {};
    QStringList names;
    for (const QVariant& item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return {};
        names.append(item.toString());
    }
    return names;
}

void WiFiNetworkAutoLaunching::noteConnectedTo(const VKLCamera& camera, std::function<void()> done)
{
    const auto finish = [done] {
        if (done)
            done();
    };
    const auto interface = m_wifi ? m_wifi() : nullptr;
    if (!isGateway(camera, interface)) {
        finish();
        return;
    }
    // The network's name comes from the system's network service, which may take long to answer: it is read on
    // the policy's queue, where a later leave of the camera network waits for it.
    m_wifiQueue->async([interface, noted = m_notedNetwork, self = QPointer<WiFiNetworkAutoLaunching>(this), finish] {
        const std::optional<QString> ssid = interface->ssid();
        if (ssid && !ssid->isEmpty()) {
            std::lock_guard lock(noted->mutex);
            noted->ssid = ssid;
        }
        DispatchQueue::main()->async([self, ssid, finish] {
            if (self && ssid && !ssid->isEmpty()) {
                self->m_cameraNetworkSSID = ssid;
                QStringList names = self->watchedNetworkNames();
                if (indexOfText(names, *ssid) < 0) {
                    names.append(*ssid);
                    self->storeWatchList(names);
                }
            }
            finish();
        });
    });
}

bool WiFiNetworkAutoLaunching::isCurrentWiFiGateway(const VKLCamera& camera) const
{
    return isGateway(camera, m_wifi ? m_wifi() : nullptr);
}

void WiFiNetworkAutoLaunching::removeSSIDFromWatchList(const QString& ssid)
{
    QStringList names = watchedNetworkNames();
    const qsizetype index = indexOfText(names, ssid);
    if (index < 0)
        return;
    names.removeAt(index);
    storeWatchList(names);
}

void WiFiNetworkAutoLaunching::storeWatchList(const QStringList& names)
{
    m_userDefaults.setValue(watchedSSIDsUserDefaultsKey, names);
    m_userDefaults.synchronize();
    emit watchedNetworkNamesChanged();
}

void WiFiNetworkAutoLaunching::disconnectFromCurrentWiFiNetwork()
{
    if (m_cameraNetworkSSID)
        disconnectFromCurrentWiFiNetwork(*m_cameraNetworkSSID);
}

void WiFiNetworkAutoLaunching::disconnectFromCurrentWiFiNetwork(const QString& cameraNetworkSSID)
{
    if (const auto interface = m_wifi ? m_wifi() : nullptr)
        leaveCameraNetwork(*interface, cameraNetworkSSID);
}

void WiFiNetworkAutoLaunching::disconnectFromCurrentWiFiNetworkInBackground(std::function<void()> completion)
{
    const auto interface = m_wifi ? m_wifi() : nullptr;
    const auto finish = [completion = std::move(completion)] {
        if (completion)
            DispatchQueue::main()->async(completion);
    };
    if (!interface) {
        finish();
        return;
    }
    // Runs after any read of a connection's network still under way, and leaves the network it found.
    m_wifiQueue->async([interface, noted = m_notedNetwork, finish] {
        std::optional<QString> ssid;
        {
            std::lock_guard lock(noted->mutex);
            ssid = noted->ssid;
        }
        if (ssid)
            leaveCameraNetwork(*interface, *ssid);
        finish();
    });
}

} // namespace vornakel
