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
