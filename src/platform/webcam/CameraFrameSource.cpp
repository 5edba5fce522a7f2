#include "platform/webcam/CameraFrameSource.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>
#include <QLoggingCategory>

#include <cstring>

namespace vornakel {
namespace {
Q_LOGGING_CATEGORY(lcWebcam, "vornakel.webcam")
} // namespace

namespace {

// The luma plane of planar and semi-planar YUV frames is already the grey picture; other formats go through
// an image conversion.
GreyFrame greyFrameFromVideoFrame(QVideoFrame frame, const QImage& image)
{
    switch (frame.pixelFormat()) {
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21:
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YUV422P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_IMC1:
    case QVideoFrameFormat::Format_IMC2:
    case QVideoFrameFormat::Format_IMC3:
    case QVideoFrameFormat::Format_IMC4:
    case QVideoFrameFormat::Format_Y8:
        break;
    default:
        return greyFrameFromImage(image);
    }
    if (!frame.map(QVideoFrame::ReadOnly))
        return greyFrameFromImage(image);
    GreyFrame grey;
    grey.width = frame.width();
    grey.height = frame.height();
    const int stride = frame.bytesPerLine(0);
    if (stride >= grey.width && static_cast<qsizetype>(frame.mappedBytes(0)) >= static_cast<qsizetype>(stride) * grey.height) {
        grey.pixels.resize(static_cast<qsizetype>(grey.width) * grey.height);
        for (int y = 0; y < grey.height; ++y)
            std::memcpy(grey.pixels.data() + static_cast<qsizetype>(y) * grey.width,
                        frame.bits(0) + static_cast<qsizetype>(y) * stride, static_cast<size_t>(grey.width));
    }
    frame.unmap();
    return grey.isValid() ? grey : greyFrameFromImage(image);
}

} // namespace

CameraFrameSource::CameraFrameSource(QObject* parent) : VideoFrameSource(parent) {}

CameraFrameSource::~CameraFrameSource() { stop(); }

bool CameraFrameSource::hasVideoInput() { return !QMediaDevices::videoInputs().isEmpty(); }

bool CameraFrameSource::start()
{
    if (isRunning())
        return true;
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        return false;

    auto camera = std::make_unique<QCamera>(device);
    if (camera->error() != QCamera::NoError)
        return false;
    if (camera->isFocusModeSupported(QCamera::FocusModeAuto))
        camera->setFocusMode(QCamera::FocusModeAuto);
    if (camera->isExposureModeSupported(QCamera::ExposureAuto))
        camera->setExposureMode(QCamera::ExposureAuto);

    auto session = std::make_unique<QMediaCaptureSession>();
    auto sink = std::make_unique<QVideoSink>();
    session->setCamera(camera.get());
    session->setVideoSink(sink.get());
    connect(sink.get(), &QVideoSink::videoFrameChanged, this, &CameraFrameSource::handleFrame);
    connect(camera.get(), &QCamera::errorOccurred, this, [this](QCamera::Error, const QString& message) {
        qCWarning(lcWebcam, "Video capture error: %s", qPrintable(message));
        emit runtimeError(message);
    });

    m_camera = std::move(camera);
    m_session = std::move(session);
    m_sink = std::move(sink);
    m_camera->start();
    if (m_camera->error() != QCamera::NoError) {
        stop();
        return false;
    }
    return true;
}

void CameraFrameSource::stop()
{
    if (m_camera)
        m_camera->stop();
    if (m_sink)
        m_sink->disconnect(this);
    m_session.reset();
    m_sink.reset();
    m_camera.reset();
}

bool CameraFrameSource::isRunning() const { return m_camera != nullptr; }

void CameraFrameSource::handleFrame(const QVideoFrame& frame)
{
    if (!frame.isValid() || frame.width() <= 0 || frame.height() <= 0)
        return;
    const QImage image = frame.toImage();
    if (image.isNull())
        return;
    emit frameArrived(image, greyFrameFromVideoFrame(frame, image));
}

} // namespace vornakel
