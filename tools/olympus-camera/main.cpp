// vkl-olympus-camera: serves a camera folder as an Olympus camera on its own access point answers, over HTTP on
// 127.0.0.1, so that the application can be pointed at it:
//   vkl-olympus-camera FOLDER --port 8080 --log
//   VORNAKEL_CAMERA_ADDRESSES=olympus://127.0.0.1:8080 vornakel-transfer
// The folder's "camera.ini" sets the defaults (latency, throughput, stream faults); the options below override them.
#include "olympus-camera/OlympusResponder.h"
#include "testcamera-cli/TestCameraCommandLine.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using vornakel::tools::OlympusResponder;
using vornakel::tools::OlympusResponderOptions;
using vornakel::tools::TestCameraCommandLine;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-olympus-camera"));
    TestCameraCommandLine line(
        {.description = QStringLiteral("Serves a camera folder as an Olympus camera (HTTP) on 127.0.0.1."),
         .folder = QStringLiteral("The camera folder (its DCIM tree is served)."),
         .throughput = QStringLiteral("File data rate in bytes per second (0: unlimited)."),
         .streamErrorAfter = QStringLiteral("A file's connection closes after this many bytes."),
         .streamStallAfter = QStringLiteral("File transfers stall after this many bytes."),
         .faultFiles = QStringLiteral("Comma-separated names the file faults apply to."),
         .dropAfterSeconds = QStringLiteral("Go out of range this long after start."),
         .log = QStringLiteral("Log every request.")},
        8080);
    QCommandLineParser& parser = line.parser;
    const QCommandLineOption shortBy(QStringLiteral("short-by"), QStringLiteral("File GETs end this many bytes early."), QStringLiteral("bytes"));
    const QCommandLineOption sizeDelta(QStringLiteral("listed-size-delta"), QStringLiteral("The listing gives file sizes off by this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption dropAfter(QStringLiteral("drop-after-bytes"), QStringLiteral("Go out of range once this many file bytes went out."), QStringLiteral("bytes"));
    const QCommandLineOption backAfterSeconds(QStringLiteral("back-after-seconds"), QStringLiteral("Come back in range this long after going out of it."), QStringLiteral("seconds"));
    const QCommandLineOption noRange(QStringLiteral("no-range"), QStringLiteral("Ignore Range requests (send the whole file)."));
    const QCommandLineOption noRawResize(QStringLiteral("no-raw-resize"), QStringLiteral("get_resizeimg.cgi does not answer for RAW files."));
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("The model get_caminfo.cgi names."), QStringLiteral("name"));
    parser.addOptions({line.port, line.latency, line.throughput, line.streamErrorAfter, line.streamStallAfter, line.streamStallMs,
                       shortBy, sizeDelta, line.faultFiles, dropAfter, line.dropAfterSeconds, backAfterSeconds, noRange,
                       noRawResize, model, line.log});
    const std::optional<QString> folder = line.process(app);
    if (!folder)
        return 2;
    OlympusResponderOptions options = OlympusResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(*folder));
    line.applyLinkFaults(options);
    options.shortByBytes = line.number(shortBy, options.shortByBytes);
    options.listedSizeDelta = line.number(sizeDelta, options.listedSizeDelta);
    options.dropAfterBytes = line.number(dropAfter, options.dropAfterBytes);
    options.honoursRange = !parser.isSet(noRange);
    options.resizesRaw = !parser.isSet(noRawResize);
    if (parser.isSet(model))
        options.model = parser.value(model);

    OlympusResponder responder(*folder, options);
    if (!responder.listen(QHostAddress::LocalHost, line.listenPort()))
        return line.cannotListen();
    std::fprintf(stdout, "Serving %zu files of %s as an Olympus camera on 127.0.0.1:%u\n", responder.files().size(),
                 qPrintable(*folder), responder.port());
    std::fflush(stdout);
    line.dropAfter(&responder, [&] {
        responder.dropConnections();
        if (parser.isSet(backAfterSeconds))
            QTimer::singleShot(TestCameraCommandLine::milliseconds(parser.value(backAfterSeconds)), &responder, [&] { responder.comeBack(); });
    });
    return app.exec();
}
