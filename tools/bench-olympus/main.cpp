// Measures the Olympus backend against the Olympus camera on 127.0.0.1 and prints, for each of a few runs: the
// walk of a 5,000-file card with 20 ms added to every reply (against its bound of 1.1 × requests × latency + 1 s),
// and the copy throughput of one large file on a link throttled to 10 MB/s; then the least and the median, and
// the copy throughput on the unthrottled loopback.
#include "bench-common/BenchSupport.h"
#include "olympus-camera/OlympusResponder.h"
#include "platform/camera/olympus/OlympusCamera.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vornakel;

namespace {

using vornakel::tools::runUntil;
using vornakel::tools::median;
using vornakel::tools::loadAverage;

struct Rig {
    std::unique_ptr<tools::OlympusResponder> responder;
    std::shared_ptr<OlympusCamera> camera;
    std::shared_ptr<VKLFileSystemFolderItem> root;
};

Rig connect(SimulatedCameraContent content, tools::OlympusResponderOptions options)
{
    Rig rig;
    rig.responder = std::make_unique<tools::OlympusResponder>(std::move(content), options);
    rig.responder->listen();
    OlympusCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = rig.responder->port();
    rig.camera = OlympusCamera::create(cameraOptions);
    bool done = false;
    rig.camera->connectWithClientName(QStringLiteral("Vornakel"), [&](std::optional<Error>, auto) { done = true; }, {});
    runUntil([&] { return done; }, 30000);
    if (const auto storages = rig.camera->storageDevices(); storages && !storages->empty())
        rig.root = storages->front()->rootDirectory();
    return rig;
}

struct WalkFigures {
    double seconds = 0;
    double bound = 0;
    int requests = 0;
    size_t files = 0;
};

WalkFigures benchmarkWalk()
{
    constexpr int kFolders = 50;
    constexpr int kFilesPerFolder = 100;
    constexpr int kLatencyMs = 20;
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    for (int folder = 0; folder < kFolders; ++folder) {
        SimulatedCameraContent::Folder each{QStringLiteral("%1OLYMP").arg(100 + folder), {}, {}};
        for (int file = 0; file < kFilesPerFolder; ++file)
            each.files.push_back({QStringLiteral("P%1.JPG").arg(file + 1, 7, 10, QLatin1Char('0')), 6 * 1024 * 1024,
                                  QDateTime::currentDateTime(), {}});
        dcim.folders.push_back(each);
    }
    content.root.folders.push_back(dcim);
    tools::OlympusResponderOptions options;
    options.latencyMs = kLatencyMs;
    Rig rig = connect(std::move(content), options);
    WalkFigures figures;
    if (!rig.root)
        return figures;
    const int before = rig.responder->requestCount();
    QElapsedTimer clock;
    clock.start();
    std::vector<std::shared_ptr<VKLFileSystemFolderItem>> folders{rig.root};
    while (!folders.empty()) {
        auto folder = folders.back();
        folders.pop_back();
        bool done = false;
        folder->loadChildren([&](std::optional<Error>) { done = true; });
        runUntil([&] { return done; }, 600000);
        for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
            if (auto sub = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child))
                folders.push_back(sub);
            else
                ++figures.files;
        }
    }
    figures.seconds = clock.elapsed() / 1000.0;
    // The polls that keep watch over the camera are requests too; they are counted.
    figures.requests = rig.responder->requestCount() - before;
    figures.bound = 1.1 * figures.requests * kLatencyMs / 1000.0 + 1.0;
    return figures;
}

struct CopyFigures {
    double seconds = 0;
    double megabytesPerSecond = 0;
    bool failed = true;
};

CopyFigures benchmarkCopy(qint64 throughput, qint64 bytes)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    SimulatedCameraContent::Folder folder{QStringLiteral("100OLYMP"), {}, {}};
    folder.files.push_back({QStringLiteral("P1010001.MOV"), uint64_t(bytes), QDateTime::currentDateTime(), {}});
    dcim.folders.push_back(folder);
    content.root.folders.push_back(dcim);
    tools::OlympusResponderOptions options;
    options.throughputBytesPerSecond = throughput;
    Rig rig = connect(std::move(content), options);
    CopyFigures figures;
    if (!rig.root)
        return figures;
    std::shared_ptr<VKLFileSystemFolderItem> current = rig.root;
    VKLFileSystemItem::ItemPtr item;
    while (current && !item) {
        bool listed = false;
        current->loadChildren([&](std::optional<Error>) { listed = true; });
        runUntil([&] { return listed; }, 30000);
        const auto children = current->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{});
        if (children.empty())
            return figures;
        current = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(children.front());
        if (!current)
            item = children.front();
    }
    bool complete = false;
    std::optional<Error> error;
    const auto queue = DispatchQueue::createSerial(QStringLiteral("bench.copy"));
    auto received = std::make_shared<std::atomic<qint64>>(0);
    QElapsedTimer clock;
    clock.start();
    item->streamItem({}, {}, [received](const auto&, const QByteArray& chunk, const auto&) {
        *received += chunk.size();
        return 0;
    }, queue, [&](const auto&, std::optional<Error> e, const auto&) {
        error = e;
        complete = true;
    }, {});
    runUntil([&] { return complete; }, 600000);
    figures.seconds = clock.elapsed() / 1000.0;
    figures.megabytesPerSecond = *received / figures.seconds / 1e6;
    figures.failed = error.has_value() || *received != bytes;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kRuns = 3;
    constexpr qint64 kThrottle = 10'000'000;
    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    std::vector<double> walks;
    std::vector<double> copies;
    for (int run = 1; run <= kRuns; ++run) {
        const WalkFigures walk = benchmarkWalk();
        std::printf("run %d walk: %zu files, %d requests at 20 ms: %.2f s (bound %.2f s) %s\n", run, walk.files,
                    walk.requests, walk.seconds, walk.bound, walk.seconds <= walk.bound ? "within" : "OVER");
        walks.push_back(walk.seconds);
        const CopyFigures copy = benchmarkCopy(kThrottle, 100'000'000);
        std::printf("run %d copy on a 10 MB/s link: 100 MB in %.2f s = %.2f MB/s (%.1f%%)%s\n", run, copy.seconds,
                    copy.megabytesPerSecond, 100.0 * copy.megabytesPerSecond / (kThrottle / 1e6), copy.failed ? " FAILED" : "");
        copies.push_back(copy.megabytesPerSecond);
    }
    const CopyFigures loopback = benchmarkCopy(0, 1'000'000'000);
    std::printf("copy on the unthrottled loopback: 1 GB in %.2f s = %.1f MB/s%s\n", loopback.seconds,
                loopback.megabytesPerSecond, loopback.failed ? " FAILED" : "");
    std::printf("walk: min %.2f s, median %.2f s\n", *std::min_element(walks.begin(), walks.end()), median(walks));
    std::printf("copy: min %.2f MB/s, median %.2f MB/s (%.1f%% of the link at the median)\n",
                *std::min_element(copies.begin(), copies.end()), median(copies), 100.0 * median(copies) / (kThrottle / 1e6));
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
