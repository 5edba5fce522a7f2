// Runs the application's screens offscreen against a simulated camera and prints: the time from the camera being
// reported to the first paint of the photo list and to the last photo shown, on the generated sample camera with
// the link's default latency; and, on a 20,000-file camera, the longest time the main thread went without
// running its event loop during the load (a 2 ms heartbeat timer measures the gaps). BENCH_NO_ANIMATION=1 leaves
// out the window's resize animation; BENCH_NULL_BROWSER=1 replaces the photo list by one that only counts.
// Then, through the photo grid on the same 20,000-file camera, what the thumbnail cache costs after the connect:
// the CPU time and the bytes written from the camera being found until the cache has nothing left to fetch, the
// thumbnails cached and a digest of which ones (the same on every run of the same scroll); BENCH_LIST_CACHED=1
// lists them.
// "--ptpip" measures instead, through the PTP/IP backend and the PTP/IP camera on 127.0.0.1 with 2 ms added per
// reply, the time from "camera found" to the first thumbnail on screen in the grid (and to the connection, the
// first photo and the last), on the sample camera and on one of 2,000 shots; "--runs N" (3 by default) runs each
// N times, every run with an empty thumbnail cache, and prints the least and the median.
#include "bench-common/BenchSupport.h"
#include "discovery/ui/CameraDiscoveryViewController.h"
#include "mainwindow/CameraScreens.h"
#include "mainwindow/MainWindowController.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "support/BackgroundWorkCounter.h"
#include "mainwindow/grid/ImageGridViewController.h"
#include "mainwindow/grid/ThumbnailCache.h"
#include "model/Photo.h"
#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "platform/core/UserDefaults.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "support/NoGatewayPolicy.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <optional>


using namespace vornakel;
using vornakel::tools::processorSeconds;

namespace {

// Notes the first paint of the photo list.
class PaintWatch : public QObject {
public:
    std::optional<qint64> firstPaint;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!firstPaint && event->type() == QEvent::Paint && watched->parent()
            && watched->parent()->objectName() == QLatin1String("photoList"))
            firstPaint = clock->elapsed();
        return false;
    }
};

// A browser that only counts, to tell the list's own cost from the rest.
class NullBrowser : public PhotoBrowser {
public:
    QWidget* widget() override { return &m_widget; }
    void setCamera(const std::shared_ptr<VKLCamera>&) override {}
    void applyGroupingUpdate(const PhotoGrouping::Update& update) override
    {
        for (const auto& p : update.removed)
            std::erase(m_photos, p);
        m_photos.insert(m_photos.end(), update.added.begin(), update.added.end());
    }
    std::vector<PhotoPtr> photosForCopying() const override { return m_photos; }
    std::vector<PhotoPtr> shownPhotos() const override { return m_photos; }
    QList<QAction*> browsingActions() const override { return {}; }

private:
    QWidget m_widget;
    std::vector<PhotoPtr> m_photos;
};

// The photo rows the list shows now (the list follows the photos within its refresh interval); a browser
// without such a list counts what it was given.
size_t rowsOnScreen(QWidget* view, size_t given)
{
    auto* list = view->findChild<QTreeWidget*>(QStringLiteral("photoList"));
    if (!list)
        return given;
    size_t rows = 0;
    for (int day = 0; day < list->topLevelItemCount(); ++day)
        rows += size_t(list->topLevelItem(day)->childCount());
    return rows;
}

struct Figures {
    std::optional<qint64> firstPaintMs;
    std::optional<qint64> lastPhotoMs;
    qint64 longestStallMs = 0;
    qint64 longestStallAtMs = 0; // when it ended, after the camera was found
    size_t photos = 0;
    // Through the grid: from the camera being found until the thumbnail cache has nothing left to do.
    std::optional<qint64> cacheQuietMs;
    double cpuSeconds = 0;
    qint64 bytesWritten = 0;
};

// The bytes this process has handed to write calls so far.
qint64 processBytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    return 0;
}

// How many photos have a cached thumbnail, and a digest of which.
std::pair<int, QByteArray> cachedThumbnails(const QString& cacheFolder)
{
    QStringList folders;
    QDirIterator files(cacheFolder, {QStringLiteral("Thumbnail.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        folders << QFileInfo(files.next()).dir().dirName();
    folders.sort();
    if (qEnvironmentVariableIsSet("BENCH_LIST_CACHED"))
        std::printf("cached: %s\n", qPrintable(folders.join(QLatin1Char(' '))));
    const QByteArray digest = QCryptographicHash::hash(folders.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha1);
    return {int(folders.size()), digest.toHex().left(12)};
}

// The connected view's collaborators; with `grid`, the view shows the photo grid and names it there.
ConnectedCameraEnvironment connectedEnvironment(WiFiNetworkPolicy& wifi, UserDefaults& defaults, ImageGridViewController** grid)
{
    ConnectedCameraEnvironment connected;
    connected.wifi = &wifi;
    connected.defaults = &defaults;
    if (grid) {
        connected.makeBrowser = [grid](QWidget*) -> std::unique_ptr<PhotoBrowser> {
            auto made = std::make_unique<ImageGridViewController>();
            *grid = made.get();
            return made;
        };
    }
    return connected;
}

Figures run(std::shared_ptr<SimulatedCamera> camera, size_t expectedPhotos, const QString& cacheFolder, bool grid = false)
{
    Photo::setImageCachesDirectory(cacheFolder);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.ini")));
    test::NoGatewayPolicy wifi;
    SimulatedCameraDiscovery& discovery = SimulatedCameraDiscovery::shared();
    discovery.removeAllCameras();
    discovery.setReportDelay(std::chrono::milliseconds(0));

    CameraDiscoveryEnvironment discoveryEnvironment(discovery);
    ImageGridViewController* photoGrid = nullptr;
    ConnectedCameraEnvironment connected = connectedEnvironment(wifi, defaults, grid ? &photoGrid : nullptr);
    if (!grid && qEnvironmentVariableIsSet("BENCH_NULL_BROWSER")) {
        connected.makeBrowser = [](QWidget*) -> std::unique_ptr<PhotoBrowser> { return std::make_unique<NullBrowser>(); };
    }
    CameraScreens screens(std::move(discoveryEnvironment), std::move(connected));
    MainWindowController window(screens.makeDiscovery(), wifi, defaults, [] {});
    // The window's resize to the connected view animates for 0.2 s before the list is installed.
    if (qEnvironmentVariableIsSet("BENCH_NO_ANIMATION"))
        window.setAnimationSpeed(0);
    window.window()->show();

    QElapsedTimer clock;
    PaintWatch paints;
    paints.clock = &clock;
    qApp->installEventFilter(&paints);
    Figures figures;
    bool found = false;
    double cpuAtFound = 0;
    qint64 bytesAtFound = 0;
    QObject observing;
    discovery.addDevicesChangedObserver(&observing, [&](const auto& cameras) {
        if (!found && !cameras.empty()) {
            found = true;
            clock.start();
            cpuAtFound = processorSeconds();
            bytesAtFound = processBytesWritten();
        }
    });
    // The thumbnail cache counts as done once nothing was in flight for this long after the last photo showed.
    constexpr qint64 kQuietMs = 2000;
    std::optional<qint64> idleSince;

    QElapsedTimer sinceBeat;
    sinceBeat.start();
    QTimer heartbeat;
    heartbeat.setInterval(2);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (found && sinceBeat.elapsed() > figures.longestStallMs) {
            figures.longestStallMs = sinceBeat.elapsed();
            figures.longestStallAtMs = clock.elapsed();
        }
        sinceBeat.restart();
        auto* view = qobject_cast<MainViewController*>(window.contentViewController());
        if (view && view->imageDeliveryHasCompleted() && !figures.lastPhotoMs
            && rowsOnScreen(view, view->imageGrid()->shownPhotos().size()) >= expectedPhotos) {
            figures.lastPhotoMs = clock.elapsed();
            figures.photos = view->imageGrid()->shownPhotos().size();
            if (!grid)
                QTimer::singleShot(50, qApp, [] { QCoreApplication::exit(0); });
        }
        if (grid && figures.lastPhotoMs && photoGrid && !figures.cacheQuietMs) {
            const bool idle = photoGrid->thumbnails().requestsInFlight() == 0 && test::backgroundWork().running() == 0;
            if (!idle)
                idleSince.reset();
            else if (!idleSince)
                idleSince = clock.elapsed();
            else if (clock.elapsed() - *idleSince >= kQuietMs) {
                figures.cacheQuietMs = *idleSince;
                figures.cpuSeconds = processorSeconds() - cpuAtFound;
                figures.bytesWritten = processBytesWritten() - bytesAtFound;
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
            }
        }
    });
    heartbeat.start();
    // A timer of this run's own, so that a run that ends early leaves nothing to end a later one.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    giveUp.start(120000);
    discovery.addCamera(camera);
    QCoreApplication::exec();
    qApp->removeEventFilter(&paints);
    figures.firstPaintMs = paints.firstPaint;
    discovery.removeAllCameras();
    return figures;
}

void print(const char* name, const Figures& f)
{
    std::printf("%s: %zu photos shown; first paint of the list %s ms after the camera was found, last photo %s ms; "
                "longest main-thread stall %lld ms (ending %lld ms after the camera was found)\n",
                name, f.photos, f.firstPaintMs ? QByteArray::number(*f.firstPaintMs).constData() : "-",
                f.lastPhotoMs ? QByteArray::number(*f.lastPhotoMs).constData() : "-", static_cast<long long>(f.longestStallMs),
                static_cast<long long>(f.longestStallAtMs));
}

SimulatedCameraContent largeCard(int files)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    const QDateTime start(QDate(2026, 3, 1), QTime(8, 0));
    int written = 0;
    for (int folderIndex = 0; written < files; ++folderIndex) {
        SimulatedCameraContent::Folder folder{QStringLiteral("%1VKLCM").arg(100 + folderIndex), {}, {}};
        for (int i = 0; i < 999 && written < files; ++i) {
            const int shot = written;
            const QString base = QStringLiteral("IMG_%1").arg(shot, 5, 10, QLatin1Char('0'));
            const QDateTime when = start.addSecs(qint64(shot) * 37);
            folder.files.push_back({base + QStringLiteral(".JPG"), 4'000'000, when, {}});
            ++written;
            if (shot % 3 == 0 && written < files) {
                folder.files.push_back({base + QStringLiteral(".CR2"), 20'000'000, when, {}});
                ++written;
            }
        }
        dcim.folders.push_back(std::move(folder));
    }
    content.root.folders.push_back(std::move(dcim));
    return content;
}

// Through the PTP/IP backend: the camera folder served on 127.0.0.1 with `latencyMs` added per reply, found at
// its listed address, connected through the discovery screen, shown in the photo grid (with the window's
// animation, as the app shows it).
struct PtpIpFigures {
    std::optional<qint64> firstPhotoMs, firstThumbnailMs, firstThumbnailShownMs, lastPhotoMs;
    int operationsAtFirstThumbnail = 0;
    int operationsAtFirstPhoto = 0;
    std::optional<qint64> firstOperationMs;
    size_t photos = 0;
};

// Notes the first paint of the grid after a thumbnail arrived.
class GridPaintWatch : public QObject {
public:
    QWidget* grid = nullptr;
    bool armed = false;
    std::optional<qint64> painted;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (armed && !painted && grid && event->type() == QEvent::Paint && watched->isWidgetType()
            && (watched == grid || grid->isAncestorOf(static_cast<QWidget*>(watched))))
            painted = clock->elapsed();
        return false;
    }
};

PtpIpFigures runPtpIp(const QString& folder, int latencyMs, size_t expectedPhotos, const QString& cacheFolder)
{
    Photo::setImageCachesDirectory(cacheFolder);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.ini")));
    test::NoGatewayPolicy wifi;
    tools::PtpIpResponderOptions options = tools::PtpIpResponderOptions::fromCameraOptions(SimulatedCameraOptions::fromFolder(folder));
    options.latencyMs = latencyMs;
    options.log = true;
    tools::PtpIpResponder responder(folder, options);
    PtpIpFigures figures;
    if (!responder.listen())
        return figures;
    qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder.port()).toLatin1());
    PtpIpCameraDiscovery discovery;
    discovery.setProbeInterval(std::chrono::milliseconds(200));

    CameraDiscoveryEnvironment discoveryEnvironment(discovery);
    ImageGridViewController* photoGrid = nullptr;
    ConnectedCameraEnvironment connected = connectedEnvironment(wifi, defaults, &photoGrid);
    CameraScreens screens(std::move(discoveryEnvironment), std::move(connected));
    MainWindowController window(screens.makeDiscovery(), wifi, defaults, [] {});
    window.window()->show();

    QElapsedTimer clock;
    GridPaintWatch paints;
    paints.clock = &clock;
    qApp->installEventFilter(&paints);
    bool found = false;
    QObject observing;
    discovery.addDevicesChangedObserver(&observing, [&](const auto& cameras) {
        if (!found && !cameras.empty()) {
            found = true;
            clock.start();
        }
    });
    bool watchingThumbnails = false;
    bool ending = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* view = qobject_cast<MainViewController*>(window.contentViewController());
        if (!found || !view)
            return;
        if (photoGrid && !watchingThumbnails) {
            watchingThumbnails = true;
            paints.grid = photoGrid->widget();
            QObject::connect(&photoGrid->thumbnails(), &ThumbnailCache::thumbnailChanged, &observing, [&](const Photo* photo) {
                if (!figures.firstThumbnailMs && !photoGrid->thumbnails().thumbnail(photo).isNull()) {
                    figures.firstThumbnailMs = clock.elapsed();
                    figures.operationsAtFirstThumbnail = responder.operationCount();
                    paints.armed = true;
                }
            });
        }
        const size_t shown = view->imageGrid()->shownPhotos().size();
        if (!figures.firstPhotoMs && shown > 0) {
            figures.firstPhotoMs = clock.elapsed();
            figures.operationsAtFirstPhoto = responder.operationCount();
        }
        if (!figures.lastPhotoMs && view->imageDeliveryHasCompleted() && shown >= expectedPhotos) {
            figures.lastPhotoMs = clock.elapsed();
            figures.photos = shown;
        }
        // Once only: a second exit still queued would end the next run's loop as soon as it starts.
        if (figures.lastPhotoMs && paints.painted && !ending) {
            ending = true;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
    });
    QObject::connect(&responder, &tools::PtpIpResponder::operationLogged, &observing, [&](const QString&) {
        if (found && !figures.firstOperationMs)
            figures.firstOperationMs = clock.elapsed();
    });
    poll.start();
    // A timer of this run's own, so that a run that ends early leaves nothing to end a later one.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    giveUp.start(120000);
    discovery.beginSearching();
    QCoreApplication::exec();
    qApp->removeEventFilter(&paints);
    discovery.stopSearching();
    figures.firstThumbnailShownMs = paints.painted;
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    return figures;
}

void printPtpIp(const char* name, const PtpIpFigures& f)
{
    const auto ms = [](const std::optional<qint64>& value) { return value ? QByteArray::number(*value) : QByteArray("-"); };
    std::printf("%s: after \"camera found\": first camera operation %s ms, first photo in the grid %s ms (after %d "
                "operations), first thumbnail arrived %s ms (after %d operations) and on screen %s ms, last of %zu "
                "photos %s ms\n",
                name, ms(f.firstOperationMs).constData(), ms(f.firstPhotoMs).constData(), f.operationsAtFirstPhoto,
                ms(f.firstThumbnailMs).constData(), f.operationsAtFirstThumbnail, ms(f.firstThumbnailShownMs).constData(),
                f.photos, ms(f.lastPhotoMs).constData());
}

// The least and the median of the figures the runs had; "-" when none had it.
QByteArray minAndMedian(std::vector<std::optional<qint64>> values)
{
    std::vector<qint64> had;
    for (const auto& value : values)
        if (value)
            had.push_back(*value);
    if (had.empty())
        return "-";
    std::sort(had.begin(), had.end());
    return QByteArray::number(had.front()) + " ms, median " + QByteArray::number(had[had.size() / 2]) + " ms";
}

int benchmarkPtpIp(const QTemporaryDir& dir, int runs)
{
    constexpr int kLatencyMs = 2;
    for (const int shots : {120, 2000}) {
        tools::SampleCameraSpec spec;
        spec.outputFolder = dir.filePath(QStringLiteral("ptpip-%1").arg(shots));
        spec.shots = shots;
        // The sample camera's 100 shots per folder; the larger one with folders as full as cameras fill them.
        spec.shotsPerFolder = shots > 1000 ? 500 : 100;
        const auto sample = tools::generateSampleCamera(spec);
        if (!sample.ok()) {
            std::fprintf(stderr, "sample camera: %s\n", qPrintable(sample.error));
            return 1;
        }
        std::vector<PtpIpFigures> figures;
        for (int run = 1; run <= runs; ++run) {
            const QByteArray name = QStringLiteral("PTP/IP, %1 shots, %2 ms per reply, run %3").arg(shots).arg(kLatencyMs).arg(run).toUtf8();
            // Every run starts without cached thumbnails: they all come from the camera.
            figures.push_back(runPtpIp(spec.outputFolder, kLatencyMs, size_t(shots),
                                       dir.filePath(QStringLiteral("ptpip-cache-%1-%2").arg(shots).arg(run))));
            printPtpIp(name.constData(), figures.back());
        }
        const auto each = [&](auto member) {
            std::vector<std::optional<qint64>> values;
            for (const PtpIpFigures& f : figures)
                values.push_back(f.*member);
            return minAndMedian(values);
        };
        std::printf("PTP/IP, %d shots, %d ms per reply, %d runs: from \"camera found\", first photo in the grid least %s; "
                    "first thumbnail delivered to the grid least %s; on screen least %s\n",
                    shots, kLatencyMs, runs, each(&PtpIpFigures::firstPhotoMs).constData(),
                    each(&PtpIpFigures::firstThumbnailMs).constData(), each(&PtpIpFigures::firstThumbnailShownMs).constData());
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VORNAKEL_SSDP_ADDRESS", "off");
    qputenv("VORNAKEL_DNSSD", "off");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    test::backgroundWork(); // counts the grid's worker blocks from here on
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--ptpip"))) {
        const qsizetype runsAt = arguments.indexOf(QStringLiteral("--runs"));
        const int runs = runsAt >= 0 && runsAt + 1 < arguments.size() ? std::max(1, arguments[runsAt + 1].toInt()) : 3;
        return benchmarkPtpIp(dir, runs);
    }

    tools::SampleCameraSpec spec;
    spec.outputFolder = dir.filePath(QStringLiteral("sample"));
    const auto sample = tools::generateSampleCamera(spec);
    if (!sample.ok()) {
        std::fprintf(stderr, "sample camera: %s\n", qPrintable(sample.error));
        return 1;
    }
    print("sample camera (120 shots, default latency)",
          run(SimulatedCamera::fromFolder(spec.outputFolder), size_t(sample.shots.size()), dir.filePath(QStringLiteral("cache1"))));

    const int files = 20000;
    SimulatedCameraContent card = largeCard(files);
    size_t shots = 0;
    for (const auto& folder : card.root.folders[0].folders)
        for (const auto& file : folder.files)
            shots += file.name.endsWith(QStringLiteral(".JPG")) ? 1 : 0;
    print("20,000-file camera", run(SimulatedCamera::fromContent(largeCard(files)), shots, dir.filePath(QStringLiteral("cache2"))));

    const QString gridCache = dir.filePath(QStringLiteral("cache3"));
    const Figures cached = run(SimulatedCamera::fromContent(std::move(card)), shots, gridCache, true);
    const auto [thumbnails, digest] = cachedThumbnails(gridCache);
    std::printf("20,000-file camera through the photo grid: %zu photos shown; thumbnail cache quiet %s ms after the camera "
                "was found; from then to quiet: CPU %.2f s, %.2f MB written; %d thumbnails cached (set %s)\n",
                cached.photos, cached.cacheQuietMs ? QByteArray::number(*cached.cacheQuietMs).constData() : "-",
                cached.cpuSeconds, double(cached.bytesWritten) / 1e6, thumbnails, digest.constData());
    return 0;
}
