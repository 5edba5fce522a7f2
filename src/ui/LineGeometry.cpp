#include "ui/LineGeometry.h"

#include <algorithm>

namespace vornakel {

qreal hairlineWidth(qreal devicePixelRatio)
{
    return devicePixelRatio > 0 ? 1.0 / devicePixelRatio : 1.0;
}

qreal pointingLineNotchCenter(const QRectF& bounds, qreal arrowPointY)
{
    const qreal halfHeight = bounds.right() - 3.0;
    return std::min(arrowPointY, bounds.bottom() - halfHeight * 0.5);
}

QPainterPath pointingLinePath(const QRectF& bounds, qreal arrowPointY)
{
    const qreal x = bounds.right() - 1.5;
    const qreal a = bounds.right() - 3.0;
    const qreal cy = pointingLineNotchCenter(bounds, arrowPointY);

    QPainterPath path;
    path.moveTo(x, bounds.top());
    path.lineTo(x, cy - a);
    path.lineTo(1.5, cy);
    path.lineTo(x, cy + a);
    path.lineTo(x, bounds.bottom());
    path.lineTo(x, bounds.bottom() + 2);
    path.lineTo(bounds.right() + 2, bounds.bottom() + 2);
    path.lineTo(bounds.right() + 2, bounds.top() - 2);
    path.lineTo(x, bounds.top() - 2);
    path.closeSubpath();
    return path;
}

QRectF shadowLineRect(const QRectF& bounds)
{
    const qreal w = bounds.width();
    const qreal h = bounds.height();
    if (w > h)
        return QRectF(bounds.left() - 1.0, bounds.top() + h * 0.5 + 0.5, w + 2.0, h * 0.5 + 1.0);
    return QRectF(bounds.left() - 1.5, bounds.top() - 1.0, w * 0.5 + 1.0, h + 2.0);
}

} // namespace vornakel
