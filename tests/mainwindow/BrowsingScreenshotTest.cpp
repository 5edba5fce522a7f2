// Writes the photo grid, the preview and the battery images as PNGs under the build folder
// (<build>/screenshots/), to be looked at as a user would.

#include "PhotoFeed.h"

#include "mainwindow/CameraBatteryStatusView.h"
#include "support/BackgroundWorkCounter.h"
#include "mainwindow/grid/ImageGridView.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/preview/ImagePreviewTransitioning.h"
#include "mainwindow/preview/ImagePreviewViewController.h"
#include "platform/exiv2/Exiv2Library.h"

#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::at;
using test::runUntil;

QString screenshotPath(const QString& name)
{
    const QString folder = QStringLiteral(VKL_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

// A landscape-like picture: sky, sun and hills in the hue given.
QByteArray scenery(QSize size, int hue, bool withExif = false)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(hue, 120, 240));
    sky.setColorAt(1, QColor::fromHsv((hue + 30) % 360, 60, 255));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 230, 150));
    painter.drawEllipse(QPointF(size.width() * 0.75, size.height() * 0.28), size.height() * 0.12, size.height() * 0.12);
    painter.setBrush(QColor::fromHsv((hue + 120) % 360, 140, 120));
    painter.drawEllipse(QPointF(size.width() * 0.25, size.height() * 1.05), size.width() * 0.55, size.height() * 0.45);
    painter.setBrush(QColor::fromHsv((hue + 100) % 360, 160, 90));
    painter.drawEllipse(QPointF(size.width() * 0.85, size.height() * 1.1), size.width() * 0.5, size.height() * 0.4);
    painter.end();
    QTemporaryDir dir;
    const QString path = dir.filePath("shot.jpg");
    image.save(path, "JPEG", 88);
    if (withExif) {
        auto file = Exiv2Library::open(path);
        file->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 350);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(67, 10);
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
        file->setExifData(exif);
        file->writeMetadata();
    }
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    return in.readAll();
}

// A file whose thumbnail request the camera has not answered yet.
class SlowFile : public InProcessFile {
public:
    using InProcessFile::InProcessFile;
    void fetchThumbnail(PreflightBlock, ImageDeliveryBlock) override {}
};

class BrowsingScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::backgroundWork(); // counts the work this test posts
        ImageGridOptions options;
        options.calendar.clock = [] { return at(2026, 4, 10, 15, 0); };
        options.calendar.timeZone = QTimeZone::utc();
        options.animationSpeed = 0;
        grid = std::make_unique<ImageGridViewController>(options);
        grid->widget()->resize(960, 640);
        grid->widget()->show();

        int shot = 0;
        const auto add = [&](const QString& name, std::optional<QDateTime> date, int orientation = 1) {
            auto file = feed.add(name, date);
            file->setOrientation(orientation);
            file->setThumbnail({std::nullopt, scenery(QSize(160, 120), (shot * 47) % 360)});
            file->setPreview({std::nullopt, scenery(QSize(1200, 900), (shot * 47) % 360, true)});
            ++shot;
            return file;
        };
        add("IMG_0301.CR2", at(2026, 4, 10, 9, 0));
        add("IMG_0301.JPG", at(2026, 4, 10, 9, 0));
        add("IMG_0302.JPG", at(2026, 4, 10, 9, 5), 6);
        add("IMG_0303.CR2", at(2026, 4, 10, 9, 10));
        add("IMG_0304.JPG", at(2026, 4, 10, 9, 20));
        add("IMG_0305.JPG", at(2026, 4, 10, 9, 30));
        for (int i = 0; i < 5; ++i)
            add(QStringLiteral("IMG_02%1.JPG").arg(i + 10), at(2026, 4, 9, 16, i), i == 2 ? 8 : 1);
        add("IMG_0100.NEF", at(2026, 3, 2, 12, 0));
        add("IMG_0101.JPG", at(2026, 3, 2, 12, 1));
        add("SCAN_A.JPG", std::nullopt);
        // One whose thumbnail is still on its way, so its cell spins.
        auto slow = std::make_shared<SlowFile>(QStringLiteral("IMG_0099.JPG"), at(2026, 3, 2, 11, 0), 1000,
                                               feed.options());
        slow->setStorage(feed.camera()->storageDevices()->front());
        slow->setLoaded(false);
        std::vector<std::shared_ptr<InProcessFile>> files = feed.files();
        files.push_back(slow);
        feed.deliver(*grid, files);
    }

    // Decoding still under way must not outlive the test's folders (or the process).
    void TearDown() override { EXPECT_TRUE(runUntil([] { return test::backgroundWork().running() == 0; })); }

    test::PhotoFeed feed;
    std::unique_ptr<ImageGridViewController> grid;
};

TEST_F(BrowsingScreenshotTest, GridWithSectionsBadgesAndSelection)
{
    const std::vector<PhotoPtr> photos = grid->model().shownPhotos();
    ASSERT_TRUE(runUntil([&] {
        return !grid->thumbnails().thumbnail(photos[0].get()).isNull() && grid->thumbnails().requestsInFlight() <= 1;
    }));
    grid->model().changeSelection({photos[1], photos[2], photos[6]});
    grid->view().viewport()->repaint();
    const QImage top = grid->widget()->grab().toImage();
    ASSERT_TRUE(top.save(screenshotPath("grid.png")));
    EXPECT_EQ(grid->view().headerText(QDate(2026, 4, 10)).left(5), "Today");

    grid->view().verticalScrollBar()->setValue(grid->view().verticalScrollBar()->maximum());
    grid->view().viewport()->repaint();
    ASSERT_TRUE(runUntil([&] { return grid->thumbnails().requestsInFlight() == 1; })); // the slow one
    grid->view().viewport()->repaint();
    ASSERT_TRUE(grid->widget()->grab().toImage().save(screenshotPath("grid-bottom.png")));
}

TEST_F(BrowsingScreenshotTest, PreviewWithShootingData)
{
    const std::vector<PhotoPtr> photos = grid->model().shownPhotos();
    grid->model().changeSelection({photos[0]});
    grid->presentPreviewForSelectedPhoto();
    ImagePreviewViewController* preview = grid->preview();
    ASSERT_TRUE(preview);
    ASSERT_TRUE(runUntil([&] { return preview->shootingData().has_value(); }));
    ASSERT_TRUE(grid->widget()->grab().toImage().save(screenshotPath("preview.png")));
    preview->goBack();

    auto broken = feed.add("BROKEN.JPG", at(2026, 4, 10, 14, 0));
    broken->setPreview({errorWithVKLErrorCode(VKLErrorReadFailed), std::nullopt});
    feed.deliver(*grid, {broken});
    grid->model().changeSelection({grid->model().photoAt(GridIndex{0, 0})});
    grid->presentPreviewForSelectedPhoto();
    ASSERT_TRUE(grid->preview());
    ASSERT_TRUE(runUntil([&] { return grid->preview()->showsUnavailable(); }));
    ASSERT_TRUE(grid->widget()->grab().toImage().save(screenshotPath("preview-unavailable.png")));
}

TEST_F(BrowsingScreenshotTest, ZoomOnItsWay)
{
    grid->transitioning().setSpeed(30); // ten seconds, caught on its way
    grid->transitioning().setModifiers([] { return Qt::NoModifier; });
    const std::vector<PhotoPtr> photos = grid->model().shownPhotos();
    ASSERT_TRUE(runUntil([&] { return !grid->thumbnails().thumbnail(photos[6].get()).isNull(); }));
    grid->model().changeSelection({photos[6]});
    grid->presentPreviewForSelectedPhoto();
    ASSERT_TRUE(grid->preview());
    ASSERT_TRUE(runUntil([&] {
        const auto* snapshot = grid->widget()->findChild<SnapshotView*>();
        return snapshot && snapshot->width() > 400;
    }));
    ASSERT_TRUE(grid->widget()->grab().toImage().save(screenshotPath("preview-zoom.png")));
}

TEST(BatteryScreenshotTest, AllSixImages)
{
    const char* names[] = {"BatteryMainsPower", "BatteryFull", "BatteryThreeQuarters", "BatteryHalf",
                           "BatteryOneQuarter", "BatteryEmpty"};
    QImage strip(6 * 70, 40, QImage::Format_ARGB32_Premultiplied);
    strip.fill(QColor(236, 236, 236));
    QPainter painter(&strip);
    for (int i = 0; i < 6; ++i)
        painter.drawPixmap(QRect(i * 70 + 5, 4, 60, 32), CameraBatteryStatusView::image(names[i], QSize(60, 32)));
    painter.end();
    ASSERT_TRUE(strip.save(screenshotPath("battery.png")));
}

} // namespace
} // namespace vornakel
