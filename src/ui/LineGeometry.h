#pragma once

#include <QPainterPath>
#include <QRectF>

namespace vornakel {

// The geometry of the drawn connector lines, in the view's own coordinates (y grows downwards).

// The stroke width that is one device pixel at the given scale (1.0 without a window).
qreal hairlineWidth(qreal devicePixelRatio);

// The notch's centre for a wanted height (down from the top): never closer to the bottom edge than half the
// notch's height, and without bound towards the top. A line that was never pointed anywhere points at its
// bottom edge, so its notch sits there, half clipped.
qreal pointingLineNotchCenter(const QRectF& bounds, qreal arrowPointY);

// The pointing line: a vertical line 1.5 points inside the right edge with a triangular notch whose tip points
// left, at x 1.5, at the notch centre; the outline closes 2 points outside the right, top and bottom edges, so
// that clipped to the bounds only the left edge shows and the panel to its right is filled.
QPainterPath pointingLinePath(const QRectF& bounds, qreal arrowPointY);

// The shadow line's rectangle: a horizontal line (wider than tall) at half a point below the middle with the
// lower half filled, otherwise a vertical line half a point left of the middle with the left half filled; it
// overhangs the bounds on the other three sides so that only the line's edge shows.
QRectF shadowLineRect(const QRectF& bounds);

} // namespace vornakel
