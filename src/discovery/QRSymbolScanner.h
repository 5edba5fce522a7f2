#pragma once

#include "platform/webcam/GreyFrame.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zbar {
struct zbar_image_scanner_s;
}

namespace vornakel {

// Finds QR codes (and only QR codes) in 8-bit grey frames with zbar. A symbol's data are the code's own bytes,
// never converted by zbar's guess at their character set.
class QRSymbolScanner {
public:
    // Frames wider than this are also scanned reduced by a whole factor (averaging blocks of pixels). Each scale
    // reads codes the other misses: the full frame keeps small codes (under about 3.5 pixels per module) that
    // averaging blurs away, the reduced frame reads large blurred codes and calms sensor noise.
    static constexpr int kReducedWidth = 640;

    // `both` scans the reduced frame first, at a quarter of the cost, and the full frame only when the reduced
    // one held no wanted code: a code either scale reads is read, at the reduced scan's cost whenever that suffices.
    enum class Scales { full, reduced, both };
    // Whether a symbol's data are what the caller looks for; with `both`, such a symbol in the reduced frame
    // spares the full-size scan. Without one, any symbol does.
    using Wanted = std::function<bool(const QByteArray&)>;

    explicit QRSymbolScanner(Scales scales = Scales::both);
    ~QRSymbolScanner();
    QRSymbolScanner(const QRSymbolScanner&) = delete;
    QRSymbolScanner& operator=(const QRSymbolScanner&) = delete;

    // The data of each QR symbol in the frame, each distinct symbol once; none for an invalid frame.
    std::vector<QByteArray> scan(const GreyFrame& frame, const Wanted& wanted = {});

private:
    void scanInto(const GreyFrame& frame, std::vector<QByteArray>& symbols);

    zbar::zbar_image_scanner_s* m_scanner;
    Scales m_scales;
};

// The frame with each factor × factor block of pixels averaged into one.
GreyFrame reducedFrame(const GreyFrame& frame, int factor);

// A symbol's data as text; none unless it is valid UTF-8 free of control characters other than tab, line
// feed and carriage return, since a code holding binary data is no camera's Wi-Fi code.
std::optional<QString> symbolText(const QByteArray& data);

} // namespace vornakel
