#pragma once

#include "sorting/UserDefinedSortingStep.h"

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QToolButton;

namespace vornakel {

class PhotoSortingTokenField;

// One level of the preset shown in the preset editor: a folder level, the placeholder of a preset without
// folders, or the file name. It shows an icon, a token field with the level's pattern, and add and remove
// buttons, inset by its level. Every change of the field goes straight into the step, then `valueChanged`
// tells the editor, which saves the presets.
class PhotoSortingRowViewController : public QWidget {
    Q_OBJECT
public:
    enum class Mode { folder, noFolders, file };
    static constexpr qreal kInsetPerLevel = 20.0;

    explicit PhotoSortingRowViewController(QWidget* parent = nullptr);

    bool allowsAdd() const { return m_allowsAdd; }
    void setAllowsAdd(bool allows);
    bool allowsRemove() const { return m_allowsRemove; }
    void setAllowsRemove(bool allows);
    bool showAddRemoveButtons() const { return m_showAddRemoveButtons; }
    void setShowAddRemoveButtons(bool show);
    // Whether the field can be edited and selected, and whether its changes are taken.
    bool allowsEditing() const { return m_allowsEditing; }
    void setAllowsEditing(bool allows);

    int insetLevel() const { return m_insetLevel; }
    void setInsetLevel(int level);
    // The leading inset of the row's content: the level times 20 points.
    qreal insetConstant() const { return m_insetLevel * kInsetPerLevel; }

    Mode mode() const { return m_mode; }
    void setMode(Mode mode) { m_mode = mode; }
    // Shows the row for its mode: the icon, and the token field or the no-folders label.
    void updateForMode();

    const UserDefinedSortingStepPtr& step() const { return m_step; }
    void setStep(UserDefinedSortingStepPtr step);
    // Shows the step's pattern (nothing without a step).
    void updateTokenField();

    PhotoSortingTokenField* tokenField() const { return m_tokenField; }
    QLabel* iconView() const { return m_iconView; }
    QLabel* noFoldersLabel() const { return m_noFoldersLabel; }
    QToolButton* addButton() const { return m_addButton; }
    QToolButton* removeButton() const { return m_removeButton; }

public slots:
    void addRow();
    void removeRow();

signals:
    void addRowRequested(vornakel::PhotoSortingRowViewController* row);
    void deleteRowRequested(vornakel::PhotoSortingRowViewController* row);
    // The step's pattern has just been replaced from the field.
    void valueChanged(vornakel::PhotoSortingRowViewController* row, const vornakel::UserDefinedSortingStepPtr& step);

private:
    void controlTextDidChange();

    QHBoxLayout* m_layout = nullptr;
    QLabel* m_iconView = nullptr;
    PhotoSortingTokenField* m_tokenField = nullptr;
    QLabel* m_noFoldersLabel = nullptr;
    QToolButton* m_removeButton = nullptr;
    QToolButton* m_addButton = nullptr;

    bool m_allowsAdd = true;
    bool m_allowsRemove = true;
    bool m_showAddRemoveButtons = true;
    bool m_allowsEditing = true;
    int m_insetLevel = 0;
    Mode m_mode = Mode::folder;
    UserDefinedSortingStepPtr m_step;
};

} // namespace vornakel
