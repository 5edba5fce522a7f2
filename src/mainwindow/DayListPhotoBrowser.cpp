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
    // Fixed widths: sizing a column to its contents reads every row on every insertion.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_list->header()->resizeSection(1, 110);
}

DayListPhotoBrowser::~DayListPhotoBrowser() = default;

QWidget* DayListPhotoBrowser::widget() { return m_list; }

std::optional<QDate> DayListPhotoBrowser::dayOf(const PhotoPtr& photo)
{
    const auto date = dateOf(photo);
    return date ? std::optional<QDate>(date->date()) : std::nullopt;
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
    day->item = new QTreeWidgetItem;
    day->item->setFlags(Qt::ItemIsEnabled);
    QFont font = m_list->font();
    font.setBold(true);
    day->item->setFont(0, font);
    m_list->insertTopLevelItem(int(position - m_days.begin()), day->item);
    day->item->setExpanded(true);
    return **m_days.insert(position, std::move(day));
}

void DayListPhotoBrowser::updateDayTitle(Day& day)
{
    const QString title = day.date ? QLocale().toString(*day.date, QLocale::LongFormat) : QStringLiteral("No Date");
    day.item->setText(0, title);
    day.item->setText(1, GeneralUI::counted(QStringLiteral("PhotoCountFormat"), qint64(day.photos.size())));
}

void DayListPhotoBrowser::insert(const PhotoPtr& photo)
{
    if (!photo || m_items.count(photo.get()))
        return;
    Day& day = dayFor(dayOf(photo));
    const auto position = std::lower_bound(day.photos.begin(), day.photos.end(), photo, photoShowsBefore);
    const int row = int(position - day.photos.begin());
    day.photos.insert(position, photo);
    auto* item = new QTreeWidgetItem;
    // Item texts are plain text: file names come from the camera.
    QString text = photo->displayName();
    if (photo->previewVariant())
        text += QStringLiteral("  (RAW + JPEG)");
    item->setText(0, text);
    if (const auto date = dateOf(photo))
        item->setText(1, QLocale().toString(date->time(), QLocale::ShortFormat));
    day.item->insertChild(row, item);
    m_items.emplace(photo.get(), item);
    updateDayTitle(day);
}

void DayListPhotoBrowser::remove(const PhotoPtr& photo)
{
    const auto found = m_items.find(photo.get());
    if (found == m_items.end())
        return;
    QTreeWidgetItem* item = found->second;
    m_items.erase(found);
    for (auto dayIt = m_days.begin(); dayIt != m_days.end(); ++dayIt) {
        Day& day = **dayIt;
        if (item->parent() != day.item)
            continue;
        std::erase(day.photos, photo);
        delete item;
        if (day.photos.empty()) {
            delete day.item;
            m_days.erase(dayIt);
        } else {
            updateDayTitle(day);
        }
        return;
    }
    delete item;
}

void DayListPhotoBrowser::applyGroupingUpdate(const PhotoGrouping::Update& update)
{
    // A photo replaced by its RAW+JPEG pair keeps its place in the selection as the pair.
    bool replacedSelected = false;
    for (const PhotoPtr& photo : update.removed) {
        const auto found = m_items.find(photo.get());
        replacedSelected = replacedSelected || (found != m_items.end() && found->second->isSelected());
        remove(photo);
    }
    for (const PhotoPtr& photo : update.added) {
        insert(photo);
        if (replacedSelected && photo && photo->previewVariant())
            m_items[photo.get()]->setSelected(true);
    }
}

std::vector<PhotoPtr> DayListPhotoBrowser::shownPhotos() const
{
    std::vector<PhotoPtr> result;
    result.reserve(m_items.size());
    for (const auto& day : m_days)
        result.insert(result.end(), day->photos.begin(), day->photos.end());
    return result;
}

std::vector<PhotoPtr> DayListPhotoBrowser::photosForCopying() const
{
    std::vector<PhotoPtr> selected;
    for (const auto& day : m_days)
        for (const PhotoPtr& photo : day->photos)
            if (m_items.at(photo.get())->isSelected())
                selected.push_back(photo);
    return selected.empty() ? shownPhotos() : selected;
}

std::vector<std::pair<QString, std::vector<PhotoPtr>>> DayListPhotoBrowser::sections() const
{
    std::vector<std::pair<QString, std::vector<PhotoPtr>>> result;
    for (const auto& day : m_days)
        result.emplace_back(day->item->text(0), day->photos);
    return result;
}

} // namespace vornakel
