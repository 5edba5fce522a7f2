#pragma once

#include "platform/webcam/VideoFrameSource.h"

namespace vornakel {

// A frame source that delivers the images it is given, for tests and tools.
class ImageFrameSource : public VideoFrameSource {
    Q_OBJECT
public:
    using VideoFrameSource::VideoFrameSource;

    // Whether `start` succeeds, to stand in for a computer without a camera.
    void setDeviceAvailable(bool available) { m_deviceAvailable = available; }

    bool start() override;
    void stop() override { m_running = false; }
    bool isRunning() const override { return m_running; }

    // Delivers the image as a frame while running; null images are skipped, like empty device frames.
    void feed(const QImage& image);

private:
    bool m_deviceAvailable = true;
    bool m_running = false;
};

} // namespace vornakel
