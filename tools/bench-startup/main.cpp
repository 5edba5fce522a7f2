// Starts the application (bench-startup-app: the program that quits once its window shows; offscreen, in a home
// of its own) over an image cache of many photos and prints the time
// from the process start to its first window, over several runs. With --cold the kernel's page cache is dropped
// before each run (needs root; otherwise the runs are warm and say so).
//
//   bench-startup [--app PATH] [--photos 20000] [--runs 5] [--cold]
#include "platform/core/PropertyList.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace vornakel;

namespace {

// Photo folders as the program writes them, every one seen yesterday, so the purge reads each record and keeps it.
bool fillCache(const QString& root, int photos)
{
    const QDateTime lastSeen = QDateTime::currentDateTimeUtc().addDays(-1);
    const QByteArray thumbnail(6 * 1024, 'j');
    for (int i = 0; i < photos; ++i) {
        const QString folder = QStringLiteral("%1/Camera %2/IMG_%3-20260101-120000.cached")
                                   .arg(root)
                                   .arg(i % 4)
                                   .arg(i, 5, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        if (PropertyList::writeBinaryFile(QVariantMap{{QStringLiteral("LastSeen"), lastSeen}},
                                          folder + QStringLiteral("/Metadata.plist")))
            return false;
        QFile file(folder + QStringLiteral("/Thumbnail.jpg"));
        if (!file.open(QIODevice::WriteOnly) || file.write(thumbnail) != thumbnail.size())
            return false;
    }
    return true;
}

bool dropPageCache()
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption appOption(QStringLiteral("app"), QStringLiteral("The program to start (it prints \"window shown\")."),
                                       QStringLiteral("PATH"),
                                       QCoreApplication::applicationDirPath() + QStringLiteral("/bench-startup-app"));
    const QCommandLineOption photosOption(QStringLiteral("photos"), QStringLiteral("Cached photos (default 20000)."),
                                          QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs (default 5)."), QStringLiteral("N"),
                                        QStringLiteral("5"));
    const QCommandLineOption coldOption(QStringLiteral("cold"), QStringLiteral("Drop the page cache before each run."));
    parser.addOptions({appOption, photosOption, runsOption, coldOption});
    parser.process(app);

    QTemporaryDir home;
    const QString cacheHome = home.filePath(QStringLiteral("cache"));
    const QString configHome = home.filePath(QStringLiteral("config"));
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    const int photos = parser.value(photosOption).toInt();
    QElapsedTimer filling;
    filling.start();
    if (!fillCache(cacheHome + QStringLiteral("/com.vornakel.zediriri-zir/Cached Images"), photos)
        || !QDir().mkpath(configHome + QStringLiteral("/com.vornakel.zediriri-zir")) || !QDir().mkpath(runtime)) {
        std::fprintf(stderr, "bench-startup: could not write the cache under %s\n", qPrintable(home.path()));
        return 1;
    }
    QFile(runtime).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // No Wi-Fi helper is started by a run.
    if (const auto error = PropertyList::writeBinaryFile(
            QVariantMap{{QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), false}},
            configHome + QStringLiteral("/com.vornakel.zediriri-zir/UserDefaults.plist"))) {
        std::fprintf(stderr, "could not write the settings: %s\n", qPrintable(error->description()));
        return 1;
    }
    std::printf("%d cached photos written in %.1f s\n", photos, filling.elapsed() / 1000.0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    const bool cold = parser.isSet(coldOption);
    bool dropped = cold;
    std::vector<qint64> times;
    for (int run = 0; run < parser.value(runsOption).toInt(); ++run) {
        if (cold)
            dropped = dropPageCache() && dropped;
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(parser.value(appOption), QStringList());
        QByteArray output;
        while (!output.contains("window shown") && process.state() != QProcess::NotRunning
               && timer.elapsed() < 120000) {
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
        }
        const qint64 elapsed = timer.elapsed();
        process.waitForFinished(30000);
        if (!output.contains("window shown")) {
            std::fprintf(stderr, "bench-startup: the application showed no window (%s)\n",
                         process.readAllStandardError().constData());
            return 1;
        }
        times.push_back(elapsed);
        std::printf("run %d: first window after %lld ms\n", run + 1, static_cast<long long>(elapsed));
    }
    if (times.empty())
        return 0;
    std::sort(times.begin(), times.end());
    std::printf("%s cache, %d photos: median %lld ms, fastest %lld ms, slowest %lld ms\n",
                cold ? (dropped ? "cold" : "warm (dropping the page cache was refused)") : "warm", photos,
                static_cast<long long>(times[times.size() / 2]), static_cast<long long>(times.front()),
                static_cast<long long>(times.back()));
    return 0;
}
