#include "EditorTestSupport.h"
#include "support/TestSupport.h"

#include "platform/core/KeyedArchive.h"
#include "sorting/editor/PhotoSortingRowViewController.h"
#include "sorting/editor/PhotoSortingTokenField.h"
#include "sorting/editor/PhotoSortingTokenFieldDelegate.h"
#include "sorting/editor/PhotoSortingViewController.h"
#include "ui/LineViews.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QTest>
#include <QToolButton>

namespace vornakel {
namespace {

using T = PhotoSortingToken;
using Mode = PhotoSortingRowViewController::Mode;
using test::deliver;
using test::token;

// "folder@0" and the like: each row's mode and inset, top to bottom.
std::vector<std::string> rowLayout(const PhotoSortingViewController& pane)
{
    std::vector<std::string> layout;
    for (const PhotoSortingRowViewController* row : pane.rows()) {
        const char* mode = row->mode() == Mode::folder ? "folder" : row->mode() == Mode::noFolders ? "none" : "file";
        layout.push_back(std::string(mode) + "@" + std::to_string(int(row->insetConstant())));
    }
    return layout;
}

// The pane over a store of its own, shown in an active window so that keys and focus work as for a user.
class PresetEditorTest : public test::StoreFixture {
protected:
    void showPane()
    {
        m_pane = std::make_unique<PhotoSortingViewController>(store());
        m_pane->show();
        m_pane->activateWindow();
        ASSERT_TRUE(test::runUntil([&] { return m_pane->isActiveWindow(); }));
    }
    void select(const PhotoSortingModel::PresetPtr& preset)
    {
        const auto row = m_pane->tableRow(preset);
        ASSERT_TRUE(row.has_value());
        m_pane->tableView()->setCurrentIndex(m_pane->tableView()->model()->index(*row, 0));
        ASSERT_EQ(m_pane->currentPhotoSorting(), preset);
    }
    // A user preset made from a built-in one, shown in the pane.
    PhotoSortingModel::PresetPtr userPresetFrom(const PhotoSortingModel::PresetPtr& source)
    {
        auto preset = store().createUserPreset(*source);
        select(preset);
        m_commits = 0;
        return preset;
    }
    PhotoSortingTokenField* field(size_t row) const { return m_pane->rows().at(row)->tokenField(); }

    std::unique_ptr<PhotoSortingViewController> m_pane;
};

TEST_F(PresetEditorTest, ListAndRowsOfAFreshStoreAfterAddAndAfterRemove)
{
    showPane();
    const auto& builtIn = store().builtIn();
    EXPECT_EQ(m_pane->numberOfRows(), 3) << "no user header without user presets";
    EXPECT_EQ(m_pane->presetAtTableViewRow(0), nullptr);
    EXPECT_EQ(m_pane->presetAtTableViewRow(1), builtIn[0]);
    EXPECT_EQ(m_pane->presetAtTableViewRow(2), builtIn[1]);
    EXPECT_EQ(m_pane->presetAtTableViewRow(3), nullptr);
    EXPECT_EQ(m_pane->currentPhotoSorting(), builtIn[0]);
    EXPECT_EQ(rowLayout(*m_pane), (std::vector<std::string>{"folder@0", "folder@20", "folder@40", "file@60"}));
    select(builtIn[1]);
    EXPECT_EQ(rowLayout(*m_pane), (std::vector<std::string>{"none@0", "file@20"}));

    m_pane->addNewPreset();
    ASSERT_EQ(store().userDefined().size(), 1u);
    const auto created = store().userDefined()[0];
    EXPECT_EQ(created->name(), QStringLiteral("No Folders Copy"));
    EXPECT_EQ(m_pane->numberOfRows(), 5);
    EXPECT_EQ(m_pane->presetAtTableViewRow(3), nullptr) << "the user header";
    EXPECT_EQ(m_pane->presetAtTableViewRow(4), created);
    EXPECT_EQ(m_pane->currentPhotoSorting(), created);
    EXPECT_EQ(m_pane->tableView()->currentIndex().row(), 4);
    EXPECT_EQ(rowLayout(*m_pane), (std::vector<std::string>{"none@0", "file@20"}));
    EXPECT_TRUE(m_pane->rows()[0]->allowsAdd());
    EXPECT_FALSE(m_pane->rows()[0]->allowsRemove());
    EXPECT_EQ(presetsOfNextLaunch().size(), 1u) << "saved at once";
    // The user names the copy straight away.
    auto* nameEditor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(nameEditor, nullptr);
    EXPECT_EQ(nameEditor->text(), created->name());

    m_pane->removeSelectedPreset();
    EXPECT_TRUE(store().userDefined().empty());
    EXPECT_EQ(m_pane->numberOfRows(), 3);
    EXPECT_EQ(m_pane->currentPhotoSorting(), builtIn.back()) << "the first user preset falls back to the last built-in one";
    EXPECT_EQ(rowLayout(*m_pane), (std::vector<std::string>{"none@0", "file@20"}));
    EXPECT_TRUE(presetsOfNextLaunch().empty());
}

TEST_F(PresetEditorTest, RemovingAPresetShowsTheOneAbove)
{
    showPane();
    const auto first = userPresetFrom(store().builtIn()[0]);
    const auto second = store().createUserPreset(*first);
    const auto third = store().createUserPreset(*first);
    select(third);
    m_pane->removeSelectedPreset();
    EXPECT_EQ(m_pane->currentPhotoSorting(), second);
    EXPECT_EQ(m_pane->tableView()->currentIndex().row(), *m_pane->tableRow(second));
    EXPECT_EQ(rowLayout(*m_pane), (std::vector<std::string>{"folder@0", "folder@20", "folder@40", "file@60"}));
}

TEST_F(PresetEditorTest, BuiltInPresetsAreReadOnlyAndDeleteDoesNothing)
{
    store().createUserPreset(*store().builtIn()[0]);
    showPane();
    for (const auto& preset : store().builtIn()) {
        select(preset);
        SCOPED_TRACE(preset->name().toStdString());
        EXPECT_FALSE(m_pane->canDeleteCurrentPreset());
        EXPECT_FALSE(m_pane->removePresetButton()->isEnabled());
        EXPECT_FALSE(m_pane->deleteAction()->isEnabled());
        for (const PhotoSortingRowViewController* row : m_pane->rows()) {
            EXPECT_FALSE(row->tokenField()->isEditable());
            EXPECT_FALSE(row->tokenField()->isSelectable());
            EXPECT_FALSE(row->addButton()->isEnabled());
            EXPECT_FALSE(row->removeButton()->isEnabled());
        }
        const QModelIndex index = m_pane->tableView()->currentIndex();
        EXPECT_FALSE(m_pane->tableView()->model()->flags(index) & Qt::ItemIsEditable);

        m_commits = 0;
        m_pane->tableView()->setFocus();
        QTest::keyClick(m_pane->tableView(), Qt::Key_Delete);
        QTest::keyClick(m_pane->tableView(), Qt::Key_Backspace);
        m_pane->removeSelectedPreset();
        EXPECT_EQ(store().userDefined().size(), 1u);
        EXPECT_EQ(m_pane->currentPhotoSorting(), preset);
        EXPECT_EQ(m_commits, 0);
    }
}

TEST_F(PresetEditorTest, HeadersCannotBeSelected)
{
    store().createUserPreset(*store().builtIn()[0]);
    showPane();
    select(store().builtIn()[1]);
    QListView* list = m_pane->tableView();
    for (int header : {0, 3}) {
        const QRect rect = list->visualRect(list->model()->index(header, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        EXPECT_EQ(m_pane->currentPhotoSorting(), store().builtIn()[1]) << header;
        EXPECT_EQ(list->selectionModel()->selectedIndexes().value(0).row(), 2) << header;
    }
}

TEST_F(PresetEditorTest, DeleteRemovesAPresetOnlyFromTheList)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]);

    // While the name is being edited, Delete edits the name.
    m_pane->tableView()->setFocus();
    m_pane->tableView()->edit(m_pane->tableView()->currentIndex());
    ASSERT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_EQ(store().userDefined().size(), 1u);

    // In a token field, Delete and Backspace delete tokens, never the preset.
    field(0)->setFocus();
    field(0)->setCursorPosition(0);
    QTest::keyClick(field(0), Qt::Key_Delete);
    ASSERT_EQ(store().userDefined().size(), 1u);
    EXPECT_TRUE(preset->typedFolderSteps()[0]->tokenFieldRepresentedObjects().isEmpty());

    m_pane->tableView()->setFocus();
    QTest::keyClick(m_pane->tableView(), Qt::Key_Delete);
    EXPECT_TRUE(store().userDefined().empty());
    EXPECT_EQ(m_pane->currentPhotoSorting(), store().builtIn().back());
}

TEST_F(PresetEditorTest, FolderLevelsAreSavedAtOnceAndStopAtFive)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]); // three levels
    const auto firstStep = preset->typedFolderSteps()[0];

    m_pane->rows()[0]->addButton()->click();
    ASSERT_EQ(preset->typedFolderSteps().size(), 4u);
    EXPECT_EQ(preset->typedFolderSteps()[0], firstStep);
    EXPECT_TRUE(preset->typedFolderSteps()[1]->tokenFieldRepresentedObjects().isEmpty()) << "new level after the row";
    EXPECT_EQ(m_commits, 1);
    // A process killed now keeps the level.
    EXPECT_EQ(presetsOfNextLaunch().at(0)->typedFolderSteps().size(), 4u);
    EXPECT_EQ(QApplication::focusWidget(), field(1)) << "the new level is ready for typing";

    m_pane->rows()[3]->addButton()->click();
    EXPECT_EQ(preset->typedFolderSteps().size(), 5u);
    EXPECT_EQ(rowLayout(*m_pane),
              (std::vector<std::string>{"folder@0", "folder@20", "folder@40", "folder@60", "folder@80", "file@100"}));
    for (const PhotoSortingRowViewController* row : m_pane->rows()) {
        EXPECT_FALSE(row->addButton()->isEnabled());
        EXPECT_TRUE(row->removeButton()->isEnabled() || row->mode() == Mode::file);
    }
    m_pane->rows()[0]->addRow();
    EXPECT_EQ(preset->typedFolderSteps().size(), 5u);

    m_pane->rows()[0]->removeButton()->click();
    EXPECT_EQ(preset->typedFolderSteps().size(), 4u);
    const auto remaining = preset->typedFolderSteps();
    EXPECT_EQ(std::find(remaining.begin(), remaining.end(), firstStep), remaining.end());
    EXPECT_EQ(presetsOfNextLaunch().at(0)->typedFolderSteps().size(), 4u);
    EXPECT_TRUE(m_pane->rows()[0]->addButton()->isEnabled());
}

TEST_F(PresetEditorTest, TypingAfterTheYearTokenStoresALiteralWithOneCommit)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]);
    field(0)->setFocus();
    field(0)->setCursorPosition(1);
    QTest::keyClick(field(0), Qt::Key_Minus);

    const QVariantList expected{token(T::fourDigitYear), QStringLiteral("-")};
    EXPECT_EQ(preset->typedFolderSteps()[0]->tokenFieldRepresentedObjects(), expected);
    EXPECT_EQ(m_commits, 1);
    EXPECT_EQ(presetsOfNextLaunch().at(0)->typedFolderSteps()[0]->tokenFieldRepresentedObjects(), expected);
}

TEST_F(PresetEditorTest, CopyAndPasteBetweenRowsKeepsTheObjects)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]);
    const QVariantList pattern{token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)};
    preset->typedFolderSteps()[0]->setTokenFieldRepresentedObjects(pattern);
    m_pane->rebuildRowsWith(preset);

    field(0)->setFocus();
    QTest::keySequence(field(0), QKeySequence::SelectAll);
    QTest::keySequence(field(0), QKeySequence::Copy);
    field(2)->setFocus();
    QTest::keySequence(field(2), QKeySequence::SelectAll);
    QTest::keySequence(field(2), QKeySequence::Paste);

    EXPECT_EQ(preset->typedFolderSteps()[2]->tokenFieldRepresentedObjects(), pattern);
    EXPECT_EQ(preset->typedFolderSteps()[0]->tokenFieldRepresentedObjects(), pattern);
    EXPECT_EQ(m_commits, 1);
}

TEST_F(PresetEditorTest, TokenDroppedFromTheBinArrivesAsTheSameToken)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[1]);
    PhotoSortingTokenField* bin = m_pane->tokenBin()[6];
    EXPECT_EQ(bin->objectValue(), QVariantList{token(T::namedMonth)});
    EXPECT_FALSE(bin->isEditable());

    bin->selectAll();
    const auto mime = PhotoSortingTokenFieldDelegate::mimeDataFor(bin->selectedObjects());
    PhotoSortingTokenField* fileField = field(1);
    QDropEvent drop(QPointF(2, fileField->height() / 2.0), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    deliver(fileField, drop);
    EXPECT_EQ(preset->typedFileNameStep()->tokenFieldRepresentedObjects(),
              (QVariantList{token(T::namedMonth), token(T::originalFileName)}));
    EXPECT_EQ(m_commits, 1);
    EXPECT_EQ(bin->objectValue(), QVariantList{token(T::namedMonth)}) << "the bin keeps its token";
}

TEST_F(PresetEditorTest, PasteOfForeignObjectsKeepsThePresetsLoadable)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]);
    store().createUserPreset(*preset);

    // Another program's data under the token type: an object of its own, a date, a number, and among them a
    // literal and a token.
    auto foreign = std::make_shared<ArchivedObject>();
    foreign->classes = {QStringLiteral("OtherApp.Clip"), QStringLiteral("NSObject")};
    const QVariantList clip{QVariant::fromValue(foreign), QStringLiteral("x"), QVariant(qint64(3)),
                            token(T::oneDigitDay)};
    const auto data = KeyedArchive::archive(QVariant(clip));
    ASSERT_TRUE(data.hasValue());
    auto* mime = new QMimeData;
    mime->setData(PhotoSortingTokenFieldDelegate::tokenMimeType(), data.value());
    QApplication::clipboard()->setMimeData(mime);

    field(1)->setFocus();
    QTest::keySequence(field(1), QKeySequence::SelectAll);
    QTest::keySequence(field(1), QKeySequence::Paste);
    const QVariantList expected{QStringLiteral("x"), token(T::oneDigitDay)};
    EXPECT_EQ(preset->typedFolderSteps()[1]->tokenFieldRepresentedObjects(), expected);

    const auto relaunched = presetsOfNextLaunch();
    ASSERT_EQ(relaunched.size(), 2u) << "the stored presets must survive the paste";
    EXPECT_EQ(relaunched[0]->typedFolderSteps()[1]->tokenFieldRepresentedObjects(), expected);
}

TEST_F(PresetEditorTest, RenamingKeepsANameAndSavesIt)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[0]);
    QAbstractItemModel* list = m_pane->tableView()->model();
    const QModelIndex index = list->index(*m_pane->tableRow(preset), 0);
    const QString before = preset->name();
    for (const QString& empty : {QString(), QStringLiteral("   ")}) {
        EXPECT_FALSE(list->setData(index, empty));
        EXPECT_EQ(preset->name(), before);
    }
    EXPECT_EQ(m_commits, 0);
    EXPECT_TRUE(list->setData(index, QStringLiteral("Trips")));
    EXPECT_EQ(preset->name(), QStringLiteral("Trips"));
    EXPECT_EQ(list->data(index).toString(), QStringLiteral("Trips"));
    EXPECT_EQ(m_commits, 1);
    EXPECT_EQ(presetsOfNextLaunch().at(0)->name(), QStringLiteral("Trips"));
    // Built-in presets keep their names.
    EXPECT_FALSE(list->setData(list->index(1, 0), QStringLiteral("Mine")));
}

TEST_F(PresetEditorTest, ANameBeingTypedIsKeptWhenTheListChangesBeforeReturn)
{
    const struct {
        const char* name;
        std::function<void()> change;
    } cases[] = {
        {"the list's + clicked", [this] { m_pane->addPresetButton()->click(); }},
        {"the store changed elsewhere, a preset added above",
         [this] {
             auto presets = store().userDefined();
             presets.insert(presets.begin(), UserDefinedPhotoSorting::duplicateOf(*store().builtIn()[1]));
             store().setUserDefined(presets);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        showPane();
        store().setUserDefined({});
        const auto preset = userPresetFrom(store().builtIn()[0]);
        QListView* list = m_pane->tableView();
        list->edit(list->model()->index(*m_pane->tableRow(preset), 0));
        QLineEdit* editor = nullptr;
        ASSERT_TRUE(test::runUntil([&] { return (editor = qobject_cast<QLineEdit*>(QApplication::focusWidget())); }));
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("Holiday"));

        c.change();
        EXPECT_EQ(preset->name(), QStringLiteral("Holiday")) << "the typed name is the preset's";
        const auto& users = store().userDefined();
        EXPECT_EQ(std::count_if(users.begin(), users.end(), [](const auto& p) { return p->name() == QStringLiteral("Holiday"); }), 1)
            << "only that preset took the name";
        const auto stored = presetsOfNextLaunch();
        EXPECT_TRUE(std::any_of(stored.begin(), stored.end(), [](const auto& p) { return p->name() == QStringLiteral("Holiday"); }))
            << "and it was saved";
        m_pane.reset();
    }
}

TEST_F(PresetEditorTest, TabRunsThroughTheFieldsAndBackToTheList)
{
    showPane();
    userPresetFrom(store().builtIn()[0]);
    m_pane->tableView()->setFocus();
    std::vector<QWidget*> visited;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    const std::vector<QWidget*> expected{field(0), field(1), field(2), field(3), m_pane->tableView()};
    EXPECT_EQ(visited, expected);
}

TEST_F(PresetEditorTest, LinePointsAtTheSelectedPreset)
{
    showPane();
    const auto preset = userPresetFrom(store().builtIn()[1]);
    QListView* list = m_pane->tableView();
    const QRect rect = list->visualRect(list->model()->index(*m_pane->tableRow(preset), 0));
    const QPoint inPane = list->viewport()->mapTo(m_pane.get(), rect.center());
    const int middle = m_pane->pointingLine()->mapFrom(m_pane.get(), inPane).y();
    EXPECT_NEAR(m_pane->pointingLine()->arrowPointY(), middle, 1.0);
}

TEST_F(PresetEditorTest, ScreenshotWithAUserPresetSelected)
{
    const auto preset = store().createUserPreset(*store().builtIn()[0]);
    preset->setName(QStringLiteral("Trips by month"));
    auto steps = preset->typedFolderSteps();
    steps[0]->setTokenFieldRepresentedObjects({token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)});
    steps[1]->setTokenFieldRepresentedObjects({token(T::namedMonth), QStringLiteral(" trip")});
    steps[2]->setTokenFieldRepresentedObjects({token(T::originalFileFormatFamily)});
    preset->typedFileNameStep()->setTokenFieldRepresentedObjects(
        {token(T::twoDigitDay), QStringLiteral("_"), token(T::originalFileName)});
    showPane();
    select(preset);
    ASSERT_TRUE(test::runUntil([&] { return !m_pane->pointingLine()->isAnimating(); }));

    const QImage image = m_pane->grab().toImage();
    const QString folder = QStringLiteral(VKL_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = QDir(folder).filePath(QStringLiteral("photo-sorting-pane.png"));
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    // Every row's field is wide enough for its pattern: nothing is cut off at the right.
    for (const PhotoSortingRowViewController* row : m_pane->rows()) {
        const PhotoSortingTokenField* shown = row->tokenField();
        if (shown->elementCount() > 0) {
            EXPECT_LE(shown->elementRect(shown->elementCount() - 1).right(), shown->width());
        }
    }
    for (const PhotoSortingTokenField* bin : m_pane->tokenBin()) {
        EXPECT_GE(bin->elementRect(0).left(), 0.0) << bin->toolTip().toStdString();
        EXPECT_LE(bin->elementRect(0).right(), bin->width()) << bin->toolTip().toStdString();
    }
    // The notch points at the selected preset.
    const QRect selected = m_pane->tableView()->visualRect(m_pane->tableView()->currentIndex());
    const QPoint middle = m_pane->pointingLine()->mapFrom(
        m_pane.get(), m_pane->tableView()->viewport()->mapTo(m_pane.get(), selected.center()));
    EXPECT_NEAR(m_pane->pointingLine()->currentPath().elementAt(2).y, middle.y(), 1.0);

    // And a built-in preset, read-only.
    select(store().builtIn()[0]);
    ASSERT_TRUE(test::runUntil([&] { return !m_pane->pointingLine()->isAnimating(); }));
    const QString builtInPath = QDir(folder).filePath(QStringLiteral("photo-sorting-pane-built-in.png"));
    ASSERT_TRUE(m_pane->grab().toImage().save(builtInPath)) << builtInPath.toStdString();

    // And a user preset without folders, which shows the no-folders row.
    select(store().createUserPreset(*store().builtIn()[1]));
    ASSERT_TRUE(test::runUntil([&] { return !m_pane->pointingLine()->isAnimating(); }));
    const QString noFoldersPath = QDir(folder).filePath(QStringLiteral("photo-sorting-pane-no-folders.png"));
    ASSERT_TRUE(m_pane->grab().toImage().save(noFoldersPath)) << noFoldersPath.toStdString();
}

} // namespace
} // namespace vornakel
