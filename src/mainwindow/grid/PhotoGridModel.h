#pragma once

#include "mainwindow/grid/QuickSelectRanges.h"
#include "model/CameraFileScanning.h"
#include "model/Photo.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QUndoStack;

namespace vornakel {

// A cell's place in the grid: the section (a day, newest first, "Undated" last) and the position in it.
struct GridIndex {
    int section = 0;
    int item = 0;
    friend bool operator==(const GridIndex&, const GridIndex&) = default;
};

// The photos of the grid, one section per calendar day, and the selection with its undo history.
//
// Photos arrive as PhotoGrouping updates and are placed one by one (no rebuild): days newest first, within a
// day newest first, shots of the same second by file name (the later counter first), so the order is total
// and the same whatever order the chunks came in. Photos without a date go into a last, undated section.
//
// The selection is kept by photo identity, in the order it was made. When an update replaces a selected photo
// (a RAW and its JPEG becoming one pair, or a pair split by a third file), the photos replacing it are
// selected instead, and undo steps that name the old photo restore its replacements.
class PhotoGridModel : public QObject {
    Q_OBJECT
public:
    struct Entry {
        qint64 time = 0; // capture time in ms since the epoch (0 when undated)
        QString fileName;
        QString folder;
        PhotoPtr photo;
    };
    struct Section {
        QDate day; // invalid for the undated section
        std::vector<Entry> entries;
    };

    explicit PhotoGridModel(GridCalendar calendar = GridCalendar::system(), QObject* parent = nullptr);
    ~PhotoGridModel() override;

    // ---- Photos ----------------------------------------------------------------------------------------------
    void apply(const PhotoGrouping::Update& update);
    const std::vector<Section>& sections() const { return m_sections; }
    size_t photoCount() const { return m_shown.size(); }
    bool contains(const Photo* photo) const { return m_shown.count(photo) != 0; }
    PhotoPtr photoAt(const GridIndex& index) const;
    std::optional<GridIndex> indexOf(const Photo& photo) const;
    std::vector<PhotoPtr> shownPhotos() const;
    // The selection in grid order (newest first), or every photo in grid order when nothing is selected.
    std::vector<PhotoPtr> photosForCopying() const;
    const GridCalendar& calendar() const { return m_calendar; }
    // The section's day; an invalid date for undated photos.
    QDate dayOf(const Photo& photo) const;

    // ---- Selection -------------------------------------------------------------------------------------------
    const std::vector<PhotoPtr>& selectedPhotos() const { return m_selected; }
    bool isSelected(const Photo* photo) const { return m_selectedSet.count(photo) != 0; }
    // Sets the selection without an undo step (the live state during a gesture); photos not in the grid and
    // repeats are left out.
    void setSelection(const std::vector<PhotoPtr>& photos);
    // Sets the selection as one user action, named after what it did ("Select Photos", "Deselect Photo").
    void changeSelection(const std::vector<PhotoPtr>& photos);
    // Records the end of a gesture whose live changes began at `before` as one undo step.
    void commitSelectionGesture(const std::vector<PhotoPtr>& before);
    // The quick selections; one undo step named "Quick Select".
    void quickSelect(QuickSelection selection);
    QUndoStack* undoStack() const { return m_undo.get(); }

signals:
    // Photos were inserted or removed; sections may have come or gone.
    void photosChanged();
    void selectionChanged();

private:
    class SelectionStep;
    Entry entryFor(const PhotoPtr& photo) const;
    // The section with this day, or where it would go.
    std::pair<size_t, bool> findSection(const QDate& day) const;
    bool remove(const PhotoPtr& photo);
    void insert(const PhotoPtr& photo);
    // The photos standing for `photos` now: themselves while shown, else what replaced them.
    std::vector<PhotoPtr> current(const std::vector<PhotoPtr>& photos) const;
    void pushSelectionStep(std::vector<PhotoPtr> before, std::vector<PhotoPtr> after, const QString& name);

    GridCalendar m_calendar;
    std::vector<Section> m_sections;
    std::unordered_set<const Photo*> m_shown;
    std::vector<PhotoPtr> m_selected;
    std::unordered_set<const Photo*> m_selectedSet;
    // Photos an update replaced, with what replaced them; held so that undo steps naming them still resolve.
    std::unordered_map<const Photo*, std::pair<PhotoPtr, std::vector<PhotoPtr>>> m_replacedBy;
    std::unique_ptr<QUndoStack> m_undo;
};

// The order of photos within one section: newer first, then by file name and folder (later first), so that
// shots taken within the same second keep their places.
bool gridOrderBefore(const PhotoGridModel::Entry& a, const PhotoGridModel::Entry& b);

} // namespace vornakel
