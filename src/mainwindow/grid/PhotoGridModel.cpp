#include "mainwindow/grid/PhotoGridModel.h"

#include "platform/core/Strings.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>

namespace vornakel {

bool gridOrderBefore(const PhotoGridModel::Entry& a, const PhotoGridModel::Entry& b)
{
    if (a.time != b.time)
        return a.time > b.time;
    if (const int byName = a.fileName.compare(b.fileName); byName != 0)
        return byName > 0;
    if (const int byFolder = a.folder.compare(b.folder); byFolder != 0)
        return byFolder > 0;
    // Two files of one name in one folder cannot exist on a camera; the address keeps the order total anyway.
    return std::less<const Photo*>()(a.photo.get(), b.photo.get());
}

// One selection change; undo and redo set the photos that stand for the remembered ones at that moment.
class PhotoGridModel::SelectionStep : public QUndoCommand {
public:
    SelectionStep(PhotoGridModel& model, std::vector<PhotoPtr> before, std::vector<PhotoPtr> after,
                  const QString& name)
        : QUndoCommand(name), m_model(model), m_before(std::move(before)), m_after(std::move(after))
    {
    }
    void undo() override { m_model.setSelection(m_model.current(m_before)); }
    void redo() override
    {
        // The change is already on screen when the step is recorded.
        if (m_applied) {
            m_applied = false;
            return;
        }
        m_model.setSelection(m_model.current(m_after));
    }

private:
    PhotoGridModel& m_model;
    std::vector<PhotoPtr> m_before;
    std::vector<PhotoPtr> m_after;
    bool m_applied = true;
};

PhotoGridModel::PhotoGridModel(GridCalendar calendar, QObject* parent)
    : QObject(parent), m_calendar(std::move(calendar)), m_undo(std::make_unique<QUndoStack>())
{
}

PhotoGridModel::~PhotoGridModel() = default;

// ---- Photos -------------------------------------------------------------------------------------------------

QDate PhotoGridModel::dayOf(const Photo& photo) const
{
    const std::optional<QDateTime> date = photo.primaryVariant()->dateCreated();
    return date ? m_calendar.dayOf(*date) : QDate();
}

PhotoGridModel::Entry PhotoGridModel::entryFor(const PhotoPtr& photo) const
{
    const PhotoVariantPtr primary = photo->primaryVariant();
    const std::optional<QDateTime> date = primary->dateCreated();
    return Entry{date && date->isValid() ? date->toMSecsSinceEpoch() : 0, primary->fileName(),
                 primary->remoteFolderPath().value_or(QString()), photo};
}

std::pair<size_t, bool> PhotoGridModel::findSection(const QDate& day) const
{
    // Newest day first; the undated section (invalid date) last.
    const auto before = [](const Section& section, const QDate& wanted) {
        if (!section.day.isValid())
            return false;
        return !wanted.isValid() || section.day > wanted;
    };
    const auto found = std::lower_bound(m_sections.begin(), m_sections.end(), day, before);
    const size_t position = size_t(found - m_sections.begin());
    const bool exists = found != m_sections.end() && found->day.isValid() == day.isValid() &&
                        (!day.isValid() || found->day == day);
    return {position, exists};
}

void PhotoGridModel::insert(const PhotoPtr& photo)
{
    if (!photo || !m_shown.insert(photo.get()).second)
        return;
    const QDate day = dayOf(*photo);
    const auto [position, exists] = findSection(day);
    if (!exists)
        m_sections.insert(m_sections.begin() + qsizetype(position), Section{day, {}});
    std::vector<Entry>& entries = m_sections[position].entries;
    Entry entry = entryFor(photo);
    entries.insert(std::lower_bound(entries.begin(), entries.end(), entry, gridOrderBefore), std::move(entry));
}

bool PhotoGridModel::remove(const PhotoPtr& photo)
{
    if (!photo || m_shown.erase(photo.get()) == 0)
        return false;
    const auto [position, exists] = findSection(dayOf(*photo));
    if (!exists)
        return true;
    std::vector<Entry>& entries = m_sections[position].entries;
    const Entry key = entryFor(photo);
    const auto found = std::lower_bound(entries.begin(), entries.end(), key, gridOrderBefore);
    if (found != entries.end() && found->photo == photo)
        entries.erase(found);
    if (entries.empty())
        m_sections.erase(m_sections.begin() + qsizetype(position));
    return true;
}

void PhotoGridModel::apply(const PhotoGrouping::Update& update)
{
    if (update.added.empty() && update.removed.empty())
        return;
    // Which new photo holds which camera file: a replaced photo's files lead to its replacements.
    std::unordered_map<const VKLFileSystemItem*, PhotoPtr> addedByFile;
    if (!update.removed.empty())
        for (const PhotoPtr& photo : update.added)
            if (photo)
                for (const PhotoVariantPtr& variant : photo->variants())
                    addedByFile.emplace(variant->remoteItem().get(), photo);

    bool selectionTouched = false;
    for (const PhotoPtr& photo : update.removed) {
        if (!remove(photo))
            continue;
        std::vector<PhotoPtr> replacements;
        for (const PhotoVariantPtr& variant : photo->variants()) {
            const auto found = addedByFile.find(variant->remoteItem().get());
            if (found != addedByFile.end() &&
                std::find(replacements.begin(), replacements.end(), found->second) == replacements.end())
                replacements.push_back(found->second);
        }
        m_replacedBy[photo.get()] = {photo, replacements};
        if (m_selectedSet.count(photo.get()) != 0)
            selectionTouched = true;
    }
    for (const PhotoPtr& photo : update.added)
        insert(photo);
    emit photosChanged();
    if (selectionTouched)
        setSelection(current(m_selected));
}

PhotoPtr PhotoGridModel::photoAt(const GridIndex& index) const
{
    if (index.section < 0 || size_t(index.section) >= m_sections.size())
        return nullptr;
    const std::vector<Entry>& entries = m_sections[size_t(index.section)].entries;
    if (index.item < 0 || size_t(index.item) >= entries.size())
        return nullptr;
    return entries[size_t(index.item)].photo;
}

std::optional<GridIndex> PhotoGridModel::indexOf(const Photo& photo) const
{
    if (!contains(&photo))
        return std::nullopt;
    const auto [position, exists] = findSection(dayOf(photo));
    if (!exists)
        return std::nullopt;
    const std::vector<Entry>& entries = m_sections[position].entries;
    // `photo` is shown, so a shared_ptr to it exists; borrow it for the key without touching ownership.
    Entry key = entryFor(std::const_pointer_cast<Photo>(photo.shared_from_this()));
    const auto found = std::lower_bound(entries.begin(), entries.end(), key, gridOrderBefore);
    if (found == entries.end() || found->photo.get() != &photo)
        return std::nullopt;
    return GridIndex{int(position), int(found - entries.begin())};
}

std::vector<PhotoPtr> PhotoGridModel::shownPhotos() const
{
    std::vector<PhotoPtr> photos;
    photos.reserve(m_shown.size());
    for (const Section& section : m_sections)
        for (const Entry& entry : section.entries)
            photos.push_back(entry.photo);
    return photos;
}

std::vector<PhotoPtr> PhotoGridModel::photosForCopying() const
{
    if (m_selected.empty())
        return shownPhotos();
    std::vector<std::pair<GridIndex, PhotoPtr>> placed;
    placed.reserve(m_selected.size());
    for (const PhotoPtr& photo : m_selected)
        if (const std::optional<GridIndex> index = indexOf(*photo))
            placed.emplace_back(*index, photo);
    std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
        return a.first.section != b.first.section ? a.first.section < b.first.section : a.first.item < b.first.item;
    });
    std::vector<PhotoPtr> photos;
    photos.reserve(placed.size());
    for (auto& [index, photo] : placed)
        photos.push_back(std::move(photo));
    return photos;
}

// ---- Selection ----------------------------------------------------------------------------------------------

std::vector<PhotoPtr> PhotoGridModel::current(const std::vector<PhotoPtr>& photos) const
{
    std::vector<PhotoPtr> result;
    result.reserve(photos.size());
    std::unordered_set<const Photo*> seen;
    // Replacements can be replaced again; the depth is bounded by the number of recorded replacements.
    std::vector<PhotoPtr> pending(photos.rbegin(), photos.rend());
    size_t steps = 0;
    while (!pending.empty()) {
        PhotoPtr photo = std::move(pending.back());
        pending.pop_back();
        if (!photo || !seen.insert(photo.get()).second)
            continue;
        if (contains(photo.get())) {
            result.push_back(std::move(photo));
            continue;
        }
        const auto replaced = m_replacedBy.find(photo.get());
        if (replaced == m_replacedBy.end() || ++steps > m_replacedBy.size() + photos.size())
            continue;
        const std::vector<PhotoPtr>& replacements = replaced->second.second;
        pending.insert(pending.end(), replacements.rbegin(), replacements.rend());
    }
    return result;
}

void PhotoGridModel::setSelection(const std::vector<PhotoPtr>& photos)
{
    std::vector<PhotoPtr> selected;
    selected.reserve(photos.size());
    std::unordered_set<const Photo*> set;
    set.reserve(photos.size());
    for (const PhotoPtr& photo : photos)
        if (photo && contains(photo.get()) && set.insert(photo.get()).second)
            selected.push_back(photo);
    if (selected == m_selected)
        return;
    m_selected = std::move(selected);
    m_selectedSet = std::move(set);
    emit selectionChanged();
}

void PhotoGridModel::pushSelectionStep(std::vector<PhotoPtr> before, std::vector<PhotoPtr> after, const QString& name)
{
    m_undo->push(new SelectionStep(*this, std::move(before), std::move(after), name));
}

void PhotoGridModel::commitSelectionGesture(const std::vector<PhotoPtr>& before)
{
    std::unordered_set<const Photo*> earlier;
    earlier.reserve(before.size());
    for (const PhotoPtr& photo : before)
        if (photo)
            earlier.insert(photo.get());
    qint64 added = 0;
    for (const PhotoPtr& photo : m_selected)
        if (earlier.count(photo.get()) == 0)
            ++added;
    qint64 removed = 0;
    for (const Photo* photo : earlier)
        if (m_selectedSet.count(photo) == 0)
            ++removed;
    if (added == 0 && removed == 0)
        return;
    // A gesture that both adds and drops (a plain click on another photo) is named after what it selected.
    const QString name = added > 0 ? GeneralUI::counted(QStringLiteral("UndoSelectPhotosTitle"), added)
                                   : GeneralUI::counted(QStringLiteral("UndoDeselectPhotosTitle"), removed);
    pushSelectionStep(before, m_selected, name);
}

void PhotoGridModel::changeSelection(const std::vector<PhotoPtr>& photos)
{
    const std::vector<PhotoPtr> before = m_selected;
    setSelection(photos);
    commitSelectionGesture(before);
}

void PhotoGridModel::quickSelect(QuickSelection selection)
{
    std::vector<PhotoPtr> chosen;
    if (selection == QuickSelection::all) {
        chosen = shownPhotos();
    } else if (const std::optional<DayRange> range =
                   quickSelectionRange(selection, m_calendar.today(), m_calendar.firstDayOfWeek)) {
        for (const Section& section : m_sections)
            if (range->contains(section.day))
                for (const Entry& entry : section.entries)
                    chosen.push_back(entry.photo);
    }
    std::vector<PhotoPtr> before = m_selected;
    setSelection(chosen);
    pushSelectionStep(std::move(before), m_selected, GeneralUI::text(QStringLiteral("UndoQuickSelectTitle")));
}

} // namespace vornakel
