#include "platform/webcam/VideoFrameSource.h"

#include <cstring>

namespace vornakel {

GreyFrame greyFrameFromImage(const QImage& image)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    const QImage grey = image.format() == QImage::Format_Grayscale8
                            ? image
                            : image.convertToFormat(QImage::Format_Grayscale8);
    GreyFrame frame;
    frame.width = grey.width();
    frame.height = grey.height();
    frame.pixels.resize(static_cast<qsizetype>(frame.width) * frame.height);
    // Scan lines of a QImage are padded to 32 bits; the scanner wants them packed.
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(frame.pixels.data() + static_cast<qsizetype>(y) * frame.width, grey.constScanLine(y),
                    static_cast<size_t>(frame.width));
    return frame;
}

} // namespace vornakel
