#pragma once

#include "platform/webcam/VideoFrameSource.h"

#include <QImage>
#include <QTimer>

#include <chrono>
#include <vector>

namespace vornakel {

// Plays an image, or the images of a folder in name order, as a webcam's frames, over and over: the
// program's webcam when VORNAKEL_WEBCAM_IMAGES names such a path (runs without a camera, scripted QR joins).
// Images are read at start; a path without a readable image is a computer without a camera.
class ImageFolderFrameSource : public VideoFrameSource {
    Q_OBJECT
public:
    static QString environmentVariable() { return QStringLiteral("VORNAKEL_WEBCAM_IMAGES"); }

    explicit ImageFolderFrameSource(QString path, std::chrono::milliseconds frameInterval = std::chrono::milliseconds(100),
                                    QObject* parent = nullptr);

    bool start() override;
    void stop() override;
    bool isRunning() const override { return m_timer.isActive(); }

private:
    void deliverNext();

    QString m_path;
    std::vector<QImage> m_images;
    size_t m_next = 0;
    QTimer m_timer;
};

} // namespace vornakel
