#pragma once

#include "sorting/PhotoSortingModel.h"

#include <QAbstractListModel>

#include <optional>

namespace vornakel {

// The preset list of the preset editor: a "BuiltInPresetsTitle" header and the built-in presets, then, only when
// there are user presets, a "UserDefinedPresetsTitle" header and the user presets. Headers cannot be selected;
// only user presets can be renamed. It follows the store's list and the presets' names.
class PhotoSortingPresetListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using PresetPtr = PhotoSortingModel::PresetPtr;
    static constexpr int kHeaderRole = Qt::UserRole + 1;

    explicit PhotoSortingPresetListModel(PhotoSortingModel& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A new name for a user preset; an empty one (or only blanks) keeps the old name. Saves the presets.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The preset of a preset row; none for a header or a row outside the list.
    PresetPtr presetAt(int row) const;
    // The row of the very preset; none when it is not in the store.
    std::optional<int> rowOf(const PresetPtr& preset) const;
    bool isHeader(int row) const;
    bool isUserPreset(const PresetPtr& preset) const;

signals:
    // The list is about to be rebuilt from the store; a name being typed must be taken before that.
    void aboutToReload();

private:
    void reload();

    PhotoSortingModel& m_store;
    std::vector<QMetaObject::Connection> m_nameConnections;
};

} // namespace vornakel
