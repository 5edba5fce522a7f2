// vkl-upnp-camera: serves a camera folder as a UPnP media server on 127.0.0.1, the way a Sony camera in its
// "send to smartphone" mode serves its card, so that the application can be pointed at it:
//   vkl-upnp-camera FOLDER --port 64321 --log
//   VORNAKEL_CAMERA_ADDRESSES=upnp://127.0.0.1:64321 vornakel-transfer
// With --panasonic it is a LUMIX in its image-app mode instead: the media server with the camera's control page
// (cam.cgi: access request and prompt, playback mode, state) on the same port:
//   vkl-upnp-camera FOLDER --panasonic --port 60606 --access-prompt-seconds 3
//   VORNAKEL_CAMERA_ADDRESSES=panasonic://127.0.0.1:60606 vornakel-transfer
// The folder's "camera.ini" sets the defaults (latency, throughput, stream faults, name); the options below
// override them.
#include "panasonic-camera/PanasonicResponder.h"
#include "upnp-camera/UpnpResponder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

using vornakel::tools::UpnpResponder;
using vornakel::tools::UpnpResponderOptions;
using vornakel::tools::PanasonicCamCgiOptions;
using vornakel::tools::PanasonicResponder;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-upnp-camera"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a camera folder as a UPnP media server on 127.0.0.1."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("The camera folder (a DCIM tree)."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port (default 64321; 0: any free port)."), QStringLiteral("port"), QStringLiteral("64321"));
    const QCommandLineOption latency(QStringLiteral("latency-ms"), QStringLiteral("Delay before every reply."), QStringLiteral("ms"));
    const QCommandLineOption throughput(QStringLiteral("throughput"), QStringLiteral("Resource data rate in bytes per second (0: unlimited)."), QStringLiteral("bytes"));
    const QCommandLineOption pageSize(QStringLiteral("max-page"), QStringLiteral("Answer at most this many entries per Browse (0: as many as asked)."), QStringLiteral("count"));
    const QCommandLineOption errorAfter(QStringLiteral("stream-error-after"), QStringLiteral("Reset the connection of an original after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallAfter(QStringLiteral("stream-stall-after"), QStringLiteral("Originals stall after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallMs(QStringLiteral("stream-stall-ms"), QStringLiteral("How long a stall lasts (0: for ever)."), QStringLiteral("ms"));
    const QCommandLineOption shortBy(QStringLiteral("stream-short-by"), QStringLiteral("Originals end this many bytes before their Content-Length."), QStringLiteral("bytes"));
    const QCommandLineOption sizeDelta(QStringLiteral("listed-size-delta"), QStringLiteral("The listing states every size off by this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption faultFiles(QStringLiteral("fault-files"), QStringLiteral("Comma-separated names the stream faults apply to."), QStringLiteral("names"));
    const QCommandLineOption noRange(QStringLiteral("no-range"), QStringLiteral("Ignore Range requests (send the whole file)."));
    const QCommandLineOption endless(QStringLiteral("endless-browse"), QStringLiteral("Browse replies never end."));
    const QCommandLineOption dropAfterSeconds(QStringLiteral("drop-after-seconds"), QStringLiteral("Reset every connection and refuse new ones this long after start."), QStringLiteral("seconds"));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The camera's friendly name."), QStringLiteral("name"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log every request."));
    const QCommandLineOption panasonic(QStringLiteral("panasonic"), QStringLiteral("Be a LUMIX: its media server and its control page (cam.cgi)."));
    const QCommandLineOption accessPrompt(QStringLiteral("access-prompt-seconds"), QStringLiteral("LUMIX: ask the user this long before letting a new client in."), QStringLiteral("seconds"));
    const QCommandLineOption accessKey(QStringLiteral("access-key"), QStringLiteral("LUMIX: ask until a line is typed: \"y\" lets the client in, anything else refuses."));
    const QCommandLineOption accessFault(QStringLiteral("access-fault"), QStringLiteral("LUMIX: answer every access request so: refused or busy."), QStringLiteral("fault"));
    const QCommandLineOption batteryBars(QStringLiteral("battery-bars"), QStringLiteral("LUMIX: battery bars of 5 (-1: none)."), QStringLiteral("bars"));
    parser.addOptions({port, latency, throughput, pageSize, errorAfter, stallAfter, stallMs, shortBy, sizeDelta, faultFiles,
                       noRange, endless, dropAfterSeconds, name, log, panasonic, accessPrompt, accessKey, accessFault, batteryBars});
    parser.process(app);
    if (parser.positionalArguments().size() != 1 || !QFileInfo(parser.positionalArguments().first()).isDir()) {
        std::fprintf(stderr, "Give one camera folder.\n");
        return 2;
    }
    const QString folder = parser.positionalArguments().first();
    UpnpResponderOptions options = UpnpResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(folder));
    const auto number = [&](const QCommandLineOption& option, qint64 fallback) {
        return parser.isSet(option) ? parser.value(option).toLongLong() : fallback;
    };
    options.latencyMs = int(number(latency, options.latencyMs));
    options.throughputBytesPerSecond = number(throughput, options.throughputBytesPerSecond);
    options.maxPageSize = quint32(number(pageSize, options.maxPageSize));
    options.streamErrorAfterBytes = number(errorAfter, options.streamErrorAfterBytes);
    options.streamStallAfterBytes = number(stallAfter, options.streamStallAfterBytes);
    options.streamStallMs = int(number(stallMs, options.streamStallMs));
    options.streamShortByBytes = number(shortBy, options.streamShortByBytes);
    options.listedSizeDelta = number(sizeDelta, options.listedSizeDelta);
    if (parser.isSet(faultFiles))
        options.streamFaultFiles = parser.value(faultFiles).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.honoursRange = !parser.isSet(noRange);
    options.endlessBrowse = parser.isSet(endless);
    if (parser.isSet(name))
        options.friendlyName = parser.value(name);
    options.log = parser.isSet(log);

    std::unique_ptr<PanasonicResponder> lumix;
    std::unique_ptr<UpnpResponder> mediaServer;
    if (parser.isSet(panasonic)) {
        PanasonicCamCgiOptions camCgi;
        camCgi.accessPromptMs = int(parser.value(accessPrompt).toDouble() * 1000);
        camCgi.accessHeldUntilAnswered = parser.isSet(accessKey);
        if (parser.isSet(accessFault)) {
            camCgi.accessFault = parser.value(accessFault) == QLatin1String("busy") ? PanasonicCamCgiOptions::AccessFault::busy
                                                                                   : PanasonicCamCgiOptions::AccessFault::refused;
        }
        if (parser.isSet(batteryBars)) {
            const int bars = parser.value(batteryBars).toInt();
            camCgi.batteryBars = bars < 0 ? std::nullopt : std::optional<int>(bars);
        }
        camCgi.log = options.log;
        lumix = std::make_unique<PanasonicResponder>(folder, options, camCgi);
    } else {
        mediaServer = std::make_unique<UpnpResponder>(folder, options);
    }
    UpnpResponder& responder = lumix ? lumix->mediaServer() : *mediaServer;
    if (!responder.listen(QHostAddress::LocalHost, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1:%s.\n", qPrintable(parser.value(port)));
        return 1;
    }
    std::fprintf(stdout, "Serving %zu files of %s at %s\n", responder.files().size(), qPrintable(folder),
                 qPrintable(responder.descriptionUrl()));
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64] = {};
        const ssize_t count = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (count <= 0) {
            input.setEnabled(false);
            return;
        }
        if (lumix && lumix->camCgi().accessPending())
            lumix->camCgi().answerAccess(line[0] == 'y' || line[0] == 'Y');
    });
    if (parser.isSet(dropAfterSeconds))
        QTimer::singleShot(int(parser.value(dropAfterSeconds).toDouble() * 1000), &responder, [&] { responder.dropConnections(); });
    return app.exec();
}
