// Copies from a media-server camera (the UPnP test camera on 127.0.0.1): a file whose GET ends early or whose
// length differs from the listing fails, and leaves nothing under its name.
#include "CopyTestSupport.h"
#include "support/CameraPhotos.h"

#include "platform/camera/upnp/MediaServerCamera.h"
#include "upnp-camera/UpnpResponder.h"

using namespace vornakel;
using namespace vornakel::test;
using Kind = PhotoVariantCopyOperation::State::Kind;

TEST(MediaServerCopy, AShortOrMislistedFileFailsAndLeavesNoPartialFile)
{
    struct Case {
        const char* what;
        tools::UpnpResponderOptions options;
    };
    const Case cases[] = {
        {"the GET ends early", {.streamShortByBytes = 10, .streamFaultFiles = {QStringLiteral("B.JPG")}}},
        {"the connection breaks mid-file", {.streamErrorAfterBytes = 5000, .streamFaultFiles = {QStringLiteral("B.JPG")}}},
        {"the listing states other sizes", {.listedSizeDelta = 7}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        CopyFixture fixture;
        const QString camera = fixture.path(QStringLiteral("camera"));
        const QByteArray bytes = QByteArray("camera bytes ").repeated(2000);
        for (const char* name : {"A.JPG", "B.JPG", "C.JPG"})
            CopyFixture::write(camera + QStringLiteral("/DCIM/100MSDCF/") + QString::fromLatin1(name), bytes);
        tools::UpnpResponder responder(camera, each.options);
        ASSERT_TRUE(responder.listen());
        MediaServerCameraOptions options;
        options.descriptionUrl = QUrl(responder.descriptionUrl());
        const auto served = MediaServerCamera::create(options);
        const std::vector<PhotoPtr> photos = photosOf(served);
        ASSERT_EQ(photos.size(), 3u);

        auto queue = PhotoCopyQueue::create(photos, {fixture.flatDestination(), FileGroupBehaviour::copyAll});
        const auto record = fixture.run(queue);
        ASSERT_EQ(record->files.size(), 3u);
        QStringList copied;
        for (const auto& file : record->files) {
            if (file.state().kind == Kind::copiedSuccessfully)
                copied << file.photoVariant()->fileName();
        }
        EXPECT_EQ(fixture.entries(), copied) << "nothing but the whole copies, no temporary";
        if (each.options.listedSizeDelta != 0)
            EXPECT_TRUE(copied.isEmpty());
        else
            EXPECT_EQ(copied, QStringList({"A.JPG", "C.JPG"}));
        for (const QString& name : copied)
            EXPECT_EQ(CopyFixture::read(fixture.outFile(name)), bytes);
    }
}
