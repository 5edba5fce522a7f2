#include "samplecamera/SampleCameraGenerator.h"

#include "discovery/QRCodeReader.h"
#include "discovery/QRSymbolScanner.h"
#include "platform/webcam/VideoFrameSource.h"

#include "support/TestSupport.h"
#include "platform/exiv2/Exiv2Library.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QSettings>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vornakel::tools;

namespace {

const QDateTime kFirstDay(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesOnDisk(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The EXIF of a file as exiv2 reads it back.
struct Exif {
    Exiv2::ExifData data;
    bool has(const char* key) const { return data.findKey(Exiv2::ExifKey(key)) != data.end(); }
    QString text(const char* key) const
    {
        auto it = data.findKey(Exiv2::ExifKey(key));
        return it == data.end() ? QString() : QString::fromStdString(it->toString());
    }
    double number(const char* key) const
    {
        auto it = data.findKey(Exiv2::ExifKey(key));
        if (it == data.end())
            return std::numeric_limits<double>::quiet_NaN();
        const Exiv2::Rational value = it->toRational();
        return double(value.first) / double(value.second);
    }
};

Exif readExif(const QString& path)
{
    auto image = vornakel::Exiv2Library::open(path);
    image->readMetadata();
    return {image->exifData()};
}

QImage decode(const QByteArray& bytes)
{
    return QImage::fromData(bytes, "JPEG");
}

class SampleCameraTest : public ::testing::Test {
protected:
    SampleCameraSpec smallSpec(const QString& name = QStringLiteral("camera")) const
    {
        SampleCameraSpec spec;
        spec.outputFolder = m_dir.filePath(name);
        spec.shots = 25;
        spec.days = 4;
        spec.rawShare = 0.4;
        spec.shotsPerFolder = 10;
        spec.firstDay = kFirstDay;
        return spec;
    }

    QTemporaryDir m_dir;
};

TEST_F(SampleCameraTest, SameSeedGivesSameBytesAndAnotherSeedOthers)
{
    const auto first = generateSampleCamera(smallSpec(QStringLiteral("a")));
    const auto second = generateSampleCamera(smallSpec(QStringLiteral("b")));
    auto otherSpec = smallSpec(QStringLiteral("c"));
    otherSpec.seed = 2;
    const auto other = generateSampleCamera(otherSpec);
    ASSERT_TRUE(first.ok()) << first.error.toStdString();
    ASSERT_TRUE(second.ok()) << second.error.toStdString();
    ASSERT_TRUE(other.ok()) << other.error.toStdString();

    const QStringList names = filesOnDisk(m_dir.filePath(QStringLiteral("a")));
    ASSERT_EQ(names, filesOnDisk(m_dir.filePath(QStringLiteral("b"))));
    for (const QString& name : names) {
        EXPECT_EQ(readAll(m_dir.filePath(QStringLiteral("a/") + name)), readAll(m_dir.filePath(QStringLiteral("b/") + name)))
            << name.toStdString();
    }
    EXPECT_NE(readAll(m_dir.filePath(QStringLiteral("a/DCIM/100VKLCM/IMG_0001.JPG"))),
              readAll(m_dir.filePath(QStringLiteral("c/DCIM/100VKLCM/IMG_0001.JPG"))));
    EXPECT_NE(first.shots.constLast().captureTime, other.shots.constLast().captureTime);
}

TEST_F(SampleCameraTest, LaysOutShotsLikeACameraCard)
{
    const auto spec = smallSpec();
    const auto result = generateSampleCamera(spec);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.shots.size(), 25);
    EXPECT_EQ(result.files.size(), 25 + 10);

    QStringList listed;
    for (const QString& file : result.files)
        listed << QDir(spec.outputFolder).relativeFilePath(file);
    listed.sort();
    EXPECT_EQ(listed, filesOnDisk(spec.outputFolder));

    QSet<QDate> days;
    int sameSecond = 0, rawIndex = 0;
    for (const SampleShot& shot : result.shots) {
        const QString number = QStringLiteral("%1").arg(shot.index + 1, 4, 10, QLatin1Char('0'));
        const QString folder = QStringLiteral("DCIM/%1VKLCM").arg(100 + shot.index / 10);
        EXPECT_EQ(shot.baseName, QStringLiteral("IMG_") + number);
        EXPECT_EQ(QDir(spec.outputFolder).relativeFilePath(shot.jpegPath), folder + QStringLiteral("/IMG_") + number + QStringLiteral(".JPG"));
        if (!shot.rawPath.isEmpty()) {
            const QString extension = sampleRawExtensions()[rawIndex++ % 5];
            EXPECT_EQ(QFileInfo(shot.rawPath).fileName(), shot.baseName + QLatin1Char('.') + extension);
            EXPECT_EQ(QFileInfo(shot.rawPath).path(), QFileInfo(shot.jpegPath).path());
        }
        for (const QString& path : {shot.jpegPath, shot.rawPath}) {
            if (!path.isEmpty()) {
                EXPECT_EQ(QFileInfo(path).lastModified(), shot.captureTime) << path.toStdString();
            }
        }
        days.insert(shot.captureTime.date());
        if (shot.index > 0) {
            const QDateTime previous = result.shots[shot.index - 1].captureTime;
            EXPECT_LE(previous, shot.captureTime);
            sameSecond += previous == shot.captureTime ? 1 : 0;
        }
    }
    EXPECT_EQ(rawIndex, 10);
    EXPECT_EQ(days, QSet<QDate>({QDate(2026, 3, 1), QDate(2026, 3, 2), QDate(2026, 3, 3), QDate(2026, 3, 4)}));
    EXPECT_GE(sameSecond, 1);
}

TEST_F(SampleCameraTest, SpreadsShotsOverTheDaysAsked)
{
    struct Case {
        int shots;
        int days;
        int expectedDays;
        QTime start = QTime(9, 0);
    };
    // A late start must not push the evening's shots into the next day.
    for (const Case& c : {Case{6, 6, 6}, Case{3, 5, 3}, Case{40, 1, 1}, Case{0, 3, 0}, Case{30, 2, 2, QTime(23, 50)}}) {
        auto spec = smallSpec(QStringLiteral("days-%1-%2").arg(c.shots).arg(c.days));
        spec.shots = c.shots;
        spec.days = c.days;
        spec.firstDay.setTime(c.start);
        spec.imageSize = QSize(32, 24);
        const auto result = generateSampleCamera(spec);
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        QSet<QDate> days;
        for (const SampleShot& shot : result.shots) {
            days.insert(shot.captureTime.date());
            EXPECT_GE(shot.captureTime.date(), kFirstDay.date());
            EXPECT_LT(shot.captureTime.date(), kFirstDay.date().addDays(c.days));
        }
        EXPECT_EQ(result.shots.size(), c.shots);
        EXPECT_EQ(days.size(), c.expectedDays) << c.shots << " shots over " << c.days << " days";
    }
    EXPECT_TRUE(QFileInfo(m_dir.filePath(QStringLiteral("days-0-3/DCIM/100VKLCM"))).isDir());
}

TEST_F(SampleCameraTest, ExifTagsReadBackFromJpegAndRaw)
{
    // Dates are written as the wall-clock time of the first day's zone, with that zone's offset beside them.
    auto spec = smallSpec();
    spec.firstDay = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::OffsetFromUTC, -5 * 3600);
    const auto result = generateSampleCamera(spec);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    QSet<int> orientations;
    for (const SampleShot& shot : result.shots) {
        orientations.insert(shot.orientation);
        const QString date = shot.captureTime.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
        for (const QString& path : {shot.jpegPath, shot.rawPath}) {
            if (path.isEmpty())
                continue;
            SCOPED_TRACE(path.toStdString());
            const Exif exif = readExif(path);
            EXPECT_EQ(exif.text("Exif.Image.Make"), QStringLiteral("Vornakel"));
            EXPECT_EQ(exif.text("Exif.Image.Model"), QStringLiteral("VK-1"));
            EXPECT_EQ(exif.text("Exif.Photo.DateTimeOriginal"), date);
            EXPECT_EQ(exif.text("Exif.Image.DateTime"), date);
            EXPECT_EQ(exif.text("Exif.Photo.OffsetTimeOriginal"), QStringLiteral("-05:00"));
            EXPECT_EQ(exif.number("Exif.Photo.ISOSpeedRatings"), shot.iso);
            EXPECT_DOUBLE_EQ(exif.number("Exif.Photo.FNumber"), shot.fNumber);
            EXPECT_DOUBLE_EQ(exif.number("Exif.Photo.ExposureTime"), shot.exposureTime);
            EXPECT_DOUBLE_EQ(exif.number("Exif.Photo.FocalLength"), shot.focalLength);
            EXPECT_EQ(exif.number("Exif.Image.Orientation"), shot.orientation);
        }
    }
    EXPECT_EQ(orientations, QSet<int>({1, 6, 8}));
}

TEST_F(SampleCameraTest, RawCarriesAPreviewLargerThanItsThumbnail)
{
    const auto result = generateSampleCamera(smallSpec());
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    int raws = 0;
    for (const SampleShot& shot : result.shots) {
        if (shot.rawPath.isEmpty())
            continue;
        SCOPED_TRACE(shot.rawPath.toStdString());
        ++raws;
        auto image = vornakel::Exiv2Library::open(shot.rawPath);
        image->readMetadata();
        const Exiv2::ExifThumbC thumbnail(image->exifData());
        const Exiv2::DataBuf thumbnailBytes = thumbnail.copy();
        const QImage thumbnailImage = decode(QByteArray(reinterpret_cast<const char*>(thumbnailBytes.pData_), thumbnailBytes.size_));
        ASSERT_FALSE(thumbnailImage.isNull());

        Exiv2::PreviewManager previews(*image);
        const auto properties = previews.getPreviewProperties();
        ASSERT_FALSE(properties.empty());
        const auto& largest = properties.back(); // sorted by size
        EXPECT_EQ(largest.mimeType_, "image/jpeg");
        EXPECT_GT(largest.width_ * largest.height_, uint32_t(thumbnailImage.width() * thumbnailImage.height()));
        const Exiv2::PreviewImage preview = previews.getPreviewImage(largest);
        const QImage previewImage = decode(QByteArray(reinterpret_cast<const char*>(preview.pData()), preview.size()));
        EXPECT_EQ(previewImage.size(), shot.pixelSize);
    }
    EXPECT_EQ(raws, 10);
}

TEST_F(SampleCameraTest, JpegsDecodeAndTurnUprightWithTheirOrientation)
{
    const auto result = generateSampleCamera(smallSpec());
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    for (const SampleShot& shot : result.shots) {
        SCOPED_TRACE(shot.jpegPath.toStdString());
        EXPECT_EQ(shot.pixelSize, QSize(320, 240));
        QImageReader reader(shot.jpegPath);
        reader.setAutoTransform(true);
        const QImage upright = reader.read();
        ASSERT_FALSE(upright.isNull());
        EXPECT_EQ(upright.size(), shot.orientation == 1 ? QSize(320, 240) : QSize(240, 320));
        // The red marker sits at the top-left corner of the upright picture.
        const QColor marker = upright.pixelColor(15, 15);
        EXPECT_GT(marker.red(), 200);
        EXPECT_LT(marker.green(), 70);
        EXPECT_LT(marker.blue(), 70);

        const Exif exif = readExif(shot.jpegPath);
        const Exiv2::DataBuf thumbnailBytes = Exiv2::ExifThumbC(exif.data).copy();
        const QImage thumbnail = decode(QByteArray(reinterpret_cast<const char*>(thumbnailBytes.pData_), thumbnailBytes.size_));
        EXPECT_EQ(thumbnail.size(), QSize(160, 120));
    }
}

TEST_F(SampleCameraTest, UndatedShotsCarryNoExifDate)
{
    auto spec = smallSpec();
    spec.undatedShare = 0.2;
    const auto result = generateSampleCamera(spec);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    int undated = 0;
    for (const SampleShot& shot : result.shots) {
        undated += shot.dated ? 0 : 1;
        for (const QString& path : {shot.jpegPath, shot.rawPath}) {
            if (path.isEmpty())
                continue;
            SCOPED_TRACE(path.toStdString());
            const Exif exif = readExif(path);
            for (const char* key : {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"})
                EXPECT_EQ(exif.has(key), shot.dated) << key;
            EXPECT_EQ(QFileInfo(path).lastModified(), shot.captureTime);
        }
    }
    EXPECT_EQ(undated, 5);
}

TEST_F(SampleCameraTest, RejectsSpecsItCannotWrite)
{
    QFile blocker(m_dir.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    struct Case {
        const char* name;
        std::function<void(SampleCameraSpec&)> change;
    };
    const Case cases[] = {
        {"no output folder", [](SampleCameraSpec& s) { s.outputFolder.clear(); }},
        {"negative shots", [](SampleCameraSpec& s) { s.shots = -1; }},
        {"no days", [](SampleCameraSpec& s) { s.days = 0; }},
        {"RAW share above 1", [](SampleCameraSpec& s) { s.rawShare = 1.5; }},
        {"RAW share NaN", [](SampleCameraSpec& s) { s.rawShare = std::nan(""); }},
        {"negative undated share", [](SampleCameraSpec& s) { s.undatedShare = -0.1; }},
        {"no shots per folder", [](SampleCameraSpec& s) { s.shotsPerFolder = 0; }},
        {"more shots than folders hold", [](SampleCameraSpec& s) { s.shots = 901; s.shotsPerFolder = 1; }},
        {"tiny image", [](SampleCameraSpec& s) { s.imageSize = QSize(8, 8); }},
        {"image type that is not JPEG or HEIF", [](SampleCameraSpec& s) { s.imageExtension = QStringLiteral("PNG"); }},
        {"RAW type that is not RAW", [](SampleCameraSpec& s) { s.rawExtensions = {QStringLiteral("CR3"), QStringLiteral("JPG")}; }},
        {"output below a file", [this](SampleCameraSpec& s) { s.outputFolder = m_dir.filePath(QStringLiteral("a-file/camera")); }},
    };
    for (const Case& c : cases) {
        auto spec = smallSpec(QStringLiteral("rejected"));
        c.change(spec);
        const auto result = generateSampleCamera(spec);
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_TRUE(result.files.isEmpty()) << c.name;
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("rejected"))));
}

TEST_F(SampleCameraTest, ToolWritesWhatTheLibraryWrites)
{
    const QString output = m_dir.filePath(QStringLiteral("tool"));
    QProcess tool;
    tool.start(QStringLiteral(VKL_SAMPLE_CAMERA_TOOL),
               {QStringLiteral("--output"), output, QStringLiteral("--shots"), QStringLiteral("7"), QStringLiteral("--days"),
                QStringLiteral("2"), QStringLiteral("--seed"), QStringLiteral("9"), QStringLiteral("--raw-share"),
                QStringLiteral("0.5"), QStringLiteral("--size"), QStringLiteral("64x48")});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_TRUE(tool.readAllStandardOutput().contains("7 shots over 2 days, 11 files (4 RAW"));

    SampleCameraSpec spec;
    spec.outputFolder = m_dir.filePath(QStringLiteral("library"));
    spec.shots = 7;
    spec.days = 2;
    spec.seed = 9;
    spec.rawShare = 0.5;
    spec.imageSize = QSize(64, 48);
    ASSERT_TRUE(generateSampleCamera(spec).ok());
    const QStringList names = filesOnDisk(output);
    ASSERT_EQ(names, filesOnDisk(spec.outputFolder));
    for (const QString& name : names)
        EXPECT_EQ(readAll(output + QLatin1Char('/') + name), readAll(spec.outputFolder + QLatin1Char('/') + name)) << name.toStdString();

    // HEIF shots with CR3 files beside them.
    const QString boxes = m_dir.filePath(QStringLiteral("boxes"));
    tool.start(QStringLiteral(VKL_SAMPLE_CAMERA_TOOL),
               {QStringLiteral("--output"), boxes, QStringLiteral("--shots"), QStringLiteral("2"), QStringLiteral("--raw-share"),
                QStringLiteral("1"), QStringLiteral("--raw-types"), QStringLiteral("CR3"), QStringLiteral("--image-type"),
                QStringLiteral("HIF"), QStringLiteral("--size"), QStringLiteral("64x48")});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(filesOnDisk(boxes), (QStringList{QStringLiteral("DCIM/100VKLCM/IMG_0001.CR3"), QStringLiteral("DCIM/100VKLCM/IMG_0001.HIF"),
                                               QStringLiteral("DCIM/100VKLCM/IMG_0002.CR3"), QStringLiteral("DCIM/100VKLCM/IMG_0002.HIF")}));

    for (const QStringList& arguments : {QStringList{QStringLiteral("--shots"), QStringLiteral("3")},
                                         QStringList{QStringLiteral("--output"), output, QStringLiteral("--shots"), QStringLiteral("many")},
                                         QStringList{QStringLiteral("--output"), output, QStringLiteral("--raw-share"), QStringLiteral("2")}}) {
        tool.start(QStringLiteral(VKL_SAMPLE_CAMERA_TOOL), arguments);
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), 2) << arguments.join(QLatin1Char(' ')).toStdString();
    }
}

} // namespace

TEST_F(SampleCameraTest, ToolPutsTheCameraOnItsOwnNetworkAndWritesItsQRCode)
{
    const QString output = m_dir.filePath(QStringLiteral("networked"));
    const QString code = m_dir.filePath(QStringLiteral("code.png"));
    const QString ssid = QStringLiteral("VK-1 Kamera-ä");
    const QString password = QStringLiteral("sëcret 1");
    QProcess tool;
    tool.start(QStringLiteral(VKL_SAMPLE_CAMERA_TOOL), {QStringLiteral("--output"), output, QStringLiteral("--shots"), QStringLiteral("2"),
                                                       QStringLiteral("--wifi"), ssid, QStringLiteral("--password"), password,
                                                       QStringLiteral("--qr-code"), code});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QSettings ini(output + QStringLiteral("/camera.ini"), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("ssid")).toString(), ssid);
    EXPECT_EQ(ini.value(QStringLiteral("password")).toString(), password);

    const QImage image(code);
    ASSERT_FALSE(image.isNull());
    vornakel::QRSymbolScanner scanner;
    const auto symbols = scanner.scan(vornakel::greyFrameFromImage(image));
    ASSERT_EQ(symbols.size(), 1u);
    const auto details = vornakel::QRCodeReader::detailsFromSymbols(symbols, vornakel::CameraQRDecoding::shared());
    ASSERT_TRUE(details);
    EXPECT_EQ(details->ssid, ssid);
    EXPECT_EQ(details->password, password);

    // A code needs a network to name.
    tool.start(QStringLiteral(VKL_SAMPLE_CAMERA_TOOL), {QStringLiteral("--output"), output, QStringLiteral("--qr-code"), code});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 2);
}
