#pragma once

#include "sorting/PhotoSortingModel.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QListView;
class QToolButton;
class QVBoxLayout;

namespace vornakel {

class PhotoSortingPresetListModel;
class PhotoSortingRowViewController;
class PhotoSortingTokenField;
class PointingLineView;

// The photo-sorting pane of the preferences: the presets on the left (built-in, then the user's own), the
// selected preset on the right as one row per folder level and a last row for the file name, and below them a
// bin of the twelve tokens to drag or copy into the rows. Built-in presets are shown read-only; the user
// duplicates any preset, and renames, edits and removes their own. Every edit is saved at once.
class PhotoSortingViewController : public QWidget {
    Q_OBJECT
public:
    using PresetPtr = PhotoSortingModel::PresetPtr;
    static constexpr int kMaximumFolderLevels = 5;

    explicit PhotoSortingViewController(PhotoSortingModel& store, QWidget* parent = nullptr);
    ~PhotoSortingViewController() override;

    // The preset shown in the rows; assigning it rebuilds them.
    const PresetPtr& currentPhotoSorting() const { return m_currentPhotoSorting; }
    void setCurrentPhotoSorting(PresetPtr preset);
    // Whether the shown preset is one of the user's (the remove button and the delete command follow it).
    bool canDeleteCurrentPreset() const;

    // The list: a header row, the built-in presets, and with user presets a second header and those.
    int numberOfRows() const;
    PresetPtr presetAtTableViewRow(int row) const;
    std::optional<int> tableRow(const PresetPtr& preset) const;

    // Duplicates the shown preset, selects the copy and starts editing its name.
    void addNewPreset();
    // Removes the shown user preset and shows the one above it (the last built-in one after the first user
    // preset); beeps when a built-in preset is shown.
    void removeSelectedPreset();

    // Rebuilds the rows from the preset, and their buttons from the rules of the preset.
    void rebuildRowsWith(const PresetPtr& preset);
    void updateRowButtons();

    QListView* tableView() const { return m_tableView; }
    const std::vector<PhotoSortingRowViewController*>& rows() const { return m_rows; }
    QToolButton* addPresetButton() const { return m_addPresetButton; }
    QToolButton* removePresetButton() const { return m_removePresetButton; }
    // The delete command of the list: Delete or Backspace while the list itself has the keyboard focus.
    QAction* deleteAction() const { return m_deleteAction; }
    // The token bin, in the order of the tokens' declaration.
    const std::array<PhotoSortingTokenField*, 12>& tokenBin() const { return m_tokenBin; }
    PointingLineView* pointingLine() const { return m_pointingLine; }

signals:
    void currentPhotoSortingChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool isBuiltIn(const PresetPtr& preset) const;
    void tableViewSelectionDidChange();
    void selectTableRow(int row);
    void setupTokenBin(QWidget* bin);
    void pointAtSelection(bool animated);
    void photoSortingRowRequestedAddRow(PhotoSortingRowViewController* row);
    void photoSortingRowRequestedDeleteRow(PhotoSortingRowViewController* row);
    void photoSortingRowDidChangeValue();

    PhotoSortingModel& m_store;
    PhotoSortingPresetListModel* m_listModel = nullptr;
    QListView* m_tableView = nullptr;
    // Takes the preset name being typed in the list, if any.
    std::function<void()> m_commitNameEdit;
    QToolButton* m_addPresetButton = nullptr;
    QToolButton* m_removePresetButton = nullptr;
    QAction* m_deleteAction = nullptr;
    PointingLineView* m_pointingLine = nullptr;
    QVBoxLayout* m_stackView = nullptr;
    std::vector<PhotoSortingRowViewController*> m_rows;
    std::array<PhotoSortingTokenField*, 12> m_tokenBin{};
    PresetPtr m_currentPhotoSorting;
};

} // namespace vornakel
