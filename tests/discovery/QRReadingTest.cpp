#include "discovery/QRCodeReader.h"
#include "discovery/QRFrameReader.h"
#include "platform/webcam/ImageFrameSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>

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
    source.feed(frameWith({qrCodeImage("MDL:DC-G9\r\nSSID:G9-4F2A\r\nPW:pass word\r\n")}));
    // The scan runs off the main thread; the result comes back through the event loop.
    ASSERT_TRUE(test::runUntil([&] { return !scanned.empty(); }));
    ASSERT_EQ(scanned.size(), 1u);
    EXPECT_EQ(scanned[0], (CameraWiFiDetails{CameraWiFiType::Panasonic, QStringLiteral("G9-4F2A"), QStringLiteral("pass word")}));
    EXPECT_EQ(frames, 1);
}

TEST(QRReading, NonCameraCodesArePassedOverAndTheCameraCodeIsFoundInEitherOrder)
{
    FakeClock clock;
    QRCodeReader reader(CameraQRDecoding::shared(), clock.function());
    const QImage web = qrCodeImage("https://example.com/W01:S:a;C:b;P:c");
    const QImage sony = qrCodeImage("W01:S:Xy7;C:ILCE-7M3;P:Pa55w0rd");
    const CameraWiFiDetails expected{CameraWiFiType::Sony, QStringLiteral("DIRECT-Xy7:ILCE-7M3"), QStringLiteral("Pa55w0rd")};

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
    clock.now += 49ms;
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
