// vkl-olympus-camera: serves a camera folder as an Olympus camera on its own access point answers, over HTTP on
// 127.0.0.1, so that the application can be pointed at it:
//   vkl-olympus-camera FOLDER --port 8080 --log
//   VORNAKEL_CAMERA_ADDRESSES=olympus://127.0.0.1:8080 vornakel-transfer
// The folder's "camera.ini" sets the defaults (latency, throughput, stream faults); the options below override them.
#include "olympus-camera/OlympusResponder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

using vornakel::tools::OlympusResponder;
using vornakel::tools::OlympusResponderOptions;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-olympus-camera"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a camera folder as an Olympus camera (HTTP) on 127.0.0.1."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("The camera folder (its DCIM tree is served)."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port (default 8080; 0: any free port)."), QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption latency(QStringLiteral("latency-ms"), QStringLiteral("Delay before every reply."), QStringLiteral("ms"));
    const QCommandLineOption throughput(QStringLiteral("throughput"), QStringLiteral("File data rate in bytes per second (0: unlimited)."), QStringLiteral("bytes"));
    const QCommandLineOption errorAfter(QStringLiteral("stream-error-after"), QStringLiteral("A file's connection closes after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallAfter(QStringLiteral("stream-stall-after"), QStringLiteral("File transfers stall after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallMs(QStringLiteral("stream-stall-ms"), QStringLiteral("How long a stall lasts (0: for ever)."), QStringLiteral("ms"));
    const QCommandLineOption shortBy(QStringLiteral("short-by"), QStringLiteral("File GETs end this many bytes early."), QStringLiteral("bytes"));
    const QCommandLineOption sizeDelta(QStringLiteral("listed-size-delta"), QStringLiteral("The listing gives file sizes off by this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption faultFiles(QStringLiteral("fault-files"), QStringLiteral("Comma-separated names the file faults apply to."), QStringLiteral("names"));
    const QCommandLineOption dropAfter(QStringLiteral("drop-after-bytes"), QStringLiteral("Go out of range once this many file bytes went out."), QStringLiteral("bytes"));
    const QCommandLineOption dropAfterSeconds(QStringLiteral("drop-after-seconds"), QStringLiteral("Go out of range this long after start."), QStringLiteral("seconds"));
    const QCommandLineOption backAfterSeconds(QStringLiteral("back-after-seconds"), QStringLiteral("Come back in range this long after going out of it."), QStringLiteral("seconds"));
    const QCommandLineOption noRange(QStringLiteral("no-range"), QStringLiteral("Ignore Range requests (send the whole file)."));
    const QCommandLineOption noRawResize(QStringLiteral("no-raw-resize"), QStringLiteral("get_resizeimg.cgi does not answer for RAW files."));
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("The model get_caminfo.cgi names."), QStringLiteral("name"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log every request."));
    parser.addOptions({port, latency, throughput, errorAfter, stallAfter, stallMs, shortBy, sizeDelta, faultFiles, dropAfter,
                       dropAfterSeconds, backAfterSeconds, noRange, noRawResize, model, log});
    parser.process(app);
    if (parser.positionalArguments().size() != 1 || !QFileInfo(parser.positionalArguments().first()).isDir()) {
        std::fprintf(stderr, "Give one camera folder.\n");
        return 2;
    }
    const QString folder = parser.positionalArguments().first();
    OlympusResponderOptions options = OlympusResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(folder));
    const auto number = [&](const QCommandLineOption& option, qint64 fallback) {
        return parser.isSet(option) ? parser.value(option).toLongLong() : fallback;
    };
    options.latencyMs = int(number(latency, options.latencyMs));
    options.throughputBytesPerSecond = number(throughput, options.throughputBytesPerSecond);
    options.streamErrorAfterBytes = number(errorAfter, options.streamErrorAfterBytes);
    options.streamStallAfterBytes = number(stallAfter, options.streamStallAfterBytes);
    options.streamStallMs = int(number(stallMs, options.streamStallMs));
    options.shortByBytes = number(shortBy, options.shortByBytes);
    options.listedSizeDelta = number(sizeDelta, options.listedSizeDelta);
    if (parser.isSet(faultFiles))
        options.streamFaultFiles = parser.value(faultFiles).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.dropAfterBytes = number(dropAfter, options.dropAfterBytes);
    options.honoursRange = !parser.isSet(noRange);
    options.resizesRaw = !parser.isSet(noRawResize);
    if (parser.isSet(model))
        options.model = parser.value(model);
    options.log = parser.isSet(log);

    OlympusResponder responder(folder, options);
    if (!responder.listen(QHostAddress::LocalHost, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1:%s.\n", qPrintable(parser.value(port)));
        return 1;
    }
    std::fprintf(stdout, "Serving %zu files of %s as an Olympus camera on 127.0.0.1:%u\n", responder.files().size(),
                 qPrintable(folder), responder.port());
    std::fflush(stdout);
    if (parser.isSet(dropAfterSeconds)) {
        QTimer::singleShot(int(parser.value(dropAfterSeconds).toDouble() * 1000), &responder, [&] {
            responder.dropConnections();
            if (parser.isSet(backAfterSeconds))
                QTimer::singleShot(int(parser.value(backAfterSeconds).toDouble() * 1000), &responder, [&] { responder.comeBack(); });
        });
    }
    return app.exec();
}
