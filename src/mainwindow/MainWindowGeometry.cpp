#include "mainwindow/MainWindowGeometry.h"

namespace vornakel {

QRectF centeredFrame(const QRectF& frame, const QSizeF& newSize)
{
    return QRectF(frame.x() + (frame.width() - newSize.width()) / 2, frame.y() + (frame.height() - newSize.height()) / 2,
                  newSize.width(), newSize.height());
}

} // namespace vornakel
