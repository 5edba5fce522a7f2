#pragma once

#include "platform/camera/VKLCamera.h"

#include <QLabel>
#include <QPointer>

#include <memory>
#include <optional>

namespace vornakel {

// The connected camera's battery as one of six images: mains power, or full, three quarters, half, one
// quarter, empty. It follows the camera's battery-level (4) and power-source (5) properties as they change;
// a value it does not know, or no camera, shows nothing.
class CameraBatteryStatusView : public QLabel {
    Q_OBJECT
public:
    explicit CameraBatteryStatusView(QWidget* parent = nullptr);
    ~CameraBatteryStatusView() override;

    // Reads the camera's two properties; none (the camera is gone) shows nothing.
    void setCamera(const std::shared_ptr<VKLCamera>& camera);

    // The image for a level and power source: "BatteryMainsPower" for power source 1 whatever the level, else
    // "BatteryFull" (0) … "BatteryEmpty" (4); empty for anything else.
    static QString imageNameFor(std::optional<int> level, std::optional<int> powerSource);
    // The image's meaning in words ("Battery half full"); empty for no image.
    static QString descriptionFor(const QString& imageName);
    // The named image drawn at the given size.
    static QPixmap image(const QString& name, const QSize& size);
    QString imageName() const { return m_imageName; }
    // The battery level the camera reports (0 full … 4 empty); none when it does not tell.
    std::optional<int> level() const;

private:
    void updateImage();
    void watch(const std::shared_ptr<VKLPropertyProxy>& proxy, std::shared_ptr<VKLPropertyProxy>& slot);

    std::shared_ptr<VKLPropertyProxy> m_batteryLevel;
    std::shared_ptr<VKLPropertyProxy> m_powerSource;
    QString m_imageName;
};

} // namespace vornakel
