#pragma once

#include <QByteArray>

namespace vornakel {

// One video frame as 8-bit grey ("Y800"): width × height bytes, rows packed without padding.
struct GreyFrame {
    int width = 0;
    int height = 0;
    QByteArray pixels;

    bool isValid() const
    {
        return width > 0 && height > 0 && pixels.size() == static_cast<qsizetype>(width) * height;
    }
};

} // namespace vornakel
