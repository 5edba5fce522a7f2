// Times zbar on 1280×720 grey frames, one holding a camera's QR code and one without, and prints the medians.
#include "discovery/QRCodeReader.h"
#include "discovery/QRSymbolScanner.h"

#include <QByteArray>
#include <QCoreApplication>

#include <qrencode.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

using namespace vornakel;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// A mid-grey frame with mild noise, like a dim webcam picture.
GreyFrame noisyFrame()
{
    GreyFrame frame{kWidth, kHeight, QByteArray(kWidth * kHeight, '\0')};
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (char& pixel : frame.pixels)
        pixel = static_cast<char>(std::clamp(140 + noise(random), 0, 255));
    return frame;
}

GreyFrame frameWithCode(const char* payload, int scale)
{
    GreyFrame frame = noisyFrame();
    QRcode* code = QRcode_encodeString(payload, 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    const int quiet = 4;
    const int size = (code->width + 2 * quiet) * scale;
    const int left = (kWidth - size) / 2;
    const int top = (kHeight - size) / 2;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int mx = x / scale - quiet;
            const int my = y / scale - quiet;
            const bool dark = mx >= 0 && my >= 0 && mx < code->width && my < code->width && (code->data[my * code->width + mx] & 1);
            frame.pixels[(top + y) * kWidth + left + x] = static_cast<char>(dark ? 30 : 230);
        }
    }
    QRcode_free(code);
    return frame;
}

double medianMilliseconds(QRSymbolScanner& scanner, const GreyFrame& frame, int runs, size_t* symbols)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        *symbols = scanner.scan(frame).size();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const GreyFrame without = noisyFrame();
    struct Variant {
        const char* name;
        bool reduce;
    } variants[] = {{"as scanned (reduced to 640x360)", true}, {"full size, for comparison", false}};
    for (const Variant& variant : variants) {
        QRSymbolScanner scanner(variant.reduce);
        std::printf("%s:\n", variant.name);
        for (int scale : {8, 3}) {
            const GreyFrame withCode = frameWithCode("W01:S:Xy7Q;C:ILCE-7M3;P:Pa55w0rd;", scale);
            size_t found = 0;
            const double ms = medianMilliseconds(scanner, withCode, runs, &found);
            std::printf("  1280x720 frame with a QR code (%d px/module): median %6.2f ms, %zu symbol(s)\n", scale, ms, found);
        }
        size_t found = 0;
        const double ms = medianMilliseconds(scanner, without, runs, &found);
        std::printf("  1280x720 frame without a QR code:            median %6.2f ms, %zu symbol(s)\n", ms, found);
    }
    std::printf("%d runs each; target: under 15 ms per frame.\n", runs);
    return 0;
}
