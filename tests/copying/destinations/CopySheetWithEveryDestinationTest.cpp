// The copy sheet as a computer with the photo library and the photo editor shows it: three buttons in order,
// and each destination's own pane beside them. Writes screenshots with the library chosen and with the editor
// chosen and ready.
#include "CopyTestSupport.h"
#include "LightroomTestSupport.h"

#include "copying/destinations/ui/LibraryAndEditorOffers.h"
#include "copying/destinations/ui/LightroomDestinationPane.h"
#include "copying/ui/CopyConfigurationViewController.h"
#include "copying/ui/CopyDestinationStackViewItem.h"
#include "copying/ui/CopyFlowController.h"
#include "copying/ui/FolderCopyDestinationConfigurationViewController.h"
#include "ui/LineViews.h"
#include "support/FakePhotoLibrary.h"
#include "support/RecordingWorkspace.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QToolButton>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

TEST(CopySheetWithEveryDestination, FolderLibraryAndEditorEachWithTheirPane)
{
    CopyFixture copy;
    BridgeFixture editor;
    editor.workspace.installed = true;
    auto library = std::make_shared<FakePhotoLibrary>();
    library->present = true;
    // The editor runs, with the plug-in installed, and serves one folder of its catalog.
    EXPECT_EQ(editor.bridge->installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation()), std::nullopt);
    editor.applications.running[LrPluginBridge::defaultApplicationIdentifier()].push_back(7);
    tools::ReferenceEditorPeer::Options peerOptions;
    peerOptions.modulesFolder = editor.home.filePath(QStringLiteral("Modules"));
    peerOptions.catalogFolder = editor.home.filePath(QStringLiteral("Catalog"));
    const QString pictures = copy.path(QStringLiteral("catalog/Pictures"));
    QDir().mkpath(pictures);
    peerOptions.folders = {pictures};
    editor.peer = std::make_unique<tools::ReferenceEditorPeer>(peerOptions);
    editor.workspace.peer = editor.peer.get();
    LibraryAndEditorDestinations destinations(library, *editor.bridge, copy.defaults(), copy.presets());
    destinations.lightroomDestination()->setPorts(editor.requestPort, editor.responsePort);
    std::vector<CopyDestinationOffer> offers{folderCopyDestinationOffer(copy.defaults(), copy.presets())};
    for (CopyDestinationOffer& offer : destinations.offers())
        offers.push_back(std::move(offer));

    QMainWindow window;
    window.resize(900, 600);
    window.show();
    RecordingWorkspace workspace;
    CopySheetEnvironment environment(workspace);
    environment.defaults = &copy.defaults();
    auto* sheet = new CopyConfigurationViewController(offers, environment, &window);
    sheet->open();
    ASSERT_EQ(sheet->stackItems().size(), 3u);
    std::vector<QWidget*> panes;
    for (CopyDestinationStackViewItem* item : sheet->stackItems()) {
        item->button()->click();
        EXPECT_EQ(sheet->currentDestination(), item->destination());
        panes.push_back(sheet->currentPane());
    }
    EXPECT_TRUE(qobject_cast<FolderCopyDestinationConfigurationViewController*>(panes[0]));
    EXPECT_NE(panes[1], panes[0]);
    EXPECT_NE(panes[2], panes[1]);
    sheet->stackItems()[1]->button()->click();
    EXPECT_EQ(sheet->currentDestination(), destinations.photosDestination());
    QCoreApplication::sendPostedEvents();
    const QDir folder(QStringLiteral(VKL_SCREENSHOT_DIR));
    ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
    ASSERT_TRUE(runUntil([&] { return !sheet->lineView()->isAnimating(); }));
    EXPECT_TRUE(sheet->grab().save(folder.filePath(QStringLiteral("copy-configuration-library.png"))));

    sheet->stackItems()[2]->button()->click();
    auto* editorPane = qobject_cast<LightroomDestinationPane*>(sheet->currentPane());
    ASSERT_TRUE(editorPane);
    ASSERT_TRUE(runUntil([&] { return editorPane->state() == LightroomDestinationPane::State::ready; }, 10000ms));
    ASSERT_TRUE(runUntil([&] { return !sheet->lineView()->isAnimating(); }));
    EXPECT_TRUE(sheet->copyButton()->isEnabled()) << "a reachable catalog folder is the target";
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(sheet->grab().save(folder.filePath(QStringLiteral("copy-configuration-editor.png"))));
    sheet->cancelCopy();
    delete sheet;
}

} // namespace
