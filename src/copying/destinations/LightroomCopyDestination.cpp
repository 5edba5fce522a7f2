#include "copying/destinations/LightroomCopyDestination.h"

#include "copying/PhotoVariantCopyOperation.h"
#include "lightroom/LrPluginBridge.h"
#include "platform/core/Error.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include <QFileInfo>

namespace vornakel {

QString LightroomCopyDestination::lightroomGroupingBehaviourUserDefaultsKey()
{
    return QStringLiteral("LightroomGroupingBehaviour");
}

QString LightroomCopyDestination::lightroomSortingUserDefaultsKey() { return QStringLiteral("LightroomSortingPreset"); }

LightroomCopyDestination::LightroomCopyDestination(LrPluginBridge& bridge, UserDefaults& defaults,
                                                   const PhotoSortingModel& presets)
    : m_bridge(bridge), m_defaults(defaults)
{
    const QString presetId = defaults.stringForKey(lightroomSortingUserDefaultsKey());
    if (!presetId.isEmpty())
        m_sorting = presets.preset(presetId);
    if (!m_sorting)
        m_sorting = UserDefinedPhotoSorting::byPaddedNumericDate();
}

LightroomCopyDestination::Ptr LightroomCopyDestination::create(LrPluginBridge& bridge, UserDefaults& defaults,
                                                               const PhotoSortingModel& presets)
{
    return Ptr(new LightroomCopyDestination(bridge, defaults, presets));
}

std::shared_ptr<LightroomCopyDestination> LightroomCopyDestination::sharedSelf()
{
    return std::static_pointer_cast<LightroomCopyDestination>(shared_from_this());
}

QString LightroomCopyDestination::name() const { return GeneralUI::text(QStringLiteral("LightroomDestinationName")); }

QString LightroomCopyDestination::identifier() const
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.copy-destination.lightroom");
}

PhotoCopyQueueOptions LightroomCopyDestination::copyQueueOptions()
{
    return {sharedSelf(), storedFileGroupBehaviour(m_defaults, lightroomGroupingBehaviourUserDefaultsKey(), FileGroupBehaviour::copyAll)};
}

void LightroomCopyDestination::setSorting(UserDefinedPhotoSortingPtr sorting)
{
    if (sorting)
        m_sorting = std::move(sorting);
}

void LightroomCopyDestination::setDestinationUrl(std::optional<QUrl> url)
{
    m_destinationUrl = std::move(url);
    setCurrentConfigurationAllowsCopyToStart(m_destinationUrl.has_value());
    emit destinationUrlChanged();
}

void LightroomCopyDestination::setPorts(quint16 sendToPluginOn, quint16 receiveFromPluginOn)
{
    m_requestPort = sendToPluginOn;
    m_responsePort = receiveFromPluginOn;
}

void LightroomCopyDestination::copyDestinationInstanceWillNotBeUsed()
{
    m_bridge.disconnectFromPlugin([](LrPluginState) {});
    m_hasCommunicated = false;
}

void LightroomCopyDestination::copySessionShouldStart(const Variants& variants,
                                                      std::function<void(bool)> completionHandler)
{
    m_refusalMessage.clear();
    m_report = {};
    m_filesNotAdded = 0;
    const qint64 fileCount = qint64(variants.size());
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    const auto answer = [completionHandler](bool start) {
        if (completionHandler)
            completionHandler(start);
    };
    m_bridge.launchLightroomAndConnectToPlugin(m_requestPort, m_responsePort, kLrPluginConnectTimeout,
                                               [weak, fileCount, answer](LrPluginState state) {
        auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock());
        if (!self) {
            answer(false);
            return;
        }
        if (state != LrPluginState::connected) {
            self->m_refusalMessage = GeneralUI::text(QStringLiteral("LightroomNotConnectedMessage"));
            answer(false);
            return;
        }
        const QVariantMap request{{QStringLiteral("message"), QStringLiteral("operationStarted")},
                                  {QStringLiteral("fileCount"), fileCount}};
        self->m_bridge.sendOperationStartedRequest(request, [weak, answer](std::optional<LrPluginRequestError> error) {
            // A plug-in that answers, even with a failure, is there to take the files; one that stays silent until
            // the time-out, or whose link dropped, would let every file wait as long.
            const bool gone = error && (error->kind == LrPluginRequestError::timedOut ||
                                        error->kind == LrPluginRequestError::notConnected);
            if (gone) {
                if (auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock()))
                    self->m_refusalMessage = GeneralUI::text(QStringLiteral("LightroomNotConnectedMessage"));
            }
            answer(!gone);
        });
    });
}

std::optional<QString> LightroomCopyDestination::destinationFor(const PhotoVariant& variant)
{
    if (!m_destinationUrl || !m_destinationUrl->isLocalFile() || !m_sorting)
        return std::nullopt;
    const QString base = m_destinationUrl->toLocalFile();
    if (base.isEmpty() || QFileInfo(base).isRelative())
        return std::nullopt;
    return m_sorting->destinationFor(variant, base);
}

void LightroomCopyDestination::performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                                        const Operations&, std::function<void(bool)> completionHandler)
{
    const std::optional<QString> file = operation ? operation->finalDestination() : std::nullopt;
    if (!operation || operation->state().kind != PhotoVariantCopyOperation::State::Kind::copiedSuccessfully || !file) {
        if (completionHandler)
            completionHandler(false);
        return;
    }
    const QVariantMap request{{QStringLiteral("message"), QStringLiteral("addImageToCatalog")},
                              {QStringLiteral("path"), *file}};
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    m_bridge.sendAddImageRequest(request, [weak, completionHandler](std::optional<LrPluginRequestError> error) {
        if (error) {
            if (auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock()))
                ++self->m_filesNotAdded;
        }
        if (completionHandler)
            completionHandler(!error);
    });
}

void LightroomCopyDestination::copySessionDidEnd()
{
    m_report.notTakenIn = m_filesNotAdded;
    if (m_filesNotAdded > 0) {
        m_report.keptIn = m_destinationUrl ? std::optional<QString>(m_destinationUrl->toLocalFile()) : std::nullopt;
        m_report.message = GeneralUI::counted(QStringLiteral("LightroomFilesNotAddedFormat"), m_filesNotAdded,
                                              {QString::number(m_filesNotAdded), m_report.keptIn.value_or(QString())});
    }
    emit sessionEnded(m_report);
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    m_bridge.sendOperationEndedRequest({{QStringLiteral("message"), QStringLiteral("operationEnded")}},
                                       [weak](std::optional<LrPluginRequestError>) {
        if (auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock()))
            self->m_bridge.disconnectFromPlugin([](LrPluginState) {});
    });
}

} // namespace vornakel
