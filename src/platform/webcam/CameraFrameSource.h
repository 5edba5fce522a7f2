#pragma once

#include "platform/webcam/VideoFrameSource.h"

#include <memory>

class QCamera;
class QMediaCaptureSession;
class QVideoFrame;
class QVideoSink;

namespace vornakel {

// Frames of the computer's default video input through Qt Multimedia. A new capture session is made at each
// start, so leaving and re-entering a screen starts the camera afresh.
class CameraFrameSource : public VideoFrameSource {
    Q_OBJECT
public:
    explicit CameraFrameSource(QObject* parent = nullptr);
    ~CameraFrameSource() override;

    // Whether the system has any video input at all.
    static bool hasVideoInput();

    bool start() override;
    void stop() override;
    bool isRunning() const override;

private:
    void handleFrame(const QVideoFrame& frame);

    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QCamera> m_camera;
    std::unique_ptr<QVideoSink> m_sink;
};

} // namespace vornakel
