#pragma once

#include <QLabel>
#include <QPointF>
#include <QPushButton>

namespace vornakel {

// How far (in points, on either axis by itself) the mouse must move from where it was pressed before a press on
// a window-dragging control becomes a window drag.
inline constexpr qreal kWindowDragThreshold = 5.0;

// True when |dx| >= threshold or |dy| >= threshold.
bool exceedsDragThreshold(const QPointF& start, const QPointF& current, qreal threshold = kWindowDragThreshold);

// Asks the window system to move the widget's window with the mouse; answers whether it agreed.
bool startWindowDrag(QWidget* widget);

// Makes the window movable by its background: a left press that no child takes starts a window drag. Answers
// the object that does it (a child of the window).
QObject* makeMovableByBackground(QWidget* window);

// A push button for the title-bar area: a click clicks it, a drag from it moves the window instead.
class WindowDraggableButton : public QPushButton {
    Q_OBJECT
public:
    explicit WindowDraggableButton(QWidget* parent = nullptr);
    explicit WindowDraggableButton(const QString& text, QWidget* parent = nullptr);

signals:
    // Emitted when a press became a window drag (the button's action does not fire for that press).
    void windowDragStarted();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_tracking = false;
    QPointF m_start;
};

// An image view from which the window can be dragged.
class WindowDragImageView : public QLabel {
    Q_OBJECT
public:
    explicit WindowDragImageView(QWidget* parent = nullptr);

signals:
    void windowDragStarted();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace vornakel
