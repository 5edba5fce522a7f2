#include "ui/BackgroundColorView.h"

#include <QPaintEvent>
#include <QPainter>

namespace vornakel {

BackgroundColorView::BackgroundColorView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void BackgroundColorView::setBackgroundColor(const QColor& color)
{
    m_backgroundColor = color;
    update(rect());
}

void BackgroundColorView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_backgroundColor);
}

} // namespace vornakel
