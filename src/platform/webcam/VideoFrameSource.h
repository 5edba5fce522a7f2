#pragma once

#include "platform/webcam/GreyFrame.h"

#include <QImage>
#include <QObject>

namespace vornakel {

// A source of video frames (the computer's camera, or images fed by tests). Frames arrive on the main thread.
class VideoFrameSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~VideoFrameSource() override = default;

    // Opens the device and starts delivering frames; false when there is no device or it cannot be set up.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

signals:
    // A frame with a non-zero size; `grey` is the same picture as 8-bit grey for a barcode scanner.
    void frameArrived(const QImage& image, const GreyFrame& grey);
    // A failure of the running device; the source is not restarted.
    void runtimeError(const QString& message);
};

// The picture as 8-bit grey; an invalid frame for a null image.
GreyFrame greyFrameFromImage(const QImage& image);

} // namespace vornakel
