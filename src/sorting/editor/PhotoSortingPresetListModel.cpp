#include "sorting/editor/PhotoSortingPresetListModel.h"

#include "platform/core/Strings.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace vornakel {

PhotoSortingPresetListModel::PhotoSortingPresetListModel(PhotoSortingModel& store, QObject* parent)
    : QAbstractListModel(parent), m_store(store)
{
    connect(&m_store, &PhotoSortingModel::userDefinedChanged, this, &PhotoSortingPresetListModel::reload);
    reload();
}

void PhotoSortingPresetListModel::reload()
{
    emit aboutToReload();
    beginResetModel();
    for (const auto& connection : m_nameConnections)
        disconnect(connection);
    m_nameConnections.clear();
    for (const auto* list : {&m_store.builtIn(), &m_store.userDefined()}) {
        for (const PresetPtr& preset : *list) {
            const std::weak_ptr<UserDefinedPhotoSorting> weak = preset;
            m_nameConnections.push_back(connect(preset.get(), &UserDefinedPhotoSorting::nameChanged, this, [this, weak] {
                if (const std::optional<int> row = rowOf(weak.lock()))
                    emit dataChanged(index(*row), index(*row), {Qt::DisplayRole, Qt::EditRole});
            }));
        }
    }
    endResetModel();
}

int PhotoSortingPresetListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    const int builtIn = int(m_store.builtIn().size());
    const int user = int(m_store.userDefined().size());
    return user == 0 ? builtIn + 1 : builtIn + 2 + user;
}

bool PhotoSortingPresetListModel::isHeader(int row) const
{
    return row == 0 || (!m_store.userDefined().empty() && row == int(m_store.builtIn().size()) + 1);
}

PhotoSortingPresetListModel::PresetPtr PhotoSortingPresetListModel::presetAt(int row) const
{
    const int builtIn = int(m_store.builtIn().size());
    if (row >= 1 && row <= builtIn)
        return m_store.builtIn()[size_t(row - 1)];
    const int user = row - builtIn - 2;
    if (user >= 0 && user < int(m_store.userDefined().size()))
        return m_store.userDefined()[size_t(user)];
    return nullptr;
}

std::optional<int> PhotoSortingPresetListModel::rowOf(const PresetPtr& preset) const
{
    if (!preset)
        return std::nullopt;
    const auto& builtIn = m_store.builtIn();
    if (auto it = std::find(builtIn.begin(), builtIn.end(), preset); it != builtIn.end())
        return int(it - builtIn.begin()) + 1;
    const auto& user = m_store.userDefined();
    if (auto it = std::find(user.begin(), user.end(), preset); it != user.end())
        return int(it - user.begin()) + int(builtIn.size()) + 2;
    return std::nullopt;
}

bool PhotoSortingPresetListModel::isUserPreset(const PresetPtr& preset) const
{
    const auto& user = m_store.userDefined();
    return preset && std::find(user.begin(), user.end(), preset) != user.end();
}

QVariant PhotoSortingPresetListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row();
    if (isHeader(row)) {
        switch (role) {
        case Qt::DisplayRole:
            return GeneralUI::text(row == 0 ? QStringLiteral("BuiltInPresetsTitle")
                                            : QStringLiteral("UserDefinedPresetsTitle"));
        case Qt::FontRole: {
            QFont font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() * 0.9);
            return font;
        }
        case Qt::ForegroundRole:
            // Headers cannot be chosen, but they are read: muted, not greyed out like a disabled entry.
            return QGuiApplication::palette().brush(QPalette::PlaceholderText);
        case kHeaderRole:
            return true;
        default:
            return {};
        }
    }
    const PresetPtr preset = presetAt(row);
    if (!preset)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
        return preset->name();
    case kHeaderRole:
        return false;
    default:
        return {};
    }
}

Qt::ItemFlags PhotoSortingPresetListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || isHeader(index.row()))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (isUserPreset(presetAt(index.row())))
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool PhotoSortingPresetListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid())
        return false;
    const PresetPtr preset = presetAt(index.row());
    if (!isUserPreset(preset))
        return false;
    const QString name = value.toString();
    if (name.trimmed().isEmpty())
        return false; // a preset without a name could not be told apart in the menus
    preset->setName(name);
    m_store.saveUserDefinedPresets();
    return true;
}

} // namespace vornakel
