#pragma once

#include "sorting/PhotoSortingModel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

#include <QComboBox>

namespace vornakel {

// One entry of a preset menu.
struct PhotoSortingMenuItem {
    enum class Kind { header, preset, separator, customize };
    Kind kind = Kind::header;
    QString title;
    bool enabled = false;
    PhotoSortingModel::PresetPtr preset; // preset entries only
};

// Fills a pop-up (a combo box) with the sorting presets: a "BuiltInPresetsTitle" header and the built-in presets,
// then, with user presets, a separator, a "UserDefinedPresetsTitle" header and those, then a separator and
// "Customize…", which opens the preset editor in the preferences. It keeps the pop-up's selection on
// `selectedPreset`, falls back to the first built-in preset when that preset is not (or no longer) in the store,
// rebuilds when user presets are added or removed, and lets item titles follow renames. Main thread only.
class PhotoSortingMenuBuilder : public QObject {
    Q_OBJECT
public:
    using PresetPtr = PhotoSortingModel::PresetPtr;

    explicit PhotoSortingMenuBuilder(PhotoSortingModel& store, QObject* parent = nullptr);
    ~PhotoSortingMenuBuilder() override;

    // What "Customize…" runs: the application opens its preferences on the photo-sorting pane. Set once at
    // start-up; without it the entry only puts the selection back.
    static void setCustomizeHandler(std::function<void()> handler);

    // The entries the menu has for the store as it is now.
    static std::vector<PhotoSortingMenuItem> menuItems(const PhotoSortingModel& store);

    QComboBox* photoSortingPresetMenu() const { return m_popUp; }
    // Takes the pop-up (it stays the caller's) and builds its menu.
    void setPhotoSortingPresetMenu(QComboBox* popUp);

    // The chosen preset; initially the first built-in one. Assigning one the store does not hold (or no
    // longer holds) falls back to the first built-in preset as soon as the menu is built.
    const PresetPtr& selectedPreset() const { return m_selectedPreset; }
    void setSelectedPreset(PresetPtr preset);
    // By identifier, as copy destinations remember it; an unknown identifier selects the first built-in preset.
    QString selectedPresetId() const;
    void setSelectedPresetId(const QString& identifier);

    void rebuildMenu();

signals:
    // Each time `selectedPreset` changes: the user's choice, an assignment, or a fallback.
    void selectedPresetChanged(const vornakel::PhotoSortingModel::PresetPtr& preset);

private:
    void menuItemActivated(int index);
    void customizeSelected();

    PhotoSortingModel& m_store;
    QPointer<QComboBox> m_popUp;
    bool m_skipRebuild = false;
    PresetPtr m_selectedPreset;
    std::vector<PresetPtr> m_itemPresets; // by combo box index; none for other entries
    int m_customizeIndex = -1;
    std::vector<QMetaObject::Connection> m_itemConnections;
    QMetaObject::Connection m_activation;
};

} // namespace vornakel
