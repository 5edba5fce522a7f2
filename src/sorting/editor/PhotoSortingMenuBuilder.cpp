#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include "platform/core/Strings.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QStyleOptionViewItem>
#include <QFont>
#include <QStandardItemModel>

#include <algorithm>

namespace vornakel {
namespace {

std::function<void()>& customizeHandler()
{
    static std::function<void()> handler;
    return handler;
}

} // namespace

PhotoSortingMenuBuilder::PhotoSortingMenuBuilder(PhotoSortingModel& store, QObject* parent)
    : QObject(parent), m_store(store), m_selectedPreset(store.builtIn().front())
{
    connect(&m_store, &PhotoSortingModel::userDefinedChanged, this, &PhotoSortingMenuBuilder::rebuildMenu);
}

PhotoSortingMenuBuilder::~PhotoSortingMenuBuilder()
{
    for (const auto& connection : m_itemConnections)
        disconnect(connection);
    disconnect(m_activation);
}

void PhotoSortingMenuBuilder::setCustomizeHandler(std::function<void()> handler)
{
    customizeHandler() = std::move(handler);
}

std::vector<PhotoSortingMenuItem> PhotoSortingMenuBuilder::menuItems(const PhotoSortingModel& store)
{
    using Kind = PhotoSortingMenuItem::Kind;
    std::vector<PhotoSortingMenuItem> items;
    items.push_back({Kind::header, GeneralUI::text(QStringLiteral("BuiltInPresetsTitle")), false, nullptr});
    for (const PresetPtr& preset : store.builtIn())
        items.push_back({Kind::preset, preset->name(), true, preset});
    if (!store.userDefined().empty()) {
        items.push_back({Kind::separator, QString(), false, nullptr});
        items.push_back({Kind::header, GeneralUI::text(QStringLiteral("UserDefinedPresetsTitle")), false, nullptr});
        for (const PresetPtr& preset : store.userDefined())
            items.push_back({Kind::preset, preset->name(), true, preset});
    }
    items.push_back({Kind::separator, QString(), false, nullptr});
    items.push_back({Kind::customize, GeneralUI::text(QStringLiteral("CustomizeMenuItemTitle")), true, nullptr});
    return items;
}

void PhotoSortingMenuBuilder::setPhotoSortingPresetMenu(QComboBox* popUp)
{
    if (m_popUp)
        disconnect(m_activation);
    m_popUp = popUp;
    if (m_popUp)
        m_activation = connect(m_popUp, &QComboBox::activated, this, &PhotoSortingMenuBuilder::menuItemActivated);
    rebuildMenu();
}

void PhotoSortingMenuBuilder::setSelectedPreset(PresetPtr preset)
{
    if (!preset)
        preset = m_store.builtIn().front();
    const bool changed = preset != m_selectedPreset;
    m_selectedPreset = std::move(preset);
    if (changed)
        emit selectedPresetChanged(m_selectedPreset);
    if (!m_skipRebuild)
        rebuildMenu();
}

QString PhotoSortingMenuBuilder::selectedPresetId() const
{
    return m_selectedPreset->presetId();
}

void PhotoSortingMenuBuilder::setSelectedPresetId(const QString& identifier)
{
    PresetPtr preset = m_store.preset(identifier);
    setSelectedPreset(preset ? std::move(preset) : m_store.builtIn().front());
}

void PhotoSortingMenuBuilder::rebuildMenu()
{
    using Kind = PhotoSortingMenuItem::Kind;
    if (!m_popUp)
        return;
    QComboBox& popUp = *m_popUp;
    for (const auto& connection : m_itemConnections)
        disconnect(connection);
    m_itemConnections.clear();
    m_itemPresets.clear();
    m_customizeIndex = -1;

    const QSignalBlocker blocker(&popUp);
    popUp.clear();
    int selectedIndex = -1;
    for (const PhotoSortingMenuItem& item : menuItems(m_store)) {
        const int index = popUp.count();
        switch (item.kind) {
        case Kind::separator:
            popUp.insertSeparator(index);
            break;
        case Kind::header:
        case Kind::preset:
        case Kind::customize:
            popUp.addItem(item.title);
            break;
        }
        m_itemPresets.push_back(item.preset);
        auto* model = qobject_cast<QStandardItemModel*>(popUp.model());
        QStandardItem* entry = model ? model->item(index) : nullptr;
        if (item.kind == Kind::header && entry) {
            entry->setFlags(Qt::NoItemFlags);
            QFont font = popUp.font();
            font.setBold(true);
            entry->setData(font, Qt::FontRole);
        }
        if (item.kind == Kind::customize)
            m_customizeIndex = index;
        if (item.kind == Kind::preset) {
            if (item.preset == m_selectedPreset)
                selectedIndex = index;
            // A rename changes the entry's title in place; the menu is not rebuilt for it.
            const std::weak_ptr<UserDefinedPhotoSorting> weak = item.preset;
            m_itemConnections.push_back(connect(item.preset.get(), &UserDefinedPhotoSorting::nameChanged, this,
                                                [this, weak, index] {
                                                    const PresetPtr preset = weak.lock();
                                                    if (preset && m_popUp && index < m_popUp->count())
                                                        m_popUp->setItemText(index, preset->name());
                                                }));
        }
    }

    // The pop-up list is as wide as its entries in the menu's own font; the bold headers would be cut
    // ("Built-i…Presets"). The list is made as wide as the entries' own drawing asks for.
    if (QAbstractItemView* list = popUp.view(); list && list->itemDelegate()) {
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.rect = QRect(); // the entries' own size, not the list's
        int widest = 0;
        for (int row = 0; row < popUp.count(); ++row) {
            const QModelIndex entry = popUp.model()->index(row, 0);
            // A style may leave the title's own width out of an entry's size: room for the check column too.
            const QFontMetrics metrics(entry.data(Qt::FontRole).isValid() ? entry.data(Qt::FontRole).value<QFont>()
                                                                          : popUp.font());
            const int title = metrics.horizontalAdvance(entry.data(Qt::DisplayRole).toString()) + 3 * metrics.height();
            widest = std::max({widest, title, list->itemDelegate()->sizeHint(option, entry).width()});
        }
        list->setMinimumWidth(widest + 2 * list->frameWidth());
    }

    if (selectedIndex >= 0) {
        popUp.setCurrentIndex(selectedIndex);
        return;
    }
    // The selected preset is not in the store (removed, or another object): the first built-in one instead.
    popUp.setCurrentIndex(1);
    m_skipRebuild = true;
    setSelectedPreset(m_store.builtIn().front());
    m_skipRebuild = false;
}

void PhotoSortingMenuBuilder::menuItemActivated(int index)
{
    if (index == m_customizeIndex) {
        customizeSelected();
        return;
    }
    if (index < 0 || size_t(index) >= m_itemPresets.size() || !m_itemPresets[size_t(index)])
        return;
    m_skipRebuild = true;
    setSelectedPreset(m_itemPresets[size_t(index)]);
    m_skipRebuild = false;
}

void PhotoSortingMenuBuilder::customizeSelected()
{
    // The entry never stays chosen; the menu is rebuilt only once the combo box has finished its activation.
    if (m_popUp) {
        for (size_t i = 0; i < m_itemPresets.size(); ++i) {
            if (m_itemPresets[i] && m_itemPresets[i] == m_selectedPreset) {
                const QSignalBlocker blocker(m_popUp.data());
                m_popUp->setCurrentIndex(int(i));
            }
        }
    }
    if (const auto& handler = customizeHandler())
        handler();
    QMetaObject::invokeMethod(this, &PhotoSortingMenuBuilder::rebuildMenu, Qt::QueuedConnection);
}

} // namespace vornakel
