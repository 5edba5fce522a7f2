// A day of the sample camera copied into the photo library and into the photo editor's catalog, through the
// copy queue, the folder-backed library and the reference editor peer.
#include "support/CameraPhotos.h"
#include "CopyTestSupport.h"
#include "LightroomTestSupport.h"

#include "copying/destinations/LightroomCopyDestination.h"
#include "copying/destinations/PhotosCopyDestination.h"
#include "model/CameraFileScanning.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/core/Strings.h"
#include "platform/photolibrary/FolderPhotoLibrary.h"
#include "samplecamera/SampleCameraGenerator.h"

#include <QJsonObject>
#include <QSettings>

#include <algorithm>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

// The folder library, recording each import it is asked for.
class CountingLibrary : public FolderPhotoLibrary {
public:
    using FolderPhotoLibrary::FolderPhotoLibrary;
    void importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album,
                     ImportCompletion completion) override
    {
        imports.push_back(files);
        FolderPhotoLibrary::importPhoto(files, album, std::move(completion));
    }
    std::vector<std::vector<QString>> imports;
};

QStringList fileNames(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

TEST(LibraryAndEditorCopy, ADayOfTheSampleCameraGoesIntoTheLibraryAlbumAndIntoTheEditorCatalog)
{
    CopyFixture copy;
    tools::SampleCameraSpec spec;
    spec.outputFolder = copy.path(QStringLiteral("camera"));
    spec.shots = 12;
    spec.days = 3;
    spec.rawShare = 0.5;
    const auto sample = tools::generateSampleCamera(spec);
    ASSERT_TRUE(sample.ok()) << sample.error.toStdString();
    {
        // The camera offers its card at once, as after the user allowed this computer.
        QSettings ini(QDir(spec.outputFolder).filePath(QStringLiteral("camera.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("startsInStorageMode"), true);
    }
    const auto camera = SimulatedCamera::fromFolder(spec.outputFolder);
    const std::vector<PhotoPtr> all = photosOf(camera);
    ASSERT_EQ(all.size(), size_t(sample.shots.size()));

    // The first day's photos, as the day list offers them.
    const QDate firstDay = sample.shots.front().captureTime.date();
    std::vector<PhotoPtr> day;
    for (const auto& photo : all)
        if (photo->primaryVariant()->dateCreated() && photo->primaryVariant()->dateCreated()->date() == firstDay)
            day.push_back(photo);
    QStringList dayFiles;
    int pairs = 0;
    for (const auto& shot : sample.shots) {
        if (shot.captureTime.date() != firstDay)
            continue;
        dayFiles << QFileInfo(shot.jpegPath).fileName();
        if (!shot.rawPath.isEmpty()) {
            dayFiles << QFileInfo(shot.rawPath).fileName();
            ++pairs;
        }
    }
    dayFiles.sort();
    ASSERT_EQ(day.size(), 4u);
    ASSERT_GT(pairs, 0) << "the day must hold RAW+JPEG pairs";

    // Into the library.
    auto library = std::make_shared<CountingLibrary>(copy.path(QStringLiteral("Pictures")));
    QDir().mkpath(library->root());
    ASSERT_FALSE(library->setReferencedImportSetting(false));
    auto photos = PhotosCopyDestination::create(library, copy.defaults(), copy.presets(), copy.path(QStringLiteral("cache")));
    auto queue = PhotoCopyQueue::create(day, photos->copyQueueOptions());
    auto record = copy.run(queue, ConflictAnswer{FileNameConflictResolution::skip}, 30000ms);
    ASSERT_EQ(record->startedAnswer, true);
    const QString album = QDir(library->root()).filePath(GeneralUI::text(QStringLiteral("PhotosImportAlbumName")));
    EXPECT_EQ(fileNames(album), dayFiles);
    ASSERT_EQ(library->imports.size(), day.size()) << "one import per photo";
    for (size_t i = 0; i < day.size(); ++i)
        EXPECT_EQ(library->imports[i].size(), day[i]->previewVariant() ? 2u : 1u) << "RAW and JPEG in one import";
    EXPECT_EQ(photos->lastSessionReport().notTakenIn, 0);
    EXPECT_FALSE(photos->lastSessionReport().keptIn) << "the session folder is cleared";

    // Into the editor, through the reference peer.
    BridgeFixture editor;
    editor.makePeer();
    auto lightroom = LightroomCopyDestination::create(*editor.bridge, copy.defaults(), copy.presets());
    lightroom->setPorts(editor.requestPort, editor.responsePort);
    lightroom->setDestinationUrl(QUrl::fromLocalFile(copy.path(QStringLiteral("Catalog Pictures"))));
    queue = PhotoCopyQueue::create(day, lightroom->copyQueueOptions());
    record = copy.run(queue, ConflictAnswer{FileNameConflictResolution::skip}, 30000ms);
    ASSERT_EQ(record->startedAnswer, true);
    ASSERT_TRUE(runUntil([&] { return editor.bridge->state() == LrPluginState::notConnected; }));

    QStringList written;
    for (const auto& file : record->files)
        written << file.finalDestination().value_or(QString());
    ASSERT_EQ(written.size(), dayFiles.size());
    EXPECT_EQ(editor.peer->addedImages(), written) << "every file, in the copy's order";
    const auto& requests = editor.peer->requests();
    QStringList commands;
    for (const QJsonObject& request : requests)
        commands << request.value(QStringLiteral("message")).toString();
    QStringList expected{QStringLiteral("operationStarted")};
    for (qsizetype i = 0; i < written.size(); ++i)
        expected << QStringLiteral("addImageToCatalog");
    expected << QStringLiteral("operationEnded");
    // After the end only the link's own stop request may follow.
    EXPECT_EQ(commands.mid(0, expected.size()), expected);
    EXPECT_LE(commands.size(), expected.size() + 1);
    EXPECT_EQ(requests.front().value(QStringLiteral("fileCount")).toInt(), written.size());
    EXPECT_EQ(lightroom->lastSessionReport().notTakenIn, 0);
}

} // namespace
