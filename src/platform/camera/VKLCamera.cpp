#include "platform/camera/VKLCamera.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <array>
#include <cmath>
#include <limits>
#include <mutex>

namespace vornakel {

// ---- Errors -------------------------------------------------------------------------------------------------

namespace {

QString messageForCode(int code)
{
    switch (code) {
    case VKLErrorGeneric:
        return QStringLiteral("The camera reported an error.");
    case VKLErrorNotConnected:
        return QStringLiteral("The camera is not connected.");
    case VKLErrorConnectionLost:
        return QStringLiteral("The connection to the camera was lost.");
    case VKLErrorTimeout:
        return QStringLiteral("The camera did not answer in time.");
    case VKLErrorCancelled:
        return QStringLiteral("The operation was cancelled.");
    case VKLErrorFileNotFound:
        return QStringLiteral("The file is no longer on the camera.");
    case VKLErrorMetadataUnavailable:
        return QStringLiteral("The camera could not read the file's metadata.");
    case VKLErrorListingFailed:
        return QStringLiteral("The camera could not list the folder.");
    case VKLErrorCommandCategoryUnsupported:
        return QStringLiteral("The camera does not support this kind of access.");
    case VKLErrorCommandCategoryRefused:
        return QStringLiteral("The camera refused to switch to this kind of access.");
    case VKLErrorPairingRejected:
        return QStringLiteral("The pairing was rejected on the camera.");
    case VKLErrorOwnerGone:
        return QStringLiteral("The receiver of the operation is gone.");
    case VKLErrorBusy:
        return QStringLiteral("The camera is busy.");
    case VKLErrorCameraSoftwareTooOld:
        return QStringLiteral("The camera's software is too old.");
    case VKLErrorReadFailed:
        return QStringLiteral("The camera could not read the file.");
    default:
        return QStringLiteral("Unknown camera error.");
    }
}

} // namespace

Error errorWithVKLErrorCode(int code) { return Error(vklErrorDomain(), code, messageForCode(code)); }

// ---- Properties ---------------------------------------------------------------------------------------------

std::shared_ptr<VKLPropertyProxy> VKLPropertyProxies::proxy(unsigned propertyIdentifier)
{
    if (propertyIdentifier == VKLPropertyBatteryLevel)
        return m_batteryLevel;
    if (propertyIdentifier == VKLPropertyPowerSource)
        return m_powerSource;
    auto& proxy = m_others[propertyIdentifier];
    if (!proxy)
        proxy = std::make_shared<VKLPropertyProxy>(propertyIdentifier);
    return proxy;
}

// ---- Discovery ----------------------------------------------------------------------------------------------

namespace {

// What the program finds before the application has chosen a camera backend: nothing.
class NoCameraDiscovery final : public VKLCameraDiscovery {
public:
    void beginSearching() override {}
    void stopSearching() override {}
    Cameras cameras() const override { return {}; }
};

VKLCameraDiscovery*& installedDiscovery()
{
    static VKLCameraDiscovery* discovery = nullptr;
    return discovery;
}

} // namespace

VKLCameraDiscovery& VKLCameraDiscovery::sharedInstance()
{
    if (VKLCameraDiscovery* discovery = installedDiscovery())
        return *discovery;
    static NoCameraDiscovery* none = new NoCameraDiscovery; // never destroyed, like an installed one
    return *none;
}

void VKLCameraDiscovery::setSharedInstance(VKLCameraDiscovery* discovery) { installedDiscovery() = discovery; }

QMetaObject::Connection VKLCameraDiscovery::addDevicesChangedObserver(const QObject* receiver,
                                                                    DevicesChangedObserver observer)
{
    if (!receiver || !observer)
        return {};
    return connect(this, &VKLCameraDiscovery::devicesChanged, receiver, std::move(observer));
}

// ---- Library information ------------------------------------------------------------------------------------

namespace VKLLibrary {

QString shortVersionString() { return QStringLiteral("3.0"); }
QString bundleVersion() { return QStringLiteral("812"); }

QString verboseVersionString()
{
    return QStringLiteral("VornakelCore %1 (%2) simulated backend, built %3")
        .arg(shortVersionString(), bundleVersion(), QStringLiteral(__DATE__).simplified());
}

QueuePtr deliveryQueue()
{
    static const QueuePtr queue = DispatchQueue::createSerial(QStringLiteral("com.vornakel.core.delivery"));
    return queue;
}

} // namespace VKLLibrary

// ---- Network helper -----------------------------------------------------------------------------------------

namespace VKLNetworkConfigurationHelper {
namespace {

using Resolver = std::function<std::optional<QString>(const QString&)>;

std::mutex& resolverMutex()
{
    static std::mutex mutex;
    return mutex;
}

Resolver& resolverSlot()
{
    static Resolver resolver;
    return resolver;
}

QString& resolverInterfaceSlot()
{
    static QString name;
    return name;
}

constexpr unsigned kRouteUp = 0x1;
constexpr unsigned kRouteGateway = 0x2;

} // namespace

std::optional<QString> gatewayFromRouteTable(const QString& routeTable, const QString& interfaceName)
{
    std::optional<QString> best;
    unsigned bestMetric = std::numeric_limits<unsigned>::max();
    const QStringList lines = routeTable.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; addresses are hex in network byte order
        // as the kernel stores them, which reads as little-endian on the machines we run on.
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (fields.size() < 8 || fields[0] != interfaceName)
            continue;
        bool okDestination = false, okGateway = false, okFlags = false, okMetric = false, okMask = false;
        const uint destination = fields[1].toUInt(&okDestination, 16);
        const uint gateway = fields[2].toUInt(&okGateway, 16);
        const uint flags = fields[3].toUInt(&okFlags, 16);
        const uint metric = fields[6].toUInt(&okMetric, 10);
        const uint mask = fields[7].toUInt(&okMask, 16);
        if (!okDestination || !okGateway || !okFlags || !okMetric || !okMask)
            continue;
        if (destination != 0 || mask != 0 || gateway == 0 || (flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway))
            continue;
        if (best && metric >= bestMetric)
            continue;
        best = QStringLiteral("%1.%2.%3.%4")
                   .arg(gateway & 0xff)
                   .arg((gateway >> 8) & 0xff)
                   .arg((gateway >> 16) & 0xff)
                   .arg((gateway >> 24) & 0xff);
        bestMetric = metric;
    }
    return best;
}

std::optional<QString> ipAddressOfGatewayForInterface(const QString& interfaceName)
{
    Resolver resolver;
    {
        std::lock_guard lock(resolverMutex());
        resolver = resolverSlot();
    }
    if (resolver)
        return resolver(interfaceName);
    QFile file(QStringLiteral("/proc/net/route"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return gatewayFromRouteTable(QString::fromLatin1(file.readAll()), interfaceName);
}

void setGatewayResolver(std::function<std::optional<QString>(const QString&)> resolver, QString interfaceName)
{
    std::lock_guard lock(resolverMutex());
    resolverInterfaceSlot() = resolver ? std::move(interfaceName) : QString();
    resolverSlot() = std::move(resolver);
}

std::optional<QString> resolvedInterfaceName()
{
    std::lock_guard lock(resolverMutex());
    if (!resolverSlot() || resolverInterfaceSlot().isEmpty())
        return std::nullopt;
    return resolverInterfaceSlot();
}

} // namespace VKLNetworkConfigurationHelper

// ---- Shutter speed and aperture -----------------------------------------------------------------------------

namespace {

struct StandardValue {
    double value;
    const char* text;
};

// The standard third-stop series with the texts cameras show for them: fractions up to 1/3 s, seconds with a
// double prime from 0.4 s on. Values are the texts' nominal values; snapping compares ratios, so their rounding
// does not matter.
constexpr std::array<StandardValue, 61> kShutterSpeeds = {{
    {1.0 / 32000, "1/32000"}, {1.0 / 25000, "1/25000"}, {1.0 / 20000, "1/20000"}, {1.0 / 16000, "1/16000"},
    {1.0 / 12800, "1/12800"}, {1.0 / 10000, "1/10000"}, {1.0 / 8000, "1/8000"},   {1.0 / 6400, "1/6400"},
    {1.0 / 5000, "1/5000"},   {1.0 / 4000, "1/4000"},   {1.0 / 3200, "1/3200"},   {1.0 / 2500, "1/2500"},
    {1.0 / 2000, "1/2000"},   {1.0 / 1600, "1/1600"},   {1.0 / 1250, "1/1250"},   {1.0 / 1000, "1/1000"},
    {1.0 / 800, "1/800"},     {1.0 / 640, "1/640"},     {1.0 / 500, "1/500"},     {1.0 / 400, "1/400"},
    {1.0 / 320, "1/320"},     {1.0 / 250, "1/250"},     {1.0 / 200, "1/200"},     {1.0 / 160, "1/160"},
    {1.0 / 125, "1/125"},     {1.0 / 100, "1/100"},     {1.0 / 80, "1/80"},       {1.0 / 60, "1/60"},
    {1.0 / 50, "1/50"},       {1.0 / 40, "1/40"},       {1.0 / 30, "1/30"},       {1.0 / 25, "1/25"},
    {1.0 / 20, "1/20"},       {1.0 / 15, "1/15"},       {1.0 / 13, "1/13"},       {1.0 / 10, "1/10"},
    {1.0 / 8, "1/8"},         {1.0 / 6, "1/6"},         {1.0 / 5, "1/5"},         {1.0 / 4, "1/4"},
    {1.0 / 3, "1/3"},         {0.4, "0.4\""},           {0.5, "0.5\""},           {0.6, "0.6\""},
    {0.8, "0.8\""},           {1.0, "1\""},             {1.3, "1.3\""},           {1.6, "1.6\""},
    {2.0, "2\""},             {2.5, "2.5\""},           {3.0, "3\""},             {4.0, "4\""},
    {5.0, "5\""},             {6.0, "6\""},             {8.0, "8\""},             {10.0, "10\""},
    {13.0, "13\""},           {15.0, "15\""},           {20.0, "20\""},           {25.0, "25\""},
    {30.0, "30\""},
}};

constexpr std::array<StandardValue, 49> kApertures = {{
    {0.5, "f/0.5"}, {0.56, "f/0.56"}, {0.63, "f/0.63"}, {0.7, "f/0.7"}, {0.8, "f/0.8"}, {0.9, "f/0.9"},
    {1.0, "f/1"}, {1.1, "f/1.1"},   {1.2, "f/1.2"},   {1.4, "f/1.4"}, {1.6, "f/1.6"}, {1.8, "f/1.8"},
    {2.0, "f/2"},   {2.2, "f/2.2"},   {2.5, "f/2.5"},   {2.8, "f/2.8"}, {3.2, "f/3.2"}, {3.5, "f/3.5"},
    {4.0, "f/4"},   {4.5, "f/4.5"},   {5.0, "f/5"},     {5.6, "f/5.6"}, {6.3, "f/6.3"}, {7.1, "f/7.1"},
    {8.0, "f/8"},   {9.0, "f/9"},     {10.0, "f/10"},   {11.0, "f/11"}, {13.0, "f/13"}, {14.0, "f/14"},
    {16.0, "f/16"}, {18.0, "f/18"},   {20.0, "f/20"},   {22.0, "f/22"}, {25.0, "f/25"}, {29.0, "f/29"},
    {32.0, "f/32"}, {36.0, "f/36"},   {40.0, "f/40"},   {45.0, "f/45"}, {51.0, "f/51"}, {57.0, "f/57"},
    {64.0, "f/64"}, {72.0, "f/72"},   {81.0, "f/81"},   {90.0, "f/90"}, {102.0, "f/102"}, {114.0, "f/114"},
    {128.0, "f/128"},
}};

// The entry nearest to the value on a logarithmic scale (stops are ratios, not differences).
template <size_t N>
const StandardValue& nearest(const std::array<StandardValue, N>& table, double value)
{
    const StandardValue* best = &table[0];
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const StandardValue& entry : table) {
        const double distance = std::abs(std::log(value / entry.value));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = &entry;
        }
    }
    return *best;
}

constexpr double kLongestTabulatedShutter = 30.0;
constexpr double kLongestShutter = 3600.0;

} // namespace

std::optional<VKLShutterSpeedValue> VKLShutterSpeedValue::withApproximateDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > kLongestShutter)
        return std::nullopt;
    // Bulb exposures past the longest standard value have no third-stop series: whole seconds.
    if (seconds > kLongestTabulatedShutter * std::pow(2.0, 1.0 / 6.0))
        return VKLShutterSpeedValue(std::round(seconds));
    return VKLShutterSpeedValue(nearest(kShutterSpeeds, seconds).value);
}

std::optional<QString> VKLShutterSpeedValue::localizedDisplayValue() const
{
    if (m_duration > kLongestTabulatedShutter * std::pow(2.0, 1.0 / 6.0))
        return QStringLiteral("%1\"").arg(static_cast<qint64>(m_duration));
    return QString::fromUtf8(nearest(kShutterSpeeds, m_duration).text);
}

std::optional<VKLApertureValue> VKLApertureValue::withApproximateDecimalValue(double fNumber)
{
    if (!std::isfinite(fNumber) || fNumber < 0.5 || fNumber > 128.0)
        return std::nullopt;
    return VKLApertureValue(nearest(kApertures, fNumber).value);
}

std::optional<QString> VKLApertureValue::localizedDisplayValue() const
{
    return QString::fromUtf8(nearest(kApertures, m_fNumber).text);
}

} // namespace vornakel
