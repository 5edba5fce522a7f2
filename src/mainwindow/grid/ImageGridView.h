#pragma once

#include "mainwindow/grid/ImageGridItem.h"
#include "mainwindow/grid/PhotoGridModel.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QPointer>

#include <optional>
#include <vector>

namespace vornakel {

class ThumbnailCache;

// The thumbnail grid: a header per day and a row-wrapped grid of cells below it, drawn straight from the model
// (no widget per cell), so a grid of tens of thousands of photos costs only what is on screen. Layout is kept
// per section and redone in proportion to the number of sections when photos arrive.
//
// Mouse: a click selects one photo (inside a multiple selection, on release), Ctrl+click toggles, Shift+click extends from the last clicked photo, a drag
// on the background draws a rubber band; each gesture is one undo step. The arrow keys move the selection (with
// Shift they extend it). A double click or Space asks for the preview.
class ImageGridView : public QAbstractScrollArea {
    Q_OBJECT
public:
    ImageGridView(PhotoGridModel& model, ThumbnailCache& thumbnails, QWidget* parent = nullptr);
    ~ImageGridView() override;

    // Where a cell or a section header lies, in viewport coordinates.
    QRect cellRect(const GridIndex& index) const;
    QRect headerRect(int section) const;
    std::optional<GridIndex> indexAt(const QPoint& viewportPoint) const;
    // The thumbnail's own rectangle for the photo, when any of it is on screen; in viewport coordinates.
    std::optional<QRect> visibleImageRect(const Photo& photo) const;
    // What the cell of the photo shows now (for tests and the screenshot tool).
    ImageGridItem::Look lookOf(const Photo& photo) const;
    void scrollToPhoto(const Photo& photo);
    int columnCount() const { return m_columns; }
    PhotoGridModel& model() const { return m_model; }
    // The photo the keyboard works from: the one last clicked or reached, else the last selected; none when empty.
    PhotoPtr currentPhoto() const;
    // The section header text: the full date with "Today"/"Yesterday" where they apply, or "Undated".
    QString headerText(const QDate& day) const;
    // The thumbnail, or the placeholder when there is none, as the cell shows it.
    QImage imageOf(const Photo& photo) const;

signals:
    void previewRequested();
    void photoDoubleClicked(const PhotoPtr& photo);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void relayout();
    int sectionAtY(int contentY) const;
    QRect contentCellRect(const GridIndex& index) const;
    std::vector<PhotoPtr> photosInContentRect(const QRect& rect) const;
    void updatePhoto(const Photo* photo);
    void updateRubberBand(const QPoint& viewportPoint);
    void schedulePaint();
    // The cell an arrow key leads to from `from`, across day sections; none at the grid's ends.
    std::optional<GridIndex> neighbour(const GridIndex& from, int key) const;
    // The section days and photos on screen, to tell whether a change shows.
    std::vector<std::pair<QDate, const Photo*>> visibleContent() const;

    PhotoGridModel& m_model;
    ThumbnailCache& m_thumbnails;
    int m_columns = 1;
    int m_left = 0;
    std::vector<int> m_sectionTops; // content y of each section's header
    int m_contentHeight = 0;
    // The gesture in progress: the selection before it, the band's anchor (content coordinates).
    std::optional<std::vector<PhotoPtr>> m_gestureStart;
    std::optional<QPoint> m_bandAnchor;
    QRect m_band; // viewport coordinates
    std::vector<PhotoPtr> m_bandBase;
    PhotoPtr m_anchorPhoto;
    // Pressed inside a multiple selection: the photo the selection narrows to if the press ends as a click.
    PhotoPtr m_narrowOnRelease;
    QPoint m_pressPoint;
    QBasicTimer m_spinnerTimer;
    int m_spinnerStep = 0;
    bool m_anySpinning = false;
    std::vector<QRect> m_spinningCells; // viewport coordinates, as last painted
    // What the last paint showed.
    std::vector<std::pair<QDate, const Photo*>> m_paintedContent;
    int m_paintedScroll = -1;
    int m_paintedWidth = -1;
    const Photo* m_anchor = nullptr; // the first photo painted, and how far below the top it was
    int m_anchorOffset = 0;
    QElapsedTimer m_lastPaint;
    QBasicTimer m_paintTimer;
};

} // namespace vornakel
