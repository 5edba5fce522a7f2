// The copy configuration sheet and the folder pane: which destinations are offered and chosen, what each
// button tells the destinations, and what the folder pane shows and writes.
#include "CopySheetsTestSupport.h"

#include "copying/ui/CopyDestinationStackViewItem.h"
#include "copying/ui/CopyFlowController.h"
#include "copying/ui/FolderCopyDestinationConfigurationViewController.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"
#include "ui/HelpAnchorButton.h"
#include "ui/LineViews.h"

#include <QAccessible>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

using namespace vornakel;
using namespace vornakel::test;

namespace {

const QString kLastKey = QStringLiteral("LastCopyDestinationIdentifier");

class CopyConfigurationSheetTest : public ::testing::Test, public SheetFixture {
protected:
    CopyConfigurationViewController* open(std::vector<CopyDestinationOffer> offers)
    {
        auto* sheet = new CopyConfigurationViewController(std::move(offers), environment, &window);
        sheet->setSourcePhotos({photo(QStringLiteral("IMG_0001.JPG"))});
        sheet->setCamera(camera);
        sheet->open();
        return sheet;
    }
    static QStringList titles(const CopyConfigurationViewController& sheet)
    {
        QStringList shown;
        for (CopyDestinationStackViewItem* item : sheet.stackItems())
            shown << item->button()->text();
        return shown;
    }
};

TEST_F(CopyConfigurationSheetTest, OffersOneButtonPerDestinationInOrderAndPreselectsTheStoredOne)
{
    const auto folder = destination(QStringLiteral("folder"));
    const auto library = destination(QStringLiteral("library"));
    const auto editor = destination(QStringLiteral("editor"));
    const struct {
        const char* name;
        std::vector<std::shared_ptr<RecordingDestination>> offered;
        QString stored;
        QStringList buttons;
        QString chosen;
    } cases[] = {
        {"first use, folder only", {folder}, {}, {"folder"}, "folder"},
        {"folder and library", {folder, library}, {}, {"folder", "library"}, "folder"},
        {"all three, library stored", {folder, library, editor}, "library", {"folder", "library", "editor"}, "library"},
        {"editor stored but gone", {folder, library}, "editor", {"folder", "library"}, "folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored.isEmpty())
            defaults().removeObject(kLastKey);
        else
            defaults().setValue(kLastKey, c.stored);
        std::vector<CopyDestinationOffer> offers;
        for (const auto& d : c.offered)
            offers.push_back(offerOf(d));
        CopyConfigurationViewController* sheet = open(offers);
        EXPECT_EQ(titles(*sheet), c.buttons);
        ASSERT_TRUE(sheet->currentDestination());
        EXPECT_EQ(sheet->currentDestination()->identifier(), c.chosen);
        // What a screen reader reads of each button: its destination's name, and which one is chosen.
        for (CopyDestinationStackViewItem* item : sheet->stackItems()) {
            QAccessibleInterface* button = QAccessible::queryAccessibleInterface(item->button());
            ASSERT_TRUE(button);
            EXPECT_EQ(button->text(QAccessible::Name), item->destination()->name());
            EXPECT_EQ(button->text(QAccessible::Description), QStringLiteral("Copy to ") + item->destination()->name());
            EXPECT_EQ(bool(button->state().checked), item->destination()->identifier() == c.chosen);
        }
        EXPECT_EQ(sheet->currentPane()->objectName(), c.chosen + QStringLiteral("Pane"));
        EXPECT_EQ(sheet->helpButton()->anchorName(), QStringLiteral("Help_") + c.chosen);
        // Opening never writes the choice: a stale value stays until the user clicks.
        EXPECT_EQ(defaults().stringForKey(kLastKey), c.stored);
        ASSERT_TRUE(runUntil([&] { return sheet->lineView()->hasPath(); }));
        const int chosenRow = int(std::find(c.buttons.begin(), c.buttons.end(), c.chosen) - c.buttons.begin());
        QWidget* chosenItem = sheet->stackItems()[size_t(chosenRow)];
        const QRectF strip = sheet->stackItems()[size_t(chosenRow)]->subFrameToPointTo();
        const qreal aimed = sheet->lineView()->mapFromGlobal(chosenItem->mapToGlobal(strip.center())).y();
        EXPECT_NEAR(sheet->lineView()->arrowPointY(), aimed, 1.0) << "the line points at the chosen button";
        sheet->cancelCopy();
    }
}

TEST_F(CopyConfigurationSheetTest, ClickingADestinationSwapsThePaneAndStoresItsIdentifier)
{
    const auto folder = destination(QStringLiteral("folder"));
    const auto library = destination(QStringLiteral("library"));
    CopyConfigurationViewController* sheet = open({offerOf(folder), offerOf(library)});
    sheet->stackItems()[1]->button()->click();
    EXPECT_EQ(sheet->currentDestination(), library);
    EXPECT_EQ(sheet->currentPane()->objectName(), QStringLiteral("libraryPane"));
    EXPECT_EQ(defaults().stringForKey(kLastKey), QStringLiteral("library"));
    EXPECT_TRUE(sheet->stackItems()[1]->button()->isChecked());
    EXPECT_FALSE(sheet->stackItems()[0]->button()->isChecked());
    QWidget* libraryPane = sheet->currentPane();
    // Choosing the chosen one again keeps its pane and stores the same value again.
    defaults().removeObject(kLastKey);
    sheet->stackItems()[1]->button()->click();
    EXPECT_EQ(sheet->currentPane(), libraryPane);
    EXPECT_EQ(defaults().stringForKey(kLastKey), QStringLiteral("library"));
    sheet->cancelCopy();
}

TEST_F(CopyConfigurationSheetTest, CopyButtonFollowsTheChosenDestinationLive)
{
    const auto folder = destination(QStringLiteral("folder"), false);
    const auto library = destination(QStringLiteral("library"), true);
    CopyConfigurationViewController* sheet = open({offerOf(folder), offerOf(library)});
    EXPECT_FALSE(sheet->copyButton()->isEnabled());
    folder->setAllowed(true);
    EXPECT_TRUE(sheet->copyButton()->isEnabled());
    folder->setAllowed(false);
    EXPECT_FALSE(sheet->copyButton()->isEnabled());
    sheet->stackItems()[1]->button()->click();
    EXPECT_TRUE(sheet->copyButton()->isEnabled()) << "switches at once with the destination";
    // The destination no longer chosen no longer drives the button.
    folder->setAllowed(true);
    library->setAllowed(false);
    EXPECT_FALSE(sheet->copyButton()->isEnabled());
    sheet->cancelCopy();
}

TEST_F(CopyConfigurationSheetTest, CancelTellsEveryDestinationCopyTellsOnlyTheOthers)
{
    {
        const auto folder = destination(QStringLiteral("folder"));
        const auto library = destination(QStringLiteral("library"));
        QPointer<CopyConfigurationViewController> sheet = open({offerOf(folder), offerOf(library)});
        sheet->cancelButton()->click();
        EXPECT_EQ(folder->willNotBeUsed, 1);
        EXPECT_EQ(library->willNotBeUsed, 1);
        EXPECT_TRUE(runUntil([&] { return !sheet || !sheet->isVisible(); }));
    }
    {
        const auto folder = destination(QStringLiteral("folder"));
        const auto library = destination(QStringLiteral("library"));
        const auto editor = destination(QStringLiteral("editor"));
        CopyConfigurationViewController* sheet = open({offerOf(folder), offerOf(library), offerOf(editor)});
        sheet->stackItems()[1]->button()->click();
        CopyProgressViewController* progress = nullptr;
        QObject::connect(sheet, &CopyConfigurationViewController::progressSheetOpened,
                         [&](CopyProgressViewController* opened) { progress = opened; });
        const QRect frame = sheet->geometry();
        sheet->copyButton()->click();
        EXPECT_EQ(folder->willNotBeUsed, 1);
        EXPECT_EQ(library->willNotBeUsed, 0);
        EXPECT_EQ(editor->willNotBeUsed, 1);
        ASSERT_TRUE(progress);
        EXPECT_EQ(progress->queue()->options().destination, library);
        EXPECT_EQ(progress->geometry().top(), frame.top()) << "the progress sheet keeps the top edge";
        EXPECT_NEAR(progress->geometry().center().x(), frame.center().x(), 1);
        QPointer<CopyProgressViewController> watched = progress;
        ASSERT_TRUE(runUntil([&] { return !watched; }));
        EXPECT_TRUE(QFileInfo::exists(outFile(QStringLiteral("IMG_0001.JPG"))));
    }
}

TEST_F(CopyConfigurationSheetTest, CopyWithoutPhotosOrCameraBeepsAndChangesNothing)
{
    const auto folder = destination(QStringLiteral("folder"));
    auto* sheet = new CopyConfigurationViewController({offerOf(folder)}, environment, &window);
    sheet->open();
    sheet->copyButton()->click();
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(folder->willNotBeUsed, 0);
    sheet->cancelCopy();
}

// ---- Folder pane ------------------------------------------------------------------------------------------------

class FolderPaneTest : public ::testing::Test, public SheetFixture {
protected:
    std::unique_ptr<FolderCopyDestinationConfigurationViewController> pane(const FolderCopyDestination::Ptr& folder)
    {
        auto made = std::make_unique<FolderCopyDestinationConfigurationViewController>(folder, defaults(), presets());
        made->show();
        return made;
    }
    void drop(QWidget* target, const QUrl& url)
    {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        lastDropOffered = enter.isAccepted();
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropped);
    }
    bool lastDropOffered = false;
};

TEST_F(FolderPaneTest, ShowsTheStoredFolderOrThePlaceholder)
{
    auto empty = pane(FolderCopyDestination::create(defaults(), presets()));
    EXPECT_TRUE(empty->destinationPathControl()->text().isEmpty());
    EXPECT_EQ(empty->destinationPathControl()->placeholderText(), QStringLiteral("No folder chosen"));

    defaults().setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(outPath()));
    auto stored = pane(FolderCopyDestination::create(defaults(), presets()));
    EXPECT_EQ(stored->destinationPathControl()->text(), outPath());
    EXPECT_FALSE(stored->warningLabel()->isVisible());
}

TEST_F(FolderPaneTest, TakesADroppedFolderAndRefusesFilesAndRemoteUrls)
{
    const QString file = path(QStringLiteral("a.jpg"));
    write(file, "x");
    const QString other = path(QStringLiteral("other folder"));
    QDir().mkpath(other);
    const struct {
        const char* name;
        QUrl url;
        bool accepted;
    } cases[] = {
        {"a plain folder", QUrl::fromLocalFile(other), true},
        {"a file", QUrl::fromLocalFile(file), false},
        {"a folder that does not exist", QUrl::fromLocalFile(path(QStringLiteral("gone"))), false},
        {"a web address", QUrl(QStringLiteral("https://example.com/photos/")), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().removeObject(FolderCopyDestination::destinationUserDefaultsKey());
        const auto folder = FolderCopyDestination::create(defaults(), presets());
        auto shown = pane(folder);
        drop(shown->destinationPathControl(), c.url);
        EXPECT_EQ(lastDropOffered, c.accepted);
        EXPECT_EQ(folder->destination().has_value(), c.accepted);
        EXPECT_EQ(folder->currentConfigurationAllowsCopyToStart(), c.accepted);
        EXPECT_EQ(defaults().urlForKey(FolderCopyDestination::destinationUserDefaultsKey()).isEmpty(), !c.accepted);
        EXPECT_EQ(shown->destinationPathControl()->text(), c.accepted ? other : QString());
    }
}

TEST_F(FolderPaneTest, FolderDialogWritesTheChosenFolderAndWarnsWhenItIsNotWritable)
{
    const auto folder = FolderCopyDestination::create(defaults(), presets());
    auto shown = pane(folder);
    shown->setWritableCheck([](const QString&) { return false; });
    QFileDialog* dialog = nullptr;
    QObject::connect(shown.get(), &FolderCopyDestinationConfigurationViewController::folderDialogOpened,
                     [&](QFileDialog* opened) { dialog = opened; });
    shown->chooseFolderButton()->click();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("Choose"));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    dialog->setDirectory(outPath());
    dialog->selectFile(outPath());
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(folder->destination(), QUrl::fromLocalFile(outPath()));
    EXPECT_EQ(defaults().urlForKey(FolderCopyDestination::destinationUserDefaultsKey()), QUrl::fromLocalFile(outPath()));
    EXPECT_EQ(shown->destinationPathControl()->text(), outPath());
    EXPECT_TRUE(shown->warningLabel()->isVisible());
}

TEST_F(FolderPaneTest, TakesATypedFolderCheckedAsADroppedOne)
{
    const QString file = path(QStringLiteral("a.jpg"));
    write(file, "x");
    const QString other = path(QStringLiteral("typed folder"));
    QDir().mkpath(other);
    const struct {
        const char* name;
        QString typed;
        bool accepted;
    } cases[] = {
        {"an absolute folder", other, true},
        {"with a trailing slash and blanks", QStringLiteral("  ") + other + QStringLiteral("/ "), true},
        {"a file", file, false},
        {"a folder that does not exist", path(QStringLiteral("gone")), false},
        {"a relative path", QStringLiteral("typed folder"), false},
        {"a web address", QStringLiteral("https://example.com/photos/"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().removeObject(FolderCopyDestination::destinationUserDefaultsKey());
        const auto folder = FolderCopyDestination::create(defaults(), presets());
        auto shown = pane(folder);
        FolderPathField* field = shown->destinationPathControl();
        EXPECT_FALSE(field->isReadOnly());
        field->setFocus();
        field->setText(c.typed);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(field, &enter);
        EXPECT_EQ(folder->destination(), c.accepted ? std::optional<QUrl>(QUrl::fromLocalFile(other)) : std::nullopt);
        EXPECT_EQ(defaults().urlForKey(FolderCopyDestination::destinationUserDefaultsKey()).isEmpty(), !c.accepted);
        EXPECT_EQ(shown->warningLabel()->isVisible(), !c.accepted) << "a refused path says why";
        if (c.accepted)
            EXPECT_EQ(field->text(), other);
        else
            EXPECT_TRUE(shown->warningLabel()->text().contains(c.typed.trimmed())) << shown->warningLabel()->text().toStdString();
    }
}

TEST_F(FolderPaneTest, TheFolderDialogStartsAtTheFolderOrThePicturesFolderNeverTheWorkingFolder)
{
    // The Pictures folder as the desktop names it, and a working folder that must not be offered.
    const QString pictures = path(QStringLiteral("My Pictures"));
    QDir().mkpath(pictures);
    const QString userDirs = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs");
    write(userDirs, QStringLiteral("XDG_PICTURES_DIR=\"%1\"\n").arg(pictures).toUtf8());
    const QString working = path(QStringLiteral("working"));
    QDir().mkpath(working);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(working);

    const QString chosen = path(QStringLiteral("chosen before"));
    QDir().mkpath(chosen);
    const struct {
        const char* name;
        std::optional<QString> stored;
        QString start;
    } cases[] = {
        {"nothing chosen yet", std::nullopt, pictures},
        {"the current folder", chosen, chosen},
        {"a current folder that is gone", path(QStringLiteral("removed")), pictures},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().removeObject(FolderCopyDestination::destinationUserDefaultsKey());
        if (c.stored)
            defaults().setURL(FolderCopyDestination::destinationUserDefaultsKey(), QUrl::fromLocalFile(*c.stored));
        const auto folder = FolderCopyDestination::create(defaults(), presets());
        auto shown = pane(folder);
        QFileDialog* dialog = nullptr;
        QObject::connect(shown.get(), &FolderCopyDestinationConfigurationViewController::folderDialogOpened,
                         [&](QFileDialog* opened) { dialog = opened; });
        shown->chooseFolderButton()->click();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(c.start).canonicalPath());
        static_cast<QDialog*>(dialog)->reject();
    }
    QDir::setCurrent(previous);
    QFile::remove(userDirs);
}

TEST_F(FolderPaneTest, ChoosingAPresetWritesItAtOnce)
{
    const auto folder = FolderCopyDestination::create(defaults(), presets());
    auto shown = pane(folder);
    EXPECT_FALSE(defaults().hasStoredValue(FolderCopyDestination::photoSortingUserDefaultsKey())) << "opening writes nothing";
    QComboBox* menu = shown->photoSortingPresetMenu();
    const int flatRow = menu->findText(UserDefinedPhotoSorting::flat()->name());
    ASSERT_GE(flatRow, 0);
    menu->setCurrentIndex(flatRow);
    emit menu->activated(flatRow);
    EXPECT_EQ(folder->sorting()->presetId(), UserDefinedPhotoSorting::flat()->presetId());
    EXPECT_EQ(defaults().stringForKey(FolderCopyDestination::photoSortingUserDefaultsKey()),
              UserDefinedPhotoSorting::flat()->presetId());
}

} // namespace
