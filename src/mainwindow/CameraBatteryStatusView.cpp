#include "mainwindow/CameraBatteryStatusView.h"

#include "platform/core/Strings.h"

#include <QPainter>
#include <QPainterPath>

namespace vornakel {
namespace {

// A proxy's value when it is the expected property; none otherwise.
std::optional<int> valueOf(const std::shared_ptr<VKLPropertyProxy>& proxy, unsigned identifier)
{
    if (!proxy || proxy->propertyIdentifier() != identifier)
        return std::nullopt;
    return proxy->value();
}

} // namespace

CameraBatteryStatusView::CameraBatteryStatusView(QWidget* parent) : QLabel(parent)
{
    setFixedSize(30, 16);
    setAlignment(Qt::AlignCenter);
    // The view is only a picture; a screen reader reads its name and the level as its description.
    setAccessibleName(GeneralUI::text(QStringLiteral("BatteryAccessibleName")));
    updateImage();
}

CameraBatteryStatusView::~CameraBatteryStatusView() = default;

void CameraBatteryStatusView::watch(const std::shared_ptr<VKLPropertyProxy>& proxy,
                                    std::shared_ptr<VKLPropertyProxy>& slot)
{
    if (slot)
        disconnect(slot.get(), nullptr, this, nullptr);
    slot = proxy;
    if (slot)
        connect(slot.get(), &VKLPropertyProxy::valueChanged, this, &CameraBatteryStatusView::updateImage);
}

void CameraBatteryStatusView::setCamera(const std::shared_ptr<VKLCamera>& camera)
{
    watch(camera ? camera->proxyForProperty(VKLPropertyBatteryLevel) : nullptr, m_batteryLevel);
    watch(camera ? camera->proxyForProperty(VKLPropertyPowerSource) : nullptr, m_powerSource);
    updateImage();
}

QString CameraBatteryStatusView::imageNameFor(std::optional<int> level, std::optional<int> powerSource)
{
    if (powerSource == 1)
        return QStringLiteral("BatteryMainsPower");
    if (!level)
        return {};
    switch (*level) {
    case 0: return QStringLiteral("BatteryFull");
    case 1: return QStringLiteral("BatteryThreeQuarters");
    case 2: return QStringLiteral("BatteryHalf");
    case 3: return QStringLiteral("BatteryOneQuarter");
    case 4: return QStringLiteral("BatteryEmpty");
    default: return {};
    }
}

QString CameraBatteryStatusView::descriptionFor(const QString& imageName)
{
    // An icon alone is not readable by everyone: the tooltip says the same in words.
    return imageName.isEmpty() ? QString() : GeneralUI::text(QStringLiteral("BatteryStatus") + imageName.mid(7));
}

QPixmap CameraBatteryStatusView::image(const QString& name, const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    if (name.isEmpty())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(60, 60, 60);
    const QRectF body(1.5, 2.5, size.width() - 6.0, size.height() - 5.0);
    painter.setPen(QPen(ink, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(body, 2.5, 2.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(body.right() + 1, body.center().y() - 2.5, 2.5, 5), 1, 1);
    const QRectF inside = body.adjusted(2, 2, -2, -2);
    if (name == QLatin1String("BatteryMainsPower")) {
        // A lightning bolt.
        QPainterPath bolt;
        const QPointF c = inside.center();
        const qreal h = inside.height() / 2 + 1;
        bolt.moveTo(c.x() + 1.5, c.y() - h);
        bolt.lineTo(c.x() - 3, c.y() + 0.8);
        bolt.lineTo(c.x() - 0.2, c.y() + 0.8);
        bolt.lineTo(c.x() - 1.5, c.y() + h);
        bolt.lineTo(c.x() + 3, c.y() - 0.8);
        bolt.lineTo(c.x() + 0.2, c.y() - 0.8);
        bolt.closeSubpath();
        painter.setBrush(QColor(40, 160, 60));
        painter.drawPath(bolt);
        return pixmap;
    }
    qreal fill = 0;
    if (name == QLatin1String("BatteryFull"))
        fill = 1.0;
    else if (name == QLatin1String("BatteryThreeQuarters"))
        fill = 0.75;
    else if (name == QLatin1String("BatteryHalf"))
        fill = 0.5;
    else if (name == QLatin1String("BatteryOneQuarter"))
        fill = 0.25;
    if (fill > 0) {
        painter.setBrush(fill <= 0.25 ? QColor(220, 70, 50) : ink);
        painter.drawRoundedRect(QRectF(inside.left(), inside.top(), inside.width() * fill, inside.height()), 1, 1);
    }
    return pixmap;
}

std::optional<int> CameraBatteryStatusView::level() const { return valueOf(m_batteryLevel, VKLPropertyBatteryLevel); }

void CameraBatteryStatusView::updateImage()
{
    const QString name =
        imageNameFor(valueOf(m_batteryLevel, VKLPropertyBatteryLevel), valueOf(m_powerSource, VKLPropertyPowerSource));
    if (name == m_imageName && (!pixmap().isNull() || name.isEmpty()))
        return;
    m_imageName = name;
    setToolTip(descriptionFor(name));
    setAccessibleDescription(name.isEmpty() ? QString() : GeneralUI::text(name + QStringLiteral("AccessibleDescription")));
    if (name.isEmpty())
        clear();
    else
        setPixmap(image(name, size()));
}

} // namespace vornakel
