#include "mainwindow/grid/ImageGridAccessibility.h"

#include "mainwindow/grid/ImageGridItem.h"
#include "mainwindow/grid/ImageGridView.h"
#include "platform/core/Strings.h"

#include <QAccessibleWidget>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QWindow>

#include <mutex>
#include <unordered_map>

namespace vornakel {
namespace {

// The position of a cell counted across the sections, as the list's children are numbered.
int flatIndexOf(const PhotoGridModel& model, const GridIndex& index)
{
    int flat = 0;
    for (int section = 0; section < index.section; ++section)
        flat += int(model.sections()[size_t(section)].entries.size());
    return flat + index.item;
}

std::optional<GridIndex> gridIndexAt(const PhotoGridModel& model, int flat)
{
    if (flat < 0)
        return std::nullopt;
    const std::vector<PhotoGridModel::Section>& sections = model.sections();
    for (size_t section = 0; section < sections.size(); ++section) {
        const int size = int(sections[section].entries.size());
        if (flat < size)
            return GridIndex{int(section), flat};
        flat -= size;
    }
    return std::nullopt;
}

// The date and time the photo was taken (or "Undated") and its file-type badge, as the cell shows them.
QString describe(const Photo& photo, const GridCalendar& calendar)
{
    const std::optional<QDateTime> taken = photo.primaryVariant()->dateCreated();
    QString when = GeneralUI::text(QStringLiteral("GridUndatedSectionTitle"));
    if (taken && taken->isValid()) {
        const QDateTime local = taken->toTimeZone(calendar.timeZone);
        const QLocale locale;
        when = locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ')
               + locale.toString(local.time(), QLocale::ShortFormat);
    }
    return when + QStringLiteral(", ") + GeneralUI::text(ImageGridItem::badgeKey(photo));
}

// One photo of the grid. It holds the photo weakly: once the photo leaves the grid the item is no longer valid.
class PhotoCellAccessible : public QAccessibleInterface {
public:
    PhotoCellAccessible(ImageGridView* view, const PhotoPtr& photo) : m_view(view), m_photo(photo) {}

    PhotoPtr photo() const
    {
        PhotoPtr photo = m_photo.lock();
        return photo && m_view && m_view->model().contains(photo.get()) ? photo : nullptr;
    }

    bool isValid() const override { return photo() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_view.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text type) const override
    {
        const PhotoPtr shown = photo();
        if (!shown)
            return {};
        switch (type) {
        case QAccessible::Name:
            return shown->primaryVariant()->fileName();
        case QAccessible::Description:
            return describe(*shown, m_view->model().calendar());
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        const PhotoPtr shown = photo();
        const std::optional<GridIndex> index = shown ? m_view->model().indexOf(*shown) : std::nullopt;
        if (!index)
            return {};
        const QRect cell = m_view->cellRect(*index);
        return QRect(m_view->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const PhotoPtr shown = photo();
        if (!shown) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = m_view->model().isSelected(shown.get());
        state.focused = m_view->hasFocus() && m_view->currentPhoto() == shown;
        const std::optional<GridIndex> index = m_view->model().indexOf(*shown);
        state.offscreen = !index || !m_view->cellRect(*index).intersects(m_view->viewport()->rect());
        return state;
    }

private:
    QPointer<ImageGridView> m_view;
    std::weak_ptr<Photo> m_photo;
};

// The grid as a list of its photos. The scroll bars are left out: they are not what the list holds.
class ImageGridAccessible : public QAccessibleWidget {
public:
    explicit ImageGridAccessible(ImageGridView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~ImageGridAccessible() override
    {
        for (const auto& [photo, id] : m_cells)
            QAccessible::deleteAccessibleInterface(id);
    }

    ImageGridView* view() const { return static_cast<ImageGridView*>(widget()); }

    // The item of the photo, made on first use and kept while the photo is in the grid.
    QAccessibleInterface* cellFor(const PhotoPtr& photo)
    {
        if (!photo)
            return nullptr;
        const auto found = m_cells.find(photo.get());
        if (found != m_cells.end()) {
            auto* cell = static_cast<PhotoCellAccessible*>(QAccessible::accessibleInterface(found->second));
            if (cell && cell->photo() == photo)
                return cell;
            // A photo that left and came back, or a new photo at a freed address.
            QAccessible::deleteAccessibleInterface(found->second);
            m_cells.erase(found);
        }
        auto* cell = new PhotoCellAccessible(view(), photo);
        m_cells.emplace(photo.get(), QAccessible::registerAccessibleInterface(cell));
        return cell;
    }

    void forgetGonePhotos()
    {
        for (auto it = m_cells.begin(); it != m_cells.end();) {
            QAccessibleInterface* cell = QAccessible::accessibleInterface(it->second);
            if (cell && cell->isValid()) {
                ++it;
                continue;
            }
            QAccessible::deleteAccessibleInterface(it->second);
            it = m_cells.erase(it);
        }
    }

    int childCount() const override { return int(view()->model().photoCount()); }

    QAccessibleInterface* child(int index) const override
    {
        const std::optional<GridIndex> at = gridIndexAt(view()->model(), index);
        return at ? const_cast<ImageGridAccessible*>(this)->cellFor(view()->model().photoAt(*at)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto found = std::find_if(m_cells.begin(), m_cells.end(), [&](const auto& entry) {
            return QAccessible::accessibleInterface(entry.second) == child;
        });
        if (found == m_cells.end())
            return -1;
        const PhotoPtr photo = static_cast<const PhotoCellAccessible*>(child)->photo();
        const std::optional<GridIndex> index = photo ? view()->model().indexOf(*photo) : std::nullopt;
        return index ? flatIndexOf(view()->model(), *index) : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint point = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const std::optional<GridIndex> index = view()->indexAt(point);
        return index ? const_cast<ImageGridAccessible*>(this)->cellFor(view()->model().photoAt(*index)) : nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        if (!view()->hasFocus())
            return nullptr;
        return const_cast<ImageGridAccessible*>(this)->cellFor(view()->currentPhoto());
    }

    QString text(QAccessible::Text type) const override
    {
        const QString own = QAccessibleWidget::text(type);
        if (type == QAccessible::Name && own.isEmpty())
            return GeneralUI::text(QStringLiteral("GridAccessibleName"));
        return own;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiSelectable = true;
        state.extSelectable = true;
        return state;
    }

private:
    std::unordered_map<const Photo*, QAccessible::Id> m_cells;
};

QAccessibleInterface* gridFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("vornakel::ImageGridView"))
        return nullptr;
    auto* view = qobject_cast<ImageGridView*>(object);
    return view ? new ImageGridAccessible(view) : nullptr;
}

ImageGridAccessible* accessibleOf(ImageGridView& view)
{
    return dynamic_cast<ImageGridAccessible*>(QAccessible::queryAccessibleInterface(&view));
}

} // namespace

void ImageGridAccessibility::install()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(gridFactory); });
}

// Events are sent whether or not a screen reader listens: Qt drops them cheaply when none does.
void ImageGridAccessibility::photosChanged(ImageGridView& view)
{
    if (ImageGridAccessible* grid = accessibleOf(view))
        grid->forgetGonePhotos();
    QAccessibleEvent event(&view, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&event);
}

void ImageGridAccessibility::selectionChanged(ImageGridView& view)
{
    QAccessibleEvent selection(&view, QAccessible::SelectionWithin);
    QAccessible::updateAccessibility(&selection);
    const PhotoPtr current = view.currentPhoto();
    if (!current || !view.hasFocus())
        return;
    const std::optional<GridIndex> index = view.model().indexOf(*current);
    if (!index)
        return;
    QAccessibleEvent focus(&view, QAccessible::Focus);
    focus.setChild(flatIndexOf(view.model(), *index));
    QAccessible::updateAccessibility(&focus);
}

} // namespace vornakel
