#include "platform/webcam/ImageFolderFrameSource.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace vornakel {

ImageFolderFrameSource::ImageFolderFrameSource(QString path, std::chrono::milliseconds frameInterval, QObject* parent)
    : VideoFrameSource(parent), m_path(std::move(path))
{
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, &ImageFolderFrameSource::deliverNext);
}

bool ImageFolderFrameSource::start()
{
    if (m_timer.isActive())
        return true;
    m_images.clear();
    m_next = 0;
    QStringList files;
    const QFileInfo info(m_path);
    if (info.isDir()) {
        const QDir folder(m_path);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Readable, QDir::Name))
            files << folder.filePath(name);
    } else if (info.isFile()) {
        files << m_path;
    }
    for (const QString& file : files) {
        QImageReader reader(file);
        QImage image = reader.read();
        if (!image.isNull())
            m_images.push_back(std::move(image));
    }
    if (m_images.empty())
        return false;
    m_timer.start();
    // The first frame comes at once, as a webcam's first picture does once it runs.
    QTimer::singleShot(0, this, [this] {
        if (m_timer.isActive())
            deliverNext();
    });
    return true;
}

void ImageFolderFrameSource::stop() { m_timer.stop(); }

void ImageFolderFrameSource::deliverNext()
{
    if (m_images.empty())
        return;
    const QImage& image = m_images[m_next];
    m_next = (m_next + 1) % m_images.size();
    emit frameArrived(image, greyFrameFromImage(image));
}

} // namespace vornakel
