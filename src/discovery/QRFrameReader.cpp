#include "discovery/QRFrameReader.h"

#include "platform/webcam/VideoFrameSource.h"

namespace vornakel {

QRFrameReader::QRFrameReader(VideoFrameSource* source, QRCodeReader::Clock clock, const CameraQRDecoding& decoding,
                             QObject* parent)
    : QObject(parent), m_source(source), m_reader(decoding, std::move(clock))
{
    connect(source, &VideoFrameSource::frameArrived, this, [this](const QImage& image, const GreyFrame& grey) {
        emit frameArrived(image);
        if (auto details = m_reader.readFrame(grey))
            emit wifiDetailsScanned(*details);
    });
}

} // namespace vornakel
