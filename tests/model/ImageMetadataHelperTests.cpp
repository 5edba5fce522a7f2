#include "model/ImageMetadataHelper.h"
#include "samplecamera/HeifFileBuilder.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "platform/core/DispatchQueue.h"
#include "support/TestSupport.h"
#include "platform/exiv2/Exiv2Library.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <vector>

namespace vornakel {
namespace {

// A landscape JPEG, red on the left and blue on the right, with the EXIF entries given.
QString writeJpeg(const QString& path, QSize size, const std::function<void(Exiv2::ExifData&)>& exif)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
    painter.fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height(), Qt::blue);
    painter.end();
    EXPECT_TRUE(image.save(path, "JPEG", 95));
    auto file = Exiv2Library::open(path);
    file->readMetadata();
    Exiv2::ExifData data;
    exif(data);
    file->setExifData(data);
    file->writeMetadata();
    return path;
}

void standardExif(Exiv2::ExifData& exif)
{
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.Make"] = "Vornakel";
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(357, 10);
    exif["Exif.Photo.DateTimeOriginal"] = "2018:03:04 05:06:07";
}

template <typename T>
struct Delivered {
    bool called = false;
    bool onMain = false;
    std::optional<T> value;
};

template <typename T>
std::shared_ptr<Delivered<T>> waitFor(const std::function<void(std::function<void(std::optional<T>)>)>& start)
{
    auto delivered = std::make_shared<Delivered<T>>();
    start([delivered](std::optional<T> value) {
        delivered->called = true;
        delivered->onMain = DispatchQueue::isMainThread();
        delivered->value = std::move(value);
    });
    EXPECT_TRUE(test::runUntil([&] { return delivered->called; }));
    return delivered;
}

class ImageMetadataHelperTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

TEST_F(ImageMetadataHelperTest, ThumbnailIsUprightAndAtMost600Pixels)
{
    const QString portrait = writeJpeg(dir.filePath("portrait.jpg"), {80, 40}, standardExif);
    auto small = waitFor<QImage>([&](auto callback) { ImageMetadataHelper::loadThumbnailFromImage(portrait, callback); });
    ASSERT_TRUE(small->value);
    EXPECT_TRUE(small->onMain);
    EXPECT_EQ(small->value->size(), QSize(40, 80)) << "orientation 6 turns it upright";
    // Turned clockwise: the red left half is now on top.
    EXPECT_GT(qRed(small->value->pixel(20, 10)), 200);
    EXPECT_GT(qBlue(small->value->pixel(20, 70)), 200);

    const QString large = writeJpeg(dir.filePath("large.jpg"), {1800, 1200}, [](Exiv2::ExifData&) {});
    auto bounded = waitFor<QImage>([&](auto callback) { ImageMetadataHelper::loadThumbnailFromImage(large, callback); });
    ASSERT_TRUE(bounded->value);
    EXPECT_EQ(bounded->value->size(), QSize(600, 400));
}

TEST_F(ImageMetadataHelperTest, MissingAndNonImageFilesGiveNothingOnTheMainQueue)
{
    QFile text(dir.filePath("notes.jpg"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not an image at all");
    text.close();
    for (const QString& path : {dir.filePath("missing.jpg"), text.fileName()}) {
        auto thumbnail = waitFor<QImage>([&](auto callback) { ImageMetadataHelper::loadThumbnailFromImage(path, callback); });
        EXPECT_FALSE(thumbnail->value) << path.toStdString();
        EXPECT_TRUE(thumbnail->onMain);
        auto properties = waitFor<QVariantMap>([&](auto callback) { ImageMetadataHelper::loadMetadataFromImage(path, callback); });
        EXPECT_FALSE(properties->value) << path.toStdString();
        EXPECT_TRUE(properties->onMain);
    }
    auto none = waitFor<QVariantMap>([](auto callback) { ImageMetadataHelper::loadMetadataFrom(std::nullopt, callback); });
    EXPECT_FALSE(none->value);
}

TEST_F(ImageMetadataHelperTest, PropertiesUseImageIoKeys)
{
    const QString path = writeJpeg(dir.filePath("shot.jpg"), {80, 40}, standardExif);
    auto fromFile = waitFor<QVariantMap>([&](auto callback) { ImageMetadataHelper::loadMetadataFromImage(path, callback); });
    ASSERT_TRUE(fromFile->value);
    EXPECT_TRUE(fromFile->onMain);
    const QVariantMap& properties = *fromFile->value;
    EXPECT_EQ(properties.value("PixelWidth").toLongLong(), 80);
    EXPECT_EQ(properties.value("PixelHeight").toLongLong(), 40);
    EXPECT_EQ(properties.value("Orientation").toLongLong(), 6);
    EXPECT_EQ(properties.value("{TIFF}").toMap().value("Make").toString(), "Vornakel");
    const QVariantMap exif = properties.value("{Exif}").toMap();
    EXPECT_EQ(exif.value("ISOSpeedRatings").toList(), QVariantList{qint64(200)});
    EXPECT_DOUBLE_EQ(exif.value("FNumber").toDouble(), 2.8);
    EXPECT_DOUBLE_EQ(exif.value("ExposureTime").toDouble(), 0.004);
    EXPECT_DOUBLE_EQ(exif.value("FocalLength").toDouble(), 35.7);
    EXPECT_EQ(exif.value("DateTimeOriginal").toString(), "2018:03:04 05:06:07");

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    auto fromData = waitFor<QVariantMap>([&](auto callback) { ImageMetadataHelper::loadMetadataFrom(file.readAll(), callback); });
    ASSERT_TRUE(fromData->value);
    EXPECT_EQ(*fromData->value, properties);

    // The display texts the preview sheet builds from them.
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifShutterSpeed(exif.value("ExposureTime"), std::nullopt), "1/250 s");
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifAperture(exif.value("FNumber"), std::nullopt), "f/2.8");
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifISO(exif.value("ISOSpeedRatings"), std::nullopt), "ISO 200");
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifFocalLength(exif.value("FocalLength"), std::nullopt), "35 mm");
}

// A JPEG carrying an XMP packet, built without exiv2 so that the loads below are this process's first use of it.
QByteArray jpegWithXmp()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG"));
    const QByteArray packet = QByteArrayLiteral(
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\""
        " xmp:CreatorTool=\"Vornakel Test\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>");
    const QByteArray payload = QByteArrayLiteral("http://ns.adobe.com/xap/1.0/") + '\0' + packet;
    const int length = int(payload.size()) + 2;
    QByteArray segment = QByteArrayLiteral("\xFF\xE1");
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

TEST_F(ImageMetadataHelperTest, ConcurrentLoadsOfAJpegWithXmpAgree)
{
    const QByteArray bytes = jpegWithXmp();
    const QString path = dir.filePath("xmp.jpg");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    // Several worker threads reach exiv2 at once, as the grid's metadata loads do.
    constexpr int kLoads = 8;
    std::vector<std::optional<QVariantMap>> results(kLoads);
    int delivered = 0;
    for (int i = 0; i < kLoads; ++i) {
        const auto deliver = [&, i](std::optional<QVariantMap> properties) {
            results[size_t(i)] = std::move(properties);
            ++delivered;
        };
        if (i % 2)
            ImageMetadataHelper::loadMetadataFromImage(path, deliver);
        else
            ImageMetadataHelper::loadMetadataFrom(bytes, deliver);
    }
    ASSERT_TRUE(test::runUntil([&] { return delivered == kLoads; }, std::chrono::seconds(30)));
    for (const auto& result : results) {
        ASSERT_TRUE(result);
        EXPECT_EQ(result->value("PixelWidth").toLongLong(), 64);
        EXPECT_EQ(result->value("PixelHeight").toLongLong(), 48);
    }
}

// Mended: a damaged file's negative or huge values are not shown as wrapped-around numbers.
TEST_F(ImageMetadataHelperTest, NegativeIsoFromAFileFallsBack)
{
    const QString path = writeJpeg(dir.filePath("odd.jpg"), {16, 16}, [](Exiv2::ExifData& exif) {
        Exiv2::ValueType<int16_t> iso;
        iso.read("-5");
        exif.add(Exiv2::ExifKey("Exif.Photo.ISOSpeedRatings"), &iso);
        exif["Exif.Photo.FocalLength"] = Exiv2::Rational(-50, 1);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 0);
    });
    auto properties = waitFor<QVariantMap>([&](auto callback) { ImageMetadataHelper::loadMetadataFromImage(path, callback); });
    ASSERT_TRUE(properties->value);
    const QVariantMap exif = properties->value->value("{Exif}").toMap();
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifISO(exif.value("ISOSpeedRatings"), std::nullopt), std::nullopt);
    EXPECT_EQ(ImageMetadataHelper::localizedStringForExifFocalLength(exif.value("FocalLength"), std::nullopt), std::nullopt);
    EXPECT_FALSE(exif.contains("FNumber")) << "a zero denominator is no value";
}

// Where the standard ISO tag is missing, the maker's notes give it.
TEST_F(ImageMetadataHelperTest, IsoComesFromMakerNotesWithoutTheStandardTag)
{
    const QString path = writeJpeg(dir.filePath("nikon.jpg"), {40, 30}, [](Exiv2::ExifData& exif) {
        exif["Exif.Image.Make"] = "NIKON CORPORATION";
        exif["Exif.Image.Model"] = "NIKON D750";
        exif["Exif.Nikon3.Version"] = "48 50 49 48";
        exif["Exif.Nikon3.ISOSpeed"] = "0 640";
    });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::optional<QVariantMap> properties = ImageMetadataHelper::propertiesFromData(file.readAll());
    ASSERT_TRUE(properties);
    const QVariantMap exif = properties->value("{Exif}").toMap();
    EXPECT_EQ(exif.value("ISOSpeedRatings").toList(), QVariantList{qint64(640)});
}

// Camera thumbnails and previews carry no orientation: the shot's own is applied. A file that has one keeps it.
TEST_F(ImageMetadataHelperTest, DecodingTurnsImagesUprightAndScalesThem)
{
    const QString bare = dir.filePath("bare.jpg");
    QImage landscape(400, 200, QImage::Format_RGB32);
    landscape.fill(Qt::blue);
    landscape.save(bare, "JPEG");
    const QString tagged = writeJpeg(dir.filePath("tagged.jpg"), {400, 200}, standardExif); // orientation 6
    struct Case {
        const char* title;
        QString path;
        int orientation;
        QSize expected;
    };
    const std::vector<Case> cases = {
        {"upright as is", bare, 1, {160, 80}},
        {"portrait shot turned", bare, 6, {60, 120}},
        {"upside down keeps its shape", bare, 3, {160, 80}},
        {"own orientation wins", tagged, 1, {60, 120}},
        {"own orientation not applied twice", tagged, 6, {60, 120}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageMetadataHelper::decodeUpright(c.path, QSize(160, 120), c.orientation).size(), c.expected)
            << c.title;
    // Red was on the left before turning clockwise; upright it is at the top.
    const QImage turned = ImageMetadataHelper::decodeUpright(tagged, QSize(160, 120), 1);
    EXPECT_GT(turned.pixelColor(turned.width() / 2, 5).red(), 200);
    EXPECT_TRUE(ImageMetadataHelper::decodeUpright(dir.filePath("missing.jpg"), QSize(160, 120), 1).isNull());
}

TEST(ImageMetadataFormatters, TableOfValues)
{
    using Formatter = std::optional<QString> (*)(const QVariant&, const std::optional<QString>&);
    struct Case {
        const char* title;
        Formatter formatter;
        QVariant value;
        std::optional<QString> fallback;
        std::optional<QString> expected;
    };
    const auto iso = &ImageMetadataHelper::localizedStringForExifISO;
    const auto focal = &ImageMetadataHelper::localizedStringForExifFocalLength;
    const auto shutter = &ImageMetadataHelper::localizedStringForExifShutterSpeed;
    const auto aperture = &ImageMetadataHelper::localizedStringForExifAperture;
    const std::optional<QString> none;
    const QString fb = QStringLiteral("n/a");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {"iso list", iso, QVariantList{200, 400}, fb, "ISO 200"},
        {"iso double element", iso, QVariantList{1600.9}, none, "ISO 1600"},
        {"iso empty list", iso, QVariantList{}, fb, fb},
        {"iso plain number", iso, 200, fb, fb},
        {"iso absent", iso, QVariant(), none, none},
        {"iso negative", iso, QVariantList{-5}, fb, fb},
        {"iso huge", iso, QVariantList{qint64(1) << 40}, fb, fb},
        {"iso text element", iso, QVariantList{QStringLiteral("200")}, fb, fb},
        {"focal 35.7", focal, 35.7, none, "35 mm"},
        {"focal int", focal, 50, none, "50 mm"},
        {"focal negative", focal, -3.0, fb, fb},
        {"focal nan", focal, nan, fb, fb},
        {"focal huge", focal, 1e12, none, none},
        {"focal text", focal, QStringLiteral("35"), fb, fb},
        {"shutter 1/250", shutter, 0.004, none, "1/250 s"},
        {"shutter as recorded, not the nearest third stop", shutter, 1.0 / 350, none, "1/350 s"},
        {"shutter two seconds has one unit", shutter, 2.0, none, "2 s"},
        {"shutter 2.5 s", shutter, 2.5, none, "2.5 s"},
        {"shutter 0.3 s is no whole fraction", shutter, 0.3, none, "0.3 s"},
        {"shutter half a second", shutter, 0.5, none, "1/2 s"},
        {"shutter absent with fallback", shutter, QVariant(), fb, fb},
        {"shutter unexpressible with fallback", shutter, -1.0, fb, "n/a s"},
        {"shutter unexpressible without", shutter, 1e9, none, none},
        {"shutter text", shutter, QStringLiteral("1/250"), fb, fb},
        {"aperture 2.8", aperture, 2.8, none, "f/2.8"},
        {"aperture as recorded, not the nearest third stop", aperture, 6.7, none, "f/6.7"},
        {"aperture whole", aperture, 8.0, none, "f/8"},
        {"aperture unexpressible", aperture, 1000.0, fb, "n/a"},
        {"aperture absent", aperture, QVariant(), none, none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.formatter(c.value, c.fallback), c.expected) << c.title;
}

} // namespace
} // namespace vornakel

namespace vornakel {
namespace {

// Camera files as the sample camera writes them: JPEG shots and RAW files with a larger embedded preview.
TEST_F(ImageMetadataHelperTest, SampleCameraJpegHeifAndRawFiles)
{
    const struct {
        const char* title;
        QStringList raw;
        QString image;
    } cards[] = {
        {"JPEG with TIFF-based RAW files", {}, QStringLiteral("JPG")},
        {"HEIF with CR3", {QStringLiteral("CR3")}, QStringLiteral("HIF")},
        {"JPEG with CR3", {QStringLiteral("CR3")}, QStringLiteral("JPG")},
    };
    for (const auto& card : cards) {
        SCOPED_TRACE(card.title);
        tools::SampleCameraSpec spec;
        spec.outputFolder = dir.filePath(QString::fromUtf8(card.title));
        spec.shots = 4;
        spec.rawShare = 1.0;
        spec.imageSize = QSize(900, 600);
        spec.rawExtensions = card.raw;
        spec.imageExtension = card.image;
        const tools::SampleCameraResult written = tools::generateSampleCamera(spec);
        ASSERT_TRUE(written.ok()) << written.error.toStdString();
        for (const tools::SampleShot& shot : written.shots) {
            for (const QString& path : {shot.jpegPath, shot.rawPath}) {
                if (path.isEmpty())
                    continue;
                auto thumbnail = waitFor<QImage>([&](auto callback) { ImageMetadataHelper::loadThumbnailFromImage(path, callback); });
                ASSERT_TRUE(thumbnail->value) << path.toStdString();
                const QSize size = thumbnail->value->size();
                EXPECT_LE(std::max(size.width(), size.height()), 600) << path.toStdString();
                const bool turned = shot.orientation == 6 || shot.orientation == 8;
                const bool landscape = shot.pixelSize.width() > shot.pixelSize.height();
                EXPECT_EQ(size.width() > size.height(), landscape != turned) << path.toStdString() << " orientation " << shot.orientation;

                auto properties = waitFor<QVariantMap>([&](auto callback) { ImageMetadataHelper::loadMetadataFromImage(path, callback); });
                ASSERT_TRUE(properties->value) << path.toStdString();
                // A HEIF file holds the shot upright; the others keep the pixels as stored.
                const QSize pixels = path.endsWith(QLatin1String(".HIF")) && turned ? shot.pixelSize.transposed() : shot.pixelSize;
                EXPECT_EQ(properties->value->value("PixelWidth").toLongLong(), pixels.width()) << path.toStdString();
                EXPECT_EQ(properties->value->value("PixelHeight").toLongLong(), pixels.height()) << path.toStdString();
                const QVariantMap exif = properties->value->value("{Exif}").toMap();
                EXPECT_EQ(exif.value("ISOSpeedRatings").toList().value(0).toLongLong(), shot.iso) << path.toStdString();
                EXPECT_NEAR(exif.value("FNumber").toDouble(), shot.fNumber, 0.01) << path.toStdString();
                EXPECT_NEAR(exif.value("FocalLength").toDouble(), shot.focalLength, 0.01) << path.toStdString();
                EXPECT_EQ(exif.value("DateTimeOriginal").toString(),
                          shot.captureTime.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")))
                    << path.toStdString();
            }
        }
    }
}

// A phone's HEIF file whose colour profile exiv2 rejects ("Not a valid ICC Profile") still gives its shooting
// data: the EXIF block is read through libheif.
TEST_F(ImageMetadataHelperTest, HeifWhoseColourProfileExivRejectsStillGivesItsExif)
{
    QImage picture(128, 64, QImage::Format_RGB888);
    picture.fill(Qt::darkYellow);
    const std::optional<tools::HevcPicture> coded = tools::encodeHevc(picture);
    ASSERT_TRUE(coded);
    tools::HeifItem image;
    image.id = 1;
    image.data = coded->data;
    image.hevcConfiguration = coded->configuration;
    image.spatialExtent = picture.size();
    // A profile whose header gives a length other than its own.
    image.iccProfile = QByteArray::fromHex("000010000000000002100000") + QByteArray(120, 'x');
    tools::HeifItem exif;
    exif.id = 2;
    exif.type = QByteArrayLiteral("Exif");
    exif.describes = 1;
    tools::HeifExif tags;
    tags.orientation = 6;
    tags.dateTimeOriginal = QByteArrayLiteral("2021:07:08 09:10:11");
    exif.data = tools::exifItemData(tags);
    const QByteArray file = tools::buildHeif(1, {image, exif});

    const std::optional<QVariantMap> properties = ImageMetadataHelper::propertiesFromData(file);
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->value("Orientation").toLongLong(), 6);
    EXPECT_EQ(properties->value("PixelWidth").toLongLong(), 128);
    EXPECT_EQ(properties->value("PixelHeight").toLongLong(), 64);
    const QVariantMap shooting = properties->value("{Exif}").toMap();
    EXPECT_EQ(shooting.value("ISOSpeedRatings").toList().value(0).toLongLong(), 400);
    EXPECT_NEAR(shooting.value("FNumber").toDouble(), 5.6, 0.001);
    EXPECT_NEAR(shooting.value("ExposureTime").toDouble(), 1.0 / 250, 1e-6);
    EXPECT_NEAR(shooting.value("FocalLength").toDouble(), 35, 0.001);
    EXPECT_EQ(shooting.value("DateTimeOriginal").toString(), QStringLiteral("2021:07:08 09:10:11"));
}

} // namespace
} // namespace vornakel
