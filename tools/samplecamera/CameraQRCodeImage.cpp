#include "samplecamera/CameraQRCodeImage.h"

#include <QPainter>

#include <qrencode.h>

namespace vornakel::tools {

QImage qrCodeImage(const QByteArray& payload, int pixelsPerModule)
{
    QRcode* code = QRcode_encodeData(int(payload.size()), reinterpret_cast<const unsigned char*>(payload.constData()),
                                     0, QR_ECLEVEL_M);
    if (!code)
        return {};
    const int quiet = 4;
    const int size = (code->width + 2 * quiet) * pixelsPerModule;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + quiet) * pixelsPerModule, (y + quiet) * pixelsPerModule, pixelsPerModule,
                                 pixelsPerModule, Qt::black);
    painter.end();
    QRcode_free(code);
    return image;
}

QImage cameraQRCodeImage(const QString& model, const QString& ssid, const QString& password, int pixelsPerModule)
{
    return qrCodeImage(QStringLiteral("MDL:%1\r\nSSID:%2\r\nPW:%3\r\n").arg(model, ssid, password).toUtf8(), pixelsPerModule);
}

QImage webcamFrameWithCode(const QImage& code, QSize frameSize)
{
    QImage frame(frameSize, QImage::Format_RGB32);
    frame.fill(QColor(150, 146, 140));
    QPainter painter(&frame);
    painter.drawImage((frameSize.width() - code.width()) / 2, (frameSize.height() - code.height()) / 2, code);
    return frame;
}

} // namespace vornakel::tools
