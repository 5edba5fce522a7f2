// Feeds arbitrary bytes, as a QR symbol's text, to the three camera payload decoders and the symbol filter.
#include "discovery/CameraQRDecoding.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto& decoding = vornakel::CameraQRDecoding::shared();
    const auto sony = decoding.decodeSony(text);
    const auto olympus = decoding.decodeOlympus(text);
    const auto panasonic = decoding.decodePanasonic(text);
    // The prefixes differ in their first character, so at most one decoder accepts a text.
    if (int(sony.has_value()) + int(olympus.has_value()) + int(panasonic.has_value()) > 1)
        __builtin_trap();
    if (sony && !sony->ssid.startsWith(QStringLiteral("DIRECT-")))
        __builtin_trap();
    if (olympus && (olympus->ssid.isEmpty() || olympus->password.isEmpty()))
        __builtin_trap();
    (void)decoding.decipherOlympusField(text);
    return 0;
}
