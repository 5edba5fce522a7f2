#pragma once

#include "sorting/PhotoSortingStep.h"
#include "sorting/SortingContext.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

namespace vornakel {

class PhotoVariant;

// A sorting preset: folder steps, one per folder level (possibly none), and a file-name step that gives the
// whole file name, extension included. Presets are compared by identity.
//
// A copy names its files on its own thread while the preferences may edit the same preset on the main thread,
// so the folder list is swapped as a whole, never changed in place: a reader sees the old list or the new one.
class PhotoSorting : public QObject {
    Q_OBJECT
public:
    using StepList = std::vector<std::shared_ptr<PhotoSortingStep>>;

    // The absolute path below `base` (a folder path) that the variant is copied to: one folder per folder step,
    // then the file name. Each step's text passes through `safePathComponent`, so the result always stays
    // inside `base` and each step is exactly one level. Pure: touches no file.
    QString destinationFor(const PhotoVariant& variant, const QString& base,
                           const SortingContext& context = SortingContext::system()) const;

    // The folder steps as they are now.
    std::shared_ptr<const StepList> folderSteps() const { return m_folderSteps.load(); }
    const PhotoSortingStep& fileNameStep() const { return *m_fileNameStep; }

protected:
    PhotoSorting(std::shared_ptr<PhotoSortingStep> fileNameStep, StepList folderSteps);
    void setFolderSteps(StepList folderSteps);

private:
    const std::shared_ptr<PhotoSortingStep> m_fileNameStep;
    std::atomic<std::shared_ptr<const StepList>> m_folderSteps;
};

} // namespace vornakel
