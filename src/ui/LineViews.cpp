#include "ui/LineViews.h"

#include "ui/LineGeometry.h"

#include <QPainter>
#include <QVariantAnimation>

namespace vornakel {
namespace {

// Shared look of both lines: a light grey hairline with a soft shadow over the window colour.
void drawLine(QWidget* view, const QPainterPath& path, qreal width)
{
    QPainter painter(view);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(view->rect());
    painter.fillPath(path, view->palette().color(QPalette::Window));
    QColor shadow = view->palette().color(QPalette::Shadow);
    shadow.setAlphaF(0.5 * 0.5);
    painter.strokePath(path, QPen(shadow, width + 2.0));
    painter.strokePath(path, QPen(QColor(Qt::lightGray), width));
}

} // namespace

PointingLineView::PointingLineView(QWidget* parent) : QWidget(parent) {}

qreal PointingLineView::lineWidth() const
{
    return hairlineWidth(window() && window()->windowHandle() ? devicePixelRatioF() : 1.0);
}

bool PointingLineView::isAnimating() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

QPainterPath PointingLineView::currentPath() const
{
    return pointingLinePath(QRectF(rect()), m_shownArrowPointY.value_or(qreal(height())));
}

void PointingLineView::pointAt(QWidget* target, bool animated)
{
    if (!target)
        return;
    QRectF aim = QRectF(target->rect());
    if (const auto* destination = dynamic_cast<const PointLineViewDestination*>(target))
        aim = destination->subFrameToPointTo();
    const QPointF topLeft = mapFromGlobal(target->mapToGlobal(aim.topLeft()));
    m_arrowPointY = topLeft.y() + aim.height() / 2.0;
    layoutLine(animated);
}

void PointingLineView::layoutLine(bool animated)
{
    if (m_animation)
        m_animation->stop();
    if (animated && m_hasPath) {
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(kAnimationMilliseconds);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        animation->setStartValue(m_shownArrowPointY.value_or(qreal(height())));
        animation->setEndValue(arrowPointY());
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_shownArrowPointY = value.toReal();
            update();
        });
        m_animation = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        m_shownArrowPointY = m_arrowPointY;
    }
    m_hasPath = true;
    update();
}

void PointingLineView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutLine(false);
}

void PointingLineView::paintEvent(QPaintEvent*)
{
    drawLine(this, currentPath(), lineWidth());
}

ShadowLineView::ShadowLineView(QWidget* parent) : QWidget(parent) {}

QRectF ShadowLineView::lineRect() const
{
    return shadowLineRect(QRectF(rect()));
}

qreal ShadowLineView::lineWidth() const
{
    return hairlineWidth(window() && window()->windowHandle() ? devicePixelRatioF() : 1.0);
}

void ShadowLineView::paintEvent(QPaintEvent*)
{
    QPainterPath path;
    path.addRect(lineRect());
    drawLine(this, path, lineWidth());
}

} // namespace vornakel
