#include "discovery/QRSymbolScanner.h"

#include <QStringDecoder>

#include <algorithm>

#include <zbar.h>

namespace vornakel {

using namespace zbar;

QRSymbolScanner::QRSymbolScanner(Scales scales) : m_scanner(zbar_image_scanner_create()), m_scales(scales)
{
    zbar_image_scanner_set_config(m_scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(m_scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    // Without this zbar guesses the text's character set and converts it: UTF-8 without a marker comes back as
    // Shift-JIS or Big5 read wrongly ("ä" as "瓣"). Camera codes are UTF-8; symbolText decodes them.
    zbar_image_scanner_set_config(m_scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
}

QRSymbolScanner::~QRSymbolScanner() { zbar_image_scanner_destroy(m_scanner); }

GreyFrame reducedFrame(const GreyFrame& frame, int factor)
{
    if (factor <= 1 || !frame.isValid())
        return frame;
    GreyFrame reduced;
    reduced.width = frame.width / factor;
    reduced.height = frame.height / factor;
    if (reduced.width == 0 || reduced.height == 0)
        return frame;
    reduced.pixels.resize(static_cast<qsizetype>(reduced.width) * reduced.height);
    const auto* source = reinterpret_cast<const uchar*>(frame.pixels.constData());
    auto* target = reinterpret_cast<uchar*>(reduced.pixels.data());
    const int area = factor * factor;
    for (int y = 0; y < reduced.height; ++y) {
        for (int x = 0; x < reduced.width; ++x) {
            int sum = 0;
            for (int dy = 0; dy < factor; ++dy) {
                const uchar* row = source + static_cast<qsizetype>(y * factor + dy) * frame.width + x * factor;
                for (int dx = 0; dx < factor; ++dx)
                    sum += row[dx];
            }
            target[static_cast<qsizetype>(y) * reduced.width + x] = static_cast<uchar>(sum / area);
        }
    }
    return reduced;
}

std::vector<QByteArray> QRSymbolScanner::scan(const GreyFrame& original, const Wanted& wanted)
{
    std::vector<QByteArray> symbols;
    if (!original.isValid())
        return symbols;
    const int factor = std::max(1, original.width / kReducedWidth);
    if (m_scales != Scales::full && factor > 1)
        scanInto(reducedFrame(original, factor), symbols);
    const bool reducedSuffices =
        std::any_of(symbols.begin(), symbols.end(), [&](const QByteArray& data) { return !wanted || wanted(data); });
    if (m_scales == Scales::full || factor == 1 || (m_scales == Scales::both && !reducedSuffices))
        scanInto(original, symbols);
    return symbols;
}

void QRSymbolScanner::scanInto(const GreyFrame& frame, std::vector<QByteArray>& symbols)
{
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, static_cast<unsigned>(frame.width), static_cast<unsigned>(frame.height));
    // zbar only reads the pixels; the frame outlives the image.
    zbar_image_set_data(image, frame.pixels.constData(), static_cast<unsigned long>(frame.pixels.size()), nullptr);
    if (zbar_scan_image(m_scanner, image) > 0) {
        for (const zbar_symbol_t* symbol = zbar_image_first_symbol(image); symbol;
             symbol = zbar_symbol_next(symbol)) {
            if (zbar_symbol_get_type(symbol) != ZBAR_QRCODE)
                continue;
            QByteArray data(zbar_symbol_get_data(symbol), static_cast<qsizetype>(zbar_symbol_get_data_length(symbol)));
            if (std::find(symbols.begin(), symbols.end(), data) == symbols.end())
                symbols.push_back(std::move(data));
        }
    }
    zbar_image_destroy(image);
}

std::optional<QString> symbolText(const QByteArray& data)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(data);
    if (decoder.hasError())
        return std::nullopt;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7f)
            return std::nullopt;
    }
    return text;
}

} // namespace vornakel
