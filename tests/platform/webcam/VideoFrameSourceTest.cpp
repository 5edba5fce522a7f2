#include "platform/webcam/ImageFrameSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;

TEST(VideoFrameSource, ImagesBecomePackedGreyFrames)
{
    // An odd width, so the image's scan lines are padded and the frame's are not.
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(0, 0, qRgb(0, 0, 0));
    image.setPixel(2, 1, qRgb(0, 0, 0));
    const GreyFrame frame = greyFrameFromImage(image);
    ASSERT_TRUE(frame.isValid());
    EXPECT_EQ(frame.pixels, QByteArray("\x00\xff\xff\xff\xff\x00", 6));
    EXPECT_FALSE(greyFrameFromImage(QImage()).isValid());
}

TEST(VideoFrameSource, FedImagesArriveOnlyWhileRunning)
{
    ImageFrameSource source;
    int frames = 0;
    QObject::connect(&source, &VideoFrameSource::frameArrived, [&](const QImage& image, const GreyFrame& grey) {
        EXPECT_EQ(grey.width, image.width());
        ++frames;
    });
    QImage image(8, 8, QImage::Format_Grayscale8);
    image.fill(128);
    source.feed(image);
    ASSERT_TRUE(source.start());
    source.feed(image);
    source.feed(QImage());
    source.stop();
    source.feed(image);
    EXPECT_EQ(frames, 1);
    source.setDeviceAvailable(false);
    EXPECT_FALSE(source.start());
}

#include "platform/webcam/ImageFolderFrameSource.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

TEST(VideoFrameSource, AnImageFolderPlaysItsPicturesInNameOrderOverAndOver)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("frames"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const auto& [name, width] : {std::pair{"b.png", 20}, std::pair{"a.png", 10}}) {
        QImage image(width, 8, QImage::Format_RGB32);
        image.fill(Qt::gray);
        ASSERT_TRUE(image.save(folder + QLatin1Char('/') + QLatin1String(name)));
    }
    QFile notAnImage(folder + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notAnImage.open(QIODevice::WriteOnly));
    notAnImage.write("not a picture");
    notAnImage.close();

    const struct {
        const char* name;
        QString path;
        std::vector<int> widths; // of the first frames; empty: no camera
    } cases[] = {
        {"folder", folder, {10, 20, 10, 20}},
        {"one image", folder + QStringLiteral("/b.png"), {20, 20}},
        {"missing path", dir.filePath(QStringLiteral("nothing")), {}},
        {"no image inside", dir.path() + QStringLiteral("/frames/notes.txt"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFolderFrameSource source(c.path, std::chrono::milliseconds(5));
        std::vector<int> widths;
        QObject::connect(&source, &VideoFrameSource::frameArrived, [&](const QImage& image, const GreyFrame& grey) {
            EXPECT_TRUE(grey.isValid());
            widths.push_back(image.width());
        });
        if (c.widths.empty()) {
            EXPECT_FALSE(source.start());
            continue;
        }
        ASSERT_TRUE(source.start());
        ASSERT_TRUE(vornakel::test::runUntil([&] { return widths.size() >= c.widths.size(); }));
        source.stop();
        widths.resize(c.widths.size());
        EXPECT_EQ(widths, c.widths);
    }
}
