// Times the app-side pipeline that follows a connection: the storage walk, the metadata delivery in chunks of 10
// and the grouping into photos, over an in-memory simulated camera. Half the files are RAW+JPEG pairs.
//
//   bench-model                 the standard runs: 10k/20k/40k files on the simulated camera at no latency and
//                               on a camera answering inside each call (the model's own cost), 1k/2k at 2 ms
//   bench-model FILES [LATENCY] one run (a negative latency picks the immediate camera)

#include "model/CameraFileScanning.h"
#include "model/FileSystemItemMetadataDelivery.h"
#include "support/InProcessCamera.h"
#include "platform/camera/simulated/SimulatedCamera.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QEventLoop>
#include <QTimeZone>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>

using namespace vornakel;

namespace {

constexpr int kFilesPerFolder = 1000;

long maxRssKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// `files` files in folders of 1,000: a quarter of the files are RAWs paired with another quarter of JPEGs
// (same name, same second), the other half single JPEGs.
SimulatedCameraContent makeContent(int files)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    const QDateTime base(QDate(2024, 5, 1), QTime(8, 0), QTimeZone::utc());
    int shot = 0;
    int written = 0;
    while (written < files) {
        SimulatedCameraContent::Folder folder{QStringLiteral("%1VKLCM").arg(100 + int(dcim.folders.size())), {}, {}};
        while (written < files && int(folder.files.size()) < kFilesPerFolder) {
            const QString name = QStringLiteral("IMG_%1").arg(++shot, 5, 10, QLatin1Char('0'));
            const QDateTime date = base.addSecs(shot * 7);
            const bool paired = (shot % 3) == 0 && written + 2 <= files; // every third shot: RAW+JPEG
            folder.files.push_back({name + QStringLiteral(".JPG"), 4'000'000, date, {}});
            ++written;
            if (paired) {
                folder.files.push_back({name + QStringLiteral(".CR2"), 25'000'000, date, {}});
                ++written;
            }
        }
        dcim.folders.push_back(std::move(folder));
    }
    content.root.folders.push_back(std::move(dcim));
    return content;
}

// Files, unloaded like a camera's, and folders in an in-memory camera that answers every request at once,
// inside the call, and keeps no request log: what is left is the model's own cost.
void addContent(InProcessFolder& folder, const SimulatedCameraContent::Folder& content)
{
    folder.reserve(content.folders.size() + content.files.size());
    for (const auto& child : content.folders)
        addContent(*folder.addFolder(child.name), child);
    for (const auto& file : content.files)
        folder.addFile(file.name, file.dateCreated, file.size)->setLoaded(false);
}

std::shared_ptr<VKLCamera> makeImmediateCamera(const SimulatedCameraContent& content)
{
    auto options = std::make_shared<InProcessCameraOptions>();
    options->synchronous = true;
    options->log = nullptr;
    auto camera = std::make_shared<InProcessCamera>(QStringLiteral("IMMEDIATE"));
    auto root = std::make_shared<InProcessFolder>(content.root.name, options);
    addContent(*root, content.root);
    camera->addStorage(std::make_shared<InProcessStorage>(root, camera));
    return camera;
}

struct Figures {
    double seconds = 0;
    size_t files = 0;
    size_t photos = 0;
    size_t pairs = 0;
    size_t requests = 0;
    bool ok = false;
};

// Sleeps until the camera's answers, which are posted to this thread, make the condition true; the timer wakes
// the loop now and then should the condition change without an event. (processEvents with a time limit ignores
// WaitForMoreEvents and would spin.)
bool waitFor(const std::function<bool()>& condition)
{
    QTimer wake;
    wake.start(100);
    while (!condition())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return true;
}

// latencyMs < 0: the immediate camera.
Figures run(int fileCount, int latencyMs)
{
    SimulatedCameraOptions options;
    options.latencyMs = std::max(0, latencyMs);
    options.friendlyIdentifier = QStringLiteral("BENCH");
    const SimulatedCameraContent content = makeContent(fileCount);
    const size_t folders = 2 + content.root.folders.front().folders.size();
    std::shared_ptr<VKLCamera> camera;
    if (latencyMs < 0)
        camera = makeImmediateCamera(content);
    else
        camera = SimulatedCamera::fromContent(content, options);

    bool connected = false;
    camera->connectWithClientName(QStringLiteral("Vornakel"), [&](std::optional<Error>, auto) { connected = true; }, {});
    waitFor([&] { return connected; });
    bool inStorageMode = false;
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [&](std::optional<Error>) { inStorageMode = true; });
    waitFor([&] { return inStorageMode; });

    Figures figures;
    QElapsedTimer timer;
    timer.start();
    CameraFileScanning scanner;
    PhotoGrouping grouping;
    std::shared_ptr<FileSystemItemMetadataDelivery> delivery;
    bool done = false;
    size_t toLoad = 0;
    scanner.scan(camera, {}, [&](std::optional<CameraFileScanning::Items> items, std::optional<CameraFileScanning::ScanError>) {
        if (!items) {
            done = true;
            return;
        }
        figures.files = items->size();
        delivery = FileSystemItemMetadataDelivery::create(*items, 10);
        toLoad = delivery->itemsToLoad().size();
        delivery->startLoading([&](const CameraFileScanning::Items& chunk) { grouping.add(chunk); },
                               [&](const Result<void>& outcome) {
                                   figures.ok = outcome.hasValue();
                                   done = true;
                               });
    });
    waitFor([&] { return done; });
    figures.seconds = double(timer.nsecsElapsed()) / 1e9;
    figures.photos = grouping.photoCount();
    for (const PhotoPtr& photo : grouping.photos())
        figures.pairs += photo->previewVariant() ? 1 : 0;
    figures.requests = folders + toLoad;
    camera->disconnect({}, DispatchQueue::main());
    return figures;
}

void print(int files, int latencyMs, const Figures& f)
{
    std::printf("%6d files  %s %d ms  %8.3f s  %s  photos %zu (pairs %zu)  requests %zu", files,
                latencyMs < 0 ? "immediate camera" : "simulated, latency", std::max(0, latencyMs), f.seconds, f.ok ? "ok" : "FAILED", f.photos, f.pairs, f.requests);
    if (latencyMs > 0) {
        const double ideal = double(f.requests) * latencyMs / 1000.0;
        std::printf("  ideal %.3f s  overhead %+.1f%%", ideal, (f.seconds / ideal - 1.0) * 100.0);
    }
    std::printf("  max RSS %.1f MB\n", double(maxRssKilobytes()) / 1024.0);
    std::fflush(stdout);
}

// The floor under any latency run: `count` back-to-back 2 ms waits on a serial queue, as the simulated link
// does them, with nothing else going on.
double sequentialTimerSeconds(int count, int latencyMs)
{
    QueuePtr queue = DispatchQueue::createSerial(QStringLiteral("bench.timer"));
    std::atomic<int> left{count};
    std::atomic<bool> done{false};
    QElapsedTimer timer;
    timer.start();
    std::function<void()> step;
    step = [&] {
        if (--left <= 0) {
            done = true;
            return;
        }
        queue->asyncAfter(std::chrono::milliseconds(latencyMs), step);
    };
    queue->asyncAfter(std::chrono::milliseconds(latencyMs), step);
    waitFor([&] { return done.load(); });
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("baseline max RSS %.1f MB\n", double(maxRssKilobytes()) / 1024.0);
    if (argc >= 2) {
        const int files = QString::fromLocal8Bit(argv[1]).toInt();
        const int latency = argc >= 3 ? QString::fromLocal8Bit(argv[2]).toInt() : 0;
        print(files, latency, run(files, latency));
        return 0;
    }
    for (const int latency : {0, -1}) {
        double seconds20k = 0;
        for (const int files : {10000, 20000, 40000}) {
            const Figures f = run(files, latency);
            print(files, latency, f);
            if (files == 20000)
                seconds20k = f.seconds;
            if (files == 40000)
                std::printf("40k/20k ratio %.2f\n", f.seconds / seconds20k);
        }
    }
    for (const int files : {1000, 2000})
        print(files, 2, run(files, 2));
    const double floor = sequentialTimerSeconds(2004, 2);
    std::printf("reference: 2004 back-to-back 2 ms waits on a serial queue take %.3f s (%+.1f%%)\n", floor,
                (floor / 4.008 - 1.0) * 100.0);
    return 0;
}
