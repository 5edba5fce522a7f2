#include "copying/destinations/LightroomCopyDestination.h"

#include "copying/PhotoVariantCopyOperation.h"
#include "lightroom/LrPluginBridge.h"
#include "platform/core/Error.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include <QFileInfo>
#include <QTimer>

namespace vornakel {

QString LightroomCopyDestination::lightroomGroupingBehaviourUserDefaultsKey()
{
    return QStringLiteral("LightroomGroupingBehaviour");
}

QString LightroomCopyDestination::lightroomSortingUserDefaultsKey() { return QStringLiteral("LightroomSortingPreset"); }

LightroomCopyDestination::LightroomCopyDestination(LrPluginBridge& bridge, UserDefaults& defaults,
                                                   const PhotoSortingModel& presets)
    : m_bridge(bridge), m_defaults(defaults), m_confirmationTimer(new QTimer(this))
{
    m_confirmationTimer->setSingleShot(true);
    connect(m_confirmationTimer, &QTimer::timeout, this, &LightroomCopyDestination::giveUpWaitingForConfirmations);
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
    m_targetsGiven = 0;
    m_postCopySteps = 0;
    m_pendingAdds.clear();
    m_problems.clear();
    m_confirmationTimer->stop();
    const qint64 fileCount = qint64(variants.size());
    const int generation = m_startGeneration;
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    const auto answer = [completionHandler](bool start) {
        if (completionHandler)
            completionHandler(start);
    };
    m_bridge.launchLightroomAndConnectToPlugin(m_requestPort, m_responsePort, kLrPluginConnectTimeout,
                                               [weak, fileCount, answer, generation](LrPluginState state) {
        auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock());
        if (!self || self->m_startGeneration != generation) {
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
        self->m_bridge.sendOperationStartedRequest(request, [weak, answer, generation](std::optional<LrPluginRequestError> error) {
            auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock());
            if (!self || self->m_startGeneration != generation) {
                answer(false);
                return;
            }
            // A plug-in that answers, even with a failure, is there to take the files; one that stays silent until
            // the time-out, or whose link dropped, would let every file wait as long.
            const bool gone = error && (error->kind == LrPluginRequestError::timedOut ||
                                        error->kind == LrPluginRequestError::notConnected);
            if (gone)
                self->m_refusalMessage = GeneralUI::text(QStringLiteral("LightroomNotConnectedMessage"));
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
    std::optional<QString> target = m_sorting->destinationFor(variant, base);
    if (target)
        ++m_targetsGiven;
    return target;
}

void LightroomCopyDestination::performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                                        const Operations&, std::function<void(bool)> completionHandler)
{
    ++m_postCopySteps;
    const std::optional<QString> file = operation ? operation->finalDestination() : std::nullopt;
    if (!operation || operation->state().kind != PhotoVariantCopyOperation::State::Kind::copiedSuccessfully || !file) {
        if (completionHandler)
            completionHandler(false);
        armConfirmationGraceIfLastFile();
        return;
    }
    const QVariantMap request{{QStringLiteral("message"), QStringLiteral("addImageToCatalog")},
                              {QStringLiteral("path"), *file}};
    const int number = m_nextRequest++;
    m_pendingAdds[number] = PendingAdd{operation->photoVariant()->fileName(), std::move(completionHandler)};
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    m_bridge.sendAddImageRequest(request, [weak, number](std::optional<LrPluginRequestError> error) {
        if (auto self = std::static_pointer_cast<LightroomCopyDestination>(weak.lock()))
            self->addAnswered(number, error);
    });
    armConfirmationGraceIfLastFile();
}

void LightroomCopyDestination::addAnswered(int request, const std::optional<LrPluginRequestError>& error)
{
    auto it = m_pendingAdds.find(request);
    // Already given up on: it was counted as not confirmed.
    if (it == m_pendingAdds.end())
        return;
    PendingAdd add = std::move(it->second);
    m_pendingAdds.erase(it);
    if (error) {
        ++m_filesNotAdded;
        m_problems.push_back({add.fileName, GeneralUI::format(QStringLiteral("LightroomFileNotAddedReason"), {describe(*error)})});
    }
    // The plug-in is alive: the files still waiting get the grace again from this reply.
    if (m_confirmationTimer->isActive())
        m_confirmationTimer->start(m_confirmationGrace);
    if (add.handler)
        add.handler(!error);
}

void LightroomCopyDestination::armConfirmationGraceIfLastFile()
{
    if (m_postCopySteps < m_targetsGiven || m_pendingAdds.empty())
        return;
    m_confirmationTimer->start(m_confirmationGrace);
}

void LightroomCopyDestination::giveUpWaitingForConfirmations()
{
    std::map<int, PendingAdd> pending;
    pending.swap(m_pendingAdds);
    for (auto& [number, add] : pending) {
        ++m_filesNotAdded;
        m_problems.push_back({add.fileName, GeneralUI::text(QStringLiteral("LightroomFileNotConfirmedReason"))});
    }
    for (auto& [number, add] : pending) {
        if (add.handler)
            add.handler(false);
    }
}

void LightroomCopyDestination::copySessionStartCancelled()
{
    ++m_startGeneration;
    m_bridge.disconnectFromPlugin([](LrPluginState) {});
}

void LightroomCopyDestination::copySessionDidEnd()
{
    m_confirmationTimer->stop();
    m_report.notTakenIn = m_filesNotAdded;
    m_report.problems = std::move(m_problems);
    m_problems.clear();
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
