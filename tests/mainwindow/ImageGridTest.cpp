#include "PhotoFeed.h"

#include "mainwindow/grid/ImageGridItem.h"
#include "support/BackgroundWorkCounter.h"
#include "mainwindow/grid/ImageGridView.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/grid/ThumbnailCache.h"
#include "mainwindow/preview/ImagePreviewViewController.h"
#include "platform/core/DispatchQueue.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QThread>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace vornakel {
namespace {

using test::at;
using test::namesOf;
using test::runUntil;

// A camera file that holds its thumbnail requests until the test answers them, then answers like the camera
// library: preflight and delivery on the library's delivery queue, not the main thread.
class HeldFile : public InProcessFile {
public:
    using InProcessFile::InProcessFile;

    void fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        std::lock_guard lock(m_mutex);
        ++m_requests;
        m_held.push_back({std::move(preflight), std::move(delivery)});
    }
    int requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    int held() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_held.size());
    }
    // Forgets the held requests unanswered, as a camera that goes away does.
    void drop()
    {
        std::lock_guard lock(m_mutex);
        m_held.clear();
    }
    // Answers every held request with the data; counts the preflights that declined.
    void release(const QByteArray& data, std::shared_ptr<std::atomic<int>> declined = nullptr)
    {
        std::vector<std::pair<PreflightBlock, ImageDeliveryBlock>> held;
        {
            std::lock_guard lock(m_mutex);
            held.swap(m_held);
        }
        auto self = shared_from_this();
        for (auto& request : held)
            VKLLibrary::deliveryQueue()->async([self, preflight = request.first, delivery = request.second, data,
                                                declined] {
                if (preflight && !preflight(self)) {
                    if (declined)
                        ++*declined;
                    return;
                }
                delivery(self, std::nullopt, data);
            });
    }

private:
    mutable std::mutex m_mutex;
    int m_requests = 0;
    std::vector<std::pair<PreflightBlock, ImageDeliveryBlock>> m_held;
};

class ImageGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::backgroundWork(); // counts the work this test posts
        ImageGridOptions options;
        options.calendar.clock = [] { return at(2026, 4, 10, 12, 0); };
        options.calendar.timeZone = QTimeZone::utc();
        options.beep = [this] { ++beeps; };
        options.animationSpeed = 0;
        options.copyToFolder = [this](const std::vector<PhotoPtr>& photos, const QString& folder) {
            copied = photos;
            copiedTo = folder;
        };
        options.chooseFolder = [](QWidget*, std::function<void(const QString&)> chosen) { chosen("/tmp/chosen"); };
        customise(options);
        grid = std::make_unique<ImageGridViewController>(options);
        grid->widget()->resize(800, 640);
        grid->widget()->show();
    }
    // Decoding still under way must not outlive the test's folders (or the process).
    void TearDown() override { EXPECT_TRUE(runUntil([] { return test::backgroundWork().running() == 0; })); }
    virtual void customise(ImageGridOptions&) {}

    std::shared_ptr<HeldFile> addHeld(const QString& name, QDateTime date)
    {
        auto file = std::make_shared<HeldFile>(name, date, 1000, feed.options());
        file->setStorage(feed.camera()->storageDevices()->front());
        file->setLoaded(false);
        return file;
    }
    ImageGridView& view() { return grid->view(); }
    QImage grabViewport() { return view().viewport()->grab().toImage(); }
    void click(const QPoint& point, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent press(QEvent::MouseButtonPress, point, view().viewport()->mapToGlobal(point), Qt::LeftButton,
                          Qt::LeftButton, modifiers);
        QApplication::sendEvent(view().viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, view().viewport()->mapToGlobal(point), Qt::LeftButton,
                            Qt::NoButton, modifiers);
        QApplication::sendEvent(view().viewport(), &release);
    }
    void mouse(QEvent::Type type, const QPoint& point, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, point, view().viewport()->mapToGlobal(point), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &event);
    }
    QPoint centreOf(const PhotoPtr& photo)
    {
        return view().cellRect(*grid->model().indexOf(*photo)).center();
    }

    test::PhotoFeed feed;
    std::unique_ptr<ImageGridViewController> grid;
    int beeps = 0;
    std::vector<PhotoPtr> copied;
    QString copiedTo;
};

TEST(ImageGridItemTest, BadgeAndLookFollowThePhotoAndItsThumbnailState)
{
    test::PhotoFeed feed;
    feed.add("PAIR.CR2", at(2026, 1, 1, 10, 0));
    feed.add("PAIR.JPG", at(2026, 1, 1, 10, 0));
    feed.add("LONE.JPG", at(2026, 1, 1, 11, 0));
    feed.add("LONE.NEF", at(2026, 1, 1, 12, 0));
    feed.add("LONE.jpeg", at(2026, 1, 1, 13, 0));
    std::map<QString, PhotoPtr> photos;
    feed.deliver([&](const PhotoGrouping::Update& update) {
        for (const PhotoPtr& photo : update.added)
            photos[photo->primaryVariant()->fileName()] = photo;
    });
    const std::pair<const char*, const char*> badges[] = {
        {"PAIR.CR2", "FileTypeRAWJPEGLabel"},
        {"LONE.JPG", "FileTypeJPEGLabel"},
        {"LONE.jpeg", "FileTypeJPEGLabel"},
        {"LONE.NEF", "FileTypeRAWLabel"},
    };
    for (const auto& [name, key] : badges) {
        ASSERT_TRUE(photos.count(name)) << name;
        EXPECT_EQ(ImageGridItem::badgeKey(*photos[name]), key) << name;
    }
    EXPECT_EQ(ImageGridItem::lookFor(photos["PAIR.CR2"].get(), ThumbnailCache::State::ready, QImage(), false).badgeText,
              "RAW+JPEG");

    const QImage thumbnail(160, 90, QImage::Format_RGB32);
    struct Case {
        const char* title;
        const Photo* photo;
        ThumbnailCache::State state;
        QImage image;
        bool placeholder, spinning, badge, hasImage;
    };
    const Photo* jpeg = photos["LONE.JPG"].get();
    const std::vector<Case> cases = {
        {"no photo", nullptr, ThumbnailCache::State::ready, thumbnail, true, false, false, false},
        {"loading", jpeg, ThumbnailCache::State::loading, QImage(), false, true, false, false},
        {"loaded", jpeg, ThumbnailCache::State::ready, thumbnail, false, false, true, true},
        {"no thumbnail to be had", jpeg, ThumbnailCache::State::unavailable, QImage(), true, false, true, false},
    };
    for (const Case& c : cases) {
        const ImageGridItem::Look look = ImageGridItem::lookFor(c.photo, c.state, c.image, false);
        EXPECT_EQ(look.placeholder, c.placeholder) << c.title;
        EXPECT_EQ(look.spinning, c.spinning) << c.title;
        EXPECT_EQ(look.badgeVisible, c.badge) << c.title;
        EXPECT_EQ(!look.thumbnail.isNull(), c.hasImage) << c.title;
    }
    // A thumbnail keeps its aspect ratio inside the cell.
    const QRect cell(0, 0, ImageGridItem::kCellWidth, ImageGridItem::kCellHeight);
    EXPECT_EQ(ImageGridItem::imageRect(cell, QSize(90, 120)).size(), QSize(90, 120));
    EXPECT_EQ(ImageGridItem::imageRect(cell, QSize(320, 180)).size(), QSize(160, 90));
}

// A thumbnail that arrives (on the camera's delivery queue) after newer photos pushed its photo to another
// cell is drawn in the photo's new cell, not in the one it had when it was asked for.
TEST_F(ImageGridTest, LateThumbnailLandsInThePhotosCurrentCell)
{
    std::vector<std::shared_ptr<HeldFile>> first;
    for (int i = 0; i < 3; ++i)
        first.push_back(addHeld(QStringLiteral("OLD_%1.JPG").arg(i), at(2026, 4, 9, 10, i)));
    feed.deliver(*grid, {first.begin(), first.end()});
    ASSERT_TRUE(runUntil([&] { return first[0]->held() == 1 && first[2]->held() == 1; }));
    const PhotoPtr target = grid->model().photoAt(GridIndex{0, 2}); // OLD_0, the oldest
    ASSERT_EQ(target->primaryVariant()->fileName(), "OLD_0.JPG");
    const QRect oldCell = view().cellRect(GridIndex{0, 2});

    std::vector<std::shared_ptr<InProcessFile>> newer;
    for (int i = 0; i < 6; ++i)
        newer.push_back(feed.add(QStringLiteral("NEW_%1.JPG").arg(i), at(2026, 4, 10, 9, i)));
    feed.deliver(*grid, newer);
    const std::optional<GridIndex> moved = grid->model().indexOf(*target);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->section, 1);

    std::vector<bool> onMainThread;
    QObject receiver;
    QObject::connect(&grid->thumbnails(), &ThumbnailCache::thumbnailChanged, &receiver,
                     [&](const Photo*) { onMainThread.push_back(QThread::currentThread() == qApp->thread()); });
    first[0]->release(test::jpegBytes(QSize(160, 120), QColor(220, 30, 30)));
    ASSERT_TRUE(runUntil([&] { return !grid->thumbnails().thumbnail(target.get()).isNull(); }));
    view().viewport()->repaint();

    const QImage shot = grabViewport();
    const QRect newImage = ImageGridItem::imageRect(view().cellRect(*moved), QSize(160, 120));
    const QColor drawn = shot.pixelColor(newImage.center() + QPoint(30, 30));
    EXPECT_GT(drawn.red(), 180);
    EXPECT_LT(drawn.green(), 80);
    // The cell the photo had before is now another photo's, still waiting for its own thumbnail.
    const QColor elsewhere = shot.pixelColor(ImageGridItem::imageRect(oldCell, QSize(160, 120)).center() + QPoint(30, 30));
    EXPECT_FALSE(elsewhere.red() > 180 && elsewhere.green() < 80);
    EXPECT_FALSE(onMainThread.empty());
    for (bool main : onMainThread)
        EXPECT_TRUE(main);
    EXPECT_EQ(test::backgroundWork().mainThreadDecodes(), 0);
    EXPECT_EQ(first[0]->requests(), 1);
    for (const auto& file : first)
        file->drop();
}

// Scrolling away before the camera answers declines the requests of the cells that left the screen; nothing is
// fetched twice, and the decoded thumbnails stay within their byte bound.
TEST_F(ImageGridTest, ScrolledAwayRequestsAreDeclinedAndDecodedThumbnailsStayBounded)
{
    std::vector<std::shared_ptr<HeldFile>> files;
    for (int i = 0; i < 120; ++i)
        files.push_back(addHeld(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
                                at(2026, 4, 1 + i / 40, 8, i % 40)));
    feed.deliver(*grid, {files.begin(), files.end()});
    const std::vector<PhotoPtr> shown = grid->model().shownPhotos();
    const auto fileOf = [&](const PhotoPtr& photo) {
        for (const auto& file : files)
            if (file.get() == photo->primaryVariant()->remoteItem().get())
                return file;
        return std::shared_ptr<HeldFile>();
    };
    ASSERT_TRUE(runUntil([&] { return fileOf(shown.front())->held() == 1; }));

    view().verticalScrollBar()->setValue(view().verticalScrollBar()->maximum());
    view().viewport()->repaint();
    ASSERT_TRUE(runUntil([&] { return fileOf(shown.back())->held() == 1; }));
    auto declined = std::make_shared<std::atomic<int>>(0);
    const QByteArray thumbnail = test::jpegBytes(QSize(160, 120));
    // The camera answers whatever it holds, as often as requests reach it, until none is left in flight.
    const auto answerAll = [&] {
        for (const auto& file : files)
            file->release(thumbnail, declined);
    };
    ASSERT_TRUE(runUntil([&] {
        answerAll();
        return grid->thumbnails().requestsInFlight() == 0;
    }));
    EXPECT_FALSE(grid->thumbnails().thumbnail(shown.back().get()).isNull());
    EXPECT_GT(*declined, 0);
    EXPECT_FALSE(shown.front()->thumbnailIsAvailable());
    EXPECT_TRUE(shown.back()->thumbnailIsAvailable());
    for (const auto& file : files)
        EXPECT_LE(file->requests(), 1) << file->name()->toStdString();

    // Scroll through everything with a bound of ten thumbnails: what is on screen may pass it, nothing else.
    const qint64 oneThumbnail = QImage(160, 120, QImage::Format_RGB32).sizeInBytes();
    ThumbnailCache small(QSize(160, 120), 10 * oneThumbnail);
    std::unordered_set<const Photo*> screen;
    for (size_t i = 0; i < shown.size(); ++i) {
        screen.insert(shown[i].get());
        if (screen.size() > 4)
            screen.erase(shown[i - 4].get());
        small.keepOnly(screen);
        small.request(shown[i]);
        if (i % 8 == 7)
            answerAll();
    }
    ASSERT_TRUE(runUntil([&] {
        answerAll();
        return small.requestsInFlight() == 0;
    }));
    EXPECT_LE(small.byteCount(), small.byteLimit());
    EXPECT_LE(small.imageCount(), 10u);
}

// Mended: while a camera's photos streamed in at the top of the grid, every photo that passed the screen was
// fetched from the camera and stored, thousands after a large camera and a different set on every run. Only the
// screen the grid settles on and the screen below it are fetched, in the grid's order.
TEST_F(ImageGridTest, OnlyTheSettledScreenAndTheOneBelowAreFetchedInGridOrder)
{
    grid->thumbnails().setCameraFetchDelay(std::chrono::hours(1));
    // Oldest first, as cameras list them: each chunk lands on top of the grid and pushes the screen down.
    for (int i = 0; i < 240; ++i)
        feed.add(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')), at(2026, 4, 1 + i / 60, 8, i % 60));
    feed.deliver(*grid);
    view().viewport()->repaint();
    // Every cell's look at the disk cache has come back; what waits for the camera waits for the screen to settle.
    ASSERT_TRUE(runUntil([&] {
        return test::backgroundWork().running() == 0
               && grid->thumbnails().requestsAwaitingCamera() == grid->thumbnails().requestsInFlight();
    }));
    const auto thumbnailRequests = [&] {
        return feed.options()->log->requests.filter(QStringLiteral("thumb:"));
    };
    EXPECT_TRUE(thumbnailRequests().isEmpty());

    grid->thumbnails().setCameraFetchDelay(std::chrono::milliseconds(0));
    ASSERT_TRUE(runUntil([&] { return grid->thumbnails().requestsInFlight() == 0; }));

    QStringList expected;
    const int height = view().viewport()->height();
    for (const PhotoPtr& photo : grid->model().shownPhotos()) {
        const QRect cell = view().cellRect(*grid->model().indexOf(*photo));
        if (cell.bottom() >= 0 && cell.top() < 2 * height)
            expected << QStringLiteral("thumb:") + photo->primaryVariant()->fileName();
    }
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_LT(expected.size(), 240 / 2);
    EXPECT_EQ(thumbnailRequests(), expected);
    for (const PhotoPtr& photo : grid->model().shownPhotos())
        EXPECT_EQ(photo->thumbnailIsAvailable(), expected.contains(QStringLiteral("thumb:") + photo->primaryVariant()->fileName()))
            << photo->primaryVariant()->fileName().toStdString();
}

// Mended: every chunk of a camera's first photos restarted the wait for the screen to hold still, so the first
// thumbnails were asked for only after the whole walk. Photos that only join the wanted ones (an empty screen
// filling) are asked for at once; one that leaves (the screen moved) holds what follows until the screen has
// held still for the delay.
TEST(ThumbnailCacheTest, PhotosJoiningTheScreenAreFetchedAtOnceAndOneLeavingHoldsTheRest)
{
    test::backgroundWork();
    test::PhotoFeed feed;
    for (int i = 0; i < 14; ++i)
        feed.add(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')), at(2026, 4, 1, 8, i));
    std::vector<PhotoPtr> photos;
    feed.deliver([&](const PhotoGrouping::Update& update) { photos.insert(photos.end(), update.added.begin(), update.added.end()); });
    ASSERT_EQ(photos.size(), 14u);
    const auto asked = [&] { return feed.options()->log->requests.filter(QStringLiteral("thumb:")).size(); };

    ThumbnailCache cache(QSize(160, 120));
    qint64 now = 0;
    cache.setClock([&now] { return now; });
    cache.setCameraFetchDelay(std::chrono::milliseconds(1000));
    std::vector<const Photo*> wanted;
    const auto show = [&](size_t index) {
        cache.request(photos[index]);
        wanted.push_back(photos[index].get());
    };
    // Made a moment ago: what it is asked for first waits the delay.
    show(0);
    cache.keepOnly(wanted);
    ASSERT_TRUE(runUntil([&] { return test::backgroundWork().running() == 0 && cache.requestsAwaitingCamera() == 1; }));
    now = 1000;
    cache.setCameraFetchDelay(std::chrono::milliseconds(1000)); // looks at the clock again
    ASSERT_TRUE(runUntil([&] { return asked() == 1; }));

    // Chunk after chunk joins the screen, with no time passing: each is asked for at once.
    for (size_t chunk = 0; chunk < 3; ++chunk) {
        for (size_t i = 1 + chunk * 4; i < 5 + chunk * 4; ++i)
            show(i);
        cache.keepOnly(wanted);
        ASSERT_TRUE(runUntil([&] { return asked() == qsizetype(5 + chunk * 4); })) << "chunk " << chunk;
        EXPECT_EQ(cache.requestsAwaitingCamera(), 0u);
    }

    // The first photo leaves the screen and another joins it: the newcomer waits until the screen held still.
    wanted.erase(wanted.begin());
    show(13);
    cache.keepOnly(wanted);
    ASSERT_TRUE(runUntil([&] { return test::backgroundWork().running() == 0 && cache.requestsAwaitingCamera() == 1; }));
    EXPECT_EQ(asked(), 13);
    now += 999;
    cache.setCameraFetchDelay(std::chrono::milliseconds(1000));
    EXPECT_EQ(cache.requestsAwaitingCamera(), 1u);
    now += 1;
    cache.setCameraFetchDelay(std::chrono::milliseconds(1000));
    ASSERT_TRUE(runUntil([&] { return asked() == 14; }));
    ASSERT_TRUE(runUntil([&] { return cache.requestsInFlight() == 0 && test::backgroundWork().running() == 0; }));
}

// Camera thumbnails carry no orientation of their own: the grid turns them as the shot was taken.
TEST_F(ImageGridTest, ThumbnailsAreTurnedByThePhotosOrientation)
{
    const std::pair<const char*, int> shots[] = {{"UPRIGHT.JPG", 1}, {"PORTRAIT.JPG", 6}, {"LEFT.JPG", 8},
                                                 {"UPSIDE.JPG", 3}};
    std::map<QString, QSize> expected{{"UPRIGHT.JPG", {160, 120}}, {"PORTRAIT.JPG", {90, 120}},
                                      {"LEFT.JPG", {90, 120}}, {"UPSIDE.JPG", {160, 120}}};
    int minute = 0;
    for (const auto& [name, orientation] : shots) {
        auto file = feed.add(name, at(2026, 4, 10, 8, minute++));
        file->setOrientation(orientation);
        file->setThumbnail({std::nullopt, test::jpegBytes(QSize(160, 120), QColor(40, 200, 40))});
    }
    feed.deliver(*grid);
    const std::vector<PhotoPtr> photos = grid->model().shownPhotos();
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(photos.begin(), photos.end(),
                           [&](const PhotoPtr& p) { return !grid->thumbnails().thumbnail(p.get()).isNull(); });
    }));
    for (const PhotoPtr& photo : photos) {
        const QImage thumbnail = grid->thumbnails().thumbnail(photo.get());
        const QString name = photo->primaryVariant()->fileName();
        EXPECT_EQ(thumbnail.size(), expected[name]) << name.toStdString();
        // The darker corner was top left in the file: upside down it is bottom right.
        if (name == "UPSIDE.JPG") {
            EXPECT_LT(thumbnail.pixelColor(150, 110).green(), 100);
        }
    }
}

// Newer photos arriving above the part of the grid the user scrolled to do not move what the user looks at;
// at the very top the grid stays at the top, where the newest photos show.
TEST_F(ImageGridTest, NewerPhotosDoNotMoveWhatIsOnScreen)
{
    for (int i = 0; i < 40; ++i)
        feed.add(QStringLiteral("OLD_%1.JPG").arg(i, 2, 10, QLatin1Char('0')), at(2026, 4, 1 + i / 10, 8, i));
    feed.deliver(*grid);
    QScrollBar* bar = view().verticalScrollBar();
    bar->setValue(300);
    view().viewport()->repaint();
    const std::optional<GridIndex> first = view().indexAt(QPoint(view().cellRect(GridIndex{0, 0}).center().x(), 160));
    ASSERT_TRUE(first);
    const PhotoPtr watched = grid->model().photoAt(*first);
    const QRect before = view().cellRect(*first);

    std::vector<std::shared_ptr<InProcessFile>> newer;
    for (int i = 0; i < 25; ++i)
        newer.push_back(feed.add(QStringLiteral("NEW_%1.JPG").arg(i, 2, 10, QLatin1Char('0')), at(2026, 4, 9, 8, i)));
    feed.deliver(*grid, newer);
    EXPECT_GT(bar->value(), 300);
    EXPECT_EQ(view().cellRect(*grid->model().indexOf(*watched)), before);

    bar->setValue(0);
    view().viewport()->repaint();
    feed.deliver(*grid, {feed.add("NEWEST.JPG", at(2026, 4, 10, 11, 0))});
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(grid->model().photoAt(GridIndex{0, 0})->primaryVariant()->fileName(), "NEWEST.JPG");
}

// Photos streaming in grow the scroll range with every chunk; the bar redraws for that at most once a frame,
// but its range is right at once and the last change is drawn without anything else asking for a paint.
TEST_F(ImageGridTest, TheScrollBarFollowsTheRangeAsPhotosStreamIn)
{
    for (int i = 0; i < 40; ++i)
        feed.add(QStringLiteral("OLD_%1.JPG").arg(i, 2, 10, QLatin1Char('0')), at(2026, 4, 1 + i / 10, 8, i));
    feed.deliver(*grid);
    QScrollBar* bar = view().verticalScrollBar();
    ASSERT_TRUE(runUntil([&] { return bar->isVisible(); }));

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    bar->installEventFilter(&counter);
    for (int round = 0; round < 3; ++round) {
        // Just painted: a range change now falls within the frame, and waits for it.
        bar->repaint();
        const int paintsBefore = counter.paints;
        const int maximumBefore = bar->maximum();
        std::vector<std::shared_ptr<InProcessFile>> newer;
        for (int i = 0; i < 12; ++i)
            newer.push_back(feed.add(QStringLiteral("NEW_%1_%2.JPG").arg(round).arg(i, 2, 10, QLatin1Char('0')),
                                     at(2026, 4, 9, 9 + round, i)));
        feed.deliver(*grid, newer);
        EXPECT_GT(bar->maximum(), maximumBefore) << "round " << round;
        EXPECT_TRUE(runUntil([&] { return counter.paints > paintsBefore; })) << "round " << round;
    }
    bar->removeEventFilter(&counter);
}

TEST_F(ImageGridTest, ClicksAndRubberBandMakeOneUndoStepPerGesture)
{
    for (int i = 0; i < 8; ++i)
        feed.add(QStringLiteral("IMG_%1.JPG").arg(i), at(2026, 4, 10, 8, i));
    feed.deliver(*grid);
    const std::vector<PhotoPtr> all = grid->model().shownPhotos();
    QUndoStack& undo = *grid->undoStack();

    click(centreOf(all[1]));
    EXPECT_EQ(grid->model().selectedPhotos(), std::vector<PhotoPtr>{all[1]});
    EXPECT_EQ(undo.undoText(), "Select Photo");
    click(centreOf(all[3]), Qt::ShiftModifier);
    EXPECT_EQ(namesOf(grid->model().selectedPhotos()), namesOf({all[1], all[2], all[3]}));
    EXPECT_EQ(undo.undoText(), "Select Photos");
    click(centreOf(all[2]), Qt::ControlModifier);
    EXPECT_EQ(undo.undoText(), "Deselect Photo");
    EXPECT_EQ(undo.count(), 3);

    // A band from the header's empty right end over the first row's cells, moved in steps.
    const QRect firstCell = view().cellRect(GridIndex{0, 0});
    const QPoint start(view().viewport()->width() - 4, firstCell.top() - 10);
    mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
    for (int x = start.x(); x > firstCell.left() + 20; x -= 60)
        mouse(QEvent::MouseMove, QPoint(x, firstCell.bottom() - 20), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPoint(firstCell.left() + 20, firstCell.bottom() - 20), Qt::NoButton);
    EXPECT_EQ(int(grid->model().selectedPhotos().size()), view().columnCount());
    EXPECT_EQ(undo.count(), 4);
    EXPECT_EQ(undo.undoText(), "Select Photos");
    undo.undo();
    EXPECT_EQ(namesOf(grid->model().selectedPhotos()), namesOf({all[1], all[3]}));
    undo.redo();
    EXPECT_EQ(int(grid->model().selectedPhotos().size()), view().columnCount());
}

TEST_F(ImageGridTest, AClickInsideAMultipleSelectionNarrowsItOnReleaseButADragKeepsIt)
{
    for (int i = 0; i < 4; ++i)
        feed.add(QStringLiteral("IMG_%1.JPG").arg(i), at(2026, 4, 10, 8, i));
    feed.deliver(*grid);
    const std::vector<PhotoPtr> all = grid->model().shownPhotos();
    QUndoStack& undo = *grid->undoStack();

    grid->model().changeSelection(all);
    const int steps = undo.count();
    const QPoint point = centreOf(all[2]);
    mouse(QEvent::MouseButtonPress, point, Qt::LeftButton);
    EXPECT_EQ(grid->model().selectedPhotos().size(), all.size()) << "a press keeps the selection for a drag";
    mouse(QEvent::MouseButtonRelease, point, Qt::NoButton);
    EXPECT_EQ(grid->model().selectedPhotos(), std::vector<PhotoPtr>{all[2]}) << "a click selects only that photo";
    EXPECT_EQ(undo.count(), steps + 1) << "one undo step for the click";
    undo.undo();
    EXPECT_EQ(grid->model().selectedPhotos().size(), all.size());

    // Pressed and moved past the drag distance: the whole selection stays, as a drag would carry it.
    mouse(QEvent::MouseButtonPress, point, Qt::LeftButton);
    const QPoint away = point + QPoint(QApplication::startDragDistance() + 2, 0);
    mouse(QEvent::MouseMove, away, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, away, Qt::NoButton);
    EXPECT_EQ(grid->model().selectedPhotos().size(), all.size());
}

TEST_F(ImageGridTest, ArrowKeysMoveTheSelectionAcrossDays)
{
    // Four columns: day A holds A0…A5 in two rows, day B holds B0…B2.
    for (int i = 0; i < 6; ++i)
        feed.add(QStringLiteral("A%1.JPG").arg(i), at(2026, 4, 10, 10, 59 - i));
    for (int i = 0; i < 3; ++i)
        feed.add(QStringLiteral("B%1.JPG").arg(i), at(2026, 4, 9, 10, 59 - i));
    feed.deliver(*grid);
    ASSERT_EQ(view().columnCount(), 4);
    const auto photoNamed = [&](const QString& name) {
        for (const PhotoPtr& photo : grid->model().shownPhotos())
            if (photo->primaryVariant()->fileName() == name + ".JPG")
                return photo;
        return PhotoPtr();
    };
    const auto key = [&](Qt::Key which, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, which, modifiers);
        QApplication::sendEvent(&view(), &event);
    };
    struct Case {
        const char* from;
        Qt::Key key;
        const char* to;
    };
    const Case cases[] = {
        {"A5", Qt::Key_Right, "B0"}, {"B0", Qt::Key_Left, "A5"}, {"A1", Qt::Key_Down, "A5"},
        {"A5", Qt::Key_Down, "B1"},  {"B2", Qt::Key_Up, "A5"},   {"B0", Qt::Key_Up, "A4"},
        {"A0", Qt::Key_Up, "A0"},    {"B2", Qt::Key_Right, "B2"}, {"A2", Qt::Key_Left, "A1"},
    };
    for (const Case& c : cases) {
        click(centreOf(photoNamed(c.from)));
        key(c.key);
        EXPECT_EQ(namesOf(grid->model().selectedPhotos()), QStringList{QString(c.to) + ".JPG"})
            << c.from << " " << c.key;
    }
    click(centreOf(photoNamed("A0")));
    key(Qt::Key_Right, Qt::ShiftModifier);
    key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(namesOf(grid->model().selectedPhotos()), (QStringList{"A0.JPG", "A1.JPG", "A5.JPG"}));
    EXPECT_EQ(grid->undoStack()->undoText(), "Select Photo");
}

TEST_F(ImageGridTest, ActionsSelectPreviewAndCopy)
{
    feed.add("TODAY.JPG", at(2026, 4, 10, 8, 0));
    feed.add("YESTERDAY.JPG", at(2026, 4, 9, 8, 0));
    feed.add("LASTYEAR.JPG", at(2025, 4, 9, 8, 0));
    feed.deliver(*grid);
    QStringList names;
    for (QAction* action : grid->browsingActions())
        if (!action->isSeparator())
            names << action->objectName();
    EXPECT_EQ(names, (QStringList{"QuickSelectAll", "QuickSelectNone", "QuickSelectToday", "QuickSelectYesterday",
                                  "QuickSelectThisWeek", "QuickSelectThisMonth", "QuickSelectThisYear",
                                  "BrowsePreview", "BrowseUndoSelection", "BrowseRedoSelection"}));
    EXPECT_EQ(grid->action(QuickSelection::all)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(grid->action(QuickSelection::none)->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    EXPECT_EQ(grid->previewAction()->shortcut(), QKeySequence(Qt::Key_Space));

    EXPECT_FALSE(grid->previewAction()->isEnabled());
    grid->presentPreviewForSelectedPhoto();
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(grid->preview());

    grid->action(QuickSelection::yesterday)->trigger();
    EXPECT_EQ(namesOf(grid->model().selectedPhotos()), QStringList{"YESTERDAY.JPG"});
    EXPECT_TRUE(grid->previewAction()->isEnabled());
    grid->action(QuickSelection::thisYear)->trigger();
    EXPECT_EQ(namesOf(grid->model().selectedPhotos()), (QStringList{"TODAY.JPG", "YESTERDAY.JPG"}));
    grid->copyToFolderAction()->trigger();
    EXPECT_EQ(namesOf(copied), (QStringList{"TODAY.JPG", "YESTERDAY.JPG"}));
    EXPECT_EQ(copiedTo, "/tmp/chosen");
    grid->action(QuickSelection::none)->trigger();
    EXPECT_FALSE(grid->previewAction()->isEnabled());

    // Space in the grid opens the preview of the selection; double click the clicked photo's.
    grid->action(QuickSelection::today)->trigger();
    view().setFocus();
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(&view(), &space);
    ASSERT_TRUE(grid->preview());
    EXPECT_EQ(grid->preview()->photo()->primaryVariant()->fileName(), "TODAY.JPG");
    EXPECT_EQ(beeps, 1);
    grid->dismissPreview();
    ASSERT_FALSE(grid->preview());

    const PhotoPtr last = grid->model().shownPhotos().back();
    const QPoint cell = centreOf(last);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, cell, view().viewport()->mapToGlobal(cell), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view().viewport(), &doubleClick);
    ASSERT_TRUE(grid->preview());
    EXPECT_EQ(grid->preview()->photo(), last);
}

} // namespace
} // namespace vornakel
