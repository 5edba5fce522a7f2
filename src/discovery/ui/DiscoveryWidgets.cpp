#include "discovery/ui/DiscoveryWidgets.h"

#include <QPainter>
#include <QPainterPath>

namespace vornakel {

SpinnerView::SpinnerView(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void SpinnerView::startAnimation() { m_timer.start(); }

void SpinnerView::stopAnimation() { m_timer.stop(); }

void SpinnerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(4, 4, -4, -4);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15);
    painter.setPen(QPen(track, 3));
    painter.drawEllipse(box);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, 100 * 16);
}

void CameraLogoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    const qreal unit = std::min(area.width() / 14.0, area.height() / 11.0);
    const QPointF origin(area.center().x() - 7 * unit, area.center().y() - 5.5 * unit);
    const auto r = [&](qreal x, qreal y, qreal w, qreal h) { return QRectF(origin.x() + x * unit, origin.y() + y * unit, w * unit, h * unit); };
    const QColor body = palette().color(QPalette::Highlight);
    QPainterPath camera;
    camera.addRoundedRect(r(0, 2, 14, 9), 1.5 * unit, 1.5 * unit);
    camera.addRoundedRect(r(4, 0, 6, 3), 0.8 * unit, 0.8 * unit);
    camera.setFillRule(Qt::WindingFill);
    painter.fillPath(camera.simplified(), body);
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(r(3.8, 3.6, 6.4, 6.4));
    painter.setBrush(body.darker(130));
    painter.drawEllipse(r(5.2, 5.0, 3.6, 3.6));
}

void AspectFillImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void AspectFillImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull() || width() <= 0 || height() <= 0)
        return;
    // Scale so the picture covers the view, then crop the overflow evenly on both sides.
    const QSizeF covered = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
    const QRectF target((width() - covered.width()) / 2.0, (height() - covered.height()) / 2.0, covered.width(),
                        covered.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    painter.drawImage(target, m_image);
}

QLabel* makeTitleLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* makeBodyLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace vornakel
