// vkl-ptpip-camera: serves a camera folder over PTP/IP on 127.0.0.1, so that the application (or gphoto2) can
// be pointed at a camera that behaves like a Wi-Fi camera in its "connect to computer" mode:
//   vkl-ptpip-camera FOLDER --port 15740 --log
//   VORNAKEL_CAMERA_ADDRESSES=127.0.0.1:15740 vornakel-transfer
// The folder's "camera.ini" sets the defaults (latency, throughput, pairing prompt, stream faults, battery);
// the options below override them. "--ssdp-port P" also answers SSDP searches on 127.0.0.1:P (point the app's
// search there with VORNAKEL_SSDP_ADDRESS=127.0.0.1:P). Lines typed while it runs act as on the camera:
// "card out" and "card in" take the memory card out and put it back (StoreRemoved, StoreAdded), "delete PATH"
// deletes a file (ObjectRemoved); while a pairing prompt waits, "y" accepts and anything else rejects.
#include "ptpip-camera/PtpIpResponder.h"
#include "testcamera-cli/TestCameraCommandLine.h"

#include <QCoreApplication>

#include <cstdio>

using vornakel::tools::PtpIpResponder;
using vornakel::tools::PtpIpResponderOptions;
using vornakel::tools::TestCameraCommandLine;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-ptpip-camera"));
    TestCameraCommandLine line(
        {.description = QStringLiteral("Serves a camera folder over PTP/IP on 127.0.0.1."),
         .folder = QStringLiteral("The camera folder (a DCIM tree)."),
         .throughput = QStringLiteral("Object data rate in bytes per second (0: unlimited)."),
         .streamErrorAfter = QStringLiteral("Object transfers fail after this many bytes."),
         .streamStallAfter = QStringLiteral("Object transfers stall after this many bytes."),
         .faultFiles = QStringLiteral("Comma-separated names the stream faults apply to."),
         .dropAfterSeconds = QStringLiteral("Close both connections this long after start."),
         .log = QStringLiteral("Log every operation.")},
        15740);
    QCommandLineParser& parser = line.parser;
    const QCommandLineOption pairing(QStringLiteral("pairing-seconds"), QStringLiteral("Hold the Init Command Ack this long, as the camera's own pairing prompt does."), QStringLiteral("seconds"));
    const QCommandLineOption pairingKey(QStringLiteral("pairing-key"), QStringLiteral("Hold the Init Command Ack until a line is typed: \"y\" accepts, anything else rejects."));
    const QCommandLineOption initFail(QStringLiteral("init-fail"), QStringLiteral("Answer every connection with Init Fail: rejected or busy."), QStringLiteral("reason"));
    const QCommandLineOption dropAfter(QStringLiteral("drop-after-bytes"), QStringLiteral("Close both connections once this many object bytes went out."), QStringLiteral("bytes"));
    const QCommandLineOption noThumbnail(QStringLiteral("no-thumbnail"), QStringLiteral("Comma-separated names that have no thumbnail."), QStringLiteral("names"));
    const QCommandLineOption battery(QStringLiteral("battery"), QStringLiteral("Battery level in percent (-1: no battery property)."), QStringLiteral("percent"));
    const QCommandLineOption propList(QStringLiteral("object-prop-list"), QStringLiteral("Offer MTP's GetObjectPropList and GetObjectPropValue."));
    const QCommandLineOption partial64(QStringLiteral("partial-object-64"), QStringLiteral("Offer MTP's 64-bit partial read (GetPartialObject64)."));
    const QCommandLineOption ssdpPort(QStringLiteral("ssdp-port"), QStringLiteral("Answer SSDP searches on this UDP port of 127.0.0.1 (0: any free port)."), QStringLiteral("port"));
    const QCommandLineOption synthetic(QStringLiteral("synthetic"), QStringLiteral("Comma-separated NAME:SIZE objects in the root, their bytes a pattern (no file: sizes past 4 GiB cost nothing)."), QStringLiteral("objects"));
    parser.addOptions({line.port, line.latency, line.throughput, pairing, pairingKey, initFail, line.streamErrorAfter,
                       line.streamStallAfter, line.streamStallMs, line.faultFiles, dropAfter, line.dropAfterSeconds, noThumbnail,
                       battery, line.log, propList, partial64, ssdpPort, synthetic});
    const std::optional<QString> folder = line.process(app);
    if (!folder)
        return 2;
    PtpIpResponderOptions options = PtpIpResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(*folder));
    line.applyLinkFaults(options);
    options.pairingHoldMs = int(line.number(pairing, options.pairingHoldMs / 1000) * 1000);
    options.pairingHeldUntilAnswered = parser.isSet(pairingKey);
    if (parser.isSet(initFail)) {
        const QString reason = parser.value(initFail);
        options.initFailReason = reason == QLatin1String("busy") ? vornakel::ptpip::InitFailBusy : vornakel::ptpip::InitFailRejected;
    }
    options.dropAfterBytes = line.number(dropAfter, options.dropAfterBytes);
    options.noThumbnailFiles = line.names(noThumbnail, options.noThumbnailFiles);
    if (parser.isSet(battery)) {
        const int percent = parser.value(battery).toInt();
        options.batteryPercent = percent < 0 ? std::nullopt : std::optional<int>(percent);
    }
    options.objectPropList = parser.isSet(propList);
    options.partialObject64 = parser.isSet(partial64);
    for (const QString& entry : line.names(synthetic, {})) {
        bool ok = false;
        const qulonglong size = entry.section(QLatin1Char(':'), -1).toULongLong(&ok);
        const QString name = entry.section(QLatin1Char(':'), 0, -2);
        if (!ok || name.isEmpty()) {
            std::fprintf(stderr, "A synthetic object is NAME:SIZE, not \"%s\".\n", qPrintable(entry));
            return 2;
        }
        options.syntheticFiles.emplace_back(name, uint64_t(size));
    }

    PtpIpResponder responder(*folder, options);
    if (!responder.listen(QHostAddress::LocalHost, line.listenPort()))
        return line.cannotListen();
    std::fprintf(stdout, "Serving %zu files of %s on 127.0.0.1:%u\n", responder.files().size(), qPrintable(*folder), responder.port());
    if (parser.isSet(ssdpPort)) {
        if (!responder.answerSsdp(QHostAddress::LocalHost, quint16(parser.value(ssdpPort).toUInt()))) {
            std::fprintf(stderr, "Cannot answer SSDP on 127.0.0.1:%s.\n", qPrintable(parser.value(ssdpPort)));
            return 1;
        }
        std::fprintf(stdout, "Answering SSDP searches on 127.0.0.1:%u\n", responder.ssdpPort());
    }
    std::fflush(stdout);

    vornakel::tools::readLinesFromInput(&app, [&](const QString& typed) {
        if (responder.pairingPending()) {
            responder.answerPairing(typed.startsWith(QLatin1Char('y'), Qt::CaseInsensitive));
        } else if (typed == QLatin1String("card out")) {
            responder.removeStorage();
        } else if (typed == QLatin1String("card in")) {
            responder.insertStorage();
        } else if (typed.startsWith(QLatin1String("delete "))) {
            const QString path = typed.mid(7).trimmed();
            if (responder.removeFile(path) == 0)
                std::fprintf(stderr, "No file %s on the camera.\n", qPrintable(path));
        } else if (!typed.isEmpty()) {
            std::fprintf(stderr, "Type \"card out\", \"card in\" or \"delete PATH\".\n");
        }
    });
    line.dropAfter(&responder, [&] { responder.dropConnections(); });
    return app.exec();
}
