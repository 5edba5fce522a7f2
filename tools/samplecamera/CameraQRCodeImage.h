#pragma once

#include <QImage>
#include <QString>

namespace vornakel::tools {

// A QR code of these bytes (byte mode), drawn black on white with a quiet zone; a null image when they do not fit.
QImage qrCodeImage(const QByteArray& payload, int pixelsPerModule = 8);

// The Wi-Fi QR code a camera shows on its screen, in the form "MDL:<model>\r\nSSID:<network>\r\nPW:<password>\r\n"
// (UTF-8, no character-set marker, as cameras write it), drawn black on white with a quiet zone.
QImage cameraQRCodeImage(const QString& model, const QString& ssid, const QString& password, int pixelsPerModule = 8);

// The code drawn in the middle of a webcam-sized grey picture, as the computer's camera would see it held up.
QImage webcamFrameWithCode(const QImage& code, QSize frameSize = {1280, 720});

} // namespace vornakel::tools
