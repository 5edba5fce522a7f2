#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <optional>

class QVariantAnimation;

namespace vornakel {

// A view that a PointingLineView can point at: the part of it whose vertical middle the notch points to.
class PointLineViewDestination {
public:
    virtual ~PointLineViewDestination() = default;
    // In the conforming widget's own coordinates.
    virtual QRectF subFrameToPointTo() const = 0;
};

// The left edge of a panel drawn as a hairline with a notch pointing left at a chosen height, the panel to its
// right filled with the window colour. The copy sheet points it at the chosen destination's button.
class PointingLineView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kAnimationMilliseconds = 250;

    explicit PointingLineView(QWidget* parent = nullptr);

    // The height the notch points at (view coordinates, down from the top); setting it takes effect at the next
    // layout. Until it is set or the line pointed somewhere, it is the bottom edge.
    qreal arrowPointY() const { return m_arrowPointY.value_or(qreal(height())); }
    void setArrowPointY(qreal y) { m_arrowPointY = y; }

    // Points the notch at the vertical middle of `target` (its subFrameToPointTo when it is a destination).
    void pointAt(QWidget* target, bool animated);
    // Rebuilds the path; animates from the shown path when asked and a path is already shown.
    void layoutLine(bool animated);

    bool hasPath() const { return m_hasPath; }
    bool isAnimating() const;
    // The path as shown now (mid-animation, the interpolated one).
    QPainterPath currentPath() const;
    qreal lineWidth() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // None: the bottom edge, whatever the height.
    std::optional<qreal> m_arrowPointY;
    std::optional<qreal> m_shownArrowPointY;
    bool m_hasPath = false;
    QPointer<QVariantAnimation> m_animation;
};

// A hairline through the middle of the view, horizontal when the view is wider than tall, else vertical, with
// the half below (or left of) it filled with the window colour.
class ShadowLineView : public QWidget {
    Q_OBJECT
public:
    explicit ShadowLineView(QWidget* parent = nullptr);

    QRectF lineRect() const;
    qreal lineWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vornakel
