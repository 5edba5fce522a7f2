#pragma once

#include "platform/camera/VKLCamera.h"

#include <QString>
#include <QVariantMap>

#include <optional>

namespace vornakel {

// The preview's shooting-data line from a file's image properties: shutter speed, aperture, ISO and focal
// length as the file recorded them, joined by "  •  "; a value that is missing or unusable is left out, and
// none at all gives no line.
std::optional<QString> shootingDataLine(const std::optional<QVariantMap>& properties);
// The same line from the settings a camera reported with a file's metadata.
std::optional<QString> shootingDataLine(const VKLShootingData& data);

inline QString shootingDataSeparator() { return QStringLiteral("  \u2022  "); }

} // namespace vornakel
