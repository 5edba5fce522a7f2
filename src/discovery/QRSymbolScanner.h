#pragma once

#include "platform/webcam/GreyFrame.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace zbar {
struct zbar_image_scanner_s;
}

namespace vornakel {

// Finds QR codes (and only QR codes) in 8-bit grey frames with zbar.
class QRSymbolScanner {
public:
    // Frames wider than this are reduced by a whole factor (averaging blocks of pixels) before the scan: a
    // camera's code held up to the computer is large, and the averaging also calms sensor noise, which
    // otherwise makes zbar's line scanner several times slower.
    static constexpr int kReducedWidth = 640;

    explicit QRSymbolScanner(bool reduceLargeFrames = true);
    ~QRSymbolScanner();
    QRSymbolScanner(const QRSymbolScanner&) = delete;
    QRSymbolScanner& operator=(const QRSymbolScanner&) = delete;

    // The data of each QR symbol in the frame, in the scanner's order; none for an invalid frame.
    std::vector<QByteArray> scan(const GreyFrame& frame);

private:
    zbar::zbar_image_scanner_s* m_scanner;
    bool m_reduceLargeFrames;
};

// The frame with each factor × factor block of pixels averaged into one.
GreyFrame reducedFrame(const GreyFrame& frame, int factor);

// A symbol's data as text; none unless it is valid UTF-8 free of control characters other than tab, line
// feed and carriage return, since a code holding binary data is no camera's Wi-Fi code.
std::optional<QString> symbolText(const QByteArray& data);

} // namespace vornakel
