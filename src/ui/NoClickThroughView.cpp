#include "ui/NoClickThroughView.h"

#include <QMouseEvent>

namespace vornakel {

NoClickThroughView::NoClickThroughView(QWidget* parent) : QWidget(parent) {}

void NoClickThroughView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void NoClickThroughView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

} // namespace vornakel
