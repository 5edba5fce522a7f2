#include "CameraTestSupport.h"

#include "platform/camera/simulated/SimulatedContent.h"
#include "samplecamera/HeifFileBuilder.h"
#include "samplecamera/TiffWriter.h"
#include "support/TestSupport.h"
#include "platform/exiv2/Exiv2Library.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>
#include <utility>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::awaitError;

TEST(SimulatedContent, KnowsImageTypesByExtension)
{
    const struct {
        const char* name;
        bool known;
    } cases[] = {
        {"IMG_0001.JPG", true}, {"img_0001.jpeg", true}, {"A.CR2", true},   {"A.cr3", true},  {"A.ARW", true},
        {"A.NEF", true},        {"A.ORF", true},         {"A.RW2", true},   {"A.RAF", true},  {"A.DNG", true},
        {"A.TIF", true},        {"A.tiff", true},        {"A.PNG", true},   {"A.HEIC", true}, {"A.MOV", false},
        {"A.XMP", false},       {"README", false},       {"JPG", false},    {"A.JPG.txt", false},
        // Formats current and older bodies write, each once taken for other files.
        {"A.CRW", true},        {"A.HIF", true},         {"a.heif", true},  {"A.NRW", true},  {"A.PEF", true},
        {"A.SRW", true},        {"A.RWL", true},         {"A.X3F", true},   {".HIF", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(simulated::isKnownImageName(QString::fromUtf8(c.name)), c.known) << c.name;
}

TEST(SimulatedContent, ReadsExifDatesAsTheCameraClockOrWithTheirOffset)
{
    const QDateTime local = *simulated::parseExifDateTime(QStringLiteral("2018:03:04 05:06:07"));
    EXPECT_EQ(local, QDateTime(QDate(2018, 3, 4), QTime(5, 6, 7)));
    const QDateTime east = *simulated::parseExifDateTime(QStringLiteral("2018:03:04 05:06:07"), QStringLiteral("+02:00"));
    EXPECT_EQ(east.toUTC(), QDateTime(QDate(2018, 3, 4), QTime(3, 6, 7), Qt::UTC));
    const QDateTime west = *simulated::parseExifDateTime(QStringLiteral("2018:03:04 05:06:07"), QStringLiteral("-05:30"));
    EXPECT_EQ(west.toUTC(), QDateTime(QDate(2018, 3, 4), QTime(10, 36, 7), Qt::UTC));
    for (const char* bad : {"", "    :  :     :  :  ", "0000:00:00 00:00:00", "2018-03-04T05:06:07", "garbage"})
        EXPECT_EQ(simulated::parseExifDateTime(QString::fromUtf8(bad)), std::nullopt) << bad;
}

// A file without EXIF: the modification time is its date, and its thumbnail is a scaled decode.
TEST(SimulatedContent, FallsBackToTheFileForDateAndThumbnail)
{
    QTemporaryDir card;
    QImage image(640, 320, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = card.filePath(QStringLiteral("SHOT.PNG"));
    ASSERT_TRUE(image.save(path, "PNG"));
    const QDateTime modified(QDate(2020, 5, 6), QTime(7, 8, 9));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();

    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(awaitError([&](auto done) { files.front()->loadMetadata(done); }), std::nullopt);
    EXPECT_EQ(files.front()->dateCreated(), modified);

    const auto thumbnail = test::fetchImage(files.front(), false);
    ASSERT_TRUE(thumbnail.data);
    QBuffer buffer;
    buffer.setData(*thumbnail.data);
    QImageReader reader(&buffer, "JPEG");
    EXPECT_EQ(reader.size(), QSize(160, 80));
    const auto preview = test::fetchImage(files.front(), true);
    ASSERT_TRUE(preview.data);
    EXPECT_EQ(QImage::fromData(*preview.data, "JPEG").size(), QSize(640, 320));

    // A file that went away between listing and request.
    ASSERT_TRUE(QFile::remove(path));
    const auto gone = awaitError([&](auto done) { files.front()->loadMetadata(done); });
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->code, VKLErrorFileNotFound);
    EXPECT_EQ(test::fetchImage(files.front(), false).error->code, VKLErrorFileNotFound);
    EXPECT_EQ(test::streamFile(files.front()).error->code, VKLErrorFileNotFound);
}

// What a walk over CR3 and HEIF files gives: the EXIF date, a JPEG thumbnail and a JPEG preview of each.
TEST(SimulatedContent, ServesDatesThumbnailsAndPreviewsOfCr3AndHeifFiles)
{
    QTemporaryDir card;
    tools::SampleCameraSpec spec;
    spec.outputFolder = card.path();
    spec.shots = 3;
    spec.days = 1;
    spec.rawShare = 1.0;
    spec.rawExtensions = {QStringLiteral("CR3")};
    spec.imageExtension = QStringLiteral("HIF");
    const tools::SampleCameraResult written = tools::generateSampleCamera(spec);
    ASSERT_TRUE(written.ok()) << written.error.toStdString();
    // The files' own times differ from the shots', so a date can only come from the EXIF inside.
    for (const QString& path : written.files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
    }

    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 6u);
    for (const tools::SampleShot& shot : written.shots) {
        // The shot is drawn upright in the HEIF file; the RAW's preview keeps the stored pixels.
        const QSize upright = shot.orientation == 1 ? shot.pixelSize : shot.pixelSize.transposed();
        for (const auto& [path, previewSize] : {std::pair{shot.jpegPath, upright}, std::pair{shot.rawPath, shot.pixelSize}}) {
            const QString name = QFileInfo(path).fileName();
            SCOPED_TRACE(name.toStdString());
            const auto item = test::findFile(files, name);
            ASSERT_TRUE(item);
            EXPECT_TRUE(item->isKnownImageType());
            EXPECT_EQ(awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt);
            ASSERT_TRUE(item->dateCreated());
            EXPECT_EQ(item->dateCreated()->toSecsSinceEpoch(), shot.captureTime.toSecsSinceEpoch());

            const auto thumbnail = test::fetchImage(item, false);
            ASSERT_TRUE(thumbnail.data);
            const QImage small = QImage::fromData(*thumbnail.data, "JPEG");
            ASSERT_FALSE(small.isNull());
            EXPECT_LE(std::max(small.width(), small.height()), 160);
            const auto preview = test::fetchImage(item, true);
            ASSERT_TRUE(preview.data);
            EXPECT_EQ(QImage::fromData(*preview.data, "JPEG").size(), previewSize);
        }
    }
}

// Mended: an EXIF thumbnail stored as uncompressed TIFF strips was served as if it were JPEG.
TEST(SimulatedContent, ServesATiffThumbnailAsJpeg)
{
    enum : uint16_t {
        ImageWidth = 0x0100, ImageLength = 0x0101, BitsPerSample = 0x0102, Compression = 0x0103,
        Photometric = 0x0106, Make = 0x010f, StripOffsets = 0x0111, SamplesPerPixel = 0x0115, RowsPerStrip = 0x0116,
        StripByteCounts = 0x0117,
    };
    // A RAW-named TIFF with no image Qt could decode in IFD0 and a 16x8 RGB thumbnail in IFD1.
    tools::TiffWriter tiff;
    const int ifd0 = tiff.addDirectory();
    const int ifd1 = tiff.addDirectory();
    tiff.setNextDirectory(ifd0, ifd1);
    tiff.addAscii(ifd0, Make, "Vornakel");
    QByteArray pixels;
    for (int i = 0; i < 16 * 8; ++i)
        pixels.append("\xc0\x20\x20", 3);
    const int strip = tiff.addData(pixels);
    tiff.addLongs(ifd1, ImageWidth, {16});
    tiff.addLongs(ifd1, ImageLength, {8});
    tiff.addShorts(ifd1, BitsPerSample, {8, 8, 8});
    tiff.addShorts(ifd1, Compression, {1});
    tiff.addShorts(ifd1, Photometric, {2});
    tiff.addDataOffset(ifd1, StripOffsets, strip);
    tiff.addShorts(ifd1, SamplesPerPixel, {3});
    tiff.addLongs(ifd1, RowsPerStrip, {8});
    tiff.addLongs(ifd1, StripByteCounts, {uint32_t(pixels.size())});
    QTemporaryDir card;
    QFile file(card.filePath(QStringLiteral("IMG_0001.DNG")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tiff.build());
    file.close();

    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 1u);
    const auto thumbnail = test::fetchImage(files.front(), false);
    ASSERT_TRUE(thumbnail.data);
    EXPECT_TRUE(thumbnail.data->startsWith("\xff\xd8\xff"));
    const QImage image = QImage::fromData(*thumbnail.data, "JPEG");
    EXPECT_EQ(image.size(), QSize(16, 8));
    EXPECT_GT(qRed(image.pixel(8, 4)), 150);
}

// Mended: a file whose name is not valid UTF-8 was left out of the listing without a word.
TEST(SimulatedContent, ServesFilesWhoseNamesAreNotUtf8)
{
    QTemporaryDir card;
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    const QByteArray nativeName("IMG_\xff\xfe" "1.JPG");
    const QByteArray nativePath = QFile::encodeName(card.path()) + '/' + nativeName;
    {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        ASSERT_TRUE(image.save(&buffer, "JPEG"));
        FILE* out = std::fopen(nativePath.constData(), "wb");
        ASSERT_TRUE(out);
        ASSERT_EQ(std::fwrite(jpeg.constData(), 1, size_t(jpeg.size()), out), size_t(jpeg.size()));
        std::fclose(out);
    }
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front()->name(), QStringLiteral("IMG_\uFFFD\uFFFD1.JPG"));
    EXPECT_EQ(awaitError([&](auto done) { files.front()->loadMetadata(done); }), std::nullopt);
    const auto stream = test::streamFile(files.front());
    EXPECT_EQ(stream.error, std::nullopt);
    EXPECT_EQ(QImage::fromData(stream.data, "JPEG").size(), QSize(64, 48));
    EXPECT_TRUE(test::fetchImage(files.front(), false).data);
}

// The camera reports each shot's orientation with its metadata: its thumbnails and previews carry none.
TEST(SimulatedContent, ReportsTheOrientationWithTheMetadata)
{
    QTemporaryDir card;
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const std::pair<const char*, std::optional<int>> shots[] = {
        {"TURNED.JPG", 6}, {"UPSIDE.JPG", 3}, {"PLAIN.JPG", std::nullopt}, {"WRONG.JPG", std::nullopt}};
    for (const auto& [name, orientation] : shots) {
        const QString path = card.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(image.save(path, "JPEG"));
        auto file = Exiv2Library::open(path);
        file->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
        if (orientation)
            exif["Exif.Image.Orientation"] = uint16_t(*orientation);
        if (QLatin1String(name) == QLatin1String("WRONG.JPG"))
            exif["Exif.Image.Orientation"] = uint16_t(42);
        file->setExifData(exif);
        file->writeMetadata();
    }
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), std::size(shots));
    for (const auto& [name, orientation] : shots) {
        const auto file = test::findFile(files, QString::fromLatin1(name));
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(file->orientation(), std::nullopt) << name << " before its metadata is loaded";
        EXPECT_EQ(awaitError([&](auto done) { file->loadMetadata(done); }), std::nullopt) << name;
        EXPECT_EQ(file->orientation(), orientation) << name;
    }
}

// HEIF files as cameras and phones write them. The images served are decoded by libheif, which applies the
// file's own rotation: a file with one must travel with no further orientation, or the grid and the preview
// turn it a second time. Without a capture date, or with a colour profile exiv2 rejects, what was read stays.
TEST(SimulatedContent, ReportsTheOrientationHeifImagesStillNeed)
{
    QImage stored(128, 64, QImage::Format_RGB888);
    stored.fill(Qt::darkGreen);
    const std::optional<tools::HevcPicture> coded = tools::encodeHevc(stored);
    ASSERT_TRUE(coded);
    const auto heif = [&coded](int rotation, const QByteArray& date, const QByteArray& iccProfile) {
        tools::HeifItem image;
        image.id = 1;
        image.data = coded->data;
        image.hevcConfiguration = coded->configuration;
        image.spatialExtent = QSize(128, 64);
        image.rotation = rotation;
        image.iccProfile = iccProfile;
        tools::HeifItem exif;
        exif.id = 2;
        exif.type = QByteArrayLiteral("Exif");
        exif.describes = 1;
        tools::HeifExif tags;
        tags.orientation = 6;
        tags.dateTimeOriginal = date;
        exif.data = tools::exifItemData(tags);
        return tools::buildHeif(1, {image, exif});
    };
    const QByteArray date = QByteArrayLiteral("2022:02:03 04:05:06");
    const QByteArray rejectedProfile = QByteArray::fromHex("000010000000000002100000") + QByteArray(120, 'x');
    const struct {
        const char* name;
        QByteArray data;
        int orientation;
        bool dated;
        QSize served; // as the camera hands out the preview
    } cases[] = {
        // 270° anticlockwise is the quarter turn clockwise that EXIF orientation 6 asks for.
        {"TURNED.HEIC", heif(270, date, {}), 1, true, QSize(64, 128)},
        {"TURNED_UNDATED.HEIC", heif(270, {}, {}), 1, false, QSize(64, 128)},
        {"EXIF_ONLY.HEIC", heif(0, date, {}), 6, true, QSize(128, 64)},
        {"EXIF_ONLY_UNDATED.HEIC", heif(0, {}, {}), 6, false, QSize(128, 64)},
        {"PROFILE.HEIC", heif(0, date, rejectedProfile), 6, true, QSize(128, 64)},
    };
    QTemporaryDir card;
    for (const auto& c : cases) {
        QFile file(card.filePath(QString::fromLatin1(c.name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(c.data), c.data.size());
    }
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromFolder(card.path(), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto item = test::findFile(files, QString::fromLatin1(c.name));
        ASSERT_TRUE(item);
        EXPECT_EQ(awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt);
        EXPECT_EQ(item->orientation(), c.orientation);
        ASSERT_TRUE(item->dateCreated());
        if (c.dated) {
            EXPECT_EQ(item->dateCreated()->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      QStringLiteral("2022-02-03 04:05:06"));
        }
        const auto preview = test::fetchImage(item, true);
        ASSERT_TRUE(preview.data);
        EXPECT_EQ(QImage::fromData(*preview.data, "JPEG").size(), c.served);
        const auto thumbnail = test::fetchImage(item, false);
        ASSERT_TRUE(thumbnail.data);
        EXPECT_EQ(QImage::fromData(*thumbnail.data, "JPEG").size(), c.served);
    }
}

TEST(SimulatedContent, ListsOneHundredThousandFilesInMemory)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    SimulatedCameraContent::Folder folder{QStringLiteral("100VKLCM"), {}, {}};
    const QDateTime base(QDate(2026, 1, 1), QTime(12, 0));
    folder.files.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        folder.files.push_back({QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')), 4000000u + i, base.addSecs(i), {}});
    dcim.folders.push_back(std::move(folder));
    content.root.folders.push_back(std::move(dcim));
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    auto camera = SimulatedCamera::fromContent(std::move(content), options);

    // How fast this goes is tools/bench-model's business; here every file must be listed, in order.
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 100000u);
    EXPECT_EQ(files[99999]->name(), QStringLiteral("IMG_099999.JPG"));
    EXPECT_EQ(files[99999]->size(), 4099999u);
    EXPECT_FALSE(files[99999]->metadataLoaded());
    EXPECT_EQ(awaitError([&](auto done) { files[99999]->loadMetadata(done); }), std::nullopt);
    EXPECT_EQ(files[99999]->dateCreated(), base.addSecs(99999));
    const auto thumbnail = test::fetchImage(files[5], false);
    ASSERT_TRUE(thumbnail.data);
    EXPECT_FALSE(QImage::fromData(*thumbnail.data, "JPEG").isNull());
}

TEST(SimulatedContent, WalksAFolderChainOneThousandDeep)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder* folder = &content.root;
    for (int depth = 0; depth < 1000; ++depth) {
        folder->folders.push_back({QStringLiteral("D%1").arg(depth), {}, {}});
        folder = &folder->folders.back();
    }
    folder->files.push_back({QStringLiteral("DEEP.JPG"), 5, std::nullopt, QByteArray("bytes")});
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    options.listingErrors = {QStringLiteral("D998")};
    auto camera = SimulatedCamera::fromContent(std::move(content), options);
    auto current = test::openStorage(*camera);
    int depth = 0;
    std::optional<Error> error;
    while (current) {
        error = awaitError([&](auto done) { current->loadChildren(done); });
        if (error || current->children()->empty() || !std::dynamic_pointer_cast<VKLFileSystemFolderItem>(current->children()->front()))
            break;
        current = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(current->children()->front());
        ++depth;
    }
    // The listing error named by a folder's name stops the walk just above the bottom.
    EXPECT_EQ(depth, 999);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorListingFailed);
}

TEST(SimulatedContent, StreamsTheDataOfAnInMemoryFile)
{
    SimulatedCameraContent content;
    const QByteArray data = QByteArray("0123456789").repeated(10000);
    content.root.files.push_back({QStringLiteral("A.NEF"), 0, std::nullopt, data});
    content.root.files.push_back({QStringLiteral("EMPTY.JPG"), 0, std::nullopt, {}});
    SimulatedCameraOptions options;
    options.startsInStorageMode = true;
    options.chunkSize = 4096;
    options.metadataPreloaded = true;
    auto camera = SimulatedCamera::fromContent(std::move(content), options);
    const auto files = test::walkFiles(test::openStorage(*camera));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0]->metadataLoaded());
    EXPECT_EQ(files[0]->size(), 100000u);
    EXPECT_EQ(files[0]->dateCreated(), std::nullopt);
    const auto stream = test::streamFile(files[0]);
    EXPECT_EQ(stream.error, std::nullopt);
    EXPECT_EQ(stream.data, data);
    EXPECT_EQ(stream.chunks, 25);
    const auto empty = test::streamFile(files[1]);
    EXPECT_EQ(empty.error, std::nullopt);
    EXPECT_EQ(empty.chunks, 0);
    EXPECT_EQ(empty.completions, 1);
}

} // namespace
} // namespace vornakel
