#include "platform/webcam/ImageFrameSource.h"

namespace vornakel {

bool ImageFrameSource::start()
{
    m_running = m_deviceAvailable;
    return m_running;
}

void ImageFrameSource::feed(const QImage& image)
{
    if (!m_running || image.isNull() || image.width() == 0 || image.height() == 0)
        return;
    emit frameArrived(image, greyFrameFromImage(image));
}

} // namespace vornakel
