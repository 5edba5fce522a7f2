// Copies the photos of a simulated camera folder into a folder, the way the app's copy does, and prints its
// progress. With --bench it measures the copy engine instead: it writes camera folders of its own and reports
// link efficiency, latency overhead, local copy speed against cp + sync, and memory growth. It prints figures
// and never fails on speed.
//
//   vkl-copy-camera [options] CAMERA_FOLDER TARGET_FOLDER
//   vkl-copy-camera --bench [WORK_FOLDER]     (works in a folder of its own inside WORK_FOLDER)

#include "bench-common/BenchSupport.h"
#include "copying/FolderCopyDestination.h"
#include "copying/PhotoCopyQueue.h"
#include "model/CameraFileScanning.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

using namespace vornakel;

namespace {

using vornakel::tools::median;
using vornakel::tools::processorSeconds;

// Resident memory now, in bytes.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Heap in use now, in bytes: unlike the resident size it falls when memory is freed, so it shows what the copy keeps.
qint64 heapInUse()
{
    return qint64(mallinfo2().uordblks);
}

// Runs the event loop until the condition holds. Everything the condition looks at is set by blocks posted to
// the main queue, so it is checked after each batch of events, and the thread sleeps in between.
void runUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    while (!done())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

struct CopyOptions {
    QString presetId;   // empty: the flat preset
    FileNameConflictResolution conflict = FileNameConflictResolution::skip;
    FileGroupBehaviour grouping = FileGroupBehaviour::copyAll;
    bool printProgress = true;
    // The link, where the folder's camera.ini does not set it.
    std::optional<qint64> throughput;
    std::optional<int> latencyMs;
    std::chrono::milliseconds stalledStreamTimeout = PhotoVariantCopyOperation::kDefaultStalledStreamTimeout;
};

struct CopyResult {
    bool ok = false;
    QString problem;
    int files = 0, copied = 0, skipped = 0, failed = 0, cancelled = 0;
    // Files whose name another file of this copy had taken: written under the next free name, or skipped.
    int renamedForThisCopy = 0, skippedForThisCopy = 0;
    qint64 bytes = 0;
    double seconds = 0;
    qint64 residentBefore = 0;
    qint64 residentPeak = 0;
    qint64 heapBefore = 0;
    qint64 heapPeak = 0;
    qint64 heapAfter = 0;
    qint64 progressPosts = 0;
    qint64 chunks = 0;
    // Processor time of the copy, every thread of the process counted.
    double processorSeconds = 0;
};

// Connects, lists and loads the camera's files, groups them into photos, then copies them and reports.
CopyResult copyCamera(const QString& cameraFolder, const QString& targetFolder, const CopyOptions& options,
                      UserDefaults& defaults, const PhotoSortingModel& presets)
{
    CopyResult result;
    SimulatedCameraOptions cameraOptions;
    cameraOptions.startsInStorageMode = true;
    if (options.throughput)
        cameraOptions.throughputBytesPerSecond = *options.throughput;
    if (options.latencyMs)
        cameraOptions.latencyMs = *options.latencyMs;
    auto camera = SimulatedCamera::fromFolder(cameraFolder, cameraOptions);

    std::optional<std::optional<Error>> connected;
    camera->connectWithClientName(QStringLiteral("vkl-copy-camera"),
                                  [&](std::optional<Error> error, auto) { connected = error; }, {});
    runUntil([&] { return connected.has_value(); });
    if (*connected) {
        result.problem = QStringLiteral("connecting failed: ") + (*connected)->description();
        return result;
    }
    std::optional<std::optional<Error>> storage;
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [&](std::optional<Error> error) { storage = error; });
    runUntil([&] { return storage.has_value(); });

    CameraFileScanning scanning;
    std::optional<CameraFileScanning::Items> files;
    bool scanned = false;
    scanning.scan(camera, [](const CameraFileScanning::ItemPtr& item) { return item->isKnownImageType(); },
                  [&](std::optional<CameraFileScanning::Items> items, std::optional<CameraFileScanning::ScanError>) {
                      files = std::move(items);
                      scanned = true;
                  });
    runUntil([&] { return scanned; });
    if (!files) {
        result.problem = QStringLiteral("listing the camera failed");
        return result;
    }
    size_t loaded = 0;
    for (const auto& item : *files)
        item->loadMetadata([&](std::optional<Error>) { ++loaded; });
    runUntil([&] { return loaded == files->size(); });
    std::vector<PhotoPtr> photos = CameraFileScanning::photos(*files);
    std::sort(photos.begin(), photos.end(), [](const PhotoPtr& a, const PhotoPtr& b) {
        return a->primaryVariant()->fileName() < b->primaryVariant()->fileName();
    });

    auto destination = FolderCopyDestination::createFlat(QUrl::fromLocalFile(QDir(targetFolder).absolutePath()),
                                                         defaults, presets);
    if (!options.presetId.isEmpty()) {
        if (auto preset = presets.preset(options.presetId))
            destination->setSorting(preset);
        else {
            result.problem = QStringLiteral("no preset ") + options.presetId;
            return result;
        }
    }
    auto queue = PhotoCopyQueue::create(photos, {destination, options.grouping});
    queue->setStalledStreamTimeout(options.stalledStreamTimeout);
    const qint64 total = qint64(PhotoCopyQueue::variantsToCopy(photos, options.grouping).size());
    bool finished = false;
    int index = 0;
    QElapsedTimer clock;
    QElapsedTimer lastLine;
    lastLine.start();
    QElapsedTimer memorySampled;
    result.residentBefore = residentBytes();
    result.residentPeak = result.residentBefore;
    result.heapBefore = heapInUse();
    result.heapPeak = result.heapBefore;

    PhotoCopyQueue::Callbacks callbacks;
    callbacks.itemStarted = [&](const PhotoCopyQueue::Ptr&, const PhotoVariantPtr& variant, const std::optional<QString>& target) {
        ++index;
        if (options.printProgress)
            std::printf("[%d/%lld] %s → %s\n", index, total, qPrintable(variant->fileName()),
                        target ? qPrintable(*target) : "(not written)");
    };
    callbacks.progressUpdated = [&](const PhotoCopyQueue::Ptr& q) {
        ++result.progressPosts;
        // Sampled, not read on every post: with many small files the reading would cost more than a file.
        if (!memorySampled.isValid() || memorySampled.elapsed() >= 20) {
            memorySampled.start();
            result.residentPeak = std::max(result.residentPeak, residentBytes());
            result.heapPeak = std::max(result.heapPeak, heapInUse());
        }
        if (!options.printProgress || lastLine.elapsed() < 1000)
            return;
        lastLine.restart();
        const auto& progress = q->progress();
        const std::optional<double> throughput = progress->throughput();
        const std::optional<double> remaining = progress->estimatedTimeRemaining();
        std::printf("    %.0f%%", progress->fractionCompleted() * 100.0);
        if (throughput)
            std::printf("  %.1f MB/s", *throughput / 1e6);
        if (remaining)
            std::printf("  %.0f s left", *remaining);
        std::printf("\n");
        std::fflush(stdout);
    };
    // Chunks of the camera's size, as the link sends them.
    const qint64 chunkSize = std::max(1, camera->options().chunkSize);
    callbacks.itemFinished = [&](const PhotoCopyQueue::Ptr&, const PhotoCopyQueue::FileRecord& file) {
        ++result.files;
        // What the file's progress counted: its size where the camera knows it, else one unit.
        result.chunks += (std::max<qint64>(1, file.photoVariant()->size().value_or(1)) + chunkSize - 1) / chunkSize;
        const auto state = file.state();
        switch (state.kind) {
        case PhotoVariantCopyOperation::State::Kind::copiedSuccessfully:
            if (file.finalDestination()) {
                ++result.copied;
                result.bytes += file.bytesReceived();
                if (file.targetTakenByThisCopy())
                    ++result.renamedForThisCopy;
            } else {
                ++result.skipped;
                if (file.targetTakenByThisCopy())
                    ++result.skippedForThisCopy;
            }
            break;
        case PhotoVariantCopyOperation::State::Kind::failed:
            ++result.failed;
            if (options.printProgress)
                std::printf("    %s failed: %s\n", qPrintable(file.photoVariant()->fileName()),
                            qPrintable(state.error ? state.error->description() : QString()));
            break;
        case PhotoVariantCopyOperation::State::Kind::cancelled:
            ++result.cancelled;
            break;
        default:
            break;
        }
    };
    callbacks.queueFinished = [&](const PhotoCopyQueue::Ptr&) { finished = true; };
    const FileNameConflictResolution answer = options.conflict;
    callbacks.fileNameConflict = [answer, &options](const PhotoCopyQueue::Ptr& asking, const PhotoVariantPtr& variant,
                                                    const QString& target, Deferred<FileNameConflictResolution> resolution,
                                                    Deferred<bool> remember) {
        if (options.printProgress && asking->wroteFile(target))
            std::printf("    %s: another file of this copy was written as %s\n", qPrintable(variant->fileName()),
                        qPrintable(target));
        else if (options.printProgress)
            std::printf("    %s exists at %s\n", qPrintable(variant->fileName()), qPrintable(target));
        resolution.fill(answer);
        remember.fill(true);
    };
    const double processorBefore = processorSeconds();
    clock.start();
    std::optional<bool> started;
    queue->start(callbacks, [&](bool ok) { started = ok; });
    runUntil([&] { return finished || started == false; });
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    result.processorSeconds = processorSeconds() - processorBefore;
    result.residentPeak = std::max(result.residentPeak, residentBytes());
    result.heapAfter = heapInUse();
    result.heapPeak = std::max(result.heapPeak, result.heapAfter);
    if (!finished) {
        result.problem = QStringLiteral("the copy did not start");
        return result;
    }
    result.ok = true;
    return result;
}

void printSummary(const CopyResult& result)
{
    std::printf("%d files: %d copied, %d skipped, %d failed, %d cancelled; ", result.files, result.copied,
                result.skipped, result.failed, result.cancelled);
    // Two camera files of one name are both kept (or both but the first skipped); that is said, not hidden.
    if (result.renamedForThisCopy > 0)
        std::printf("%d copied under a new name because another file of this copy had taken theirs; ",
                    result.renamedForThisCopy);
    if (result.skippedForThisCopy > 0)
        std::printf("%d skipped because another file of this copy had taken their name; ", result.skippedForThisCopy);
    std::printf("%.1f MB in %.2f s (%.1f MB/s); heap +%.1f MB at its peak, +%.1f MB at the end\n",
                double(result.bytes) / 1e6, result.seconds,
                result.seconds > 0 ? double(result.bytes) / 1e6 / result.seconds : 0.0,
                double(result.heapPeak - result.heapBefore) / 1e6, double(result.heapAfter - result.heapBefore) / 1e6);
}

// A camera folder of `count` files of `size` bytes each (random bytes under camera file names).
bool writeCamera(const QString& folder, int count, qint64 size, const QString& ini)
{
    if (!vornakel::tools::writeRandomCameraFiles(folder, QStringLiteral("BENCH"), count, size))
        return false;
    QFile settings(folder + QStringLiteral("/camera.ini"));
    if (!settings.open(QIODevice::WriteOnly))
        return false;
    settings.write(("[General]\n" + ini).toUtf8());
    return true;
}

double timeCpAndSync(const QString& source, const QString& target)
{
    QDir(target).removeRecursively();
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, target});
    QProcess::execute(QStringLiteral("sync"), {});
    return double(clock.nsecsElapsed()) / 1e9;
}

double fastest(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

QString listOf(const std::vector<double>& values)
{
    QStringList texts;
    for (double value : values)
        texts << QString::number(value, 'f', 2);
    return texts.join(QStringLiteral(", "));
}

// The copy of `camera` alternated with cp + sync of it, `rounds` times, since a shared machine's disk varies from
// one second to the next; prints both and their ratios. Which of the two goes first alternates from round to round.
//
// With `keepOutputs` every round writes into folders of its own, removed only at the end of the bench: ext4 without
// a journal does not reuse an inode freed in the last minute (or last minutes, while its table is not written
// back), and skips each such inode one by one whenever it creates a file, so removing 20,000 files just before a
// run makes that run measure the file system's search through them rather than the copy.
struct AlternatedTimes {
    std::vector<double> cp;
    std::vector<double> copy;
    // Processor time of each: less at the mercy of the disk than the time taken.
    std::vector<double> cpProcessor;
    std::vector<double> copyProcessor;
    CopyResult last;
    qint64 growth = 0;
};

// One round: the copy of `camera` and cp + sync of it; which of the two goes first alternates from round to round.
void alternateOnce(AlternatedTimes& times, const QString& camera, const QString& workFolder, int round,
                   const CopyOptions& quiet, UserDefaults& defaults, const PhotoSortingModel& presets, bool keepOutputs)
{
    const QString suffix = keepOutputs ? QStringLiteral("-%1-%2").arg(QFileInfo(camera).fileName()).arg(round + 1) : QString();
    const QString cpOut = workFolder + QStringLiteral("/cp-out") + suffix;
    const QString copyOut = workFolder + QStringLiteral("/copy-out") + suffix;
    const auto runCp = [&] {
        QProcess::execute(QStringLiteral("sync"), {});
        const double processorBefore = processorSeconds(RUSAGE_CHILDREN);
        times.cp.push_back(timeCpAndSync(camera, cpOut));
        times.cpProcessor.push_back(processorSeconds(RUSAGE_CHILDREN) - processorBefore);
    };
    const auto runCopy = [&] {
        QProcess::execute(QStringLiteral("sync"), {});
        times.last = copyCamera(camera, copyOut, quiet, defaults, presets);
        times.copy.push_back(times.last.seconds);
        times.copyProcessor.push_back(times.last.processorSeconds);
        times.growth = std::max(times.growth, times.last.residentPeak - times.last.residentBefore);
    };
    if (round % 2 == 0) {
        runCp();
        runCopy();
    } else {
        runCopy();
        runCp();
    }
    if (!keepOutputs) {
        QDir(cpOut).removeRecursively();
        QDir(copyOut).removeRecursively();
    }
}

void printAlternated(const AlternatedTimes& times)
{
    printSummary(times.last);
    std::printf("   cp + sync: %s s; the copy: %s s\n", qPrintable(listOf(times.cp)), qPrintable(listOf(times.copy)));
    std::printf("   median copy %.2f s / median cp + sync %.2f s = %.2f x (target at most 1.5 x)\n", median(times.copy),
                median(times.cp), median(times.copy) / median(times.cp));
    std::printf("   fastest copy %.2f s / fastest cp + sync %.2f s = %.2f x (the least disturbed runs)\n",
                fastest(times.copy), fastest(times.cp), fastest(times.copy) / fastest(times.cp));
    // Each copy against the cp + sync of its own round, which met the disk in the same state.
    std::vector<double> paired;
    for (size_t i = 0; i < std::min(times.copy.size(), times.cp.size()); ++i)
        paired.push_back(times.cp[i] > 0 ? times.copy[i] / times.cp[i] : 0.0);
    std::printf("   copy / cp + sync of the same round: %s; median %.2f x\n", qPrintable(listOf(paired)), median(paired));
    std::printf("   processor time: cp + sync %s s; the copy %s s\n", qPrintable(listOf(times.cpProcessor)),
                qPrintable(listOf(times.copyProcessor)));
}

AlternatedTimes alternateWithCp(const QString& camera, const QString& workFolder, int rounds, const CopyOptions& quiet,
                                UserDefaults& defaults, const PhotoSortingModel& presets, bool keepOutputs)
{
    AlternatedTimes times;
    for (int round = 0; round < rounds; ++round)
        alternateOnce(times, camera, workFolder, round, quiet, defaults, presets, keepOutputs);
    printAlternated(times);
    return times;
}

// Many small files, where the cost per file rather than per byte decides: the copy against cp + sync of the same
// files in the same run, for two counts so that the time can be seen to grow in step with the count. The rounds of
// the two counts take turns, so that both meet the file system as full as the other (a later round, after tens of
// thousands of files were written, is slower for cp as much as for the copy).
void benchSmallFiles(const QString& workFolder, const CopyOptions& quiet, UserDefaults& defaults,
                     const PhotoSortingModel& presets)
{
    constexpr qint64 kSize = 48 * 1024;
    constexpr int kRounds = 3;
    const std::array<int, 2> counts = {10000, 20000};
    std::array<QString, 2> cameras;
    for (size_t i = 0; i < counts.size(); ++i) {
        cameras[i] = workFolder + QStringLiteral("/small-%1").arg(counts[i]);
        writeCamera(cameras[i], counts[i], kSize, QStringLiteral("chunkSize=1048576\n"));
    }
    std::array<AlternatedTimes, 2> times;
    for (int round = 0; round < kRounds; ++round)
        for (size_t i = 0; i < counts.size(); ++i)
            alternateOnce(times[i], cameras[i], workFolder, round, quiet, defaults, presets, true);
    for (size_t i = 0; i < counts.size(); ++i) {
        std::printf("== Unlimited link (local files), durable on disk, against cp + sync: %d files of 48 KB\n", counts[i]);
        printAlternated(times[i]);
        std::printf("   memory growth during the copy: %.1f MB at most\n", double(times[i].growth) / 1e6);
    }
    const auto ratio = [](double twenty, double ten) { return ten > 0 ? twenty / ten : 0.0; };
    std::printf("   20,000 / 10,000 files: median copy %.2f x (target at most 2.1 x), median cp + sync %.2f x; "
                "fastest copy %.2f x, fastest cp + sync %.2f x; median processor time of the copy %.2f x\n",
                ratio(median(times[1].copy), median(times[0].copy)), ratio(median(times[1].cp), median(times[0].cp)),
                ratio(fastest(times[1].copy), fastest(times[0].copy)), ratio(fastest(times[1].cp), fastest(times[0].cp)),
                ratio(median(times[1].copyProcessor), median(times[0].copyProcessor)));
}

// `workFolder` is the bench's own, new and empty; whoever made it removes it.
int runBench(const QString& workFolder, UserDefaults& defaults, const PhotoSortingModel& presets, bool smallFilesOnly)
{
    CopyOptions quiet;
    quiet.printProgress = false;
    constexpr qint64 kLink = 20'000'000; // 20 MB/s, decimal megabytes
    if (smallFilesOnly) {
        benchSmallFiles(workFolder, quiet, defaults, presets);
        return 0;
    }

    std::printf("== Link of 20 MB/s, no latency: 10 files of 8 MB\n");
    {
        const QString camera = workFolder + QStringLiteral("/link");
        writeCamera(camera, 10, 8'000'000, QStringLiteral("throughputBytesPerSecond=%1\nchunkSize=262144\n").arg(kLink));
        const CopyResult result = copyCamera(camera, workFolder + QStringLiteral("/link-out"), quiet, defaults, presets);
        printSummary(result);
        const double ideal = double(result.bytes) / double(kLink);
        std::printf("   link efficiency: %.1f%% (ideal %.2f s, took %.2f s; target at least 95%%)\n",
                    100.0 * ideal / result.seconds, ideal, result.seconds);
    }
    std::printf("== Link of 20 MB/s with 50 ms latency per request: 40 files of 1 MB\n");
    {
        const QString camera = workFolder + QStringLiteral("/latency");
        writeCamera(camera, 40, 1'000'000,
                    QStringLiteral("throughputBytesPerSecond=%1\nlatencyMs=50\nchunkSize=262144\n").arg(kLink));
        const CopyResult result = copyCamera(camera, workFolder + QStringLiteral("/latency-out"), quiet, defaults, presets);
        printSummary(result);
        const double bound = double(result.bytes) / double(kLink) + result.files * 0.050;
        std::printf("   bytes/throughput + files x latency = %.2f s; took %.2f s = %.3f x (target at most 1.05 x)\n",
                    bound, result.seconds, result.seconds / bound);
    }
    std::printf("== Unlimited link (local files), durable on disk, against cp + sync: 1 GB in 8 files of 128 MB\n");
    {
        const QString camera = workFolder + QStringLiteral("/local");
        writeCamera(camera, 8, 128LL * 1024 * 1024, QStringLiteral("chunkSize=1048576\n"));
        const AlternatedTimes times = alternateWithCp(camera, workFolder, 5, quiet, defaults, presets, false);
        std::printf("   memory growth during a 1 GB copy: %.1f MB at most (target under 64 MB)\n",
                    double(times.growth) / 1e6);
        std::printf("   main-thread progress posts: %lld for %lld chunks and %d files (at most one per chunk)\n",
                    times.last.progressPosts, times.last.chunks, times.last.files);
    }
    benchSmallFiles(workFolder, quiet, defaults, presets);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-copy-camera"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Copies the photos of a simulated camera folder into a folder."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("camera"), QStringLiteral("The camera folder (with an optional camera.ini)."));
    parser.addPositionalArgument(QStringLiteral("target"), QStringLiteral("The folder to copy into."));
    parser.addOption({QStringLiteral("preset"), QStringLiteral("flat (default), date, or a preset identifier."), QStringLiteral("preset")});
    parser.addOption({QStringLiteral("conflict"), QStringLiteral("skip (default), overwrite, unique or cancel."), QStringLiteral("answer")});
    parser.addOption({QStringLiteral("grouping"), QStringLiteral("all (default), original or preview."), QStringLiteral("grouping")});
    parser.addOption({QStringLiteral("throughput"), QStringLiteral("Link speed in bytes per second (0: unlimited) unless camera.ini sets it."), QStringLiteral("bytes")});
    parser.addOption({QStringLiteral("latency"), QStringLiteral("Latency per request in milliseconds unless camera.ini sets it."), QStringLiteral("ms")});
    parser.addOption({QStringLiteral("stalled-stream-timeout"),
                      QStringLiteral("Seconds a stream may send nothing before its file fails (default 30)."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("quiet"), QStringLiteral("Print only the summary.")});
    parser.addOption({QStringLiteral("bench"), QStringLiteral("Measure the copy engine in WORK_FOLDER (default: a temporary folder).")});
    parser.addOption({QStringLiteral("small-files"), QStringLiteral("With --bench: only the many-small-files case.")});
    parser.process(app);

    // The tool's own settings and presets, so that it never touches the user's.
    QTemporaryDir settingsFolder;
    UserDefaults defaults(settingsFolder.filePath(QStringLiteral("UserDefaults.plist")));
    PhotoSortingModel presets(defaults);
    const QStringList arguments = parser.positionalArguments();

    if (parser.isSet(QStringLiteral("bench"))) {
        // A folder of its own inside the one given: the bench removes all it wrote, and nothing else there.
        const QString parent = QDir(arguments.isEmpty() ? QDir::currentPath() : arguments.first()).absolutePath();
        QDir().mkpath(parent);
        QTemporaryDir work(parent + QStringLiteral("/vkl-copy-bench-XXXXXX"));
        if (!work.isValid()) {
            std::fprintf(stderr, "Cannot make a work folder in %s: %s\n", qPrintable(parent), qPrintable(work.errorString()));
            return 1;
        }
        return runBench(work.path(), defaults, presets, parser.isSet(QStringLiteral("small-files")));
    }
    if (arguments.size() != 2)
        parser.showHelp(1);

    CopyOptions options;
    options.printProgress = !parser.isSet(QStringLiteral("quiet"));
    const QString preset = parser.value(QStringLiteral("preset"));
    if (preset == QLatin1String("date"))
        options.presetId = UserDefinedPhotoSorting::byPaddedNumericDateIdentifier();
    else if (!preset.isEmpty() && preset != QLatin1String("flat"))
        options.presetId = preset;
    const QString conflict = parser.value(QStringLiteral("conflict"));
    if (conflict == QLatin1String("overwrite"))
        options.conflict = FileNameConflictResolution::overwrite;
    else if (conflict == QLatin1String("unique"))
        options.conflict = FileNameConflictResolution::useUniqueName;
    else if (conflict == QLatin1String("cancel"))
        options.conflict = FileNameConflictResolution::cancel;
    else if (!conflict.isEmpty() && conflict != QLatin1String("skip"))
        parser.showHelp(1);
    const QString grouping = parser.value(QStringLiteral("grouping"));
    if (grouping == QLatin1String("original"))
        options.grouping = FileGroupBehaviour::preferOriginal;
    else if (grouping == QLatin1String("preview"))
        options.grouping = FileGroupBehaviour::preferPreview;
    if (parser.isSet(QStringLiteral("throughput")))
        options.throughput = parser.value(QStringLiteral("throughput")).toLongLong();
    if (parser.isSet(QStringLiteral("latency")))
        options.latencyMs = parser.value(QStringLiteral("latency")).toInt();
    if (parser.isSet(QStringLiteral("stalled-stream-timeout"))) {
        // Read as the app reads its user default, so the tool and the window agree on what a value means.
        defaults.setValue(PhotoCopyQueue::stalledStreamTimeoutUserDefaultsKey(),
                          parser.value(QStringLiteral("stalled-stream-timeout")).toDouble());
        options.stalledStreamTimeout = PhotoCopyQueue::stalledStreamTimeout(defaults);
    }

    const CopyResult result = copyCamera(arguments[0], arguments[1], options, defaults, presets);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.problem));
        return 1;
    }
    printSummary(result);
    return result.failed > 0 ? 2 : 0;
}
