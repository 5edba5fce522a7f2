#include "mainwindow/preview/ImagePreviewTransitioning.h"

#include "mainwindow/preview/ImagePreviewViewController.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

#include <cmath>

namespace vornakel {
namespace {

constexpr int kDurationMs = 330;
constexpr int kSlowDurationMs = 2000;

QGraphicsOpacityEffect* opacityOf(QWidget* widget, qreal initial)
{
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(initial);
    widget->setGraphicsEffect(effect);
    return effect;
}

// Runs the animations together over `milliseconds`, or sets their end values at once when that is 0; `done`
// runs after either.
void run(QObject* owner, const std::vector<QPropertyAnimation*>& animations, int milliseconds, std::function<void()> done)
{
    if (milliseconds <= 0) {
        for (QPropertyAnimation* animation : animations) {
            animation->targetObject()->setProperty(animation->propertyName(), animation->endValue());
            delete animation;
        }
        done();
        return;
    }
    auto* group = new QParallelAnimationGroup(owner);
    for (QPropertyAnimation* animation : animations) {
        animation->setDuration(milliseconds);
        group->addAnimation(animation);
    }
    QObject::connect(group, &QParallelAnimationGroup::finished, owner, std::move(done));
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

QPropertyAnimation* animation(QObject* target, const char* property, const QVariant& end)
{
    auto* result = new QPropertyAnimation(target, property);
    result->setEndValue(end);
    return result;
}

} // namespace

SnapshotView::SnapshotView(QImage image, QWidget* parent) : QWidget(parent), m_image(std::move(image))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SnapshotView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize fitted = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    painter.drawImage(QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted), m_image);
}

ImagePreviewTransitioning::ImagePreviewTransitioning(QObject* parent)
    : QObject(parent), m_modifiers([] { return QGuiApplication::keyboardModifiers(); })
{
}

int ImagePreviewTransitioning::duration() const
{
    const int base = m_modifiers && (m_modifiers() & Qt::ShiftModifier) ? kSlowDurationMs : kDurationMs;
    return int(std::lround(base * m_speed));
}

void ImagePreviewTransitioning::present(ImagePreviewViewController* preview, QWidget* host, const QImage& sourceImage,
                                        const std::optional<QRect>& sourceFrame, std::function<void()> ended)
{
    const int milliseconds = duration();
    preview->setFadeDuration(milliseconds);
    preview->setGeometry(host->rect());
    preview->show();
    preview->raise();
    QGraphicsOpacityEffect* previewOpacity = opacityOf(preview, 0.0);
    std::vector<QPropertyAnimation*> animations{animation(previewOpacity, "opacity", 1.0)};

    QPointer<SnapshotView> snapshot;
    if (!sourceImage.isNull() && sourceFrame) {
        snapshot = new SnapshotView(sourceImage, host);
        snapshot->setGeometry(*sourceFrame);
        snapshot->show();
        snapshot->raise();
        animations.push_back(animation(snapshot, "geometry", preview->destinationImageRect(sourceImage.size())));
    }
    preview->loadPreview();
    QPointer<ImagePreviewViewController> guardedPreview = preview;
    run(preview, animations, milliseconds, [guardedPreview, snapshot, milliseconds, ended = std::move(ended)] {
        if (guardedPreview) {
            // Drawn without the effect from here on: it costs a redraw of the whole preview per frame.
            guardedPreview->setGraphicsEffect(nullptr);
        }
        if (snapshot) {
            if (!guardedPreview || !guardedPreview->takeResponsibilityFor(snapshot)) {
                QPointer<SnapshotView> leaving = snapshot;
                auto* effect = opacityOf(snapshot, 1.0);
                run(snapshot, {animation(effect, "opacity", 0.0)}, milliseconds, [leaving] {
                    if (leaving)
                        leaving->deleteLater();
                });
            }
        }
        if (guardedPreview)
            guardedPreview->presentationEnded();
        if (ended)
            ended();
    });
}

void ImagePreviewTransitioning::dismiss(ImagePreviewViewController* preview, QWidget* host,
                                       const std::optional<QRect>& targetFrame, std::function<void()> ended)
{
    const int milliseconds = duration();
    preview->finishFades();
    QGraphicsOpacityEffect* previewOpacity = opacityOf(preview, 1.0);
    std::vector<QPropertyAnimation*> animations{animation(previewOpacity, "opacity", 0.0)};
    QPointer<SnapshotView> snapshot;
    const QImage shown = preview->image();
    if (!shown.isNull() && targetFrame) {
        snapshot = new SnapshotView(shown, host);
        snapshot->setGeometry(preview->destinationImageRect(shown.size()).translated(preview->pos()));
        preview->setImageHidden(true);
        snapshot->show();
        snapshot->raise();
        animations.push_back(animation(snapshot, "geometry", *targetFrame));
    }
    QPointer<ImagePreviewViewController> guardedPreview = preview;
    run(preview, animations, milliseconds, [guardedPreview, snapshot, ended = std::move(ended)] {
        if (snapshot)
            snapshot->deleteLater();
        if (guardedPreview) {
            guardedPreview->hide();
            guardedPreview->deleteLater();
        }
        if (ended)
            ended();
    });
}

} // namespace vornakel
