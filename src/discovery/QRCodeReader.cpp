#include "discovery/QRCodeReader.h"

namespace vornakel {

QRCodeReader::QRCodeReader(const CameraQRDecoding& decoding, Clock clock)
    : m_decoding(decoding), m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

std::optional<CameraWiFiDetails> QRCodeReader::readFrame(const GreyFrame& frame)
{
    m_lastFrameWasScanned = false;
    if (!frame.isValid())
        return std::nullopt;
    const auto now = m_clock();
    if (m_lastScan && now - *m_lastScan < kMinimumFrameInterval)
        return std::nullopt;
    m_lastScan = now;
    m_lastFrameWasScanned = true;
    return detailsFromSymbols(m_scanner.scan(frame, cameraCode(m_decoding)), m_decoding);
}

QRSymbolScanner::Wanted QRCodeReader::cameraCode(const CameraQRDecoding& decoding)
{
    return [&decoding](const QByteArray& data) { return detailsFromSymbols({data}, decoding).has_value(); };
}

std::optional<CameraWiFiDetails> QRCodeReader::detailsFromSymbols(const std::vector<QByteArray>& symbols,
                                                                  const CameraQRDecoding& decoding)
{
    for (const QByteArray& data : symbols) {
        const auto text = symbolText(data);
        if (!text)
            continue;
        if (auto details = decoding.decode(*text))
            return details;
    }
    return std::nullopt;
}

} // namespace vornakel
