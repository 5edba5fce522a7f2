#include "CopyTestSupport.h"
#include "LightroomTestSupport.h"

#include "copying/destinations/ui/LibraryAndEditorOffers.h"
#include "copying/destinations/ui/LightroomDestinationPane.h"
#include "copying/destinations/ui/PhotosDestinationPane.h"
#include "platform/core/Strings.h"
#include "support/FakePhotoLibrary.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;
using PaneState = LightroomDestinationPane::State;

namespace {

QString text(const char* key) { return GeneralUI::text(QString::fromLatin1(key)); }

void saveScreenshot(QWidget& widget, const QString& name)
{
    QCoreApplication::sendPostedEvents();
    const QDir folder(QStringLiteral(VKL_SCREENSHOT_DIR));
    ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
    ASSERT_TRUE(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

class LightroomPaneTest : public ::testing::Test {
protected:
    // folders: what the peer lists besides the folders of images it holds.
    void makePane(QStringList folders, tools::ReferenceEditorFaults faults = {}, bool installPlugin = true)
    {
        if (installPlugin) {
            EXPECT_EQ(editor.bridge->installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation()), std::nullopt);
        }
        tools::ReferenceEditorPeer::Options options;
        options.modulesFolder = editor.home.filePath(QStringLiteral("Modules"));
        options.catalogFolder = editor.home.filePath(QStringLiteral("Catalog"));
        options.folders = std::move(folders);
        options.faults = std::move(faults);
        editor.peer = std::make_unique<tools::ReferenceEditorPeer>(options);
        editor.workspace.peer = editor.peer.get();
        destination = LightroomCopyDestination::create(*editor.bridge, copy.defaults(), copy.presets());
        destination->setPorts(editor.requestPort, editor.responsePort);
        pane = std::make_unique<LightroomDestinationPane>(destination, copy.defaults(), copy.presets());
        pane->resize(520, 200);
    }
    QString folder(const QString& name)
    {
        const QString path = copy.path(QStringLiteral("catalog/") + name);
        QDir().mkpath(path);
        return path;
    }
    void setRunning() { editor.applications.running[LrPluginBridge::defaultApplicationIdentifier()].push_back(7); }
    bool waitFor(PaneState state, std::chrono::milliseconds deadline = 10000ms)
    {
        return runUntil([&] { return pane->state() == state; }, deadline);
    }

    CopyFixture copy;
    BridgeFixture editor;
    LightroomCopyDestination::Ptr destination;
    std::unique_ptr<LightroomDestinationPane> pane;
};

TEST_F(LightroomPaneTest, WithoutThePluginItOffersToInstallItAndThenConnects)
{
    const QString pictures = folder(QStringLiteral("Pictures"));
    makePane({pictures}, {}, false);
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::noPlugin));
    EXPECT_EQ(pane->statusLabel()->text(), text("CommunicatingWithLightroomNoPluginTitle"));
    EXPECT_TRUE(pane->statusButton()->isVisible());
    EXPECT_EQ(pane->statusButton()->text(), text("InstallPluginButtonTitle"));
    EXPECT_FALSE(pane->spinner()->isVisible());
    EXPECT_TRUE(editor.workspace.launched.empty());

    pane->statusButton()->click();
    ASSERT_TRUE(waitFor(PaneState::ready));
    EXPECT_TRUE(editor.bridge->pluginIsInstalled());
    EXPECT_EQ(destination->destinationUrl(), QUrl::fromLocalFile(pictures));
}

TEST_F(LightroomPaneTest, InstallingThePluginAsksBeforeQuittingARunningEditor)
{
    makePane({folder(QStringLiteral("Pictures"))}, {}, false);
    setRunning();
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::noPlugin));

    // "Cancel" keeps the editor and its work.
    pane->statusButton()->click();
    QPointer<QMessageBox> question = pane->quitQuestion();
    ASSERT_TRUE(question) << "a running editor is not quit without asking";
    EXPECT_EQ(question->objectName(), QStringLiteral("quitLightroomQuestion"));
    EXPECT_TRUE(editor.applications.terminated.empty());
    pane->statusButton()->click();
    EXPECT_EQ(pane->quitQuestion(), question) << "a second click does not ask twice";
    question->findChild<QPushButton*>(QStringLiteral("keepLightroomButton"))->click();
    ASSERT_TRUE(runUntil([&] { return !question; }));
    EXPECT_TRUE(editor.applications.terminated.empty());
    EXPECT_EQ(pane->state(), PaneState::noPlugin);
    EXPECT_FALSE(editor.bridge->pluginIsInstalled());

    // "Quit Lightroom" quits it, installs the plug-in and connects.
    pane->statusButton()->click();
    question = pane->quitQuestion();
    ASSERT_TRUE(question);
    question->findChild<QPushButton*>(QStringLiteral("quitLightroomButton"))->click();
    ASSERT_TRUE(waitFor(PaneState::ready));
    EXPECT_EQ(editor.applications.terminated.size(), 1u);
    EXPECT_TRUE(editor.bridge->pluginIsInstalled());
}

TEST_F(LightroomPaneTest, ThePluginGoneAfterTheLaunchButtonWasShownStillOffersInstall)
{
    makePane({folder(QStringLiteral("Pictures"))});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::notLaunched));
    EXPECT_EQ(pane->statusButton()->text(), text("LaunchLightroomButtonTitle"));
    EXPECT_EQ(editor.bridge->uninstallPlugin(), std::nullopt);
    pane->updateConfigurationDetailsFromLightroom(false, false);
    ASSERT_TRUE(waitFor(PaneState::noPlugin));
    EXPECT_EQ(pane->statusButton()->text(), text("InstallPluginButtonTitle"));
    pane->statusButton()->click();
    ASSERT_TRUE(waitFor(PaneState::ready));
    EXPECT_TRUE(editor.bridge->pluginIsInstalled());
}

TEST_F(LightroomPaneTest, NotRunningWaitsForTheLaunchButtonThenListsReachableFoldersWithTheFirstAsTarget)
{
    const QString first = folder(QStringLiteral("b_first"));
    const QString second = folder(QStringLiteral("c_second"));
    makePane({copy.path(QStringLiteral("catalog/a_missing")), first, second});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::notLaunched));
    EXPECT_TRUE(editor.workspace.launched.empty());
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
    saveScreenshot(*pane, QStringLiteral("copy-destination-editor-not-launched"));

    pane->statusButton()->click();
    ASSERT_TRUE(waitFor(PaneState::ready));
    EXPECT_FALSE(editor.workspace.launched.empty());
    EXPECT_TRUE(pane->copyConfigurationView()->isVisible());
    EXPECT_FALSE(pane->statusView()->isVisible());
    ASSERT_EQ(pane->folderPopUp()->count(), 2);
    EXPECT_EQ(pane->folderPopUp()->itemText(0), QStringLiteral("b_first"));
    EXPECT_EQ(destination->destinationUrl(), QUrl::fromLocalFile(first));
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    EXPECT_TRUE(destination->hasCommunicatedWithLightroomAtLeastOnce());

    // Choosing a folder makes it the target; asking again keeps it selected.
    emit pane->folderPopUp()->activated(1);
    EXPECT_EQ(destination->destinationUrl(), QUrl::fromLocalFile(second));
    int received = 0;
    QObject::connect(pane.get(), &LightroomDestinationPane::catalogFoldersChanged, [&] { ++received; });
    pane->updateConfigurationDetailsFromLightroom(false, false);
    ASSERT_TRUE(runUntil([&] { return received == 1; }));
    EXPECT_EQ(pane->state(), PaneState::ready);
    EXPECT_EQ(pane->folderPopUp()->currentIndex(), 1);
    EXPECT_EQ(destination->destinationUrl(), QUrl::fromLocalFile(second));
}

TEST_F(LightroomPaneTest, OnlyExistingFoldersAreOfferedAndNoneLeavesOneDisabledItemAndCopyOff)
{
    setRunning();
    const QString file = copy.path(QStringLiteral("catalog/notes.txt"));
    CopyFixture::write(file, "not a folder");
    makePane({copy.path(QStringLiteral("nowhere")), file});
    destination->setDestinationUrl(QUrl::fromLocalFile(copy.outPath()));
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::ready));
    ASSERT_EQ(pane->folderPopUp()->count(), 1);
    EXPECT_EQ(pane->folderPopUp()->itemText(0), text("LightroomNoTargetFoldersTitle"));
    EXPECT_FALSE(pane->folderPopUp()->isEnabled());
    EXPECT_FALSE(destination->destinationUrl());
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
}

TEST_F(LightroomPaneTest, AnEmptyCatalogSaysWhatToDoAndRefreshFindsTheFolderAddedSince)
{
    setRunning();
    // The catalog names a folder that is not there yet: nothing to copy into.
    const QString later = copy.path(QStringLiteral("catalog/added later"));
    makePane({later});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::ready));
    EXPECT_FALSE(pane->folderPopUp()->isEnabled());
    EXPECT_TRUE(pane->emptyCatalogHint()->isVisible());
    EXPECT_TRUE(pane->emptyCatalogHint()->text().contains(QStringLiteral("add a folder to the catalog")))
        << pane->emptyCatalogHint()->text().toStdString();
    ASSERT_TRUE(pane->refreshButton()->isVisible());
    EXPECT_TRUE(pane->refreshButton()->isEnabled());

    QDir().mkpath(later);
    int received = 0;
    QObject::connect(pane.get(), &LightroomDestinationPane::catalogFoldersChanged, [&] { ++received; });
    pane->refreshButton()->click();
    ASSERT_TRUE(runUntil([&] { return received == 1 && pane->state() == PaneState::ready; }));
    ASSERT_EQ(pane->folderPopUp()->count(), 1);
    EXPECT_TRUE(pane->folderPopUp()->isEnabled());
    EXPECT_EQ(destination->destinationUrl(), QUrl::fromLocalFile(later));
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    EXPECT_FALSE(pane->emptyCatalogHint()->isVisible());
    EXPECT_FALSE(pane->refreshButton()->isVisible());
}

TEST_F(LightroomPaneTest, OnlyAbsoluteLocalPathsOfFoldersAreReachable)
{
    const QString existing = folder(QStringLiteral("Pictures"));
    const QString file = copy.path(QStringLiteral("catalog/notes.txt"));
    CopyFixture::write(file, "x");
    const QStringList offered{QStringLiteral("relative/Pictures"), QStringLiteral("file://") + existing,
                              QStringLiteral("smb://server/share"), file, copy.path(QStringLiteral("nowhere")),
                              QString(), existing + QStringLiteral("/../Pictures"), existing};
    EXPECT_EQ(LightroomDestinationPane::reachableFolders(offered),
              (std::vector<QUrl>{QUrl::fromLocalFile(existing), QUrl::fromLocalFile(existing)}));
}

TEST_F(LightroomPaneTest, ASilentPeerEndsInTheFailedStateAtTheTimeOut)
{
    setRunning();
    tools::ReferenceEditorFaults faults;
    faults.silentCommands = {QStringLiteral("getCatalogPath")};
    makePane({folder(QStringLiteral("Pictures"))}, faults);
    pane->setRefreshTimeout(500ms);
    pane->show();
    EXPECT_EQ(pane->state(), PaneState::communicating);
    EXPECT_TRUE(pane->spinner()->isVisible());
    ASSERT_TRUE(waitFor(PaneState::failed, 5000ms));
    EXPECT_FALSE(pane->spinner()->isVisible());
    EXPECT_EQ(pane->statusButton()->text(), text("InstallPluginButtonTitle"));
}

TEST_F(LightroomPaneTest, TheEditorQuittingShowsTheLaunchButton)
{
    setRunning();
    makePane({folder(QStringLiteral("Pictures"))});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::ready));
    editor.applications.running.clear();
    editor.bridge->refreshLightroomIsRunning();
    ASSERT_TRUE(waitFor(PaneState::notLaunched));
}

TEST_F(LightroomPaneTest, AWorkingPaneAsksQuietlyUntilTheSheetDropsTheDestination)
{
    setRunning();
    makePane({folder(QStringLiteral("Pictures"))});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::ready));
    // Shown again: it asks without covering the folder choice with progress.
    pane->hide();
    pane->show();
    EXPECT_EQ(pane->state(), PaneState::ready);

    destination->copyDestinationInstanceWillNotBeUsed();
    EXPECT_FALSE(destination->hasCommunicatedWithLightroomAtLeastOnce());
    ASSERT_TRUE(runUntil([&] { return editor.bridge->state() == LrPluginState::notConnected; }));
    pane->hide();
    pane->show();
    EXPECT_EQ(pane->state(), PaneState::communicating);
    ASSERT_TRUE(waitFor(PaneState::ready));
}

TEST_F(LightroomPaneTest, ThePresetStartsAsStoredAndAChoiceIsWrittenAtOnce)
{
    copy.defaults().setValue(LightroomCopyDestination::lightroomSortingUserDefaultsKey(), UserDefinedPhotoSorting::flat()->presetId());
    makePane({folder(QStringLiteral("Pictures"))});
    EXPECT_EQ(destination->sorting(), UserDefinedPhotoSorting::flat());
    EXPECT_EQ(pane->presetPopUp()->currentText(), text("PresetFlatName"));
    const int byDate = pane->presetPopUp()->findText(text("PresetNumericByDateName"));
    ASSERT_GE(byDate, 0);
    pane->presetPopUp()->setCurrentIndex(byDate);
    emit pane->presetPopUp()->activated(byDate);
    EXPECT_EQ(destination->sorting(), UserDefinedPhotoSorting::byPaddedNumericDate());
    EXPECT_EQ(copy.defaults().stringForKey(LightroomCopyDestination::lightroomSortingUserDefaultsKey()),
              UserDefinedPhotoSorting::byPaddedNumericDateIdentifier());
}

TEST_F(LightroomPaneTest, ScreenshotOfTheReadyPane)
{
    setRunning();
    makePane({folder(QStringLiteral("Pictures")), folder(QStringLiteral("Trips/Iceland 2026"))});
    pane->show();
    ASSERT_TRUE(waitFor(PaneState::ready));
    saveScreenshot(*pane, QStringLiteral("copy-destination-editor-ready"));
    pane->updateConfigurationDetailsFromLightroom(true, false);
    saveScreenshot(*pane, QStringLiteral("copy-destination-editor-communicating"));
}

class PhotosPaneTest : public ::testing::Test {
protected:
    PhotosPaneTest()
    {
        library = std::make_shared<FakePhotoLibrary>();
        destination = PhotosCopyDestination::create(library, copy.defaults(), copy.presets(), copy.path(QStringLiteral("cache")));
        pane = std::make_unique<PhotosDestinationPane>(destination, copy.defaults(), copy.presets());
        pane->resize(520, 220);
        pane->show();
    }
    void useReferencedImport()
    {
        {
            std::lock_guard lock(library->mutex);
            library->setting = true;
        }
        destination->refreshReferencedImportSetting();
        ASSERT_TRUE(runUntil([&] { return destination->photosUsesReferencedImport(); }));
    }
    bool drop(const QUrl& url)
    {
        QMimeData mime;
        mime.setUrls({url});
        const bool offered = pane->canDrop(&mime);
        const bool taken = pane->drop(&mime);
        EXPECT_EQ(offered, taken);
        return taken;
    }

    CopyFixture copy;
    std::shared_ptr<FakePhotoLibrary> library;
    PhotosCopyDestination::Ptr destination;
    std::unique_ptr<PhotosDestinationPane> pane;
};

TEST_F(PhotosPaneTest, ReferencedImportFolderAndPresetAreDimmedUntilTheLibraryImportsByReference)
{
    EXPECT_EQ(pane->libraryLabel()->text(), library->location());
    EXPECT_EQ(pane->libraryLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(pane->folderLabel()->text(), text("NoDestinationPlaceholder"));
    EXPECT_FALSE(pane->chooseButton()->isEnabled());
    EXPECT_FALSE(pane->presetPopUp()->isEnabled());
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());
    pane->albumCheckBox()->click();
    EXPECT_FALSE(destination->addToImportedFromVornakelAlbum());

    useReferencedImport();
    EXPECT_TRUE(pane->chooseButton()->isEnabled());
    EXPECT_TRUE(pane->presetPopUp()->isEnabled());
    EXPECT_EQ(pane->modeLabel()->text(), text("PhotosReferencedImportExplanation"));
    EXPECT_FALSE(destination->currentConfigurationAllowsCopyToStart());
}

TEST_F(PhotosPaneTest, DroppingAFolderSetsItAndRemembersItButPackagesAndFilesAreRefused)
{
    useReferencedImport();
    const QString package = copy.path(QStringLiteral("Tools.app"));
    const QString file = copy.path(QStringLiteral("note.txt"));
    QDir().mkpath(package);
    CopyFixture::write(file, "x");
    EXPECT_FALSE(drop(QUrl::fromLocalFile(package)));
    EXPECT_FALSE(drop(QUrl::fromLocalFile(file)));
    EXPECT_FALSE(drop(QUrl(QStringLiteral("https://example.invalid/photos"))));
    EXPECT_FALSE(destination->referencedImportCopyDestination());

    EXPECT_TRUE(PhotosDestinationPane::isAcceptableFolder(QUrl::fromLocalFile(copy.outPath())));
    EXPECT_TRUE(pane->chooseButton()->isEnabled());
    EXPECT_TRUE(drop(QUrl::fromLocalFile(copy.outPath())));
    EXPECT_EQ(destination->referencedImportCopyDestination(), QUrl::fromLocalFile(copy.outPath()));
    EXPECT_EQ(copy.defaults().urlForKey(PhotosCopyDestination::destinationUserDefaultsKey()), QUrl::fromLocalFile(copy.outPath()));
    EXPECT_EQ(pane->folderLabel()->text(), copy.outPath());
    EXPECT_TRUE(destination->currentConfigurationAllowsCopyToStart());

    // The next destination starts with the remembered folder.
    auto next = PhotosCopyDestination::create(library, copy.defaults(), copy.presets(), copy.path(QStringLiteral("cache")));
    EXPECT_EQ(next->referencedImportCopyDestination(), QUrl::fromLocalFile(copy.outPath()));
}

TEST_F(PhotosPaneTest, ChoosingAPresetWritesItAtOnce)
{
    useReferencedImport();
    const int flat = pane->presetPopUp()->findText(text("PresetFlatName"));
    ASSERT_GE(flat, 0);
    pane->presetPopUp()->setCurrentIndex(flat);
    emit pane->presetPopUp()->activated(flat);
    EXPECT_EQ(destination->referencedImportSorting(), UserDefinedPhotoSorting::flat());
    EXPECT_EQ(copy.defaults().stringForKey(PhotosCopyDestination::photosSortingUserDefaultsKey()),
              UserDefinedPhotoSorting::flat()->presetId());
}

TEST_F(PhotosPaneTest, ScreenshotOfThePane)
{
    saveScreenshot(*pane, QStringLiteral("copy-destination-library"));
    useReferencedImport();
    pane->useReferencedImportFolder(QUrl::fromLocalFile(copy.outPath()));
    saveScreenshot(*pane, QStringLiteral("copy-destination-library-referenced"));
}

TEST(LibraryAndEditorOffers, OfferTheLibraryWhenThereIsOneAndTheEditorWhenInstalledInThatOrder)
{
    CopyFixture copy;
    BridgeFixture editor;
    auto library = std::make_shared<FakePhotoLibrary>();
    const struct {
        bool library;
        bool editor;
        std::vector<QString> names;
    } cases[] = {
        {true, true, {text("PhotosDestinationName"), text("LightroomDestinationName")}},
        {false, true, {text("LightroomDestinationName")}},
        {true, false, {text("PhotosDestinationName")}},
        {false, false, {}},
    };
    for (const auto& each : cases) {
        library->present = each.library;
        editor.workspace.installed = each.editor;
        LibraryAndEditorDestinations destinations(library, *editor.bridge, copy.defaults(), copy.presets());
        const auto offers = destinations.offers();
        std::vector<QString> names;
        for (const auto& offer : offers) {
            names.push_back(offer.destination->name());
            auto paneWidget = offer.makePane(offer.destination);
            EXPECT_TRUE(paneWidget);
        }
        EXPECT_EQ(names, each.names);
        // The same destinations on every ask, so their settings carry over.
        const auto again = destinations.offers();
        for (size_t i = 0; i < offers.size() && i < again.size(); ++i)
            EXPECT_EQ(offers[i].destination, again[i].destination);
    }
}

} // namespace
