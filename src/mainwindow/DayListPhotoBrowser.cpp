#include "mainwindow/DayListPhotoBrowser.h"

#include "model/PhotoVariant.h"
#include "platform/core/Strings.h"

#include <QHeaderView>
#include <QLocale>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

namespace vornakel {

namespace {
std::optional<QDateTime> dateOf(const PhotoPtr& photo)
{
    const auto primary = photo ? photo->primaryVariant() : nullptr;
    return primary ? primary->dateCreated() : std::nullopt;
}

QString nameOf(const PhotoPtr& photo)
{
    const auto primary = photo ? photo->primaryVariant() : nullptr;
    return primary ? primary->fileName() : QString();
}

const Photo* photoOfItem(const QTreeWidgetItem* item)
{
    return reinterpret_cast<const Photo*>(item->data(0, Qt::UserRole).value<quintptr>());
}
} // namespace

bool photoShowsBefore(const PhotoPtr& a, const PhotoPtr& b)
{
    const auto dateA = dateOf(a);
    const auto dateB = dateOf(b);
    if (dateA.has_value() != dateB.has_value())
        return dateA.has_value(); // dated photos first
    if (dateA && *dateA != *dateB)
        return *dateA > *dateB; // newest first
    const int byName = QString::compare(nameOf(a), nameOf(b));
    if (byName != 0)
        return byName < 0;
    return std::less<const Photo*>()(a.get(), b.get());
}

DayListPhotoBrowser::DayListPhotoBrowser(QWidget* parent) : m_list(new QTreeWidget(parent))
{
    m_list->setObjectName(QStringLiteral("photoList"));
    m_list->setColumnCount(2);
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Fixed widths: sizing a column to its contents reads every row on every change.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_list->header()->resizeSection(1, 110);
    m_selectionConnection = QObject::connect(m_list, &QTreeWidget::itemSelectionChanged, m_list, [this] { readSelection(); });
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshInterval);
    QObject::connect(&m_refreshTimer, &QTimer::timeout, m_list, [this] {
        if (m_refreshPending)
            refresh();
    });
}

DayListPhotoBrowser::~DayListPhotoBrowser()
{
    if (!m_list)
        return;
    // A list that lives on in its window must no longer call into this browser.
    QObject::disconnect(m_selectionConnection);
    if (!m_list->parent())
        delete m_list;
}

QWidget* DayListPhotoBrowser::widget() { return m_list; }

std::optional<QDate> DayListPhotoBrowser::dayOf(const PhotoPtr& photo)
{
    const auto date = dateOf(photo);
    return date ? std::optional<QDate>(date->date()) : std::nullopt;
}

QString DayListPhotoBrowser::titleOf(const Day& day)
{
    return day.date ? QLocale().toString(*day.date, QLocale::LongFormat) : QStringLiteral("No Date");
}

DayListPhotoBrowser::Day& DayListPhotoBrowser::dayFor(const std::optional<QDate>& date)
{
    // Newest day first; the undated section last.
    const auto before = [](const std::optional<QDate>& a, const std::optional<QDate>& b) {
        if (a.has_value() != b.has_value())
            return a.has_value();
        return a && *a > *b;
    };
    auto position = std::lower_bound(m_days.begin(), m_days.end(), date,
                                     [&](const std::unique_ptr<Day>& day, const std::optional<QDate>& d) { return before(day->date, d); });
    if (position != m_days.end() && (*position)->date == date)
        return **position;
    auto day = std::make_unique<Day>();
    day->date = date;
    return **m_days.insert(position, std::move(day));
}

void DayListPhotoBrowser::insert(const PhotoPtr& photo)
{
    if (!photo || m_dayOfPhoto.count(photo.get()))
        return;
    Day& day = dayFor(dayOf(photo));
    day.photos.insert(std::lower_bound(day.photos.begin(), day.photos.end(), photo, photoShowsBefore), photo);
    day.changed = true;
    m_dayOfPhoto.emplace(photo.get(), &day);
}

void DayListPhotoBrowser::remove(const PhotoPtr& photo)
{
    const auto found = m_dayOfPhoto.find(photo.get());
    if (found == m_dayOfPhoto.end())
        return;
    Day* day = found->second;
    m_dayOfPhoto.erase(found);
    m_selected.erase(photo.get());
    std::erase(day->photos, photo);
    day->changed = true;
    if (day->photos.empty()) {
        m_refreshing = true;
        delete day->item;
        m_refreshing = false;
        std::erase_if(m_days, [day](const std::unique_ptr<Day>& d) { return d.get() == day; });
    }
}

void DayListPhotoBrowser::applyGroupingUpdate(const PhotoGrouping::Update& update)
{
    // A photo replaced by its RAW+JPEG pair keeps its place in the selection as the pair.
    bool replacedSelected = false;
    for (const PhotoPtr& photo : update.removed) {
        replacedSelected = replacedSelected || m_selected.count(photo.get());
        remove(photo);
    }
    for (const PhotoPtr& photo : update.added) {
        insert(photo);
        if (replacedSelected && photo && photo->previewVariant())
            m_selected.insert(photo.get());
    }
    // The first change shows at once; later ones gather until the interval is over.
    if (m_refreshTimer.isActive()) {
        m_refreshPending = true;
        return;
    }
    refresh();
    m_refreshTimer.start();
}

void DayListPhotoBrowser::refresh()
{
    m_refreshPending = false;
    m_refreshing = true;
    QFont dayFont = m_list->font();
    dayFont.setBold(true);
    for (size_t index = 0; index < m_days.size(); ++index) {
        Day& day = *m_days[index];
        if (!day.item) {
            day.item = new QTreeWidgetItem;
            day.item->setFlags(Qt::ItemIsEnabled);
            day.item->setFont(0, dayFont);
            m_list->insertTopLevelItem(int(index), day.item);
            day.item->setExpanded(true);
        }
        if (!day.changed)
            continue;
        day.changed = false;
        qDeleteAll(day.item->takeChildren());
        QList<QTreeWidgetItem*> items;
        items.reserve(qsizetype(day.photos.size()));
        for (const PhotoPtr& photo : day.photos) {
            auto* item = new QTreeWidgetItem;
            // Item texts are plain text: file names come from the camera.
            QString text = photo->displayName();
            if (photo->previewVariant())
                text += QStringLiteral("  (RAW + JPEG)");
            item->setText(0, text);
            if (const auto date = dateOf(photo))
                item->setText(1, QLocale().toString(date->time(), QLocale::ShortFormat));
            item->setData(0, Qt::UserRole, QVariant::fromValue(quintptr(photo.get())));
            items.append(item);
        }
        day.item->addChildren(items);
        for (QTreeWidgetItem* item : items)
            if (m_selected.count(photoOfItem(item)))
                item->setSelected(true);
        day.item->setText(0, titleOf(day));
        day.item->setText(1, GeneralUI::counted(QStringLiteral("PhotoCountFormat"), qint64(day.photos.size())));
    }
    m_refreshing = false;
}

void DayListPhotoBrowser::readSelection()
{
    if (m_refreshing)
        return;
    // Photos not on screen yet keep their selection state.
    for (int top = 0; top < m_list->topLevelItemCount(); ++top) {
        const QTreeWidgetItem* day = m_list->topLevelItem(top);
        for (int row = 0; row < day->childCount(); ++row) {
            const QTreeWidgetItem* item = day->child(row);
            if (item->isSelected())
                m_selected.insert(photoOfItem(item));
            else
                m_selected.erase(photoOfItem(item));
        }
    }
}

std::vector<PhotoPtr> DayListPhotoBrowser::shownPhotos() const
{
    std::vector<PhotoPtr> result;
    result.reserve(m_dayOfPhoto.size());
    for (const auto& day : m_days)
        result.insert(result.end(), day->photos.begin(), day->photos.end());
    return result;
}

std::vector<PhotoPtr> DayListPhotoBrowser::photosForCopying() const
{
    std::vector<PhotoPtr> selected;
    for (const auto& day : m_days)
        for (const PhotoPtr& photo : day->photos)
            if (m_selected.count(photo.get()))
                selected.push_back(photo);
    return selected.empty() ? shownPhotos() : selected;
}

std::vector<std::pair<QString, std::vector<PhotoPtr>>> DayListPhotoBrowser::sections() const
{
    std::vector<std::pair<QString, std::vector<PhotoPtr>>> result;
    for (const auto& day : m_days)
        result.emplace_back(titleOf(*day), day->photos);
    return result;
}

} // namespace vornakel
