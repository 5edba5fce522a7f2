#pragma once

// Writes a folder that looks like a camera's memory card: DCIM/100VKLCM, 101VKLCM … holding JPEG (or HEIF)
// shots with EXIF and an embedded thumbnail, and for some shots a RAW file of the same base name: a
// TIFF-structured file with EXIF, a thumbnail and a larger JPEG preview, or for CR3 the same parts in ISO base
// media boxes. Everything follows from the seed, so two runs with the same options give the same bytes.

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

namespace vornakel::tools {

struct SampleCameraSpec {
    QString outputFolder;            // the camera's root; files go under DCIM/100VKLCM, 101VKLCM …
    int shots = 120;                 // number of shots (0 gives an empty camera)
    int days = 6;                    // spread over this many consecutive days
    quint32 seed = 1;                // everything deterministic from the seed
    double rawShare = 0.3;           // share of shots that also get a RAW file of the same base name
    double undatedShare = 0.0;       // share of shots written without any EXIF date
    int shotsPerFolder = 100;        // like cameras, a new DCIM folder after this many shots
    QSize imageSize{320, 240};       // small for tests; `fullSize` gives 6000x4000 JPEGs for benchmarks
    bool fullSize = false;
    QDateTime firstDay;              // default: 2026-03-01 09:00 local time; dates are written in its zone
    QString make = QStringLiteral("Vornakel"), model = QStringLiteral("VK-1");
    QStringList rawExtensions;       // RAW types used in turn; empty: sampleRawExtensions()
    QString imageExtension = QStringLiteral("JPG"); // the processed image: JPG, or HIF/HEIC/HEIF for HEIF files
};

// What was written for one shot, so that tests can compare what the app shows with what the camera holds.
struct SampleShot {
    int index = 0;                   // 0-based, in capture order
    QString baseName;                // IMG_0001
    QString jpegPath;                // absolute; the processed image, a HEIF file when so asked
    QString rawPath;                 // absolute; empty when the shot has no RAW file
    QDateTime captureTime;           // also the files' modification time
    bool dated = true;               // false: the files carry no EXIF date at all
    int orientation = 1;             // EXIF orientation: 1, 6 or 8
    int iso = 0;
    double fNumber = 0;
    double exposureTime = 0;         // seconds
    double focalLength = 0;          // millimetres
    QSize pixelSize;                 // the stored JPEG's pixel size (before orientation)
};

struct SampleCameraResult {
    QStringList files;               // absolute paths in capture order, each shot's JPEG before its RAW
    QList<SampleShot> shots;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// The RAW extensions, in the order in which RAW shots use them by default.
QStringList sampleRawExtensions();
// Whether an extension (any case) names a HEIF file, which the generator writes through libheif.
bool isHeifExtension(const QString& extension);

SampleCameraResult generateSampleCamera(const SampleCameraSpec& spec);

} // namespace vornakel::tools
