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
#include "testcamera-cli/TestCameraCommandLine.h"
#include "upnp-camera/UpnpResponder.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

using vornakel::tools::UpnpResponder;
using vornakel::tools::UpnpResponderOptions;
using vornakel::tools::PanasonicCamCgiOptions;
using vornakel::tools::PanasonicResponder;
using vornakel::tools::TestCameraCommandLine;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-upnp-camera"));
    TestCameraCommandLine line(
        {.description = QStringLiteral("Serves a camera folder as a UPnP media server on 127.0.0.1."),
         .folder = QStringLiteral("The camera folder (a DCIM tree)."),
         .throughput = QStringLiteral("Resource data rate in bytes per second (0: unlimited)."),
         .streamErrorAfter = QStringLiteral("Reset the connection of an original after this many bytes."),
         .streamStallAfter = QStringLiteral("Originals stall after this many bytes."),
         .faultFiles = QStringLiteral("Comma-separated names the stream faults apply to."),
         .dropAfterSeconds = QStringLiteral("Reset every connection and refuse new ones this long after start."),
         .log = QStringLiteral("Log every request.")},
        64321);
    QCommandLineParser& parser = line.parser;
    const QCommandLineOption pageSize(QStringLiteral("max-page"), QStringLiteral("Answer at most this many entries per Browse (0: as many as asked)."), QStringLiteral("count"));
    const QCommandLineOption shortBy(QStringLiteral("stream-short-by"), QStringLiteral("Originals end this many bytes before their Content-Length."), QStringLiteral("bytes"));
    const QCommandLineOption sizeDelta(QStringLiteral("listed-size-delta"), QStringLiteral("The listing states every size off by this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption noRange(QStringLiteral("no-range"), QStringLiteral("Ignore Range requests (send the whole file)."));
    const QCommandLineOption endless(QStringLiteral("endless-browse"), QStringLiteral("Browse replies never end."));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The camera's friendly name."), QStringLiteral("name"));
    const QCommandLineOption panasonic(QStringLiteral("panasonic"), QStringLiteral("Be a LUMIX: its media server and its control page (cam.cgi)."));
    const QCommandLineOption accessPrompt(QStringLiteral("access-prompt-seconds"), QStringLiteral("LUMIX: ask the user this long before letting a new client in."), QStringLiteral("seconds"));
    const QCommandLineOption accessKey(QStringLiteral("access-key"), QStringLiteral("LUMIX: ask until a line is typed: \"y\" lets the client in, anything else refuses."));
    const QCommandLineOption accessFault(QStringLiteral("access-fault"), QStringLiteral("LUMIX: answer every access request so: refused or busy."), QStringLiteral("fault"));
    const QCommandLineOption batteryBars(QStringLiteral("battery-bars"), QStringLiteral("LUMIX: battery bars of 5 (-1: none)."), QStringLiteral("bars"));
    parser.addOptions({line.port, line.latency, line.throughput, pageSize, line.streamErrorAfter, line.streamStallAfter,
                       line.streamStallMs, shortBy, sizeDelta, line.faultFiles, noRange, endless, line.dropAfterSeconds, name,
                       line.log, panasonic, accessPrompt, accessKey, accessFault, batteryBars});
    const std::optional<QString> folder = line.process(app);
    if (!folder)
        return 2;
    UpnpResponderOptions options = UpnpResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(*folder));
    line.applyLinkFaults(options);
    options.maxPageSize = quint32(line.number(pageSize, options.maxPageSize));
    options.streamShortByBytes = line.number(shortBy, options.streamShortByBytes);
    options.listedSizeDelta = line.number(sizeDelta, options.listedSizeDelta);
    options.honoursRange = !parser.isSet(noRange);
    options.endlessBrowse = parser.isSet(endless);
    if (parser.isSet(name))
        options.friendlyName = parser.value(name);

    std::unique_ptr<PanasonicResponder> lumix;
    std::unique_ptr<UpnpResponder> mediaServer;
    if (parser.isSet(panasonic)) {
        PanasonicCamCgiOptions camCgi;
        camCgi.accessPromptMs = TestCameraCommandLine::milliseconds(parser.value(accessPrompt));
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
        lumix = std::make_unique<PanasonicResponder>(*folder, options, camCgi);
    } else {
        mediaServer = std::make_unique<UpnpResponder>(*folder, options);
    }
    UpnpResponder& responder = lumix ? lumix->mediaServer() : *mediaServer;
    if (!responder.listen(QHostAddress::LocalHost, line.listenPort()))
        return line.cannotListen();
    std::fprintf(stdout, "Serving %zu files of %s at %s\n", responder.files().size(), qPrintable(*folder),
                 qPrintable(responder.descriptionUrl()));
    std::fflush(stdout);
    vornakel::tools::answerPromptsFromInput(&app, [&](bool yes) {
        if (lumix && lumix->camCgi().accessPending())
            lumix->camCgi().answerAccess(yes);
    });
    line.dropAfter(&responder, [&] { responder.dropConnections(); });
    return app.exec();
}
