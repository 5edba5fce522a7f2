#pragma once

#include "copying/CopyDestination.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QUrl>

#include <memory>
#include <optional>

namespace vornakel {

class PhotoSortingModel;
class UserDefaults;

// Copies into a folder the user chose, with sub-folders and file names made by a sorting preset. It reads its
// folder, preset and grouping from the user defaults when made (the folder pane writes them); the flat form
// copies every file straight into a given folder under its camera name (drag-out).
class FolderCopyDestination : public CopyDestination {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<FolderCopyDestination>;

    static QString folderGroupingBehaviourUserDefaultsKey(); // "FolderCopyDestinationGroupingBehaviour"
    static QString photoSortingUserDefaultsKey();            // "FolderSortingPreset"
    static QString destinationUserDefaultsKey();             // "FolderDestination"

    // A stored folder that does not exist (or is a file) counts as none; a stored preset the store does not
    // know falls back to year/month/day.
    static Ptr create(UserDefaults& defaults, const PhotoSortingModel& presets);
    // Every file straight into `folder` under its camera name, whatever preset is stored.
    static Ptr createFlat(const QUrl& folder, UserDefaults& defaults, const PhotoSortingModel& presets);
    // What a drag-out or "Copy to Folder…" copies with: the flat form on `folder` and the grouping stored under
    // "DragAndDropGroupingBehaviour" (preferPreview when it is not 0, 1 or 2).
    static PhotoCopyQueueOptions flatCopyQueueOptions(const QUrl& folder, UserDefaults& defaults,
                                                      const PhotoSortingModel& presets);

    QString name() const override;
    QString iconName() const override { return QStringLiteral("folder"); }
    QString identifier() const override;
    QString helpBookAnchor() const override { return QStringLiteral("Help_CopyFolder"); }

    // The grouping is read when asked: 0, 1 or 2 as stored, anything else copyAll.
    PhotoCopyQueueOptions copyQueueOptions() override;
    void copyDestinationInstanceWillNotBeUsed() override {}
    // Answers yes at once, in the caller's thread.
    void copySessionShouldStart(const Variants& variants, std::function<void(bool)> completionHandler) override;
    void copySessionWillStart(const Variants&) override {}
    // The folder, one sub-folder per folder step, then the file-name step's name; none without a local folder.
    std::optional<QString> destinationFor(const PhotoVariant& variant) override;
    // Nothing to do after a file: answers at once.
    void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                  const Operations& allOperationsForPhoto,
                                  std::function<void(bool)> completionHandler) override;
    void copySessionDidEnd() override {}

    const std::optional<QUrl>& destination() const { return m_destination; }
    // The Copy button follows: allowed exactly for a local folder.
    void setDestination(std::optional<QUrl> folder);
    const UserDefinedPhotoSortingPtr& sorting() const { return m_sorting; }
    void setSorting(UserDefinedPhotoSortingPtr sorting);

private:
    FolderCopyDestination(UserDefaults& defaults, const PhotoSortingModel& presets);
    std::shared_ptr<FolderCopyDestination> sharedSelf();

    UserDefaults& m_defaults;
    UserDefinedPhotoSortingPtr m_sorting;
    std::optional<QUrl> m_destination;
};

} // namespace vornakel
