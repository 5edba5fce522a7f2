#include "ui/WindowDragging.h"

#include <QMouseEvent>
#include <QWindow>

#include <cmath>

namespace vornakel {

bool exceedsDragThreshold(const QPointF& start, const QPointF& current, qreal threshold)
{
    return std::abs(current.x() - start.x()) >= threshold || std::abs(current.y() - start.y()) >= threshold;
}

bool startWindowDrag(QWidget* widget)
{
    QWidget* window = widget ? widget->window() : nullptr;
    QWindow* handle = window ? window->windowHandle() : nullptr;
    return handle && handle->startSystemMove();
}

namespace {

class BackgroundDrag : public QObject {
public:
    explicit BackgroundDrag(QWidget* window) : QObject(window), m_window(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::MouseButtonPress
            && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            return startWindowDrag(m_window);
        }
        return false;
    }

private:
    QWidget* m_window;
};

} // namespace

QObject* makeMovableByBackground(QWidget* window)
{
    return window ? new BackgroundDrag(window) : nullptr;
}

WindowDraggableButton::WindowDraggableButton(QWidget* parent) : QPushButton(parent) {}

WindowDraggableButton::WindowDraggableButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void WindowDraggableButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    // Positions in window coordinates, so that the measure does not change while the window itself moves.
    m_tracking = true;
    m_start = event->scenePosition();
    setDown(true);
    event->accept();
}

void WindowDraggableButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_tracking) {
        QPushButton::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (!exceedsDragThreshold(m_start, event->scenePosition()))
        return;
    m_tracking = false;
    setDown(false);
    emit windowDragStarted();
    startWindowDrag(this);
}

void WindowDraggableButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (!m_tracking)
        return;
    m_tracking = false;
    setDown(false);
    if (hitButton(event->position().toPoint()))
        click();
}

WindowDragImageView::WindowDragImageView(QWidget* parent) : QLabel(parent) {}

void WindowDragImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    event->accept();
    emit windowDragStarted();
    startWindowDrag(this);
}

} // namespace vornakel
