#include "sorting/editor/PhotoSortingViewController.h"

#include "platform/core/Strings.h"
#include "sorting/PhotoSortingToken.h"
#include "sorting/editor/PhotoSortingPresetListModel.h"
#include "sorting/editor/PhotoSortingRowViewController.h"
#include "sorting/editor/PhotoSortingTokenField.h"
#include "ui/LineViews.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace vornakel {
namespace {

constexpr int kListWidth = 210;
constexpr int kPointingLineWidth = 20;

// The token bin's order.
constexpr std::array<PhotoSortingToken, 12> kBinTokens{
    PhotoSortingToken::originalFileName,   PhotoSortingToken::originalDisplayName,
    PhotoSortingToken::originalFileExtension, PhotoSortingToken::originalFileFormatFamily,
    PhotoSortingToken::fourDigitYear,      PhotoSortingToken::twoDigitYear,
    PhotoSortingToken::namedMonth,         PhotoSortingToken::shortNamedMonth,
    PhotoSortingToken::twoDigitMonth,      PhotoSortingToken::oneDigitMonth,
    PhotoSortingToken::twoDigitDay,        PhotoSortingToken::oneDigitDay};

QToolButton* makeListButton(const QString& text, const QString& toolTipKey, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(GeneralUI::text(toolTipKey));
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(26, 24);
    return button;
}

// Edits a preset's name in the list. The name being typed belongs to the preset the edit began on, found again
// by identity when it is taken: the rows may have moved (a preset added or removed) since.
class PresetNameDelegate : public QStyledItemDelegate {
public:
    PresetNameDelegate(PhotoSortingPresetListModel* list, QObject* parent) : QStyledItemDelegate(parent), m_list(list) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        m_editor = editor;
        m_preset = m_list->presetAt(index.row());
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (editor != m_editor) {
            QStyledItemDelegate::setModelData(editor, model, index);
            return;
        }
        if (const std::optional<int> row = m_list->rowOf(m_preset.lock()))
            QStyledItemDelegate::setModelData(editor, model, model->index(*row, 0));
    }

    // Takes the name being typed, if any, and ends the edit.
    void commitOpenEditor()
    {
        // An editor the view already closed is hidden until it goes.
        if (!m_editor || m_editor->isHidden() || m_committing)
            return;
        m_committing = true;
        emit commitData(m_editor);
        m_committing = false;
        QWidget* editor = std::exchange(m_editor, nullptr);
        if (editor && !editor->isHidden())
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    }

private:
    bool m_committing = false;
    PhotoSortingPresetListModel* m_list;
    mutable QPointer<QWidget> m_editor;
    mutable std::weak_ptr<UserDefinedPhotoSorting> m_preset;
};

} // namespace

PhotoSortingViewController::PhotoSortingViewController(PhotoSortingModel& store, QWidget* parent)
    : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("PhotoSortingPreferences"));

    // Left: the preset list with its add and remove buttons.
    m_listModel = new PhotoSortingPresetListModel(m_store, this);
    m_tableView = new QListView(this);
    m_tableView->setObjectName(QStringLiteral("PresetTable"));
    m_tableView->setModel(m_listModel);
    auto* nameDelegate = new PresetNameDelegate(m_listModel, m_tableView);
    m_tableView->setItemDelegate(nameDelegate);
    // The list buttons take no focus, so a click on them would not end an edit: every change of the list takes
    // the typed name first (a store change from elsewhere too).
    m_commitNameEdit = [nameDelegate] { nameDelegate->commitOpenEditor(); };
    connect(m_listModel, &PhotoSortingPresetListModel::aboutToReload, this, [this] { m_commitNameEdit(); });
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                 | QAbstractItemView::SelectedClicked);
    m_tableView->setFixedWidth(kListWidth);
    m_tableView->setUniformItemSizes(false);
    m_tableView->setSpacing(1);

    m_deleteAction = new QAction(m_tableView);
    m_deleteAction->setShortcuts({QKeySequence(QKeySequence::Delete), QKeySequence(Qt::Key_Backspace)});
    // Only the list's own Delete: never while a name or a token field is being edited.
    m_deleteAction->setShortcutContext(Qt::WidgetShortcut);
    m_tableView->addAction(m_deleteAction);
    connect(m_deleteAction, &QAction::triggered, this, &PhotoSortingViewController::removeSelectedPreset);

    m_addPresetButton = makeListButton(QStringLiteral("+"), QStringLiteral("AddPresetToolTip"), this);
    m_removePresetButton = makeListButton(QStringLiteral("−"), QStringLiteral("RemovePresetToolTip"), this);
    connect(m_addPresetButton, &QToolButton::clicked, this, &PhotoSortingViewController::addNewPreset);
    connect(m_removePresetButton, &QToolButton::clicked, this, &PhotoSortingViewController::removeSelectedPreset);

    auto* listButtons = new QHBoxLayout;
    listButtons->setSpacing(0);
    listButtons->addWidget(m_addPresetButton);
    listButtons->addWidget(m_removePresetButton);
    listButtons->addStretch(1);
    auto* listColumn = new QVBoxLayout;
    listColumn->setSpacing(4);
    listColumn->addWidget(m_tableView, 1);
    listColumn->addLayout(listButtons);

    // Right: the rows of the shown preset, then the token bin.
    m_pointingLine = new PointingLineView(this);
    m_pointingLine->setFixedWidth(kPointingLineWidth);

    auto* detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("PresetDetail"));
    detail->setAutoFillBackground(true);
    auto* detailColumn = new QVBoxLayout(detail);
    detailColumn->setContentsMargins(4, 8, 12, 8);
    detailColumn->setSpacing(8);

    auto* rowsTitle = new QLabel(GeneralUI::text(QStringLiteral("PresetFoldersTitle")), detail);
    rowsTitle->setTextFormat(Qt::PlainText);
    detailColumn->addWidget(rowsTitle);
    auto* stack = new QWidget(detail);
    stack->setObjectName(QStringLiteral("PresetRows"));
    m_stackView = new QVBoxLayout(stack);
    m_stackView->setContentsMargins(0, 0, 0, 0);
    m_stackView->setSpacing(2);
    m_stackView->addStretch(1);
    detailColumn->addWidget(stack, 1);

    auto* binTitle = new QLabel(GeneralUI::text(QStringLiteral("TokenBinTitle")), detail);
    binTitle->setTextFormat(Qt::PlainText);
    binTitle->setWordWrap(true);
    detailColumn->addWidget(binTitle);
    auto* bin = new QWidget(detail);
    bin->setObjectName(QStringLiteral("TokenBin"));
    setupTokenBin(bin);
    detailColumn->addWidget(bin);

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(12, 12, 0, 12);
    columns->setSpacing(0);
    columns->addLayout(listColumn);
    columns->addSpacing(6);
    columns->addWidget(m_pointingLine);
    columns->addWidget(detail, 1);

    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PhotoSortingViewController::tableViewSelectionDidChange);
    // A reload of the list (a preset added or removed) drops the selection; show the shown preset selected again.
    connect(m_listModel, &QAbstractItemModel::modelReset, this, [this] {
        if (const auto row = tableRow(m_currentPhotoSorting))
            selectTableRow(*row);
    });
    connect(m_tableView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { pointAtSelection(false); });

    resize(780, 470);
    setCurrentPhotoSorting(m_store.builtIn().front());
    selectTableRow(1);
}

PhotoSortingViewController::~PhotoSortingViewController() = default;

void PhotoSortingViewController::setupTokenBin(QWidget* bin)
{
    auto* grid = new QGridLayout(bin);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    constexpr int kColumns = 3;
    for (size_t i = 0; i < kBinTokens.size(); ++i) {
        auto* field = new PhotoSortingTokenField(bin);
        field->setObjectName(QStringLiteral("TokenBinField"));
        field->setObjectValue({QVariant(tokenObject(kBinTokens[i]))});
        field->setEditable(false);
        field->setSelectable(true);
        // Reached by the mouse only: tabbing runs through the rows.
        field->setFocusPolicy(Qt::ClickFocus);
        // Always as wide as its token, so that no title is cut.
        field->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        field->setCursorPosition(0);
        field->setToolTip(title(kBinTokens[i]));
        grid->addWidget(field, int(i) / kColumns, int(i) % kColumns);
        m_tokenBin[i] = field;
    }
}

bool PhotoSortingViewController::isBuiltIn(const PresetPtr& preset) const
{
    const auto& builtIn = m_store.builtIn();
    return std::find(builtIn.begin(), builtIn.end(), preset) != builtIn.end();
}

bool PhotoSortingViewController::canDeleteCurrentPreset() const
{
    return !isBuiltIn(m_currentPhotoSorting);
}

int PhotoSortingViewController::numberOfRows() const
{
    return m_listModel->rowCount();
}

PhotoSortingViewController::PresetPtr PhotoSortingViewController::presetAtTableViewRow(int row) const
{
    return m_listModel->presetAt(row);
}

std::optional<int> PhotoSortingViewController::tableRow(const PresetPtr& preset) const
{
    return m_listModel->rowOf(preset);
}

void PhotoSortingViewController::setCurrentPhotoSorting(PresetPtr preset)
{
    if (!preset)
        return;
    m_currentPhotoSorting = std::move(preset);
    rebuildRowsWith(m_currentPhotoSorting);
    const bool canDelete = canDeleteCurrentPreset();
    m_removePresetButton->setEnabled(canDelete);
    m_deleteAction->setEnabled(canDelete);
    emit currentPhotoSortingChanged();
}

void PhotoSortingViewController::selectTableRow(int row)
{
    const QModelIndex index = m_listModel->index(row);
    m_tableView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_tableView->scrollTo(index);
    pointAtSelection(false);
}

void PhotoSortingViewController::tableViewSelectionDidChange()
{
    const QModelIndexList selected = m_tableView->selectionModel()->selectedIndexes();
    if (selected.size() == 1) {
        const PresetPtr preset = presetAtTableViewRow(selected.front().row());
        if (preset && preset != m_currentPhotoSorting)
            setCurrentPhotoSorting(preset);
    }
    pointAtSelection(true);
}

void PhotoSortingViewController::rebuildRowsWith(const PresetPtr& preset)
{
    // The rows may be rebuilt from inside one of their own buttons' signals: the old ones go later.
    for (PhotoSortingRowViewController* row : m_rows) {
        m_stackView->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();

    const auto makeRow = [this](int level, PhotoSortingRowViewController::Mode mode,
                                UserDefinedSortingStepPtr step, bool showButtons) {
        auto* row = new PhotoSortingRowViewController(m_stackView->parentWidget());
        row->setInsetLevel(level);
        row->setMode(mode);
        row->updateForMode();
        if (!showButtons)
            row->setShowAddRemoveButtons(false);
        row->setStep(std::move(step));
        connect(row, &PhotoSortingRowViewController::addRowRequested, this,
                &PhotoSortingViewController::photoSortingRowRequestedAddRow);
        connect(row, &PhotoSortingRowViewController::deleteRowRequested, this,
                &PhotoSortingViewController::photoSortingRowRequestedDeleteRow);
        connect(row, &PhotoSortingRowViewController::valueChanged, this,
                &PhotoSortingViewController::photoSortingRowDidChangeValue);
        m_rows.push_back(row);
        return row;
    };

    QWidget* previous = m_tableView;
    const std::vector<UserDefinedSortingStepPtr> folders = preset->typedFolderSteps();
    if (folders.empty()) {
        makeRow(0, PhotoSortingRowViewController::Mode::noFolders, nullptr, true);
    } else {
        for (size_t i = 0; i < folders.size(); ++i) {
            auto* row = makeRow(int(i), PhotoSortingRowViewController::Mode::folder, folders[i], true);
            setTabOrder(previous, row->tokenField());
            previous = row->tokenField();
        }
    }
    auto* fileRow = makeRow(int(m_rows.size()), PhotoSortingRowViewController::Mode::file,
                            preset->typedFileNameStep(), false);
    setTabOrder(previous, fileRow->tokenField());
    setTabOrder(fileRow->tokenField(), m_tableView);

    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_stackView->insertWidget(int(i), m_rows[i]);
        m_rows[i]->show(); // at once, so that the new fields can take the focus now
    }
    updateRowButtons();
}

void PhotoSortingViewController::updateRowButtons()
{
    const bool builtIn = isBuiltIn(m_currentPhotoSorting);
    const size_t folders = m_currentPhotoSorting->typedFolderSteps().size();
    const bool allowAdd = !builtIn && folders < size_t(kMaximumFolderLevels);
    const bool allowRemove = !builtIn && folders > 0;
    for (PhotoSortingRowViewController* row : m_rows) {
        row->setAllowsAdd(allowAdd);
        row->setAllowsRemove(allowRemove);
        row->setAllowsEditing(!builtIn);
    }
}

void PhotoSortingViewController::addNewPreset()
{
    m_commitNameEdit();
    const PresetPtr created = m_store.createUserPreset(*m_currentPhotoSorting);
    const std::optional<int> row = tableRow(created);
    if (!row)
        return;
    selectTableRow(*row);
    setCurrentPhotoSorting(created);
    // The user names the copy at once.
    m_tableView->setFocus(Qt::OtherFocusReason);
    m_tableView->edit(m_listModel->index(*row));
}

void PhotoSortingViewController::removeSelectedPreset()
{
    m_commitNameEdit();
    const std::vector<PresetPtr> users = m_store.userDefined();
    const auto it = std::find(users.begin(), users.end(), m_currentPhotoSorting);
    if (it == users.end()) {
        QApplication::beep();
        return;
    }
    const size_t index = size_t(it - users.begin());
    m_store.removeUserPreset(m_currentPhotoSorting);

    PresetPtr next;
    if (index > 0 && index - 1 < m_store.userDefined().size())
        next = m_store.userDefined()[index - 1];
    else if (index == 0 && !m_store.builtIn().empty())
        next = m_store.builtIn().back();
    if (!next)
        return;
    if (const std::optional<int> row = tableRow(next)) {
        selectTableRow(*row);
        setCurrentPhotoSorting(next);
    }
}

void PhotoSortingViewController::photoSortingRowRequestedAddRow(PhotoSortingRowViewController* row)
{
    if (isBuiltIn(m_currentPhotoSorting)
        || m_currentPhotoSorting->typedFolderSteps().size() >= size_t(kMaximumFolderLevels))
        return;
    const UserDefinedSortingStepPtr added = m_currentPhotoSorting->addStep(row->step());
    // Saved at once: a folder level must not wait for the next edit (or a clean quit) to reach the disk.
    m_store.saveUserDefinedPresets();
    rebuildRowsWith(m_currentPhotoSorting);
    for (PhotoSortingRowViewController* shown : m_rows) {
        if (shown->step() == added)
            shown->tokenField()->setFocus(Qt::OtherFocusReason);
    }
}

void PhotoSortingViewController::photoSortingRowRequestedDeleteRow(PhotoSortingRowViewController* row)
{
    if (!row->step() || isBuiltIn(m_currentPhotoSorting))
        return;
    m_currentPhotoSorting->remove(row->step());
    m_store.saveUserDefinedPresets();
    rebuildRowsWith(m_currentPhotoSorting);
}

void PhotoSortingViewController::photoSortingRowDidChangeValue()
{
    m_store.saveUserDefinedPresets();
}

void PhotoSortingViewController::pointAtSelection(bool animated)
{
    const std::optional<int> row = tableRow(m_currentPhotoSorting);
    if (!row)
        return;
    const QRect rect = m_tableView->visualRect(m_listModel->index(*row));
    if (!rect.isValid())
        return;
    const QPoint middle = m_tableView->viewport()->mapTo(this, rect.center());
    const qreal y = m_pointingLine->mapFrom(this, middle).y() + (rect.height() % 2 ? 0.0 : 0.5);
    // A row scrolled out of sight leaves the notch at the list's edge.
    m_pointingLine->setArrowPointY(std::clamp(y, 0.0, qreal(m_pointingLine->height())));
    m_pointingLine->layoutLine(animated && isVisible());
}

void PhotoSortingViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    pointAtSelection(false);
}

void PhotoSortingViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    pointAtSelection(false);
}

} // namespace vornakel
