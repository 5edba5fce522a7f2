#include "mainwindow/grid/ImageGridView.h"

#include "mainwindow/grid/ImageGridAccessibility.h"

#include "platform/core/Strings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace vornakel {
namespace {

constexpr int kHeaderHeight = 38;
constexpr int kSectionBottom = 10;
constexpr int kMargin = 12;
// How many screens below the visible one have their thumbnails fetched ahead.
constexpr int kLookAheadScreens = 1;
// Chunks of photos can come faster than frames: the grid and its scroll bar paint at most once a frame for them.
constexpr qint64 kFrameMilliseconds = 16;

// The grid's vertical scroll bar, which redraws for a change of its range at most once a frame. While a camera's
// photos stream in, every chunk grows the range; redrawing the bar for each would paint it hundreds of times a
// second, and each of those paints hands its fills to Qt's paint threads and waits for them, so on a busy machine
// a chunk could wait for a core several milliseconds. The range itself changes at once; only its picture waits
// for the next frame. Changes of the value (scrolling) draw at once as ever.
class FrameScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderRangeChange && m_lastPaint.isValid()) {
            const qint64 sinceLastPaint = m_lastPaint.elapsed();
            if (sinceLastPaint < kFrameMilliseconds) {
                if (!m_frameTimer.isActive())
                    m_frameTimer.start(int(kFrameMilliseconds - sinceLastPaint), this);
                return;
            }
        }
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override
    {
        m_lastPaint.start();
        m_frameTimer.stop();
        QScrollBar::paintEvent(event);
    }
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_frameTimer.timerId()) {
            QScrollBar::timerEvent(event);
            return;
        }
        m_frameTimer.stop();
        QScrollBar::sliderChange(SliderRangeChange);
    }

private:
    QElapsedTimer m_lastPaint;
    QBasicTimer m_frameTimer;
};

} // namespace

ImageGridView::ImageGridView(PhotoGridModel& model, ThumbnailCache& thumbnails, QWidget* parent)
    : QAbstractScrollArea(parent), m_model(model), m_thumbnails(thumbnails)
{
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, QColor(246, 246, 246));
    viewport()->setPalette(palette);
    setVerticalScrollBar(new FrameScrollBar(Qt::Vertical, this));
    verticalScrollBar()->setSingleStep(40);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    connect(&m_model, &PhotoGridModel::photosChanged, this, &ImageGridView::relayout);
    connect(&m_model, &PhotoGridModel::selectionChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&m_thumbnails, &ThumbnailCache::thumbnailChanged, this, &ImageGridView::updatePhoto);
    ImageGridAccessibility::install();
    connect(&m_model, &PhotoGridModel::photosChanged, this, [this] { ImageGridAccessibility::photosChanged(*this); });
    connect(&m_model, &PhotoGridModel::selectionChanged, this, [this] { ImageGridAccessibility::selectionChanged(*this); });
    relayout();
}

ImageGridView::~ImageGridView() = default;

// ---- Layout -------------------------------------------------------------------------------------------------

std::vector<std::pair<QDate, const Photo*>> ImageGridView::visibleContent() const
{
    std::vector<std::pair<QDate, const Photo*>> content;
    const QRect visible = viewport()->rect().translated(0, verticalScrollBar()->value());
    const std::vector<PhotoGridModel::Section>& sections = m_model.sections();
    for (int section = std::max(0, sectionAtY(visible.top())); size_t(section) < sections.size(); ++section) {
        if (m_sectionTops[size_t(section)] > visible.bottom())
            break;
        content.emplace_back(sections[size_t(section)].day, nullptr);
    }
    for (const PhotoPtr& photo : photosInContentRect(visible))
        content.emplace_back(QDate(), photo.get());
    return content;
}

void ImageGridView::relayout()
{

    // Keep the first photo on screen where it was painted when photos arrive above it (unless the grid is at
    // its top, where the newest photos are what the user waits for).
    const bool anchored = verticalScrollBar()->value() > 0 && m_anchor && m_model.contains(m_anchor);
    const Photo* anchor = anchored ? m_anchor : nullptr;
    const int anchorOffset = m_anchorOffset;

    const int width = viewport()->width();
    m_columns = std::max(1, (width - 2 * kMargin) / ImageGridItem::kCellWidth);
    m_left = std::max(kMargin, (width - m_columns * ImageGridItem::kCellWidth) / 2);
    const std::vector<PhotoGridModel::Section>& sections = m_model.sections();
    m_sectionTops.resize(sections.size());
    int y = 0;
    for (size_t i = 0; i < sections.size(); ++i) {
        m_sectionTops[i] = y;
        const int rows = int((sections[i].entries.size() + size_t(m_columns) - 1) / size_t(m_columns));
        y += kHeaderHeight + rows * ImageGridItem::kCellHeight + kSectionBottom;
    }
    m_contentHeight = y;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, m_contentHeight - viewport()->height()));
    if (anchor)
        if (const std::optional<GridIndex> moved = m_model.indexOf(*anchor))
            verticalScrollBar()->setValue(contentCellRect(*moved).top() - anchorOffset);
    // Photos arriving off screen (the usual case once the first page is full) change nothing that shows.
    if (verticalScrollBar()->value() != m_paintedScroll || m_paintedWidth != width ||
        visibleContent() != m_paintedContent)
        schedulePaint();
}

void ImageGridView::schedulePaint()
{
    // Chunks of photos can come faster than frames: paint at most once a frame for them.
    const qint64 sinceLastPaint = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kFrameMilliseconds;
    if (sinceLastPaint >= kFrameMilliseconds) {
        viewport()->update();
        return;
    }
    if (!m_paintTimer.isActive())
        m_paintTimer.start(int(kFrameMilliseconds - sinceLastPaint), this);
}

int ImageGridView::sectionAtY(int contentY) const
{
    const auto after = std::upper_bound(m_sectionTops.begin(), m_sectionTops.end(), contentY);
    return int(after - m_sectionTops.begin()) - 1;
}

QRect ImageGridView::contentCellRect(const GridIndex& index) const
{
    if (index.section < 0 || size_t(index.section) >= m_sectionTops.size())
        return {};
    const int row = index.item / m_columns;
    const int column = index.item % m_columns;
    return QRect(m_left + column * ImageGridItem::kCellWidth,
                 m_sectionTops[size_t(index.section)] + kHeaderHeight + row * ImageGridItem::kCellHeight,
                 ImageGridItem::kCellWidth, ImageGridItem::kCellHeight);
}

QRect ImageGridView::cellRect(const GridIndex& index) const
{
    return contentCellRect(index).translated(0, -verticalScrollBar()->value());
}

QRect ImageGridView::headerRect(int section) const
{
    if (section < 0 || size_t(section) >= m_sectionTops.size())
        return {};
    return QRect(0, m_sectionTops[size_t(section)] - verticalScrollBar()->value(), viewport()->width(), kHeaderHeight);
}

std::optional<GridIndex> ImageGridView::indexAt(const QPoint& viewportPoint) const
{
    const int y = viewportPoint.y() + verticalScrollBar()->value();
    const int section = sectionAtY(y);
    if (section < 0)
        return std::nullopt;
    const int inSection = y - m_sectionTops[size_t(section)] - kHeaderHeight;
    const int x = viewportPoint.x() - m_left;
    if (inSection < 0 || x < 0 || x >= m_columns * ImageGridItem::kCellWidth ||
        size_t(section) >= m_model.sections().size())
        return std::nullopt;
    const int item = (inSection / ImageGridItem::kCellHeight) * m_columns + x / ImageGridItem::kCellWidth;
    if (size_t(item) >= m_model.sections()[size_t(section)].entries.size())
        return std::nullopt;
    return GridIndex{section, item};
}

std::vector<PhotoPtr> ImageGridView::photosInContentRect(const QRect& rect) const
{
    std::vector<PhotoPtr> photos;
    const std::vector<PhotoGridModel::Section>& sections = m_model.sections();
    for (int section = std::max(0, sectionAtY(rect.top())); size_t(section) < sections.size(); ++section) {
        if (m_sectionTops[size_t(section)] > rect.bottom())
            break;
        const std::vector<PhotoGridModel::Entry>& entries = sections[size_t(section)].entries;
        const int top = m_sectionTops[size_t(section)] + kHeaderHeight;
        const int firstRow = std::max(0, (rect.top() - top) / ImageGridItem::kCellHeight);
        for (size_t item = size_t(firstRow * m_columns); item < entries.size(); ++item) {
            const QRect cell = contentCellRect(GridIndex{section, int(item)});
            if (cell.top() > rect.bottom())
                break;
            if (cell.intersects(rect))
                photos.push_back(entries[item].photo);
        }
    }
    return photos;
}

std::optional<QRect> ImageGridView::visibleImageRect(const Photo& photo) const
{
    const std::optional<GridIndex> index = m_model.indexOf(photo);
    if (!index)
        return std::nullopt;
    const QRect cell = cellRect(*index);
    const QRect image = ImageGridItem::imageRect(cell, imageOf(photo).size());
    if (!image.intersects(viewport()->rect()))
        return std::nullopt;
    return image;
}

QImage ImageGridView::imageOf(const Photo& photo) const
{
    const QImage thumbnail = m_thumbnails.thumbnail(&photo);
    return thumbnail.isNull() ? ImageGridItem::placeholderImage(ImageGridItem::placeholderSize()) : thumbnail;
}

ImageGridItem::Look ImageGridView::lookOf(const Photo& photo) const
{
    const PhotoPtr shared = std::const_pointer_cast<Photo>(photo.shared_from_this());
    const ThumbnailCache::State state = m_thumbnails.request(shared);
    return ImageGridItem::lookFor(&photo, state, m_thumbnails.thumbnail(&photo), m_model.isSelected(&photo));
}

void ImageGridView::scrollToPhoto(const Photo& photo)
{
    if (const std::optional<GridIndex> index = m_model.indexOf(photo))
        verticalScrollBar()->setValue(contentCellRect(*index).top() - kHeaderHeight);
}

PhotoPtr ImageGridView::currentPhoto() const
{
    if (m_anchorPhoto && m_model.contains(m_anchorPhoto.get()))
        return m_anchorPhoto;
    const std::vector<PhotoPtr>& selected = m_model.selectedPhotos();
    return selected.empty() ? nullptr : selected.back();
}

QString ImageGridView::headerText(const QDate& day) const
{
    if (!day.isValid())
        return GeneralUI::text(QStringLiteral("GridUndatedSectionTitle"));
    const QString date = QLocale().toString(day, QLocale::LongFormat);
    const QDate today = m_model.calendar().today();
    if (day == today)
        return GeneralUI::text(QStringLiteral("QuickSelectToday")) + QStringLiteral(", ") + date;
    if (day == today.addDays(-1))
        return GeneralUI::text(QStringLiteral("QuickSelectYesterday")) + QStringLiteral(", ") + date;
    return date;
}

// ---- Painting -----------------------------------------------------------------------------------------------

void ImageGridView::paintEvent(QPaintEvent* event)
{
    m_lastPaint.start();
    m_paintTimer.stop();
    QPainter painter(viewport());
    const int scroll = verticalScrollBar()->value();
    m_paintedContent = visibleContent();
    m_paintedScroll = scroll;
    m_paintedWidth = viewport()->width();
    m_anchor = nullptr;
    for (const auto& [day, photo] : m_paintedContent)
        if (photo) {
            m_anchor = photo;
            m_anchorOffset = contentCellRect(*m_model.indexOf(*photo)).top() - scroll;
            break;
        }
    const QRect visible = viewport()->rect().translated(0, scroll);
    const QRect dirty = event->rect();
    const std::vector<PhotoGridModel::Section>& sections = m_model.sections();
    std::unordered_set<const Photo*> shown;
    // On screen first, top to bottom, then the look-ahead: the order the camera is asked in.
    std::vector<const Photo*> wanted;
    bool spinning = false;
    std::vector<QRect> spinningCells;

    QFont headerFont = font();
    headerFont.setPixelSize(15);
    headerFont.setBold(true);
    for (int section = std::max(0, sectionAtY(visible.top())); size_t(section) < sections.size(); ++section) {
        const int top = m_sectionTops[size_t(section)];
        if (top > visible.bottom())
            break;
        const QRect header = headerRect(section);
        if (header.intersects(dirty)) {
            painter.setFont(headerFont);
            painter.setPen(QColor(40, 40, 40));
            painter.drawText(header.adjusted(m_left + 8, 6, -kMargin, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             headerText(sections[size_t(section)].day));
            painter.setPen(QColor(0, 0, 0, 30));
            painter.drawLine(header.left() + m_left, header.bottom(), header.right() - m_left, header.bottom());
        }
        const std::vector<PhotoGridModel::Entry>& entries = sections[size_t(section)].entries;
        const int firstRow = std::max(0, (visible.top() - top - kHeaderHeight) / ImageGridItem::kCellHeight);
        for (size_t item = size_t(firstRow * m_columns); item < entries.size(); ++item) {
            const QRect content = contentCellRect(GridIndex{section, int(item)});
            if (content.top() > visible.bottom())
                break;
            const Photo* photo = entries[item].photo.get();
            shown.insert(photo);
            wanted.push_back(photo);
            const ThumbnailCache::State state = m_thumbnails.request(entries[item].photo);
            const QRect cell = content.translated(0, -scroll);
            if (state == ThumbnailCache::State::loading) {
                spinning = true;
                spinningCells.push_back(ImageGridItem::thumbnailBox(cell));
            }
            if (!cell.intersects(dirty))
                continue;
            const ImageGridItem::Look look =
                ImageGridItem::lookFor(photo, state, m_thumbnails.thumbnail(photo), m_model.isSelected(photo));
            ImageGridItem::paint(painter, cell, look, m_spinnerStep);
        }
    }
    if (!m_band.isNull()) {
        painter.setPen(QColor(60, 120, 220));
        painter.setBrush(QColor(60, 120, 220, 40));
        painter.drawRect(m_band.adjusted(0, 0, -1, -1));
    }
    // The screen below this one is fetched ahead, the way a scroll usually goes; this and what shows bound what
    // the grid ever asks the camera for.
    for (const PhotoPtr& ahead : photosInContentRect(visible.translated(0, visible.height() * kLookAheadScreens)))
        if (shown.count(ahead.get()) == 0) {
            m_thumbnails.request(ahead);
            wanted.push_back(ahead.get());
        }
    // Cells scrolled away no longer want their thumbnails.
    m_thumbnails.keepOnly(wanted);
    m_anySpinning = spinning;
    m_spinningCells = std::move(spinningCells);
    if (spinning && !m_spinnerTimer.isActive())
        m_spinnerTimer.start(80, this);
    else if (!spinning)
        m_spinnerTimer.stop();
}

void ImageGridView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_paintTimer.timerId()) {
        m_paintTimer.stop();
        viewport()->update();
        return;
    }
    if (event->timerId() != m_spinnerTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_spinnerStep = (m_spinnerStep + 1) % 12;
    for (const QRect& cell : m_spinningCells)
        viewport()->update(cell);
}

void ImageGridView::updatePhoto(const Photo* photo)
{
    if (!m_model.contains(photo))
        return;
    if (const std::optional<GridIndex> index = m_model.indexOf(*photo))
        viewport()->update(cellRect(*index));
}

void ImageGridView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ImageGridView::scrollContentsBy(int, int)
{
    m_spinningCells.clear();
    viewport()->update();
}

// ---- Mouse and keys -----------------------------------------------------------------------------------------

void ImageGridView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const std::vector<PhotoPtr> before = m_model.selectedPhotos();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const std::optional<GridIndex> index = indexAt(event->position().toPoint());
    const PhotoPtr photo = index ? m_model.photoAt(*index) : nullptr;
    if (!photo) {
        // A rubber band; it adds to the selection with Ctrl or Shift, else replaces it.
        m_gestureStart = before;
        m_bandAnchor = event->position().toPoint() + QPoint(0, verticalScrollBar()->value());
        m_bandBase = modifiers & (Qt::ControlModifier | Qt::ShiftModifier) ? before : std::vector<PhotoPtr>{};
        m_model.setSelection(m_bandBase);
        return;
    }
    std::vector<PhotoPtr> after;
    if (modifiers & Qt::ControlModifier) {
        after = before;
        const auto found = std::find(after.begin(), after.end(), photo);
        if (found != after.end())
            after.erase(found);
        else
            after.push_back(photo);
        m_anchorPhoto = photo;
    } else if ((modifiers & Qt::ShiftModifier) && m_anchorPhoto && m_model.contains(m_anchorPhoto.get())) {
        const std::vector<PhotoPtr> all = m_model.shownPhotos();
        const auto from = std::find(all.begin(), all.end(), m_anchorPhoto);
        const auto to = std::find(all.begin(), all.end(), photo);
        after = before;
        for (auto it = std::min(from, to); it <= std::max(from, to) && it != all.end(); ++it)
            if (!m_model.isSelected(it->get()))
                after.push_back(*it);
    } else {
        m_anchorPhoto = photo;
        if (m_model.isSelected(photo.get()) && before.size() > 1) {
            // A press on a photo of a multiple selection keeps it, so that a drag can carry it; a click narrows
            // it to that photo on release, as file managers do.
            m_narrowOnRelease = photo;
            m_pressPoint = event->position().toPoint();
            return;
        }
        after = {photo};
    }
    m_model.changeSelection(after);
}

void ImageGridView::updateRubberBand(const QPoint& viewportPoint)
{
    const int scroll = verticalScrollBar()->value();
    const QRect content = QRect(*m_bandAnchor, viewportPoint + QPoint(0, scroll)).normalized();
    m_band = content.translated(0, -scroll);
    std::vector<PhotoPtr> selection = m_bandBase;
    std::unordered_set<const Photo*> base;
    for (const PhotoPtr& photo : m_bandBase)
        base.insert(photo.get());
    for (const PhotoPtr& photo : photosInContentRect(content))
        if (base.count(photo.get()) == 0)
            selection.push_back(photo);
    m_model.setSelection(selection);
    viewport()->update();
}

void ImageGridView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_narrowOnRelease
        && (event->position().toPoint() - m_pressPoint).manhattanLength() >= QApplication::startDragDistance())
        m_narrowOnRelease.reset(); // a drag, not a click: the selection stays whole
    if (!m_bandAnchor) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    updateRubberBand(event->position().toPoint());
}

void ImageGridView::mouseReleaseEvent(QMouseEvent* event)
{
    if (const PhotoPtr photo = std::exchange(m_narrowOnRelease, nullptr);
        photo && event->button() == Qt::LeftButton && m_model.contains(photo.get()))
        m_model.changeSelection({photo});
    if (!m_bandAnchor) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    updateRubberBand(event->position().toPoint());
    m_bandAnchor.reset();
    m_band = QRect();
    viewport()->update();
    if (m_gestureStart) {
        m_model.commitSelectionGesture(*m_gestureStart);
        m_gestureStart.reset();
    }
}

void ImageGridView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const std::optional<GridIndex> index = indexAt(event->position().toPoint());
    if (const PhotoPtr photo = index ? m_model.photoAt(*index) : nullptr) {
        emit photoDoubleClicked(photo);
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

std::optional<GridIndex> ImageGridView::neighbour(const GridIndex& from, int key) const
{
    const std::vector<PhotoGridModel::Section>& sections = m_model.sections();
    const auto size = [&](int section) { return int(sections[size_t(section)].entries.size()); };
    const int column = from.item % m_columns;
    switch (key) {
    case Qt::Key_Left:
        if (from.item > 0)
            return GridIndex{from.section, from.item - 1};
        if (from.section > 0)
            return GridIndex{from.section - 1, size(from.section - 1) - 1};
        return std::nullopt;
    case Qt::Key_Right:
        if (from.item + 1 < size(from.section))
            return GridIndex{from.section, from.item + 1};
        if (size_t(from.section) + 1 < sections.size())
            return GridIndex{from.section + 1, 0};
        return std::nullopt;
    case Qt::Key_Up:
        if (from.item >= m_columns)
            return GridIndex{from.section, from.item - m_columns};
        if (from.section > 0) {
            // The same column in the last row of the day above, or that row's last photo.
            const int count = size(from.section - 1);
            const int lastRow = (count - 1) / m_columns * m_columns;
            return GridIndex{from.section - 1, std::min(lastRow + column, count - 1)};
        }
        return std::nullopt;
    case Qt::Key_Down: {
        const int count = size(from.section);
        if (from.item / m_columns < (count - 1) / m_columns)
            return GridIndex{from.section, std::min(from.item + m_columns, count - 1)};
        if (size_t(from.section) + 1 < sections.size())
            return GridIndex{from.section + 1, std::min(column, size(from.section + 1) - 1)};
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

void ImageGridView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Space) {
        emit previewRequested();
        return;
    }
    if (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Up && key != Qt::Key_Down) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (m_model.photoCount() == 0)
        return;
    // Arrows move from the photo last clicked or reached; with Shift they add the next one to the selection.
    const std::vector<PhotoPtr>& selected = m_model.selectedPhotos();
    const PhotoPtr current = currentPhoto();
    std::optional<GridIndex> target = current ? neighbour(*m_model.indexOf(*current), key) : GridIndex{0, 0};
    if (!target)
        return;
    const PhotoPtr photo = m_model.photoAt(*target);
    std::vector<PhotoPtr> after;
    if (event->modifiers() & Qt::ShiftModifier) {
        after = selected;
        if (!m_model.isSelected(photo.get()))
            after.push_back(photo);
    } else {
        after = {photo};
    }
    m_anchorPhoto = photo;
    m_model.changeSelection(after);
    // Bring the photo fully on screen.
    const QRect cell = cellRect(*target);
    const int header = target->item < m_columns ? kHeaderHeight : 0; // the day's header comes along
    if (cell.top() - header < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() + cell.top() - header);
    else if (cell.bottom() > viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + cell.bottom() - viewport()->height());
}

} // namespace vornakel
