#include "mainwindow/grid/ImageGridItem.h"

#include "platform/core/Strings.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace vornakel {

QString ImageGridItem::badgeKey(const Photo& photo)
{
    if (photo.previewVariant())
        return QStringLiteral("FileTypeRAWJPEGLabel");
    return photo.primaryVariant()->formatFamily() == PhotoFormatFamily::raw ? QStringLiteral("FileTypeRAWLabel")
                                                                            : QStringLiteral("FileTypeJPEGLabel");
}

ImageGridItem::Look ImageGridItem::lookFor(const Photo* photo, ThumbnailCache::State state, const QImage& thumbnail,
                                           bool selected)
{
    Look look;
    look.selected = selected;
    if (!photo)
        return look;
    look.badgeText = GeneralUI::text(badgeKey(*photo));
    switch (state) {
    case ThumbnailCache::State::loading:
        look.placeholder = false;
        look.spinning = true;
        break;
    case ThumbnailCache::State::ready:
        look.thumbnail = thumbnail;
        look.placeholder = thumbnail.isNull() || thumbnail.size().isEmpty();
        look.badgeVisible = true;
        break;
    case ThumbnailCache::State::unavailable:
        look.badgeVisible = true;
        break;
    }
    return look;
}

QRect ImageGridItem::thumbnailBox(const QRect& cell)
{
    return QRect(cell.x() + (cell.width() - kBoxWidth) / 2, cell.y() + 12, kBoxWidth, kBoxHeight);
}

QSize ImageGridItem::placeholderSize() { return QSize(kBoxWidth, kBoxHeight); }

QRect ImageGridItem::imageRect(const QRect& cell, const QSize& imageSize)
{
    const QRect box = thumbnailBox(cell);
    if (imageSize.isEmpty())
        return box;
    const QSize fitted = imageSize.scaled(box.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    // Sit on the box's bottom edge so that a row of mixed portrait and landscape shots lines up.
    return QRect(box.x() + (box.width() - fitted.width()) / 2, box.bottom() + 1 - fitted.height(), fitted.width(),
                 fitted.height());
}

QImage ImageGridItem::placeholderImage(const QSize& size)
{
    static QImage cached;
    if (cached.size() == size)
        return cached;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(214, 214, 214));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    const qreal unit = std::min(size.width(), size.height()) / 6.0;
    // A camera body with its lens, in greys.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(170, 170, 170));
    painter.drawRoundedRect(QRectF(centre.x() - unit * 1.6, centre.y() - unit, unit * 3.2, unit * 2.1), unit * 0.3,
                            unit * 0.3);
    painter.drawRect(QRectF(centre.x() - unit * 0.6, centre.y() - unit * 1.35, unit * 1.2, unit * 0.4));
    painter.setBrush(QColor(214, 214, 214));
    painter.drawEllipse(centre + QPointF(0, unit * 0.05), unit * 0.75, unit * 0.75);
    painter.setBrush(QColor(150, 150, 150));
    painter.drawEllipse(centre + QPointF(0, unit * 0.05), unit * 0.45, unit * 0.45);
    painter.end();
    cached = image;
    return image;
}

void ImageGridItem::paintSpinner(QPainter& painter, const QPointF& centre, qreal radius, int step,
                                 const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre);
    for (int spoke = 0; spoke < 12; ++spoke) {
        QColor shade = colour;
        shade.setAlphaF(0.15 + 0.85 * (((spoke - step) % 12 + 12) % 12) / 11.0);
        painter.setPen(QPen(shade, radius / 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.5), QPointF(0, -radius));
        painter.rotate(30);
    }
    painter.restore();
}

namespace {

// The badge drawn once per text: text layout is the dearest part of a cell.
const QImage& badgeImage(const QString& text)
{
    static QHash<QString, QImage> badges;
    const auto found = badges.constFind(text);
    if (found != badges.constEnd())
        return *found;
    QFont font;
    font.setPixelSize(10);
    font.setBold(true);
    const QFontMetrics metrics(font);
    QImage badge(metrics.horizontalAdvance(text) + 8, 15, QImage::Format_ARGB32_Premultiplied);
    badge.fill(Qt::transparent);
    QPainter painter(&badge);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 30, 190));
    painter.drawRoundedRect(QRectF(badge.rect()), 2, 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge.rect(), Qt::AlignCenter, text);
    painter.end();
    return *badges.insert(text, badge);
}

} // namespace

void ImageGridItem::paint(QPainter& painter, const QRect& cell, const Look& look, int spinnerStep)
{
    QRect image;
    if (!look.thumbnail.isNull() || look.placeholder) {
        const QImage shown = look.thumbnail.isNull() ? placeholderImage(placeholderSize()) : look.thumbnail;
        image = imageRect(cell, shown.size());
        // A soft shadow to the lower right, in two plain strips.
        painter.fillRect(QRect(image.left() + 2, image.bottom() + 1, image.width(), 2), QColor(0, 0, 0, 45));
        painter.fillRect(QRect(image.right() + 1, image.top() + 2, 2, image.height() - 1), QColor(0, 0, 0, 45));
        if (shown.size() == image.size()) {
            painter.drawImage(image.topLeft(), shown);
        } else {
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(image, shown);
            painter.restore();
        }
    } else {
        image = thumbnailBox(cell);
    }
    if (look.spinning) {
        // The twelve frames drawn once: many cells spin at the same time while a page of thumbnails comes.
        static QImage frames[12];
        QImage& frame = frames[((spinnerStep % 12) + 12) % 12];
        if (frame.isNull()) {
            frame = QImage(32, 32, QImage::Format_ARGB32_Premultiplied);
            frame.fill(Qt::transparent);
            QPainter framePainter(&frame);
            paintSpinner(framePainter, QPointF(16, 16), 14, spinnerStep, QColor(90, 90, 90));
        }
        const QPoint centre = thumbnailBox(cell).center();
        painter.drawImage(centre - QPoint(15, 15), frame);
    }
    if (look.badgeVisible && !look.badgeText.isEmpty())
        painter.drawImage(QPoint(image.left() + 4, image.bottom() - 4 - 15 + 1), badgeImage(look.badgeText));
    if (look.selected) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(255, 204, 0), 4));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(image).adjusted(-3, -3, 3, 3), 3, 3);
        painter.restore();
    }
}

} // namespace vornakel
