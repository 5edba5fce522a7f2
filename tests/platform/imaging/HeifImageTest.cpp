#include "platform/imaging/HeifImage.h"
#include "samplecamera/HeifFileBuilder.h"
#include "samplecamera/SampleCameraGenerator.h"

#include <QFile>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>

#include <sys/resource.h>

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
        const HeifImage::Decoded image = HeifImage::decodePrimary(data);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), upright);
        EXPECT_EQ(HeifImage::decodePrimary(data, 100)->size(), upright.scaled(100, 100, Qt::KeepAspectRatio));
        const HeifImage::Decoded thumbnail = HeifImage::decodeThumbnail(data);
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

qint64 peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

tools::HeifItem codedItem(uint32_t id, const QImage& picture)
{
    const std::optional<tools::HevcPicture> coded = tools::encodeHevc(picture);
    tools::HeifItem item;
    item.id = id;
    if (coded) {
        item.data = coded->data;
        item.hevcConfiguration = coded->configuration;
    }
    item.spatialExtent = picture.size();
    return item;
}

// Images whose decoding would allocate more than any camera image needs are refused before libheif allocates
// anything, measured on what is really drawn: an overlay's canvas, not the size the overlay claims.
TEST(HeifImage, RefusesImagesLargerThanThePixelLimitBeforeDecoding)
{
    QImage small(64, 64, QImage::Format_RGB888);
    small.fill(Qt::gray);
    tools::HeifItem huge = codedItem(1, small);
    huge.spatialExtent = QSize(20000, 20000);
    tools::HeifItem grid;
    grid.id = 1;
    grid.type = QByteArrayLiteral("grid");
    grid.inItemData = true;
    // Version 0, 32-bit fields, one tile, a canvas of 30,000 × 30,000.
    grid.data = QByteArray::fromHex("00010000") + QByteArray::fromHex("00007530") + QByteArray::fromHex("00007530");
    grid.spatialExtent = QSize(64, 64);
    grid.derivedFrom = {2};
    tools::HeifItem tile = codedItem(2, small);

    QFile seed(QStringLiteral(VKL_IMAGE_SEEDS_DIR "/overlay-canvas-bomb.heic"));
    ASSERT_TRUE(seed.open(QIODevice::ReadOnly));
    const struct {
        const char* what;
        QByteArray data;
    } cases[] = {
        {"an overlay drawn on a 50,000-pixel square canvas", tools::overlayCanvasBomb()},
        {"the same file kept among the fuzz seeds", seed.readAll()},
        {"a grid on a 30,000-pixel square canvas", tools::buildHeif(1, {grid, tile})},
        {"an image that claims 20,000 × 20,000 pixels", tools::buildHeif(1, {huge})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(HeifImage::looksLikeHeif(c.data));
        const qint64 before = peakResidentKilobytes();
        const HeifImage::Decoded decoded = HeifImage::decodePrimary(c.data, 160);
        EXPECT_FALSE(decoded);
        EXPECT_TRUE(decoded.error.contains(QStringLiteral("too large to decode"))) << decoded.error.toStdString();
        EXPECT_TRUE(decoded.error.contains(QStringLiteral("at most 200 megapixels"))) << decoded.error.toStdString();
        // Nothing near the size of the canvas was ever held.
        EXPECT_LT(peakResidentKilobytes() - before, 256 * 1024);
    }
}

// libheif stops the whole program (an assertion) when a grid or overlay is built from an item that is no coded
// image; such files are refused before it decodes anything.
TEST(HeifImage, RefusesDerivedImagesBuiltFromPartsThatAreNoImages)
{
    QImage small(64, 64, QImage::Format_RGB888);
    small.fill(Qt::gray);
    tools::HeifItem grid;
    grid.id = 1;
    grid.type = QByteArrayLiteral("grid");
    grid.inItemData = true;
    grid.data = QByteArray::fromHex("00000000") + QByteArray::fromHex("00400040");
    grid.spatialExtent = QSize(64, 64);
    tools::HeifItem unknown = codedItem(2, small);
    unknown.type = QByteArrayLiteral("hvc0");
    tools::HeifItem nested = grid;
    nested.id = 3;

    QFile seed(QStringLiteral(VKL_IMAGE_SEEDS_DIR "/overlay-of-an-unknown-item.heic"));
    ASSERT_TRUE(seed.open(QIODevice::ReadOnly));
    QFile pastItsBox(QStringLiteral(VKL_IMAGE_SEEDS_DIR "/overlay-with-a-reference-past-its-box.heic"));
    ASSERT_TRUE(pastItsBox.open(QIODevice::ReadOnly));
    tools::HeifItem ofUnknown = grid;
    ofUnknown.derivedFrom = {2};
    tools::HeifItem ofMissing = grid;
    ofMissing.derivedFrom = {7};
    tools::HeifItem ofGrid = grid;
    ofGrid.derivedFrom = {3};
    nested.derivedFrom = {2};
    const struct {
        const char* what;
        QByteArray data;
    } cases[] = {
        {"an overlay of an item of unknown type (found by the fuzzer)", seed.readAll()},
        {"the same with its reference's length running past the reference list (found by the fuzzer)", pastItsBox.readAll()},
        {"a grid of an item of unknown type", tools::buildHeif(1, {ofUnknown, unknown})},
        {"a grid of an item that is not there", tools::buildHeif(1, {ofMissing})},
        {"a grid of a grid", tools::buildHeif(1, {ofGrid, nested, unknown})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const HeifImage::Decoded decoded = HeifImage::decodePrimary(c.data, 160);
        EXPECT_FALSE(decoded);
        EXPECT_FALSE(decoded.error.isEmpty());
    }
}

// Cameras pad a thumbnail to whole coding blocks and leave no crop on it: the picture is the top-left part of
// the thumbnail in the primary image's shape, and the padding (a green band once decoded) is left out.
TEST(HeifImage, CutsAPaddedThumbnailToThePrimaryImagesCleanShape)
{
    const auto padded = [](QSize coded, int pictureHeight) {
        QImage image(coded, QImage::Format_RGB888);
        image.fill(QColor(0, 160, 0));
        for (int y = 0; y < pictureHeight; ++y)
            for (int x = 0; x < coded.width(); ++x)
                image.setPixelColor(x, y, QColor(200, 40, 40));
        return image;
    };
    // A 3:2 picture coded at 320 × 320 with a crop to 320 × 213, centred 53.5 pixels above the coded centre.
    tools::HeifItem primary = codedItem(1, padded(QSize(320, 320), 213));
    primary.cleanAperture = std::array<uint32_t, 8>{320, 1, 213, 1, 0, 1, uint32_t(-107), 2};
    tools::HeifItem thumbnail = codedItem(2, padded(QSize(160, 160), 107));
    thumbnail.thumbnailOf = 1;
    const QByteArray file = tools::buildHeif(1, {primary, thumbnail});

    const HeifImage::Decoded image = HeifImage::decodePrimary(file);
    ASSERT_TRUE(image) << image.error.toStdString();
    EXPECT_EQ(image->size(), QSize(320, 213));
    const HeifImage::Decoded decoded = HeifImage::decodeThumbnail(file);
    ASSERT_TRUE(decoded) << decoded.error.toStdString();
    EXPECT_EQ(decoded->size(), QSize(160, 107));
    const QColor bottom = decoded->pixelColor(80, decoded->height() - 1);
    EXPECT_GT(bottom.red(), bottom.green()) << "the padding is still there";
}

} // namespace
} // namespace vornakel
