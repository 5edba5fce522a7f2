// Reads camera QR codes in synthetic 1280×720 webcam frames (noise, small modules, blur, tilt) at each scanning
// scale and in the reader's order, and prints, per condition, how many frames were read and the median time per
// frame, then the processor time a second of open preview costs.
#include "discovery/QRCodeReader.h"
#include "discovery/QRSymbolScanner.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <qrencode.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using namespace vornakel;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
const char* const kPayload = "W01:S:Xy7Q;C:VX-7M3;P:Pa55w0rd;";

QImage codeImage(double pixelsPerModule)
{
    QRcode* code = QRcode_encodeString(kPayload, 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    const int quiet = 4;
    const int modules = code->width + 2 * quiet;
    const int size = int(std::ceil(modules * pixelsPerModule));
    QImage image(size, size, QImage::Format_Grayscale8);
    image.fill(230);
    QPainter painter(&image);
    // Modules drawn at a fractional size blend into their neighbours at the edges, as a camera sees them.
    painter.setRenderHint(QPainter::Antialiasing);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect(QRectF((x + quiet) * pixelsPerModule, (y + quiet) * pixelsPerModule, pixelsPerModule,
                                        pixelsPerModule),
                                 QColor(30, 30, 30));
    painter.end();
    QRcode_free(code);
    return image;
}

// Box blur repeated three times (close to a Gaussian of the given radius).
void blur(QImage& image, int radius)
{
    if (radius <= 0)
        return;
    QImage source = image.convertToFormat(QImage::Format_Grayscale8);
    for (int pass = 0; pass < 3; ++pass)
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            QImage target(source.size(), QImage::Format_Grayscale8);
            for (int y = 0; y < source.height(); ++y)
                for (int x = 0; x < source.width(); ++x) {
                    int sum = 0, count = 0;
                    for (int d = -radius; d <= radius; ++d) {
                        const int sx = horizontal ? x + d : x;
                        const int sy = horizontal ? y : y + d;
                        if (sx < 0 || sy < 0 || sx >= source.width() || sy >= source.height())
                            continue;
                        sum += source.constScanLine(sy)[sx];
                        ++count;
                    }
                    target.scanLine(y)[x] = uchar(sum / count);
                }
            source = target;
        }
    image = source;
}

struct Condition {
    const char* name;
    double pixelsPerModule;
    int blurRadius;
    double tiltDegrees; // turned about the vertical axis, as a code held at an angle
    double rotationDegrees;
};

// A dim, noisy webcam picture with the code placed in the middle.
GreyFrame frameFor(const Condition& c, unsigned seed)
{
    QImage frame(kWidth, kHeight, QImage::Format_Grayscale8);
    frame.fill(140);
    QImage code = codeImage(c.pixelsPerModule);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QTransform transform;
    transform.translate(kWidth / 2.0, kHeight / 2.0);
    transform.rotate(c.rotationDegrees);
    transform.rotate(c.tiltDegrees, Qt::YAxis);
    transform.translate(-code.width() / 2.0, -code.height() / 2.0);
    painter.setTransform(transform);
    painter.drawImage(0, 0, code);
    painter.end();
    blur(frame, c.blurRadius);
    GreyFrame grey{kWidth, kHeight, QByteArray(kWidth * kHeight, '\0')};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < kHeight; ++y) {
        const uchar* line = frame.constScanLine(y);
        for (int x = 0; x < kWidth; ++x)
            grey.pixels[y * kWidth + x] = char(std::clamp(line[x] + noise(random), 0, 255));
    }
    return grey;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const Condition conditions[] = {
        {"sharp, 8 px/module", 8, 0, 0, 0},
        {"sharp, 4 px/module", 4, 0, 0, 0},
        {"sharp, 3 px/module", 3, 0, 0, 0},
        {"sharp, 2.5 px/module", 2.5, 0, 0, 0},
        {"sharp, 2 px/module", 2, 0, 0, 0},
        {"blurred r=2, 8 px/module", 8, 2, 0, 0},
        {"blurred r=4, 12 px/module", 12, 4, 0, 0},
        {"blurred r=6, 16 px/module", 16, 6, 0, 0},
        {"blurred r=2, 4 px/module", 4, 2, 0, 0},
        {"tilted 40°, 6 px/module", 6, 0, 40, 0},
        {"tilted 55°, 8 px/module", 8, 0, 55, 0},
        {"rotated 30°, 4 px/module", 4, 0, 0, 30},
        {"no code", 0, 0, 0, 0},
    };
    const auto wanted = QRCodeReader::cameraCode(CameraQRDecoding::shared());
    // One way of scanning a frame: the symbols found, with the time it took.
    using Scan = std::function<std::vector<QByteArray>(const GreyFrame&)>;
    QRSymbolScanner full(QRSymbolScanner::Scales::full);
    QRSymbolScanner halved(QRSymbolScanner::Scales::reduced);
    QRSymbolScanner halvedFirst(QRSymbolScanner::Scales::both);
    struct Variant {
        const char* name;
        Scan scan;
        // Frames the preview hands to the scanner each second.
        int scansPerSecond;
        double totalMilliseconds = 0;
        int totalFrames = 0;
    } variants[] = {
        {"full", [&](const GreyFrame& f) { return full.scan(f); }, 0},
        {"halved", [&](const GreyFrame& f) { return halved.scan(f); }, 0},
        // What the reader did before: every frame at both scales, 20 frames a second.
        {"both always (before)",
         [&](const GreyFrame& f) {
             auto symbols = full.scan(f);
             for (QByteArray& data : halved.scan(f))
                 symbols.push_back(std::move(data));
             return symbols;
         },
         20},
        {"halved first (as scanned)", [&](const GreyFrame& f) { return halvedFirst.scan(f, wanted); },
         int(std::chrono::milliseconds(1000) / QRCodeReader::kMinimumFrameInterval)},
    };

    std::printf("%-28s", "condition");
    for (const Variant& v : variants)
        std::printf(" | %-25s", v.name);
    std::printf("\n");
    for (const Condition& c : conditions) {
        std::vector<GreyFrame> samples;
        for (int i = 0; i < frames; ++i) {
            if (c.pixelsPerModule == 0) {
                GreyFrame grey{kWidth, kHeight, QByteArray(kWidth * kHeight, '\0')};
                std::mt19937 random{unsigned(i)};
                std::uniform_int_distribution<int> noise(-12, 12);
                for (char& p : grey.pixels)
                    p = char(std::clamp(140 + noise(random), 0, 255));
                samples.push_back(grey);
            } else {
                samples.push_back(frameFor(c, unsigned(i)));
            }
        }
        std::printf("%-28s", c.name);
        for (Variant& v : variants) {
            int read = 0;
            std::vector<double> times;
            for (const GreyFrame& frame : samples) {
                const auto start = std::chrono::steady_clock::now();
                const auto symbols = v.scan(frame);
                times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
                if (QRCodeReader::detailsFromSymbols(symbols, CameraQRDecoding::shared()))
                    ++read;
            }
            for (double t : times)
                v.totalMilliseconds += t;
            v.totalFrames += int(times.size());
            std::sort(times.begin(), times.end());
            char cell[64];
            std::snprintf(cell, sizeof cell, "%2d/%-2d read, %6.2f ms", read, frames, times[times.size() / 2]);
            std::printf(" | %-25s", cell);
        }
        std::printf("\n");
    }
    std::printf("%d frames per condition (each with its own sensor noise); times are medians per frame.\n", frames);
    // The processor time one second of open preview costs: frames scanned each second times the mean scan time,
    // over every condition above (most frames a user's webcam sees hold no code).
    for (const Variant& v : variants) {
        if (v.scansPerSecond == 0 || v.totalFrames == 0)
            continue;
        const double mean = v.totalMilliseconds / v.totalFrames;
        std::printf("%-26s %2d scans/s x %6.2f ms mean = %5.1f ms of CPU per second of preview\n", v.name,
                    v.scansPerSecond, mean, v.scansPerSecond * mean);
    }
    return 0;
}
