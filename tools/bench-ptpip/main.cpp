// Measures the PTP/IP backend against the PTP/IP camera on 127.0.0.1 and prints, for each figure, every run with
// the minimum and the median:
//   walk      the walk with listing metadata (name, size, date) of a 20,000-object camera with 2 ms added per
//             reply, one ObjectInfo per object, against its bound of 1.1 × round trips × latency + 1 s;
//   proplist  the same walk where the camera lists GetObjectPropList (one reply per folder);
//   heads     loadMetadata of every file after the walk: the bounded read of each file's start for its
//             orientation and shooting data (one more round trip per image);
//   copy      one large object streamed into a file: on a link throttled to 20 MB/s and on the unthrottled
//             loopback (there also with the bytes only taken, the link's own figure, and beside the same bytes
//             written into a file with no camera, the disk's);
//   files     ten files of 200 MB copied by the app's copy engine (a temporary per file, flushed, renamed) from a
//             camera serving a folder on the disk on the unthrottled loopback: into a folder on the disk, into
//             one under /dev/shm (memory, where a flush costs nothing), and `cp` + `sync` of the camera's folder
//             to the disk in the same round, the disk's own figure for the same bytes.
// The camera runs on a thread of its own, as a camera on the network would, so its work does not count as the
// client's. The load average is printed first and last: the machine may be shared.
//
//   bench-ptpip [--runs N] [--work FOLDER] [walk] [proplist] [heads] [copy] [files]   (all figures when none is
//   named; `files` needs about 4 GB free in FOLDER, by default the current one, and 2 GB in /dev/shm)
#include "bench-common/BenchSupport.h"
#include "copying/FolderCopyDestination.h"
#include "copying/PhotoCopyQueue.h"
#include "model/CameraFileScanning.h"
#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/core/UserDefaults.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "sorting/PhotoSortingModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vornakel;

namespace {

using vornakel::tools::runUntil;
using vornakel::tools::loadAverage;

// The PTP/IP camera on a thread of its own.
class CameraThread {
public:
    CameraThread(SimulatedCameraContent content, tools::PtpIpResponderOptions options)
    {
        start([&] { return std::make_unique<tools::PtpIpResponder>(std::move(content), options); });
    }
    // A camera serving a folder.
    CameraThread(const QString& folder, tools::PtpIpResponderOptions options)
    {
        start([&] { return std::make_unique<tools::PtpIpResponder>(folder, options); });
    }
    ~CameraThread()
    {
        onThread([&] { m_responder.reset(); });
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }
    int operationCount()
    {
        int count = 0;
        onThread([&] { count = m_responder->operationCount(); });
        return count;
    }
    double waitedSeconds()
    {
        qint64 waited = 0;
        onThread([&] { waited = m_responder->waitedNanoseconds(); });
        return waited / 1e9;
    }

private:
    void start(const std::function<std::unique_ptr<tools::PtpIpResponder>()>& make)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        onThread([&] {
            m_responder = make();
            m_responder->listen();
            m_port = m_responder->port();
        });
    }
    void onThread(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_context;
    std::unique_ptr<tools::PtpIpResponder> m_responder;
    quint16 m_port = 0;
};

struct Rig {
    std::unique_ptr<CameraThread> camera;
    std::shared_ptr<PtpIpCamera> client;
    std::shared_ptr<VKLFileSystemFolderItem> root;
};

Rig connect(std::unique_ptr<CameraThread> camera)
{
    Rig rig;
    rig.camera = std::move(camera);
    PtpIpCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = rig.camera->port();
    rig.client = PtpIpCamera::create(cameraOptions);
    bool done = false;
    rig.client->connectWithClientName(QStringLiteral("Vornakel"), [&](std::optional<Error>, auto) { done = true; }, {});
    runUntil([&] { return done; }, 30000);
    if (const auto storages = rig.client->storageDevices(); storages && !storages->empty())
        rig.root = storages->front()->rootDirectory();
    return rig;
}

Rig connect(SimulatedCameraContent content, tools::PtpIpResponderOptions options)
{
    return connect(std::make_unique<CameraThread>(std::move(content), options));
}

struct Figures {
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    QString summary(const char* unit) const
    {
        if (values.empty())
            return QStringLiteral("no runs");
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return QStringLiteral("min %1 %3, median %2 %3").arg(sorted.front(), 0, 'f', 2).arg(sorted[sorted.size() / 2], 0, 'f', 2).arg(QLatin1String(unit));
    }
};

constexpr int kLatencyMs = 2;

SimulatedCameraContent walkContent()
{
    constexpr int kFolders = 100;
    constexpr int kFilesPerFolder = 200;
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    const QDateTime date = QDateTime::currentDateTime();
    for (int folder = 0; folder < kFolders; ++folder) {
        SimulatedCameraContent::Folder each{QStringLiteral("%1VKLCM").arg(100 + folder), {}, {}};
        for (int file = 0; file < kFilesPerFolder; ++file)
            each.files.push_back({QStringLiteral("IMG_%1.JPG").arg(file, 4, 10, QLatin1Char('0')), 4 * 1024 * 1024, date, {}});
        dcim.folders.push_back(each);
    }
    content.root.folders.push_back(dcim);
    return content;
}

// Lists every folder one request at a time, as the app's walk does; answers the files.
std::vector<VKLFileSystemItem::ItemPtr> walk(const std::shared_ptr<VKLFileSystemFolderItem>& root)
{
    std::vector<VKLFileSystemItem::ItemPtr> files;
    std::vector<std::shared_ptr<VKLFileSystemFolderItem>> folders{root};
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
                files.push_back(child);
        }
    }
    return files;
}

double boundFor(int roundTrips) { return 1.1 * roundTrips * kLatencyMs / 1000.0 + 1.0; }

// The 20,000-object camera at 2 ms a reply, connected.
Rig connectWalkCamera(bool propList)
{
    tools::PtpIpResponderOptions options;
    options.latencyMs = kLatencyMs;
    options.objectPropList = propList;
    return connect(walkContent(), options);
}

void benchmarkWalk(bool propList, int runs)
{
    Figures seconds;
    for (int run = 0; run < runs; ++run) {
        Rig rig = connectWalkCamera(propList);
        if (!rig.root) {
            std::printf("walk: could not connect\n");
            return;
        }
        const int before = rig.camera->operationCount();
        const double waitedBefore = rig.camera->waitedSeconds();
        QElapsedTimer clock;
        clock.start();
        const auto files = walk(rig.root);
        const double elapsed = clock.elapsed() / 1000.0;
        const int roundTrips = rig.camera->operationCount() - before;
        const double waited = rig.camera->waitedSeconds() - waitedBefore;
        const size_t named = size_t(std::count_if(files.begin(), files.end(), [](const auto& file) { return file->name() && file->size() > 0; }));
        std::printf("  walk%s: %zu files with name and size, %d round trips at %d ms: %.2f s (bound %.2f s) %s; "
                    "the camera's timers held the replies %.2f s (%.3f ms each), the rest took %.2f s (%.3f ms a round trip)\n",
                    propList ? " with GetObjectPropList" : "", named, roundTrips, kLatencyMs, elapsed, boundFor(roundTrips),
                    elapsed <= boundFor(roundTrips) ? "within" : "OVER", waited, 1000 * waited / std::max(1, roundTrips),
                    elapsed - waited, 1000 * (elapsed - waited) / std::max(1, roundTrips));
        seconds.add(elapsed);
    }
    std::printf("walk%s: %s\n", propList ? " with GetObjectPropList" : "", qPrintable(seconds.summary("s")));
}

void benchmarkHeads(int runs)
{
    Figures seconds;
    for (int run = 0; run < runs; ++run) {
        Rig rig = connectWalkCamera(true);
        if (!rig.root) {
            std::printf("orientation and shooting data: could not connect\n");
            return;
        }
        const auto files = walk(rig.root);
        const int before = rig.camera->operationCount();
        const double waitedBefore = rig.camera->waitedSeconds();
        QElapsedTimer clock;
        clock.start();
        size_t loaded = 0;
        size_t next = 0;
        bool finished = false;
        // One request at a time, as the app's metadata chain asks.
        std::function<void()> step = [&] {
            if (next == files.size()) {
                finished = true;
                return;
            }
            files[next++]->loadMetadata([&](std::optional<Error> error) {
                if (!error)
                    ++loaded;
                step();
            });
        };
        step();
        runUntil([&] { return finished; }, 600000);
        const double elapsed = clock.elapsed() / 1000.0;
        const int roundTrips = rig.camera->operationCount() - before;
        const double waited = rig.camera->waitedSeconds() - waitedBefore;
        std::printf("  orientation and shooting data: %zu files, %d round trips at %d ms, 64 KiB each: %.2f s (the walk's "
                    "bound would be %.2f s); the camera's timers held the replies %.2f s, the rest took %.3f ms a file\n",
                    loaded, roundTrips, kLatencyMs, elapsed, boundFor(roundTrips), waited,
                    1000 * (elapsed - waited) / std::max<size_t>(1, loaded));
        seconds.add(elapsed);
    }
    std::printf("orientation and shooting data: %s\n", qPrintable(seconds.summary("s")));
}

// The same bytes written into a file in 1 MiB chunks with no camera in between: what the disk takes right now,
// the ceiling of a copy into a file on a shared machine.
void benchmarkDisk(qint64 bytes, int runs)
{
    Figures rates;
    const QByteArray chunk(1024 * 1024, 'x');
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("BIG.MOV")));
        if (!file.open(QIODevice::WriteOnly))
            return;
        QElapsedTimer clock;
        clock.start();
        for (qint64 written = 0; written < bytes; written += chunk.size()) {
            if (file.write(chunk) != chunk.size())
                return;
        }
        file.close();
        const double rate = double(bytes) / (clock.elapsed() / 1000.0) / 1e6;
        std::printf("  the same bytes written into a file with no camera: %.1f MB/s\n", rate);
        rates.add(rate);
    }
    std::printf("the same bytes written into a file with no camera: %s\n", qPrintable(rates.summary("MB/s")));
}

void benchmarkCopy(qint64 throughput, qint64 bytes, bool toFile, int runs)
{
    Figures rates;
    for (int run = 0; run < runs; ++run) {
        tools::PtpIpResponderOptions options;
        options.throughputBytesPerSecond = throughput;
        options.syntheticFiles = {{QStringLiteral("BIG.MOV"), uint64_t(bytes)}};
        Rig rig = connect({}, options);
        bool listed = false;
        rig.root->loadChildren([&](std::optional<Error>) { listed = true; });
        runUntil([&] { return listed; }, 30000);
        const auto item = rig.root->children()->front();
        // Written to a file on the delivery queue, as a copy writes it, or only taken (the link's own figure).
        QTemporaryDir folder;
        auto file = std::make_shared<QFile>(toFile ? folder.filePath(QStringLiteral("BIG.MOV")) : QStringLiteral("/dev/null"));
        if (!file->open(QIODevice::WriteOnly)) {
            std::printf("copy: cannot write to %s\n", qPrintable(folder.path()));
            return;
        }
        auto received = std::make_shared<std::atomic<qint64>>(0);
        bool complete = false;
        std::optional<Error> error;
        QElapsedTimer clock;
        clock.start();
        const auto queue = DispatchQueue::createSerial(QStringLiteral("bench.copy"));
        auto writing = std::make_shared<std::atomic<qint64>>(0); // nanoseconds inside the writes
        item->streamItem({}, {}, [received, file, writing](const auto&, const QByteArray& chunk, const auto&) {
            *received += chunk.size();
            QElapsedTimer write;
            write.start();
            const bool written = file->write(chunk) == chunk.size();
            *writing += write.nsecsElapsed();
            return written ? 0 : 1;
        }, queue, [&](const auto&, std::optional<Error> e, const auto&) {
            error = e;
            complete = true;
        }, {});
        runUntil([&] { return complete; }, 600000);
        const double seconds = clock.elapsed() / 1000.0;
        const double rate = double(*received) / seconds / 1e6;
        file->close();
        const QString what = (throughput > 0 ? QStringLiteral("copy on a %1 MB/s link").arg(throughput / 1e6)
                                             : QStringLiteral("copy on the unthrottled loopback"))
            + (toFile ? QStringLiteral(" into a file") : QStringLiteral(", bytes only taken"));
        std::printf("  %s: %.1f MB in %.2f s = %.1f MB/s", qPrintable(what), double(*received) / 1e6, seconds, rate);
        if (throughput > 0)
            std::printf(" (%.1f%%)", 100.0 * rate / (throughput / 1e6));
        if (toFile)
            std::printf("; the writes took %.2f s", double(*writing) / 1e9);
        std::printf("%s\n", error ? " FAILED" : "");
        rates.add(rate);
        if (run + 1 == runs)
            std::printf("%s: %s\n", qPrintable(what), qPrintable(rates.summary("MB/s")));
    }
}

// A camera folder of `count` files of `size` random bytes each.
bool writeCameraFolder(const QString& folder, int count, qint64 size)
{
    return tools::writeRandomCameraFiles(folder, QStringLiteral("BIG"), count, size);
}

// Lists the camera's files, groups them into photos and copies them all into `target` as the app copies a
// selection: answers the bytes copied and the seconds from the start of the copy to its end.
std::optional<std::pair<qint64, double>> copyAll(const QString& cameraFolder, const QString& target, UserDefaults& defaults,
                                                 const PhotoSortingModel& presets)
{
    Rig rig = connect(std::make_unique<CameraThread>(cameraFolder, tools::PtpIpResponderOptions{}));
    if (!rig.root)
        return std::nullopt;
    std::optional<std::optional<Error>> storage;
    rig.client->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [&](std::optional<Error> error) { storage = error; });
    runUntil([&] { return storage.has_value(); }, 30000);
    CameraFileScanning scanning;
    std::optional<CameraFileScanning::Items> files;
    bool scanned = false;
    scanning.scan(rig.client, [](const CameraFileScanning::ItemPtr& item) { return item->isKnownImageType(); },
                  [&](std::optional<CameraFileScanning::Items> items, std::optional<CameraFileScanning::ScanError>) {
                      files = std::move(items);
                      scanned = true;
                  });
    runUntil([&] { return scanned; }, 60000);
    if (!files || files->empty())
        return std::nullopt;
    size_t loaded = 0;
    for (const auto& item : *files)
        item->loadMetadata([&](std::optional<Error>) { ++loaded; });
    runUntil([&] { return loaded == files->size(); }, 60000);
    const std::vector<PhotoPtr> photos = CameraFileScanning::photos(*files);
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    auto destination = FolderCopyDestination::createFlat(QUrl::fromLocalFile(target), defaults, presets);
    auto queue = PhotoCopyQueue::create(photos, {destination, FileGroupBehaviour::copyAll});
    bool finished = false;
    bool allCopied = true;
    qint64 bytes = 0;
    PhotoCopyQueue::Callbacks callbacks;
    callbacks.itemFinished = [&](const PhotoCopyQueue::Ptr&, const PhotoCopyQueue::FileRecord& file) {
        if (file.state().kind != PhotoVariantCopyOperation::State::Kind::copiedSuccessfully || !file.finalDestination())
            allCopied = false;
        else
            bytes += QFileInfo(*file.finalDestination()).size();
    };
    callbacks.queueFinished = [&](const PhotoCopyQueue::Ptr&) { finished = true; };
    std::optional<bool> started;
    QElapsedTimer clock;
    clock.start();
    queue->start(callbacks, [&](bool ok) { started = ok; });
    runUntil([&] { return finished || started == false; }, 600000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!finished || !allCopied)
        return std::nullopt;
    return std::pair{bytes, seconds};
}

void benchmarkFiles(const QString& workFolder, int runs)
{
    constexpr int kCount = 10;
    constexpr qint64 kSize = 200'000'000;
    QTemporaryDir work(QDir(workFolder).absoluteFilePath(QStringLiteral("bench-ptpip-XXXXXX")));
    QTemporaryDir memory(QStringLiteral("/dev/shm/bench-ptpip-XXXXXX"));
    if (!work.isValid() || !memory.isValid()) {
        std::printf("files: no work folder in %s or /dev/shm\n", qPrintable(workFolder));
        return;
    }
    const QString camera = work.filePath(QStringLiteral("camera"));
    if (!writeCameraFolder(camera, kCount, kSize)) {
        std::printf("files: cannot write the camera folder in %s\n", qPrintable(work.path()));
        return;
    }
    QTemporaryDir settingsFolder;
    UserDefaults defaults(settingsFolder.filePath(QStringLiteral("UserDefaults.plist")));
    PhotoSortingModel presets(defaults);
    const double total = double(kCount) * double(kSize) / 1e6;
    Figures disk, shm, anchor;
    for (int run = 0; run < runs; ++run) {
        QProcess::execute(QStringLiteral("sync"), {});
        const QString cpTarget = work.filePath(QStringLiteral("cp-out"));
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), camera + QStringLiteral("/DCIM"), cpTarget});
        QProcess::execute(QStringLiteral("sync"), {});
        const double cpRate = total / (double(clock.nsecsElapsed()) / 1e9);
        QDir(cpTarget).removeRecursively();
        QProcess::execute(QStringLiteral("sync"), {});
        const auto onDisk = copyAll(camera, work.filePath(QStringLiteral("copy-out")), defaults, presets);
        QDir(work.filePath(QStringLiteral("copy-out"))).removeRecursively();
        QProcess::execute(QStringLiteral("sync"), {});
        const auto inMemory = copyAll(camera, memory.filePath(QStringLiteral("copy-out")), defaults, presets);
        QDir(memory.filePath(QStringLiteral("copy-out"))).removeRecursively();
        if (!onDisk || !inMemory) {
            std::printf("files: the copy failed\n");
            return;
        }
        const double diskRate = double(onDisk->first) / 1e6 / onDisk->second;
        const double shmRate = double(inMemory->first) / 1e6 / inMemory->second;
        std::printf("  %d files of %.0f MB: cp + sync %.1f MB/s; the copy into the disk %.1f MB/s, into /dev/shm %.1f MB/s"
                    " (load %s)\n", kCount, kSize / 1e6, cpRate, diskRate, shmRate, qPrintable(loadAverage()));
        anchor.add(cpRate);
        disk.add(diskRate);
        shm.add(shmRate);
    }
    std::printf("cp + sync of the camera's files to the disk: %s\n", qPrintable(anchor.summary("MB/s")));
    std::printf("copy of large files into the disk: %s\n", qPrintable(disk.summary("MB/s")));
    std::printf("copy of large files into /dev/shm: %s\n", qPrintable(shm.summary("MB/s")));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it comes, also into a file
    QStringList figures = app.arguments().mid(1);
    int runs = 3;
    if (const qsizetype at = figures.indexOf(QStringLiteral("--runs")); at >= 0 && at + 1 < figures.size()) {
        runs = std::max(1, figures.at(at + 1).toInt());
        figures.remove(at, 2);
    }
    QString workFolder = QDir::currentPath();
    if (const qsizetype at = figures.indexOf(QStringLiteral("--work")); at >= 0 && at + 1 < figures.size()) {
        workFolder = figures.at(at + 1);
        figures.remove(at, 2);
    }
    const auto wanted = [&](const char* name) { return figures.isEmpty() || figures.contains(QLatin1String(name)); };
    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    if (wanted("walk"))
        benchmarkWalk(false, runs);
    if (wanted("proplist"))
        benchmarkWalk(true, runs);
    if (wanted("heads"))
        benchmarkHeads(runs);
    if (wanted("copy")) {
        benchmarkCopy(20'000'000, 100'000'000, true, runs);
        benchmarkCopy(0, 2'000'000'000, false, runs);
        benchmarkCopy(0, 2'000'000'000, true, runs);
        benchmarkDisk(2'000'000'000, runs);
    }
    if (wanted("files"))
        benchmarkFiles(workFolder, runs);
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
