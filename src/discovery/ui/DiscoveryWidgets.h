#pragma once

#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace vornakel {

// A small turning arc that says "working"; it turns only between startAnimation and stopAnimation.
class SpinnerView : public QWidget {
    Q_OBJECT
public:
    explicit SpinnerView(QWidget* parent = nullptr);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }
    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
};

// The application's camera mark, drawn.
class CameraLogoView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    QSize sizeHint() const override { return {56, 44}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows a picture filling the whole view, cropped to keep its proportions (a live camera picture).
class AspectFillImageView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setImage(const QImage& image);
    void clear() { setImage({}); }
    const QImage& image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

// Labels for the panes. Texts from outside (network and camera names) must never be read as markup.
QLabel* makeTitleLabel(const QString& text, QWidget* parent);
QLabel* makeBodyLabel(const QString& text, QWidget* parent);

} // namespace vornakel
