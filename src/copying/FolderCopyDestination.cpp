#include "copying/FolderCopyDestination.h"

#include "copying/PhotoCopyQueue.h"
#include "copying/PhotoVariantCopyOperation.h"
#include "platform/core/Error.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include <QFileInfo>

namespace vornakel {

QString FolderCopyDestination::folderGroupingBehaviourUserDefaultsKey()
{
    return QStringLiteral("FolderCopyDestinationGroupingBehaviour");
}

QString FolderCopyDestination::photoSortingUserDefaultsKey() { return QStringLiteral("FolderSortingPreset"); }

QString FolderCopyDestination::destinationUserDefaultsKey() { return QStringLiteral("FolderDestination"); }

FolderCopyDestination::FolderCopyDestination(UserDefaults& defaults, const PhotoSortingModel& presets)
    : m_defaults(defaults)
{
    const QUrl stored = defaults.urlForKey(destinationUserDefaultsKey());
    if (stored.isValid() && stored.isLocalFile() && QFileInfo(stored.toLocalFile()).isDir())
        setDestination(stored);
    const QString presetId = defaults.stringForKey(photoSortingUserDefaultsKey());
    if (!presetId.isEmpty())
        m_sorting = presets.preset(presetId);
    if (!m_sorting)
        m_sorting = UserDefinedPhotoSorting::byPaddedNumericDate();
}

FolderCopyDestination::Ptr FolderCopyDestination::create(UserDefaults& defaults, const PhotoSortingModel& presets)
{
    return Ptr(new FolderCopyDestination(defaults, presets));
}

FolderCopyDestination::Ptr FolderCopyDestination::createFlat(const QUrl& folder, UserDefaults& defaults,
                                                             const PhotoSortingModel& presets)
{
    Ptr destination = create(defaults, presets);
    destination->setDestination(folder);
    destination->m_sorting = UserDefinedPhotoSorting::flat();
    return destination;
}

PhotoCopyQueueOptions FolderCopyDestination::flatCopyQueueOptions(const QUrl& folder, UserDefaults& defaults,
                                                                  const PhotoSortingModel& presets)
{
    return {createFlat(folder, defaults, presets), PhotoCopyQueue::dragAndDropGroupingBehaviour(defaults)};
}

std::shared_ptr<FolderCopyDestination> FolderCopyDestination::sharedSelf()
{
    return std::static_pointer_cast<FolderCopyDestination>(shared_from_this());
}

QString FolderCopyDestination::name() const { return GeneralUI::text(QStringLiteral("FolderDestinationName")); }

QString FolderCopyDestination::identifier() const
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.copy-destination.folder");
}

PhotoCopyQueueOptions FolderCopyDestination::copyQueueOptions()
{
    return {sharedSelf(), storedFileGroupBehaviour(m_defaults, folderGroupingBehaviourUserDefaultsKey(), FileGroupBehaviour::copyAll)};
}

void FolderCopyDestination::copySessionShouldStart(const Variants&, std::function<void(bool)> completionHandler)
{
    if (completionHandler)
        completionHandler(true);
}

std::optional<QString> FolderCopyDestination::destinationFor(const PhotoVariant& variant)
{
    if (!m_destination || !m_destination->isLocalFile() || !m_sorting)
        return std::nullopt;
    const QString base = m_destination->toLocalFile();
    // An empty or relative base would put the files wherever the program happens to run.
    if (base.isEmpty() || QFileInfo(base).isRelative())
        return std::nullopt;
    return m_sorting->destinationFor(variant, base);
}

void FolderCopyDestination::performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>&,
                                                     const Operations&, std::function<void(bool)> completionHandler)
{
    if (completionHandler)
        completionHandler(true);
}

void FolderCopyDestination::setDestination(std::optional<QUrl> folder)
{
    m_destination = std::move(folder);
    setCurrentConfigurationAllowsCopyToStart(m_destination && m_destination->isLocalFile());
}

void FolderCopyDestination::setSorting(UserDefinedPhotoSortingPtr sorting)
{
    if (sorting)
        m_sorting = std::move(sorting);
}

} // namespace vornakel
