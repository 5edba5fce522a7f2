#include "PhotoFeed.h"

#include "support/BackgroundWorkCounter.h"
#include "mainwindow/grid/ImageGridView.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/preview/ImagePreviewTransitioning.h"
#include "mainwindow/preview/ImagePreviewViewController.h"
#include "mainwindow/preview/ShootingData.h"
#include "platform/exiv2/Exiv2Library.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::at;
using test::runUntil;

// A JPEG with the shooting data a camera records.
QByteArray jpegWithExif(QSize size, const std::function<void(Exiv2::ExifData&)>& fill)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shot.jpg");
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(test::jpegBytes(size));
    out.close();
    auto image = Exiv2Library::open(path);
    image->readMetadata();
    Exiv2::ExifData exif;
    fill(exif);
    image->setExifData(exif);
    image->writeMetadata();
    QFile in(path);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    return in.readAll();
}

TEST(ShootingDataTest, LineHoldsThePartsThereAreInOrder)
{
    const auto exif = [](QVariantMap values) { return std::optional<QVariantMap>(QVariantMap{{"{Exif}", values}}); };
    struct Case {
        const char* title;
        std::optional<QVariantMap> properties;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases = {
        {"everything, as recorded",
         exif({{"ExposureTime", 1.0 / 350}, {"FNumber", 6.7}, {"ISOSpeedRatings", QVariantList{100}},
               {"FocalLength", 35.0}}),
         QStringLiteral("1/350 s  \u2022  f/6.7  \u2022  ISO 100  \u2022  35 mm")},
        {"only ISO and focal length", exif({{"ISOSpeedRatings", QVariantList{200}}, {"FocalLength", 50}}),
         QStringLiteral("ISO 200  \u2022  50 mm")},
        {"long exposure", exif({{"ExposureTime", 2.0}, {"FNumber", 8.0}}), QStringLiteral("2 s  \u2022  f/8")},
        {"unusable values left out", exif({{"ExposureTime", -1.0}, {"FNumber", QStringLiteral("wide")},
                                           {"FocalLength", 24}}),
         QStringLiteral("24 mm")},
        {"no usable value", exif({{"ExposureTime", QStringLiteral("fast")}}), std::nullopt},
        {"no Exif dictionary", QVariantMap{{"PixelWidth", 10}}, std::nullopt},
        {"Exif not a dictionary", QVariantMap{{"{Exif}", 3}}, std::nullopt},
        {"no properties", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shootingDataLine(c.properties), c.expected) << c.title;
}

TEST(ImagePreviewTransitioningTest, ShiftSlowsTheZoomAndSpeedScalesIt)
{
    ImagePreviewTransitioning transitioning;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    transitioning.setModifiers([&] { return modifiers; });
    EXPECT_EQ(transitioning.duration(), 330);
    modifiers = Qt::ShiftModifier | Qt::ControlModifier;
    EXPECT_EQ(transitioning.duration(), 2000);
    transitioning.setSpeed(0.5);
    EXPECT_EQ(transitioning.duration(), 1000);
    transitioning.setSpeed(0);
    EXPECT_EQ(transitioning.duration(), 0);
}

// A camera file whose preview request is answered like the camera library answers it: preflight and delivery
// on the library's delivery queue, once the test lets it.
class DeliveryQueueFile : public InProcessFile {
public:
    using InProcessFile::InProcessFile;
    void fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        ++requests;
        m_preflight = std::move(preflight);
        m_delivery = std::move(delivery);
    }
    void answer(const QByteArray& data, std::shared_ptr<std::atomic<int>> outcome)
    {
        auto self = shared_from_this();
        VKLLibrary::deliveryQueue()->async([self, preflight = std::move(m_preflight), delivery = std::move(m_delivery),
                                            data, outcome] {
            if (!preflight(self)) {
                *outcome = 1; // declined
                return;
            }
            delivery(self, std::nullopt, data);
            *outcome = 2; // delivered
        });
    }
    int requests = 0;

private:
    PreflightBlock m_preflight;
    ImageDeliveryBlock m_delivery;
};

class ImagePreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::backgroundWork(); // counts the work this test posts
        ImageGridOptions options;
        options.calendar.clock = [] { return at(2026, 4, 10, 12, 0); };
        options.calendar.timeZone = QTimeZone::utc();
        options.animationSpeed = 0;
        grid = std::make_unique<ImageGridViewController>(options);
        grid->widget()->resize(900, 640);
        grid->widget()->show();
        QObject::connect(grid.get(), &ImageGridViewController::previewDismissed, [this] { ++dismissals; });
    }

    // Decoding still under way must not outlive the test's folders (or the process).
    void TearDown() override { EXPECT_TRUE(runUntil([] { return test::backgroundWork().running() == 0; })); }
    PhotoPtr deliverOne(const std::shared_ptr<InProcessFile>& file)
    {
        feed.deliver(*grid, {file});
        return grid->model().shownPhotos().front();
    }
    ImagePreviewViewController* open(const PhotoPtr& photo)
    {
        grid->model().changeSelection({photo});
        grid->presentPreviewForSelectedPhoto();
        return grid->preview();
    }
    static void press(QWidget* widget, Qt::Key key, const QString& text = {})
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &event);
    }

    test::PhotoFeed feed;
    std::unique_ptr<ImageGridViewController> grid;
    int dismissals = 0;
};

// A portrait shot: the camera's preview is landscape with no orientation; the photo's orientation turns it.
TEST_F(ImagePreviewTest, PreviewFromTheCameraIsUprightWithTitleAndShootingData)
{
    auto file = feed.add("DSC_0042.JPG", at(2026, 4, 10, 9, 0));
    file->setOrientation(6);
    file->setPreview({std::nullopt, jpegWithExif(QSize(600, 400), [](Exiv2::ExifData& exif) {
                          exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 350);
                          exif["Exif.Photo.FNumber"] = Exiv2::URational(67, 10);
                          exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(400);
                          exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
                      })});
    const PhotoPtr photo = deliverOne(file);
    EXPECT_EQ(photo->orientation(), 6);
    ImagePreviewViewController* preview = open(photo);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->title(), "DSC_0042");
    ASSERT_TRUE(runUntil([&] { return preview->shootingData().has_value(); }));
    EXPECT_EQ(*preview->shootingData(), QStringLiteral("1/350 s  \u2022  f/6.7  \u2022  ISO 400  \u2022  85 mm"));
    EXPECT_EQ(preview->image().size(), QSize(400, 600));
    EXPECT_FALSE(preview->isLoading());
    EXPECT_FALSE(preview->showsUnavailable());
    EXPECT_TRUE(feed.options()->log->requests.contains("preview:DSC_0042.JPG"));
    EXPECT_EQ(grid->widget()->window()->focusWidget(), preview);
}

// The camera's answer comes on its delivery queue: it lands in the preview while the preview shows, and a
// preview closed before the camera's turn came declines the request.
TEST_F(ImagePreviewTest, PreviewFromTheDeliveryQueueLandsOrIsDeclined)
{
    const auto make = [&](const QString& name, int minute) {
        auto file = std::make_shared<DeliveryQueueFile>(name, at(2026, 4, 10, 9, minute), 1000, feed.options());
        file->setStorage(feed.camera()->storageDevices()->front());
        file->setLoaded(false);
        return file;
    };
    auto shown = make("SHOWN.JPG", 0);
    feed.deliver(*grid, {shown});
    ImagePreviewViewController* preview = open(grid->model().shownPhotos().front());
    ASSERT_TRUE(runUntil([&] { return shown->requests == 1; }));
    EXPECT_TRUE(preview->isLoading());
    auto outcome = std::make_shared<std::atomic<int>>(0);
    shown->answer(test::jpegBytes(QSize(320, 240)), outcome);
    ASSERT_TRUE(runUntil([&] { return !preview->image().isNull(); }));
    EXPECT_EQ(*outcome, 2);
    EXPECT_FALSE(preview->isLoading());
    preview->goBack();
    ASSERT_TRUE(runUntil([&] { return !grid->preview(); }));

    auto closed = make("CLOSED.JPG", 1);
    feed.deliver(*grid, {closed});
    const PhotoPtr photo = grid->model().photoAt(GridIndex{0, 0});
    ASSERT_EQ(photo->primaryVariant()->fileName(), "CLOSED.JPG");
    preview = open(photo);
    ASSERT_TRUE(runUntil([&] { return closed->requests == 1; }));
    preview->goBack();
    *outcome = 0;
    closed->answer(test::jpegBytes(QSize(320, 240)), outcome);
    ASSERT_TRUE(runUntil([&] { return *outcome != 0; }));
    EXPECT_EQ(*outcome, 1);
    EXPECT_FALSE(photo->previewIsAvailable());
}

// With real (if short) animations the zoom in and out run to their end: the snapshot is handed over or
// removed, the preview goes, and the grid gets the keys back.
// Drawing a fading widget inside the fading preview made Qt warn on every preview, and leave the widget out.
QStringList gPainterWarnings;
void recordPainterWarnings(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.startsWith(QLatin1String("QPainter")))
        gPainterWarnings << message;
}

TEST_F(ImagePreviewTest, AnimatedZoomInAndOutFinish)
{
    gPainterWarnings.clear();
    const QtMessageHandler previousHandler = qInstallMessageHandler(recordPainterWarnings);
    const auto restore = qScopeGuard([previousHandler] { qInstallMessageHandler(previousHandler); });
    grid->transitioning().setSpeed(0.1);
    grid->transitioning().setModifiers([] { return Qt::NoModifier; });
    auto file = feed.add("IMG_3.JPG", at(2026, 4, 10, 9, 0));
    file->setShootingData(VKLShootingData{1.0 / 60, 2.8, 100, 50.0});
    file->setPreview({std::nullopt, test::jpegBytes(QSize(640, 480))});
    const PhotoPtr photo = deliverOne(file);
    ImagePreviewViewController* preview = open(photo);
    ASSERT_TRUE(preview);
    ASSERT_TRUE(runUntil([&] { return !preview->image().isNull(); }));
    ASSERT_TRUE(runUntil([&] { return grid->widget()->window()->focusWidget() == preview; }));
    ASSERT_TRUE(runUntil([&] { return !preview->hasSnapshot(); }));
    press(preview, Qt::Key_Escape);
    press(preview, Qt::Key_Escape);
    ASSERT_TRUE(runUntil([&] { return !grid->preview(); }));
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(grid->widget()->window()->focusWidget(), &grid->view());
    // Nothing of the zoom is left over the grid.
    for (QObject* child : grid->widget()->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            EXPECT_TRUE(widget == &grid->view() || widget->isHidden()) << widget->metaObject()->className();
        }
    }
    EXPECT_EQ(gPainterWarnings, QStringList());
}

TEST_F(ImagePreviewTest, CachedPreviewIsShownWithoutAskingTheCamera)
{
    const PhotoPtr photo = deliverOne(feed.add("IMG_1.JPG", at(2026, 4, 10, 9, 0)));
    const QString location = *photo->cachedPreviewImageLocation();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(location).path()));
    QFile cached(location);
    ASSERT_TRUE(cached.open(QIODevice::WriteOnly));
    cached.write(test::jpegBytes(QSize(300, 200)));
    cached.close();
    ImagePreviewViewController* preview = open(photo);
    ASSERT_TRUE(runUntil([&] { return !preview->image().isNull(); }));
    EXPECT_FALSE(feed.options()->log->requests.contains("preview:IMG_1.JPG"));
}

TEST_F(ImagePreviewTest, FailedPreviewSaysSoInsteadOfSpinning)
{
    struct Case {
        const char* title;
        InProcessFile::Delivery delivery;
    };
    const std::vector<Case> cases = {
        {"camera error", {errorWithVKLErrorCode(VKLErrorReadFailed), std::nullopt}},
        {"data that is no image", {std::nullopt, QByteArrayLiteral("not a jpeg")}},
    };
    int number = 0;
    for (const Case& c : cases) {
        ++number;
        auto file = feed.add(QStringLiteral("BAD_%1.JPG").arg(number), at(2026, 4, 10, 9, number));
        file->setPreview(c.delivery);
        feed.deliver(*grid, {file});
        const PhotoPtr photo = grid->model().photoAt(GridIndex{0, 0});
        ImagePreviewViewController* preview = open(photo);
        ASSERT_TRUE(preview) << c.title;
        ASSERT_TRUE(runUntil([&] { return preview->showsUnavailable(); })) << c.title;
        EXPECT_FALSE(preview->isLoading()) << c.title;
        EXPECT_FALSE(preview->shootingData()) << c.title;
        preview->goBack();
        ASSERT_TRUE(runUntil([&] { return !grid->preview(); })) << c.title;
    }
}

// The shooting line and the turn come from what the camera read from the shot's files when they loaded, not from
// the preview image: a RAW file's embedded preview and a re-encoded HEIF preview carry no EXIF, and a HEIF
// partner of a turned RAW file is handed out already upright.
TEST_F(ImagePreviewTest, ShootingDataAndTurnComeFromTheFileThePreviewIsOf)
{
    const VKLShootingData settings{1.0 / 250, 5.6, 400, 35.0};
    struct File {
        const char* name;
        std::optional<int> orientation;
        bool reportsSettings;
    };
    struct Case {
        const char* title;
        std::vector<File> files;
        QSize previewData;
        QSize shown;
    };
    const std::vector<Case> cases = {
        {"RAW+JPEG", {{"DSC_0001.NEF", 1, true}, {"DSC_0001.JPG", 1, false}}, QSize(300, 200), QSize(300, 200)},
        {"HEIF", {{"IMG_0002.HEIC", 1, true}}, QSize(300, 200), QSize(300, 200)},
        {"turned CR3 with an upright HEIF", {{"IMG_0003.CR3", 6, true}, {"IMG_0003.HIF", 1, true}}, QSize(200, 300),
         QSize(200, 300)},
    };
    int minute = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ++minute;
        std::vector<std::shared_ptr<InProcessFile>> files;
        for (const File& spec : c.files) {
            auto file = feed.add(QString::fromLatin1(spec.name), at(2026, 4, 10, 9, minute));
            file->setOrientation(spec.orientation);
            if (spec.reportsSettings)
                file->setShootingData(settings);
            file->setPreview({std::nullopt, test::jpegBytes(c.previewData)});
            files.push_back(file);
        }
        feed.deliver(*grid, files);
        const PhotoPtr photo = grid->model().photoAt(GridIndex{0, 0});
        ASSERT_EQ(photo->variants().size(), c.files.size());
        ImagePreviewViewController* preview = open(photo);
        ASSERT_TRUE(preview);
        ASSERT_TRUE(runUntil([&] { return preview->shootingData().has_value(); }));
        EXPECT_EQ(*preview->shootingData(), QStringLiteral("1/250 s  \u2022  f/5.6  \u2022  ISO 400  \u2022  35 mm"));
        EXPECT_EQ(preview->image().size(), c.shown);
        preview->goBack();
        ASSERT_TRUE(runUntil([&] { return !grid->preview(); }));
    }
}

TEST_F(ImagePreviewTest, SpaceEscOrBackDismissOnceAndFocusReturnsToTheGrid)
{
    const PhotoPtr photo = deliverOne(feed.add("IMG_2.JPG", at(2026, 4, 10, 9, 0)));
    const std::vector<std::pair<const char*, std::function<void(ImagePreviewViewController*)>>> ways = {
        {"space twice", [](ImagePreviewViewController* p) {
             press(p, Qt::Key_Space, " ");
             press(p, Qt::Key_Space, " ");
         }},
        {"escape then space", [](ImagePreviewViewController* p) {
             press(p, Qt::Key_Escape);
             press(p, Qt::Key_Space, " ");
         }},
        {"back twice", [](ImagePreviewViewController* p) {
             p->goBack();
             p->goBack();
         }},
        // The window's Preview action (Space) closes the preview it opened.
        {"the preview action", [this](ImagePreviewViewController*) { grid->previewAction()->trigger(); }},
    };
    int expected = 0;
    for (const auto& [title, dismiss] : ways) {
        ImagePreviewViewController* preview = open(photo);
        ASSERT_TRUE(preview) << title;
        int requests = 0;
        QObject::connect(preview, &ImagePreviewViewController::dismissRequested, [&] { ++requests; });
        dismiss(preview);
        EXPECT_EQ(requests, 1) << title;
        ASSERT_TRUE(runUntil([&] { return !grid->preview(); })) << title;
        EXPECT_EQ(dismissals, ++expected) << title;
        EXPECT_EQ(grid->widget()->window()->focusWidget(), &grid->view()) << title;
    }
}

} // namespace
} // namespace vornakel
