#pragma once

// What a network backend reads from the first bytes of a camera file, through exiv2: the largest embedded JPEG
// (a RAW file's preview), and the orientation and shooting settings its EXIF records. Bytes that exiv2 cannot
// read give none. Any thread; exiv2 is slow enough that callers keep it off the main thread.

#include "platform/camera/VKLCamera.h"

#include <QByteArray>

#include <optional>

namespace vornakel::CameraFileHead {

std::optional<QByteArray> largestEmbeddedJpeg(const QByteArray& head);

struct ExifFacts {
    std::optional<int> orientation; // 1 … 8
    std::optional<VKLShootingData> shooting; // none when the EXIF records no setting
};
ExifFacts exifFacts(const QByteArray& head);

} // namespace vornakel::CameraFileHead
