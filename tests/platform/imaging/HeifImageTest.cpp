#include "platform/imaging/HeifImage.h"
#include "samplecamera/SampleCameraGenerator.h"

#include <QFile>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A turned shot in a HEIF file, as the sample camera writes one: upright pixels, a thumbnail and EXIF.
TEST(HeifImage, DecodesTheImageTheThumbnailAndTheExif)
{
    QTemporaryDir card;
    tools::SampleCameraSpec spec;
    spec.outputFolder = card.path();
    spec.shots = 3; // three shots or more always include a turned one
    spec.days = 1;
    spec.rawShare = 0;
    spec.imageExtension = QStringLiteral("HEIC");
    spec.imageSize = QSize(320, 240);
    const auto written = tools::generateSampleCamera(spec);
    ASSERT_TRUE(written.ok()) << written.error.toStdString();
    for (const tools::SampleShot& shot : written.shots) {
        SCOPED_TRACE(shot.jpegPath.toStdString());
        const QByteArray data = contentsOf(shot.jpegPath);
        ASSERT_TRUE(HeifImage::looksLikeHeif(data));
        const QSize upright = shot.orientation == 1 ? shot.pixelSize : shot.pixelSize.transposed();
        const auto image = HeifImage::decodePrimary(data);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), upright);
        EXPECT_EQ(HeifImage::decodePrimary(data, 100)->size(), upright.scaled(100, 100, Qt::KeepAspectRatio));
        const auto thumbnail = HeifImage::decodeThumbnail(data);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(std::max(thumbnail->width(), thumbnail->height()), 160);

        const auto tiff = HeifImage::exifTiff(data);
        ASSERT_TRUE(tiff);
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff->constData()), uint32_t(tiff->size()));
        const auto date = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        ASSERT_NE(date, exif.end());
        EXPECT_EQ(QString::fromStdString(date->toString()), shot.captureTime.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")));
    }
}

TEST(HeifImage, OtherOrDamagedDataGivesNothing)
{
    QTemporaryDir card;
    tools::SampleCameraSpec spec;
    spec.outputFolder = card.path();
    spec.shots = 1;
    spec.days = 1;
    spec.rawShare = 0;
    spec.imageExtension = QStringLiteral("HIF");
    const auto written = tools::generateSampleCamera(spec);
    ASSERT_TRUE(written.ok());
    const QByteArray heif = contentsOf(written.shots.front().jpegPath);
    const struct {
        const char* what;
        QByteArray data;
    } cases[] = {
        {"nothing", QByteArray()},
        {"JPEG", QByteArrayLiteral("\xff\xd8\xff\xe0 not much more")},
        {"a QuickTime movie's start", QByteArrayLiteral("\0\0\0\x14" "ftypqt  \0\0\0\0")},
        {"HEIF cut after its header", heif.left(40)},
        {"HEIF cut in half", heif.left(heif.size() / 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(HeifImage::decodePrimary(c.data));
        EXPECT_FALSE(HeifImage::decodeThumbnail(c.data));
    }
    EXPECT_FALSE(HeifImage::looksLikeHeif(cases[2].data));
}

} // namespace
} // namespace vornakel
