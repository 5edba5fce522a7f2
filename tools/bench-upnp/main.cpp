// Measures the media-server backend against the UPnP test camera on 127.0.0.1 and prints, for three runs each
// (minimum and median) with the load average: the walk of a 5,000-file card with 20 ms added per reply
// (against its bound of 1.1 × requests × latency + 1 s), in short folders and in long ones that take several
// Browse pages, and the copy throughput of one large file on a link throttled to 10 MB/s and on the
// unthrottled loopback. With --panasonic the camera is a LUMIX (its access steps first, its state polled).
#include "bench-common/BenchSupport.h"
#include "panasonic-camera/PanasonicResponder.h"
#include "platform/camera/panasonic/PanasonicCamera.h"
#include "platform/camera/upnp/MediaServerCamera.h"
#include "upnp-camera/UpnpResponder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vornakel;

namespace {

using vornakel::tools::runUntil;
using vornakel::tools::loadAverage;

constexpr int kRuns = 3;
bool gPanasonic = false;

struct Rig {
    std::unique_ptr<QObject> server;
    tools::UpnpResponder* responder = nullptr;
    std::shared_ptr<MediaServerCamera> camera;
    std::shared_ptr<VKLFileSystemFolderItem> root;
};

Rig connect(SimulatedCameraContent content, tools::UpnpResponderOptions options)
{
    Rig rig;
    if (gPanasonic) {
        auto lumix = std::make_unique<tools::PanasonicResponder>(std::move(content), options, tools::PanasonicCamCgiOptions{});
        rig.responder = &lumix->mediaServer();
        rig.server = std::move(lumix);
    } else {
        auto mediaServer = std::make_unique<tools::UpnpResponder>(std::move(content), options);
        rig.responder = mediaServer.get();
        rig.server = std::move(mediaServer);
    }
    rig.responder->listen();
    if (gPanasonic) {
        rig.camera = PanasonicCamera::create(PanasonicCamera::optionsFor(QUrl(rig.responder->descriptionUrl())));
    } else {
        MediaServerCameraOptions cameraOptions;
        cameraOptions.descriptionUrl = QUrl(rig.responder->descriptionUrl());
        rig.camera = MediaServerCamera::create(cameraOptions);
    }
    bool done = false;
    rig.camera->connectWithClientName(QStringLiteral("Vornakel"), [&](std::optional<Error>, auto) { done = true; }, {});
    runUntil([&] { return done; }, 30000);
    if (const auto storages = rig.camera->storageDevices(); storages && !storages->empty())
        rig.root = storages->front()->rootDirectory();
    return rig;
}

struct Figures {
    std::vector<double> values;
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double median() const
    {
        auto sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

void benchmarkWalk(int folders, int filesPerFolder)
{
    constexpr int kLatencyMs = 20;
    Figures seconds;
    int requests = 0;
    size_t files = 0;
    for (int run = 0; run < kRuns; ++run) {
        SimulatedCameraContent content;
        SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
        for (int folder = 0; folder < folders; ++folder) {
            SimulatedCameraContent::Folder each{QStringLiteral("%1MSDCF").arg(100 + folder), {}, {}};
            for (int file = 0; file < filesPerFolder; ++file)
                each.files.push_back({QStringLiteral("DSC%1.JPG").arg(folder * filesPerFolder + file, 5, 10, QLatin1Char('0')),
                                      4 * 1024 * 1024, QDateTime::currentDateTime(), {}});
            dcim.folders.push_back(each);
        }
        content.root.folders.push_back(dcim);
        tools::UpnpResponderOptions options;
        options.latencyMs = kLatencyMs;
        Rig rig = connect(std::move(content), options);
        if (!rig.root) {
            std::printf("walk: could not connect\n");
            return;
        }
        const int before = rig.responder->browseCount();
        QElapsedTimer clock;
        clock.start();
        std::vector<std::shared_ptr<VKLFileSystemFolderItem>> pending{rig.root};
        files = 0;
        while (!pending.empty()) {
            auto folder = pending.back();
            pending.pop_back();
            bool done = false;
            folder->loadChildren([&](std::optional<Error>) { done = true; });
            runUntil([&] { return done; }, 600000);
            for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
                if (auto sub = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child))
                    pending.push_back(sub);
                else
                    ++files; // listed: a JPEG's metadata is read later, by loadMetadata
            }
        }
        seconds.values.push_back(clock.elapsed() / 1000.0);
        requests = rig.responder->browseCount() - before;
    }
    const double bound = 1.1 * requests * kLatencyMs / 1000.0 + 1.0;
    std::printf("walk: %zu files in %d folders, %d Browse requests at %d ms: min %.2f s, median %.2f s (bound %.2f s) %s\n",
                files, folders, requests, kLatencyMs, seconds.min(), seconds.median(), bound,
                seconds.median() <= bound ? "within" : "OVER");
}

void benchmarkCopy(qint64 throughput, qint64 bytes)
{
    Figures rates;
    bool failed = false;
    for (int run = 0; run < kRuns; ++run) {
        SimulatedCameraContent content;
        content.root.files.push_back({QStringLiteral("BIG.MP4"), uint64_t(bytes), QDateTime::currentDateTime(), {}});
        tools::UpnpResponderOptions options;
        options.throughputBytesPerSecond = throughput;
        Rig rig = connect(std::move(content), options);
        bool listed = false;
        rig.root->loadChildren([&](std::optional<Error>) { listed = true; });
        runUntil([&] { return listed; }, 30000);
        const auto item = rig.root->children()->front();
        bool complete = false;
        std::optional<Error> error;
        QElapsedTimer clock;
        clock.start();
        const auto queue = DispatchQueue::createSerial(QStringLiteral("bench.copy"));
        auto received = std::make_shared<std::atomic<qint64>>(0);
        item->streamItem({}, {}, [received](const auto&, const QByteArray& chunk, const auto&) {
            *received += chunk.size();
            return 0;
        }, queue, [&](const auto&, std::optional<Error> e, const auto&) {
            error = e;
            complete = true;
        }, {});
        runUntil([&] { return complete; }, 600000);
        failed = failed || error || *received != bytes;
        rates.values.push_back(double(*received) / (clock.elapsed() / 1000.0) / 1e6);
    }
    if (throughput > 0)
        std::printf("copy of %.0f MB on a %.0f MB/s link: min %.2f MB/s (%.1f%%), median %.2f MB/s (%.1f%%)%s\n", bytes / 1e6,
                    throughput / 1e6, rates.min(), 100.0 * rates.min() / (throughput / 1e6), rates.median(),
                    100.0 * rates.median() / (throughput / 1e6), failed ? " FAILED" : "");
    else
        std::printf("copy of %.0f MB on the unthrottled loopback: min %.0f MB/s, median %.0f MB/s%s\n", bytes / 1e6,
                    rates.min(), rates.median(), failed ? " FAILED" : "");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    gPanasonic = QCoreApplication::arguments().contains(QStringLiteral("--panasonic"));
    std::printf("camera: %s\n", gPanasonic ? "LUMIX (access steps, then the media server)" : "media server");
    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    benchmarkWalk(50, 100);
    benchmarkWalk(5, 1000);
    benchmarkCopy(10'000'000, 100'000'000);
    benchmarkCopy(0, 1'000'000'000);
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
