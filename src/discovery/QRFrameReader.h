#pragma once

#include "discovery/QRCodeReader.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace vornakel {

class VideoFrameSource;

// Reads the frames of a video source for camera Wi-Fi codes. Frames arrive on the main thread; at most one
// frame every 0.1 s is scanned, off the main thread, and while one scan runs only the newest frame waits
// (older ones are dropped), so a slow scan never holds up the picture. Results come back on the main thread.
class QRFrameReader : public QObject {
    Q_OBJECT
public:
    // Runs the scanning work off the main thread: by default on Qt's global thread pool.
    using ScanRunner = std::function<void(std::function<void()>)>;

    explicit QRFrameReader(VideoFrameSource* source, QRCodeReader::Clock clock = {},
                           const CameraQRDecoding& decoding = CameraQRDecoding::shared(), ScanRunner runScan = {});
    ~QRFrameReader() override;

    // Frames handed to the scanner and frames dropped because a newer one came while a scan ran.
    int scannedFrameCount() const;
    int droppedFrameCount() const;

signals:
    // Every frame with a picture (for a preview).
    void frameArrived(const QImage& image);
    // A frame held a camera's Wi-Fi code.
    void wifiDetailsScanned(const CameraWiFiDetails& details);

private:
    struct Worker;
    void offer(const GreyFrame& frame);

    QPointer<VideoFrameSource> m_source;
    const CameraQRDecoding& m_decoding;
    QRCodeReader::Clock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_lastScan;
    ScanRunner m_runScan;
    std::shared_ptr<Worker> m_worker;
};

} // namespace vornakel
