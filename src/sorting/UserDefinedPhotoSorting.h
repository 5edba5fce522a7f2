#pragma once

#include "platform/core/KeyedArchive.h"
#include "sorting/PhotoSorting.h"
#include "sorting/UserDefinedSortingStep.h"

#include <memory>
#include <vector>

namespace vornakel {

// A preset with a name and an identifier, made of user-defined steps only. The two built-in presets are of
// this class too; the user's own are made by duplicating another preset and then edited.
class UserDefinedPhotoSorting final : public PhotoSorting {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<UserDefinedPhotoSorting>;
    using StepPtr = UserDefinedSortingStepPtr;

    // Stores the step objects themselves, not copies. A missing file-name step becomes an empty one.
    UserDefinedPhotoSorting(QString name, QString presetId, StepPtr fileNameStep, std::vector<StepPtr> folderSteps);
    static Ptr create(QString name, QString presetId, StepPtr fileNameStep, std::vector<StepPtr> folderSteps);

    // A new preset named after `source` ("NewUserDefinedSortingName"), with a new random identifier and copies
    // of its steps, so editing one never changes the other.
    static Ptr duplicateOf(const UserDefinedPhotoSorting& source);

    // The built-in presets, made once on first use: year/month/day folders, and no folders at all; both keep
    // the camera's file name.
    static const Ptr& byPaddedNumericDate();
    static const Ptr& flat();
    static QString byPaddedNumericDateIdentifier(); // "<prefix>.zediriri-zir.preset.padded-numeric-date"
    static QString flatIdentifier();                // "<prefix>.zediriri-zir.preset.flat"

    const QString& name() const { return m_name; }
    void setName(const QString& name);
    // Fixed at creation; the key under which copy destinations remember their preset.
    const QString& presetId() const { return m_presetId; }

    // The folder steps as they are now, in order (the editor makes one row per step).
    std::vector<StepPtr> typedFolderSteps() const;
    const StepPtr& typedFileNameStep() const { return m_typedFileNameStep; }

    // Folder list edits, made on the main thread. Removes the folder step (the very object); a step not in the
    // list changes nothing.
    void remove(const StepPtr& folderStep);
    // Inserts a new empty folder step after `after`, or at the end when `after` is none or not in the list.
    // Answers the new step.
    StepPtr addStep(const StepPtr& after);

    // Keyed archive form: class "Vornakel_Transfer.UserDefinedPhotoSorting" with "name", "id", "folders" (array
    // of steps) and "fileName" (one step). Decoding never fails; each key falls back on its own: "Unknown", an
    // identifier derived from the preset's contents and `position` (stable across loads, so destinations that
    // remember it still find the preset), no folders, an empty file-name step.
    static QString archiveClassName();
    static QStringList archiveClasses();
    ArchivedObjectPtr encode() const;
    static Ptr decode(const ArchivedObject& archived, qsizetype position = 0);

signals:
    void nameChanged();
    void folderStepsChanged();

private:
    UserDefinedPhotoSorting(QString name, QString presetId, StepPtr fileNameStep, StepList folderSteps);
    void storeFolderSteps(const std::vector<StepPtr>& steps);

    QString m_name;
    const QString m_presetId;
    const StepPtr m_typedFileNameStep;
};

using UserDefinedPhotoSortingPtr = UserDefinedPhotoSorting::Ptr;

} // namespace vornakel
