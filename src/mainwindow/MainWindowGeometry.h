#pragma once

#include <QRectF>
#include <QSizeF>

namespace vornakel {

// The window frame of `newSize` whose centre is the centre of `frame`.
QRectF centeredFrame(const QRectF& frame, const QSizeF& newSize);

} // namespace vornakel
