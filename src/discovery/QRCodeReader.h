#pragma once

#include "discovery/CameraQRDecoding.h"
#include "discovery/QRSymbolScanner.h"

#include <chrono>
#include <functional>
#include <optional>

namespace vornakel {

// Reads camera Wi-Fi details from video frames: at most one frame every 0.1 s goes to the scanner, and each
// QR symbol's text is tried with the Sony, Olympus and Panasonic decoders in that order.
class QRCodeReader {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The preview runs at up to 20 frames a second; a code held up to the webcam stays in view far longer than
    // a tenth of a second, so scanning every other frame finds it as soon, at half the processor time.
    static constexpr std::chrono::milliseconds kMinimumFrameInterval{100};

    explicit QRCodeReader(const CameraQRDecoding& decoding = CameraQRDecoding::shared(), Clock clock = {});

    // The details of the first symbol in the frame that holds a camera's Wi-Fi code; none when the frame is
    // skipped by the throttle or holds no such code.
    std::optional<CameraWiFiDetails> readFrame(const GreyFrame& frame);
    // Whether the last frame offered was handed to the scanner.
    bool lastFrameWasScanned() const { return m_lastFrameWasScanned; }
    // Forgets the last scan time, so the next frame is scanned (a camera restart).
    void reset() { m_lastScan.reset(); }

    // The decoders over a list of symbol texts, first success wins.
    static std::optional<CameraWiFiDetails> detailsFromSymbols(const std::vector<QByteArray>& symbols,
                                                               const CameraQRDecoding& decoding);
    // Whether one symbol holds a camera's Wi-Fi code: what the scanner looks for.
    static QRSymbolScanner::Wanted cameraCode(const CameraQRDecoding& decoding);

private:
    const CameraQRDecoding& m_decoding;
    Clock m_clock;
    QRSymbolScanner m_scanner;
    std::optional<std::chrono::steady_clock::time_point> m_lastScan;
    bool m_lastFrameWasScanned = false;
};

} // namespace vornakel
