// vkl-sample-camera: writes a folder that the simulated camera serves as a camera's memory card.
#include "samplecamera/CameraQRCodeImage.h"
#include "samplecamera/HeifFileBuilder.h"
#include "samplecamera/SampleCameraGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QSettings>
#include <QSet>
#include <QTextStream>

#include <cstdio>

using vornakel::tools::SampleCameraSpec;

namespace {

bool parseInt(const QString& text, int minimum, int* value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < minimum)
        return false;
    *value = parsed;
    return true;
}

bool parseShare(const QString& text, double* value)
{
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !(parsed >= 0.0 && parsed <= 1.0))
        return false;
    *value = parsed;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing on a QImage and encoding JPEG need no display, so a core application is enough.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vkl-sample-camera"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a sample camera: DCIM folders of JPEG shots with EXIF and thumbnails, some with RAW files beside them."));
    parser.addHelpOption();
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The camera's root folder."), QStringLiteral("DIR"));
    const QCommandLineOption shots(QStringLiteral("shots"), QStringLiteral("Number of shots (default 120)."), QStringLiteral("N"));
    const QCommandLineOption days(QStringLiteral("days"), QStringLiteral("Number of days (default 6)."), QStringLiteral("D"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed (default 1)."), QStringLiteral("S"));
    const QCommandLineOption rawShare(QStringLiteral("raw-share"), QStringLiteral("Share of shots with a RAW file (default 0.3)."),
                                      QStringLiteral("F"));
    const QCommandLineOption undatedShare(QStringLiteral("undated-share"),
                                          QStringLiteral("Share of shots without EXIF dates (default 0)."), QStringLiteral("F"));
    const QCommandLineOption perFolder(QStringLiteral("per-folder"), QStringLiteral("Shots per DCIM folder (default 100)."),
                                       QStringLiteral("N"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Image size (default 320x240)."), QStringLiteral("WxH"));
    const QCommandLineOption fullSize(QStringLiteral("full-size"), QStringLiteral("6000x4000 images, as a camera writes them."));
    const QCommandLineOption rawTypes(QStringLiteral("raw-types"),
                                      QStringLiteral("RAW types used in turn, comma-separated (default CR2,ARW,NEF,ORF,RW2; "
                                                     "CR3 is written in ISO base media boxes)."),
                                      QStringLiteral("LIST"));
    const QCommandLineOption imageType(QStringLiteral("image-type"),
                                       QStringLiteral("The processed image: JPG (default), or HIF, HEIC, HEIF for HEIF files."),
                                       QStringLiteral("TYPE"));
    const QCommandLineOption wifi(QStringLiteral("wifi"),
                                  QStringLiteral("The camera's own Wi-Fi network, written to its camera.ini: it is found only "
                                                 "once that network is joined."),
                                  QStringLiteral("SSID"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("The password of that network."),
                                      QStringLiteral("PW"));
    const QCommandLineOption qrCode(QStringLiteral("qr-code"),
                                    QStringLiteral("Also write the camera's Wi-Fi QR code, as a webcam would see it, to this PNG "
                                                   "file (needs --wifi)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption overlayBomb(QStringLiteral("overlay-bomb"),
                                         QStringLiteral("Only write a small HEIF file whose overlay canvas is far larger "
                                                        "than the size it claims (a decoder's test input) to FILE."),
                                         QStringLiteral("FILE"));
    parser.addOptions({output, shots, days, seed, rawShare, undatedShare, perFolder, size, fullSize, rawTypes, imageType,
                       wifi, password, qrCode, overlayBomb});
    parser.process(app);

    if (parser.isSet(overlayBomb)) {
        const QByteArray bytes = vornakel::tools::overlayCanvasBomb();
        QSaveFile file(parser.value(overlayBomb));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            err << "vkl-sample-camera: could not write " << parser.value(overlayBomb) << Qt::endl;
            return 1;
        }
        return 0;
    }

    if (!parser.positionalArguments().isEmpty()) {
        err << "Unexpected argument: " << parser.positionalArguments().constFirst() << Qt::endl;
        return 2;
    }
    SampleCameraSpec spec;
    spec.outputFolder = parser.value(output);
    if (spec.outputFolder.isEmpty()) {
        err << "--output DIR is required." << Qt::endl;
        return 2;
    }
    bool valid = true;
    if (parser.isSet(shots))
        valid &= parseInt(parser.value(shots), 0, &spec.shots);
    if (parser.isSet(days))
        valid &= parseInt(parser.value(days), 1, &spec.days);
    if (parser.isSet(perFolder))
        valid &= parseInt(parser.value(perFolder), 1, &spec.shotsPerFolder);
    if (parser.isSet(seed)) {
        bool ok = false;
        spec.seed = parser.value(seed).toUInt(&ok);
        valid &= ok;
    }
    if (parser.isSet(rawShare))
        valid &= parseShare(parser.value(rawShare), &spec.rawShare);
    if (parser.isSet(undatedShare))
        valid &= parseShare(parser.value(undatedShare), &spec.undatedShare);
    if (parser.isSet(size)) {
        const QStringList parts = parser.value(size).split(QLatin1Char('x'));
        int width = 0, height = 0;
        valid &= parts.size() == 2 && parseInt(parts[0], 1, &width) && parseInt(parts[1], 1, &height);
        spec.imageSize = QSize(width, height);
    }
    spec.fullSize = parser.isSet(fullSize);
    if (parser.isSet(rawTypes))
        spec.rawExtensions = parser.value(rawTypes).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parser.isSet(imageType))
        spec.imageExtension = parser.value(imageType);
    valid &= !parser.isSet(qrCode) || !parser.value(wifi).isEmpty();
    if (!valid) {
        err << "Invalid option value; see --help." << Qt::endl;
        return 2;
    }

    const auto result = vornakel::tools::generateSampleCamera(spec);
    if (!result.ok()) {
        err << "vkl-sample-camera: " << result.error << Qt::endl;
        return 1;
    }
    if (parser.isSet(wifi)) {
        QSettings ini(QDir(spec.outputFolder).filePath(QStringLiteral("camera.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("ssid"), parser.value(wifi));
        ini.setValue(QStringLiteral("password"), parser.value(password));
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            err << "vkl-sample-camera: could not write camera.ini" << Qt::endl;
            return 1;
        }
    }
    if (parser.isSet(qrCode)) {
        const QImage code = vornakel::tools::cameraQRCodeImage(spec.model, parser.value(wifi), parser.value(password));
        const QString path = parser.value(qrCode);
        const QString temporary = path + QStringLiteral(".part.png");
        if (code.isNull() || !vornakel::tools::webcamFrameWithCode(code).save(temporary, "PNG")
            || (QFile::exists(path) && !QFile::remove(path)) || !QFile::rename(temporary, path)) {
            QFile::remove(temporary);
            err << "vkl-sample-camera: could not write the QR code to " << path << Qt::endl;
            return 1;
        }
        out << "QR code of the network " << parser.value(wifi) << " in " << path << "." << Qt::endl;
    }
    QSet<QDate> dates;
    int raws = 0, undated = 0;
    for (const auto& shot : result.shots) {
        dates.insert(shot.captureTime.date());
        raws += shot.rawPath.isEmpty() ? 0 : 1;
        undated += shot.dated ? 0 : 1;
    }
    out << "Sample camera in " << spec.outputFolder << ": " << result.shots.size() << " shots over " << dates.size()
        << " days, " << result.files.size() << " files (" << raws << " RAW, " << undated << " without date)";
    if (!result.shots.isEmpty()) {
        out << ", " << result.shots.constFirst().captureTime.toString(Qt::ISODate) << " to "
            << result.shots.constLast().captureTime.toString(Qt::ISODate);
    }
    out << "." << Qt::endl;
    return 0;
}
