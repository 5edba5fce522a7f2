#include "discovery/QRCodeReader.h"
#include "discovery/QRFrameReader.h"
#include "discovery/QRSymbolScanner.h"
#include "platform/webcam/ImageFrameSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <random>
#include <thread>

#include <qrencode.h>

using namespace vornakel;
using namespace std::chrono_literals;

namespace {

// A QR code of the bytes drawn at `scale` pixels per module with a quiet zone, as libqrencode makes it.
QImage qrCodeImage(const QByteArray& data, int scale = 4)
{
    QRcode* code = QRcode_encodeData(static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.constData()), 0, QR_ECLEVEL_M);
    if (!code)
        return {};
    const int quiet = 4;
    const int size = (code->width + 2 * quiet) * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + quiet) * scale, (y + quiet) * scale, scale, scale, Qt::black);
        }
    }
    QRcode_free(code);
    return image;
}

// A grey camera-sized picture with the codes placed side by side.
QImage frameWith(const std::vector<QImage>& codes, QSize size = {640, 480})
{
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(QColor(200, 200, 200));
    QPainter painter(&frame);
    int x = 20;
    for (const QImage& code : codes) {
        painter.drawImage(x, 40, code);
        x += code.width() + 20;
    }
    return frame;
}

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    QRCodeReader::Clock function()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(QRReading, GeneratedCodeThroughTheFrameSourceGivesTheDetails)
{
    ImageFrameSource source;
    QRFrameReader reader(&source);
    std::vector<CameraWiFiDetails> scanned;
    int frames = 0;
    QObject::connect(&reader, &QRFrameReader::wifiDetailsScanned, [&](const CameraWiFiDetails& d) { scanned.push_back(d); });
    QObject::connect(&reader, &QRFrameReader::frameArrived, [&](const QImage&) { ++frames; });

    ASSERT_TRUE(source.start());
    source.feed(frameWith({qrCodeImage("MDL:QX-40\r\nSSID:QX40-4F2A\r\nPW:pass word\r\n")}));
    // The scan runs off the main thread; the result comes back through the event loop.
    ASSERT_TRUE(test::runUntil([&] { return !scanned.empty(); }));
    ASSERT_EQ(scanned.size(), 1u);
    EXPECT_EQ(scanned[0], (CameraWiFiDetails{CameraWiFiType::Panasonic, QStringLiteral("QX40-4F2A"), QStringLiteral("pass word")}));
    EXPECT_EQ(frames, 1);
}

TEST(QRReading, NonCameraCodesArePassedOverAndTheCameraCodeIsFoundInEitherOrder)
{
    FakeClock clock;
    QRCodeReader reader(CameraQRDecoding::shared(), clock.function());
    const QImage web = qrCodeImage("https://example.com/W01:S:a;C:b;P:c");
    const QImage sony = qrCodeImage("W01:S:Xy7;C:VX-7M3;P:Pa55w0rd");
    const CameraWiFiDetails expected{CameraWiFiType::Sony, QStringLiteral("DIRECT-Xy7:VX-7M3"), QStringLiteral("Pa55w0rd")};

    EXPECT_EQ(reader.readFrame(greyFrameFromImage(frameWith({web}))), std::nullopt);
    EXPECT_TRUE(reader.lastFrameWasScanned());
    clock.now += 100ms;
    EXPECT_EQ(reader.readFrame(greyFrameFromImage(frameWith({web, sony}, {1280, 720}))), expected);
    clock.now += 100ms;
    EXPECT_EQ(reader.readFrame(greyFrameFromImage(frameWith({sony, web}, {1280, 720}))), expected);
}

TEST(QRReading, FramesCloserThanTheIntervalAreNotScanned)
{
    FakeClock clock;
    QRCodeReader reader(CameraQRDecoding::shared(), clock.function());
    const GreyFrame frame = greyFrameFromImage(frameWith({qrCodeImage("OIS1,E5ZJ,*GAF")}));
    ASSERT_TRUE(reader.readFrame(frame));
    clock.now += QRCodeReader::kMinimumFrameInterval - 1ms;
    EXPECT_FALSE(reader.readFrame(frame));
    EXPECT_FALSE(reader.lastFrameWasScanned());
    clock.now += 1ms;
    EXPECT_TRUE(reader.readFrame(frame));
    EXPECT_TRUE(reader.lastFrameWasScanned());
}

TEST(QRReading, SymbolsThatAreNotTextAreIgnored)
{
    const QByteArray valid("MDL:x\nSSID:net\nPW:pw");
    struct Case {
        const char* name;
        QByteArray data;
        bool accepted;
    } cases[] = {
        {"valid", valid, true},
        {"invalid UTF-8", QByteArray("MDL:x\nSSID:n\xff\xfet\nPW:pw"), false},
        {"overlong encoding", QByteArray("MDL:x\nSSID:\xc0\xafnet\nPW:pw"), false},
        {"NUL inside", QByteArray("MDL:x\nSSID:n\0et\nPW:pw", 21), false},
        {"escape character", QByteArray("MDL:x\nSSID:n\x1b[2Jet\nPW:pw"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(symbolText(c.data).has_value(), c.accepted);
        // A binary symbol before a camera code does not hide it.
        const auto details = QRCodeReader::detailsFromSymbols({c.data, QByteArray("W01:S:s;C:c;P:p")}, CameraQRDecoding::shared());
        ASSERT_TRUE(details);
        EXPECT_EQ(details->type, c.accepted ? CameraWiFiType::Panasonic : CameraWiFiType::Sony);
    }
}

TEST(QRReading, StoppedOrMissingSourceDeliversNothing)
{
    ImageFrameSource source;
    QRFrameReader reader(&source);
    int scanned = 0;
    QObject::connect(&reader, &QRFrameReader::wifiDetailsScanned, [&] { ++scanned; });
    source.setDeviceAvailable(false);
    EXPECT_FALSE(source.start());
    source.feed(frameWith({qrCodeImage("W01:S:s;C:c;P:p")}));
    source.setDeviceAvailable(true);
    ASSERT_TRUE(source.start());
    source.feed(QImage());
    source.stop();
    source.feed(frameWith({qrCodeImage("W01:S:s;C:c;P:p")}));
    EXPECT_EQ(scanned, 0);
}

namespace {

// A noisy webcam-sized grey frame with a code of `pixelsPerModule`, blurred by a box filter of `blurRadius` run three
// times (about a Gaussian), the way an out-of-focus camera sees it.
GreyFrame webcamFrame(const QByteArray& payload, double pixelsPerModule, int blurRadius)
{
    QRcode* code = QRcode_encodeData(int(payload.size()), reinterpret_cast<const unsigned char*>(payload.constData()), 0, QR_ECLEVEL_M);
    const int quiet = 4;
    QImage frame(1280, 720, QImage::Format_Grayscale8);
    frame.fill(140);
    {
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        const double size = (code->width + 2 * quiet) * pixelsPerModule;
        const QPointF origin((1280 - size) / 2, (720 - size) / 2);
        painter.fillRect(QRectF(origin, QSizeF(size, size)), QColor(230, 230, 230));
        for (int y = 0; y < code->width; ++y)
            for (int x = 0; x < code->width; ++x)
                if (code->data[y * code->width + x] & 1)
                    painter.fillRect(QRectF(origin.x() + (x + quiet) * pixelsPerModule, origin.y() + (y + quiet) * pixelsPerModule,
                                            pixelsPerModule, pixelsPerModule),
                                     QColor(30, 30, 30));
    }
    QRcode_free(code);
    GreyFrame grey = greyFrameFromImage(frame.convertToFormat(QImage::Format_RGB32));
    auto* pixels = reinterpret_cast<uchar*>(grey.pixels.data());
    std::vector<uchar> line(std::max(grey.width, grey.height));
    for (int pass = 0; pass < 3 * (blurRadius > 0 ? 1 : 0); ++pass) {
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            const int lines = horizontal ? grey.height : grey.width;
            const int length = horizontal ? grey.width : grey.height;
            for (int l = 0; l < lines; ++l) {
                const auto at = [&](int i) -> uchar& { return horizontal ? pixels[l * grey.width + i] : pixels[i * grey.width + l]; };
                for (int i = 0; i < length; ++i)
                    line[i] = at(i);
                for (int i = 0; i < length; ++i) {
                    int sum = 0, count = 0;
                    for (int d = std::max(0, i - blurRadius); d <= std::min(length - 1, i + blurRadius); ++d, ++count)
                        sum += line[d];
                    at(i) = uchar(sum / count);
                }
            }
        }
    }
    // A dim webcam's sensor noise.
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (char& pixel : grey.pixels)
        pixel = char(std::clamp(int(uchar(pixel)) + noise(random), 0, 255));
    return grey;
}

} // namespace

TEST(QRReading, UTF8TextWithoutACharacterSetMarkerComesBackAsWritten)
{
    for (const QString& text : {QStringLiteral("Kamera-ä"), QStringLiteral("カメラ"), QStringLiteral("Café ☕ 相机"),
                                QStringLiteral("plain-ASCII")}) {
        SCOPED_TRACE(text.toStdString());
        const QByteArray payload = (QStringLiteral("MDL:QX-40\r\nSSID:") + text + QStringLiteral("\r\nPW:") + text
                                    + QStringLiteral("\r\n")).toUtf8();
        QRSymbolScanner scanner;
        const auto symbols = scanner.scan(greyFrameFromImage(frameWith({qrCodeImage(payload)})));
        ASSERT_EQ(symbols.size(), 1u);
        EXPECT_EQ(symbols[0], payload) << "the code's own bytes";
        const auto details = QRCodeReader::detailsFromSymbols(symbols, CameraQRDecoding::shared());
        ASSERT_TRUE(details);
        EXPECT_EQ(details->ssid, text);
        EXPECT_EQ(details->password, text);
    }
}

TEST(QRReading, CodesThatOnlyOneScaleReadsAreRead)
{
    const QByteArray payload("W01:S:Xy7Q;C:VX-7M3;P:Pa55w0rd;");
    const struct {
        const char* name;
        double pixelsPerModule;
        int blurRadius;
        bool halvedReads;
        bool fullReads;
    } cases[] = {
        // Small and sharp: averaging blocks of pixels merges the modules.
        {"2.5 px per module, sharp", 2.5, 0, false, true},
        // Large and out of focus: only the calmer halved picture gives clean edges.
        {"12 px per module, blurred", 12, 4, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const GreyFrame frame = webcamFrame(payload, c.pixelsPerModule, c.blurRadius);
        QRSymbolScanner halved(QRSymbolScanner::Scales::reduced);
        QRSymbolScanner full(QRSymbolScanner::Scales::full);
        QRSymbolScanner both;
        EXPECT_EQ(!halved.scan(frame).empty(), c.halvedReads) << "the case shows what one scale misses";
        EXPECT_EQ(!full.scan(frame).empty(), c.fullReads);
        const auto symbols = both.scan(frame);
        ASSERT_EQ(symbols.size(), 1u) << "read once, by whichever scale can";
        EXPECT_EQ(symbols[0], payload);
    }
}

TEST(QRReading, ACameraCodeOnlyTheFullFrameReadsIsFoundBesideAnotherCodeTheHalvedFrameReads)
{
    // The halved frame is scanned first; a code that is no camera's must not spare the full-size scan.
    const QImage web = qrCodeImage("https://example.com/photos", 8);
    const QImage sony = qrCodeImage("W01:S:Xy7;C:VX-7M3;P:Pa55w0rd", 2);
    const GreyFrame frame = greyFrameFromImage(frameWith({web, sony}, {1280, 720}));
    QRSymbolScanner halved(QRSymbolScanner::Scales::reduced);
    ASSERT_EQ(halved.scan(frame), std::vector<QByteArray>{QByteArray("https://example.com/photos")})
        << "the case needs a camera code that only the full frame reads";
    QRCodeReader reader;
    const auto details = reader.readFrame(frame);
    ASSERT_TRUE(details);
    EXPECT_EQ(details->password, QStringLiteral("Pa55w0rd"));
}

TEST(QRReading, WhileAScanRunsOnlyTheNewestFrameWaits)
{
    ImageFrameSource source;
    FakeClock clock;
    // The scan is held until every frame has come, as when frames come faster than scans end.
    std::function<void()> heldScan;
    QRFrameReader reader(&source, clock.function(), CameraQRDecoding::shared(),
                         [&](std::function<void()> scan) { heldScan = std::move(scan); });
    std::vector<CameraWiFiDetails> scanned;
    QObject::connect(&reader, &QRFrameReader::wifiDetailsScanned, [&](const CameraWiFiDetails& d) { scanned.push_back(d); });
    ASSERT_TRUE(source.start());
    const QImage empty = frameWith({}, {1280, 720});
    const int frames = 30;
    for (int i = 0; i < frames - 1; ++i) {
        source.feed(empty);
        clock.now += QRCodeReader::kMinimumFrameInterval;
    }
    source.feed(frameWith({qrCodeImage("W01:S:s;C:c;P:p")}, {1280, 720}));
    ASSERT_TRUE(heldScan) << "one scan was started";
    std::thread worker(heldScan);
    worker.join();
    // Only the newest frame was scanned, and it is never the one dropped.
    EXPECT_EQ(reader.scannedFrameCount(), 1);
    EXPECT_EQ(reader.droppedFrameCount(), frames - 1);
    ASSERT_TRUE(test::runUntil([&] { return !scanned.empty(); }));
    EXPECT_EQ(scanned[0].password, QStringLiteral("p"));
}
