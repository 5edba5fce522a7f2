// Measures the PTP/IP backend against the PTP/IP camera on 127.0.0.1 and prints: the walk with metadata of a
// 20,000-object camera with 2 ms added per reply (against its bound of 1.1 × round trips × latency + 1 s), and
// the copy throughput of one large object on a link throttled to 20 MB/s and on the unthrottled loopback.
#include "platform/camera/ptpip/PtpIpCamera.h"
#include "ptpip-camera/PtpIpResponder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

using namespace vornakel;

namespace {

bool runUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Rig {
    std::unique_ptr<tools::PtpIpResponder> responder;
    std::shared_ptr<PtpIpCamera> camera;
    std::shared_ptr<VKLFileSystemFolderItem> root;
};

Rig connect(SimulatedCameraContent content, tools::PtpIpResponderOptions options)
{
    Rig rig;
    rig.responder = std::make_unique<tools::PtpIpResponder>(std::move(content), options);
    rig.responder->listen();
    PtpIpCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = rig.responder->port();
    rig.camera = PtpIpCamera::create(cameraOptions);
    bool done = false;
    rig.camera->connectWithClientName(QStringLiteral("Vornakel"), [&](std::optional<Error>, auto) { done = true; }, {});
    runUntil([&] { return done; }, 30000);
    if (const auto storages = rig.camera->storageDevices(); storages && !storages->empty())
        rig.root = storages->front()->rootDirectory();
    return rig;
}

void benchmarkWalk()
{
    constexpr int kFolders = 100;
    constexpr int kFilesPerFolder = 200;
    constexpr int kLatencyMs = 2;
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    for (int folder = 0; folder < kFolders; ++folder) {
        SimulatedCameraContent::Folder each{QStringLiteral("%1VKLCM").arg(100 + folder), {}, {}};
        for (int file = 0; file < kFilesPerFolder; ++file)
            each.files.push_back({QStringLiteral("IMG_%1.JPG").arg(file, 4, 10, QLatin1Char('0')), 4 * 1024 * 1024,
                                  QDateTime::currentDateTime(), {}});
        dcim.folders.push_back(each);
    }
    content.root.folders.push_back(dcim);
    tools::PtpIpResponderOptions options;
    options.latencyMs = kLatencyMs;
    Rig rig = connect(std::move(content), options);
    if (!rig.root) {
        std::printf("walk: could not connect\n");
        return;
    }
    const int before = rig.responder->operationCount();
    QElapsedTimer clock;
    clock.start();
    std::vector<std::shared_ptr<VKLFileSystemFolderItem>> folders{rig.root};
    size_t files = 0;
    while (!folders.empty()) {
        auto folder = folders.back();
        folders.pop_back();
        bool done = false;
        folder->loadChildren([&](std::optional<Error>) { done = true; });
        runUntil([&] { return done; }, 600000);
        for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
            if (auto sub = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child))
                folders.push_back(sub);
            else if (child->metadataLoaded())
                ++files;
        }
    }
    const double seconds = clock.elapsed() / 1000.0;
    const int roundTrips = rig.responder->operationCount() - before;
    const double bound = 1.1 * roundTrips * kLatencyMs / 1000.0 + 1.0;
    std::printf("walk + metadata: %zu files, %d round trips at %d ms: %.2f s (bound %.2f s) %s\n", files, roundTrips,
                kLatencyMs, seconds, bound, seconds <= bound ? "within" : "OVER");
}

void benchmarkCopy(qint64 throughput, qint64 bytes)
{
    SimulatedCameraContent content;
    content.root.files.push_back({QStringLiteral("BIG.MOV"), uint64_t(bytes), QDateTime::currentDateTime(), {}});
    tools::PtpIpResponderOptions options;
    options.throughputBytesPerSecond = throughput;
    Rig rig = connect(std::move(content), options);
    bool listed = false;
    rig.root->loadChildren([&](std::optional<Error>) { listed = true; });
    runUntil([&] { return listed; }, 30000);
    const auto item = rig.root->children()->front();
    qint64 received = 0;
    bool complete = false;
    std::optional<Error> error;
    QElapsedTimer clock;
    clock.start();
    const auto queue = DispatchQueue::createSerial(QStringLiteral("bench.copy"));
    auto receivedShared = std::make_shared<std::atomic<qint64>>(0);
    item->streamItem({}, {}, [receivedShared](const auto&, const QByteArray& chunk, const auto&) {
        *receivedShared += chunk.size();
        return 0;
    }, queue, [&](const auto&, std::optional<Error> e, const auto&) {
        error = e;
        complete = true;
    }, {});
    runUntil([&] { return complete; }, 600000);
    received = *receivedShared;
    const double seconds = clock.elapsed() / 1000.0;
    const double rate = received / seconds / 1e6;
    if (throughput > 0)
        std::printf("copy on a %.0f MB/s link: %.1f MB in %.2f s = %.1f MB/s (%.0f%%)%s\n", throughput / 1e6, received / 1e6,
                    seconds, rate, 100.0 * rate / (throughput / 1e6), error ? " FAILED" : "");
    else
        std::printf("copy on the unthrottled loopback: %.1f MB in %.2f s = %.1f MB/s%s\n", received / 1e6, seconds, rate,
                    error ? " FAILED" : "");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmarkWalk();
    benchmarkCopy(20'000'000, 100'000'000);
    benchmarkCopy(0, 1'000'000'000);
    return 0;
}
