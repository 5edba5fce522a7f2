#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>

namespace vornakel {

class ImagePreviewViewController;

// An image drawn to fill its rectangle at its aspect ratio: the thumbnail that zooms between grid and preview.
class SnapshotView : public QWidget {
    Q_OBJECT
public:
    SnapshotView(QImage image, QWidget* parent);
    const QImage& image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

// The zoom between a grid thumbnail and the preview: presenting, the thumbnail grows from its cell to the
// preview's image while the preview fades in; dismissing, the image shrinks back into its cell (when the cell
// is still on screen) while the preview fades out. Each takes 0.33 s, 2.0 s when Shift is held as it starts.
class ImagePreviewTransitioning : public QObject {
    Q_OBJECT
public:
    explicit ImagePreviewTransitioning(QObject* parent = nullptr);

    // Multiplies every duration; 0 finishes each animation at once (tests).
    void setSpeed(double speed) { m_speed = speed; }
    double speed() const { return m_speed; }
    // Where the modifier keys are read; the application's by default.
    void setModifiers(std::function<Qt::KeyboardModifiers()> modifiers) { m_modifiers = std::move(modifiers); }
    // The duration of an animation starting now, in milliseconds.
    int duration() const;

    // `host` is the widget the preview covers; `sourceFrame` is in host coordinates. `ended` runs once the
    // preview has taken over.
    void present(ImagePreviewViewController* preview, QWidget* host, const QImage& sourceImage,
                 const std::optional<QRect>& sourceFrame, std::function<void()> ended);
    // `targetFrame` is where the photo's cell is now (none when it is off screen); `ended` runs once the preview
    // is gone (it is deleted later).
    void dismiss(ImagePreviewViewController* preview, QWidget* host, const std::optional<QRect>& targetFrame,
                 std::function<void()> ended);

private:
    double m_speed = 1.0;
    std::function<Qt::KeyboardModifiers()> m_modifiers;
};

} // namespace vornakel
