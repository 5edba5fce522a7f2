#pragma once

#include "discovery/QRCodeReader.h"

#include <QObject>
#include <QPointer>

namespace vornakel {

class VideoFrameSource;

// Reads the frames of a video source for camera Wi-Fi codes, on the main thread.
class QRFrameReader : public QObject {
    Q_OBJECT
public:
    explicit QRFrameReader(VideoFrameSource* source, QRCodeReader::Clock clock = {},
                           const CameraQRDecoding& decoding = CameraQRDecoding::shared(), QObject* parent = nullptr);

signals:
    // Every frame with a picture (for a preview).
    void frameArrived(const QImage& image);
    // A frame held a camera's Wi-Fi code.
    void wifiDetailsScanned(const CameraWiFiDetails& details);

private:
    QPointer<VideoFrameSource> m_source;
    QRCodeReader m_reader;
};

} // namespace vornakel
