#include "CopyTestSupport.h"
#include "support/CameraPhotos.h"

#include "model/CameraFileScanning.h"
#include "platform/camera/simulated/SimulatedCamera.h"

#include <algorithm>

using namespace vornakel;
using namespace vornakel::test;
using Kind = PhotoVariantCopyOperation::State::Kind;

TEST(SimulatedCameraCopy, AServedFolderIsCopiedAndItsStreamFaultsFailOnlyTheirFiles)
{
    CopyFixture fixture;
    const QString camera = fixture.path(QStringLiteral("camera"));
    const QByteArray bytes = QByteArray("camera bytes ").repeated(2000);
    for (const char* name : {"A.JPG", "B.JPG", "C.JPG"})
        CopyFixture::write(camera + QStringLiteral("/DCIM/100TEST/") + QString::fromLatin1(name), bytes);
    CopyFixture::write(camera + QStringLiteral("/camera.ini"),
                       "[General]\nstartsInStorageMode=true\nchunkSize=4096\nlatencyMs=2\n"
                       "streamShortByBytes=10\nstreamFaultFiles=B.JPG\n");
    // Items work only while their camera is connected, so the camera stays for the whole copy.
    const auto served = SimulatedCamera::fromFolder(camera);
    const std::vector<PhotoPtr> photos = photosOf(served);
    ASSERT_EQ(photos.size(), 3u);

    auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
    const auto record = fixture.run(queue);
    std::vector<Kind> states;
    for (const auto& file : record->files)
        states.push_back(file.state().kind);
    EXPECT_EQ(states, (std::vector<Kind>{Kind::copiedSuccessfully, Kind::failed, Kind::copiedSuccessfully}));
    // B's stream ended 10 bytes early while reporting success: that is no copy.
    const auto failure = record->files[1].state().error;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code, int(PhotoVariantCopyOperation::streamIncomplete));
    EXPECT_EQ(fixture.entries(), QStringList({"A.JPG", "C.JPG"}));
    EXPECT_EQ(CopyFixture::read(fixture.outFile("A.JPG")), bytes);
    EXPECT_EQ(CopyFixture::read(fixture.outFile("C.JPG")), bytes);
    // The copy carries the file's date as the camera reports it (here the served file's modification time).
    EXPECT_EQ(QFileInfo(fixture.outFile("A.JPG")).lastModified(), *photos.front()->primaryVariant()->dateCreated());
}
