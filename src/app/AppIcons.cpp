#include "app/AppIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace vornakel {
namespace {

// Draws the icon at each size in a 100 x 100 design space.
QIcon drawnIcon(const std::function<void(QPainter&)>& draw, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 100.0, size / 100.0);
        draw(painter);
        icon.addPixmap(pixmap);
    }
    return icon;
}

const QColor kGlyph(70, 74, 82);

void drawGeneral(QPainter& p)
{
    // Three sliders.
    p.setPen(QPen(kGlyph, 7, Qt::SolidLine, Qt::RoundCap));
    const qreal knobs[] = {35, 65, 45};
    for (int i = 0; i < 3; ++i) {
        const qreal y = 22 + i * 28;
        p.drawLine(QPointF(12, y), QPointF(88, y));
    }
    p.setPen(QPen(kGlyph, 6));
    p.setBrush(Qt::white);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(knobs[i], 22 + i * 28), 10, 10);
}

void drawPhotoSorting(QPainter& p)
{
    // A folder with a picture inside.
    QPainterPath folder;
    folder.moveTo(8, 26);
    folder.lineTo(38, 26);
    folder.lineTo(46, 34);
    folder.lineTo(92, 34);
    folder.lineTo(92, 84);
    folder.lineTo(8, 84);
    folder.closeSubpath();
    p.setPen(QPen(kGlyph, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(236, 238, 242));
    p.drawPath(folder);
    QPainterPath mountain;
    mountain.moveTo(26, 74);
    mountain.lineTo(44, 52);
    mountain.lineTo(56, 64);
    mountain.lineTo(64, 56);
    mountain.lineTo(76, 74);
    mountain.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kGlyph);
    p.drawPath(mountain);
    p.drawEllipse(QPointF(68, 46), 5, 5);
}

void drawAdvanced(QPainter& p)
{
    // A gear.
    p.setPen(Qt::NoPen);
    p.setBrush(kGlyph);
    p.translate(50, 50);
    for (int i = 0; i < 8; ++i) {
        p.drawRoundedRect(QRectF(-8, -44, 16, 20), 3, 3);
        p.rotate(45);
    }
    p.drawEllipse(QPointF(0, 0), 32, 32);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 13, 13);
}

void drawApp(QPainter& p)
{
    // A camera body in a rounded tile, with a downward arrow in the lens.
    QLinearGradient tile(0, 0, 0, 100);
    tile.setColorAt(0, QColor(64, 140, 220));
    tile.setColorAt(1, QColor(28, 88, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 20, 20);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(16, 34, 68, 46), 8, 8);
    p.drawRoundedRect(QRectF(34, 26, 24, 12), 4, 4);
    p.setBrush(QColor(28, 88, 170));
    p.drawEllipse(QPointF(50, 57), 17, 17);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(50, 47), QPointF(50, 66));
    p.drawPolyline(QPolygonF({QPointF(42, 59), QPointF(50, 67), QPointF(58, 59)}));
}

} // namespace

QIcon appIcon()
{
    return drawnIcon(drawApp, {16, 32, 64, 128, 256});
}

QIcon preferencesPaneIcon(PreferencesPaneIcon pane)
{
    switch (pane) {
    case PreferencesPaneIcon::General:
        return drawnIcon(drawGeneral, {24, 48});
    case PreferencesPaneIcon::PhotoSorting:
        return drawnIcon(drawPhotoSorting, {24, 48});
    case PreferencesPaneIcon::Advanced:
        return drawnIcon(drawAdvanced, {24, 48});
    }
    return {};
}

} // namespace vornakel
