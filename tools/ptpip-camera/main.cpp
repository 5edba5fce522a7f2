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

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using vornakel::tools::PtpIpResponder;
using vornakel::tools::PtpIpResponderOptions;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-ptpip-camera"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a camera folder over PTP/IP on 127.0.0.1."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("The camera folder (a DCIM tree)."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port (default 15740; 0: any free port)."), QStringLiteral("port"), QStringLiteral("15740"));
    const QCommandLineOption latency(QStringLiteral("latency-ms"), QStringLiteral("Delay before every reply."), QStringLiteral("ms"));
    const QCommandLineOption throughput(QStringLiteral("throughput"), QStringLiteral("Object data rate in bytes per second (0: unlimited)."), QStringLiteral("bytes"));
    const QCommandLineOption pairing(QStringLiteral("pairing-seconds"), QStringLiteral("Hold the Init Command Ack this long, as the camera's own pairing prompt does."), QStringLiteral("seconds"));
    const QCommandLineOption pairingKey(QStringLiteral("pairing-key"), QStringLiteral("Hold the Init Command Ack until a line is typed: \"y\" accepts, anything else rejects."));
    const QCommandLineOption initFail(QStringLiteral("init-fail"), QStringLiteral("Answer every connection with Init Fail: rejected or busy."), QStringLiteral("reason"));
    const QCommandLineOption errorAfter(QStringLiteral("stream-error-after"), QStringLiteral("Object transfers fail after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallAfter(QStringLiteral("stream-stall-after"), QStringLiteral("Object transfers stall after this many bytes."), QStringLiteral("bytes"));
    const QCommandLineOption stallMs(QStringLiteral("stream-stall-ms"), QStringLiteral("How long a stall lasts (0: for ever)."), QStringLiteral("ms"));
    const QCommandLineOption faultFiles(QStringLiteral("fault-files"), QStringLiteral("Comma-separated names the stream faults apply to."), QStringLiteral("names"));
    const QCommandLineOption dropAfter(QStringLiteral("drop-after-bytes"), QStringLiteral("Close both connections once this many object bytes went out."), QStringLiteral("bytes"));
    const QCommandLineOption dropAfterSeconds(QStringLiteral("drop-after-seconds"), QStringLiteral("Close both connections this long after start."), QStringLiteral("seconds"));
    const QCommandLineOption noThumbnail(QStringLiteral("no-thumbnail"), QStringLiteral("Comma-separated names that have no thumbnail."), QStringLiteral("names"));
    const QCommandLineOption battery(QStringLiteral("battery"), QStringLiteral("Battery level in percent (-1: no battery property)."), QStringLiteral("percent"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log every operation."));
    const QCommandLineOption propList(QStringLiteral("object-prop-list"), QStringLiteral("Offer MTP's GetObjectPropList and GetObjectPropValue."));
    const QCommandLineOption partial64(QStringLiteral("partial-object-64"), QStringLiteral("Offer MTP's 64-bit partial read (GetPartialObject64)."));
    const QCommandLineOption ssdpPort(QStringLiteral("ssdp-port"), QStringLiteral("Answer SSDP searches on this UDP port of 127.0.0.1 (0: any free port)."), QStringLiteral("port"));
    const QCommandLineOption synthetic(QStringLiteral("synthetic"), QStringLiteral("Comma-separated NAME:SIZE objects in the root, their bytes a pattern (no file: sizes past 4 GiB cost nothing)."), QStringLiteral("objects"));
    parser.addOptions({port, latency, throughput, pairing, pairingKey, initFail, errorAfter, stallAfter, stallMs, faultFiles,
                       dropAfter, dropAfterSeconds, noThumbnail, battery, log, propList, partial64, ssdpPort, synthetic});
    parser.process(app);
    if (parser.positionalArguments().size() != 1 || !QFileInfo(parser.positionalArguments().first()).isDir()) {
        std::fprintf(stderr, "Give one camera folder.\n");
        return 2;
    }
    const QString folder = parser.positionalArguments().first();
    PtpIpResponderOptions options = PtpIpResponderOptions::fromCameraOptions(vornakel::SimulatedCameraOptions::fromFolder(folder));
    const auto number = [&](const QCommandLineOption& option, qint64 fallback) {
        return parser.isSet(option) ? parser.value(option).toLongLong() : fallback;
    };
    const auto names = [&](const QCommandLineOption& option, const QStringList& fallback) {
        return parser.isSet(option) ? parser.value(option).split(QLatin1Char(','), Qt::SkipEmptyParts) : fallback;
    };
    options.latencyMs = int(number(latency, options.latencyMs));
    options.throughputBytesPerSecond = number(throughput, options.throughputBytesPerSecond);
    options.pairingHoldMs = int(number(pairing, options.pairingHoldMs / 1000) * 1000);
    options.pairingHeldUntilAnswered = parser.isSet(pairingKey);
    if (parser.isSet(initFail)) {
        const QString reason = parser.value(initFail);
        options.initFailReason = reason == QLatin1String("busy") ? vornakel::ptpip::InitFailBusy : vornakel::ptpip::InitFailRejected;
    }
    options.streamErrorAfterBytes = number(errorAfter, options.streamErrorAfterBytes);
    options.streamStallAfterBytes = number(stallAfter, options.streamStallAfterBytes);
    options.streamStallMs = int(number(stallMs, options.streamStallMs));
    options.streamFaultFiles = names(faultFiles, options.streamFaultFiles);
    options.dropAfterBytes = number(dropAfter, options.dropAfterBytes);
    options.noThumbnailFiles = names(noThumbnail, options.noThumbnailFiles);
    if (parser.isSet(battery)) {
        const int percent = parser.value(battery).toInt();
        options.batteryPercent = percent < 0 ? std::nullopt : std::optional<int>(percent);
    }
    options.log = parser.isSet(log);
    options.objectPropList = parser.isSet(propList);
    options.partialObject64 = parser.isSet(partial64);
    for (const QString& entry : names(synthetic, {})) {
        bool ok = false;
        const qulonglong size = entry.section(QLatin1Char(':'), -1).toULongLong(&ok);
        const QString name = entry.section(QLatin1Char(':'), 0, -2);
        if (!ok || name.isEmpty()) {
            std::fprintf(stderr, "A synthetic object is NAME:SIZE, not \"%s\".\n", qPrintable(entry));
            return 2;
        }
        options.syntheticFiles.emplace_back(name, uint64_t(size));
    }

    PtpIpResponder responder(folder, options);
    if (!responder.listen(QHostAddress::LocalHost, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1:%s.\n", qPrintable(parser.value(port)));
        return 1;
    }
    std::fprintf(stdout, "Serving %zu files of %s on 127.0.0.1:%u\n", responder.files().size(), qPrintable(folder), responder.port());
    if (parser.isSet(ssdpPort)) {
        if (!responder.answerSsdp(QHostAddress::LocalHost, quint16(parser.value(ssdpPort).toUInt()))) {
            std::fprintf(stderr, "Cannot answer SSDP on 127.0.0.1:%s.\n", qPrintable(parser.value(ssdpPort)));
            return 1;
        }
        std::fprintf(stdout, "Answering SSDP searches on 127.0.0.1:%u\n", responder.ssdpPort());
    }
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[512] = {};
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (count <= 0) {
            input.setEnabled(false);
            return;
        }
        const QString line = QString::fromUtf8(buffer, count).trimmed();
        if (responder.pairingPending()) {
            responder.answerPairing(line.startsWith(QLatin1Char('y'), Qt::CaseInsensitive));
        } else if (line == QLatin1String("card out")) {
            responder.removeStorage();
        } else if (line == QLatin1String("card in")) {
            responder.insertStorage();
        } else if (line.startsWith(QLatin1String("delete "))) {
            const QString path = line.mid(7).trimmed();
            if (responder.removeFile(path) == 0)
                std::fprintf(stderr, "No file %s on the camera.\n", qPrintable(path));
        } else if (!line.isEmpty()) {
            std::fprintf(stderr, "Type \"card out\", \"card in\" or \"delete PATH\".\n");
        }
    });
    if (parser.isSet(dropAfterSeconds)) {
        QTimer::singleShot(int(parser.value(dropAfterSeconds).toDouble() * 1000), &responder, [&] { responder.dropConnections(); });
    }
    return app.exec();
}
