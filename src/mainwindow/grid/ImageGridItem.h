#pragma once

#include "mainwindow/grid/ThumbnailCache.h"
#include "model/Photo.h"

#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

namespace vornakel {

// One cell of the photo grid: what it shows for a photo and how it is drawn. Cells are not widgets; the grid
// paints the visible ones from the photo, its thumbnail state and its selection.
class ImageGridItem {
public:
    struct Look {
        QImage thumbnail;         // drawn when not null
        bool placeholder = true;  // draws "Placeholder-Greyscale" instead of a thumbnail
        bool spinning = false;    // the thumbnail is being fetched
        bool badgeVisible = false;
        QString badgeText;
        bool selected = false;
    };

    // The file-type badge's strings key: "FileTypeRAWJPEGLabel" for a RAW+JPEG pair, else by the primary
    // file's family.
    static QString badgeKey(const Photo& photo);
    // What a cell shows. Without a photo: the placeholder, no badge. While loading: nothing but the spinner.
    // Loaded: the thumbnail and the badge; a photo without a thumbnail shows the placeholder with its badge.
    static Look lookFor(const Photo* photo, ThumbnailCache::State state, const QImage& thumbnail, bool selected);

    // The area a thumbnail of `imageSize` takes in a cell, kept at its aspect ratio and centred in the
    // thumbnail box.
    static QRect imageRect(const QRect& cell, const QSize& imageSize);
    static QRect thumbnailBox(const QRect& cell);
    static QSize placeholderSize();
    // The greyscale placeholder image, drawn once per size.
    static QImage placeholderImage(const QSize& size);

    static void paint(QPainter& painter, const QRect& cell, const Look& look, int spinnerStep);
    // A busy indicator of twelve spokes, `step` turning it.
    static void paintSpinner(QPainter& painter, const QPointF& centre, qreal radius, int step, const QColor& colour);

    static constexpr int kCellWidth = 184;
    static constexpr int kCellHeight = 150;
    static constexpr int kBoxWidth = 160;
    static constexpr int kBoxHeight = 120;
};

} // namespace vornakel
