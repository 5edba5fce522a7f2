#include "EditorTestSupport.h"
#include "support/TestSupport.h"

#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QStyleOptionViewItem>
#include <QSignalSpy>
#include <QStandardItemModel>

namespace vornakel {
namespace {

using PresetPtr = PhotoSortingModel::PresetPtr;

// "title" for an enabled entry, "(title)" for a disabled one, "--" for a separator.
std::vector<std::string> entries(const QComboBox& popUp)
{
    std::vector<std::string> shown;
    const auto* model = qobject_cast<const QStandardItemModel*>(popUp.model());
    for (int i = 0; i < popUp.count(); ++i) {
        const QStandardItem* item = model->item(i);
        if (popUp.itemData(i, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) {
            shown.push_back("--");
            continue;
        }
        const std::string title = popUp.itemText(i).toStdString();
        shown.push_back(item->isEnabled() && item->isSelectable() ? title : "(" + title + ")");
    }
    return shown;
}

class MenuBuilderTest : public test::StoreFixture {
protected:
    MenuBuilderTest()
    {
        m_builder = std::make_unique<PhotoSortingMenuBuilder>(store());
        m_builder->setPhotoSortingPresetMenu(&m_popUp);
    }
    ~MenuBuilderTest() override { PhotoSortingMenuBuilder::setCustomizeHandler({}); }

    int indexOf(const QString& title) const { return m_popUp.findText(title); }

    QComboBox m_popUp;
    std::unique_ptr<PhotoSortingMenuBuilder> m_builder;
};

TEST_F(MenuBuilderTest, ListsThePresetsWithHeadersAndCustomize)
{
    EXPECT_EQ(entries(m_popUp), (std::vector<std::string>{"(Built-in Presets)", "Year/Month/Day", "No Folders", "--",
                                                          "Customize…"}));
    EXPECT_EQ(m_popUp.currentIndex(), 1) << "a new builder shows the first built-in preset";
    EXPECT_EQ(m_builder->selectedPreset(), store().builtIn()[0]);

    store().createUserPreset(*store().builtIn()[1]);
    store().createUserPreset(*store().builtIn()[0]);
    EXPECT_EQ(entries(m_popUp),
              (std::vector<std::string>{"(Built-in Presets)", "Year/Month/Day", "No Folders", "--", "(My Presets)",
                                        "No Folders Copy", "Year/Month/Day Copy", "--", "Customize…"}));
    EXPECT_EQ(m_popUp.currentIndex(), 1);

    const auto items = PhotoSortingMenuBuilder::menuItems(store());
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[5].preset, store().userDefined()[0]);
    EXPECT_EQ(items[8].kind, PhotoSortingMenuItem::Kind::customize);
}

TEST_F(MenuBuilderTest, TheOpenMenuShowsItsBoldHeadersWhole)
{
    store().createUserPreset(*store().builtIn()[0])->setName(QStringLiteral("Mine"));
    // A narrow pop-up whose entries are short: only the bold headers could be cut.
    m_popUp.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_popUp.show();
    m_popUp.showPopup();
    QAbstractItemView* list = m_popUp.view();
    ASSERT_TRUE(test::runUntil([&] { return list->isVisible(); }));
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = QRect();
    for (const char* header : {"Built-in Presets", "My Presets"}) {
        const int row = indexOf(QString::fromLatin1(header));
        ASSERT_GE(row, 0) << header;
        const QModelIndex index = list->model()->index(row, 0);
        // The entry gets at least the width its own drawing asks for, and room for its bold title after the
        // menu's check column.
        EXPECT_GE(list->visualRect(index).width(), list->itemDelegate()->sizeHint(option, index).width()) << header;
        const QFontMetrics bold(index.data(Qt::FontRole).value<QFont>());
        EXPECT_GE(list->visualRect(index).width(), bold.horizontalAdvance(QString::fromLatin1(header)) + 2 * bold.height())
            << header;
    }
    m_popUp.hidePopup();
}

TEST_F(MenuBuilderTest, ChoosingAPresetSelectsItWithoutARebuild)
{
    const auto preset = store().createUserPreset(*store().builtIn()[1]);
    QSignalSpy changes(m_builder.get(), &PhotoSortingMenuBuilder::selectedPresetChanged);
    const auto* model = qobject_cast<QStandardItemModel*>(m_popUp.model());
    const QStandardItem* before = model->item(1);

    const int index = indexOf(preset->name());
    m_popUp.setCurrentIndex(index);
    emit m_popUp.activated(index);
    EXPECT_EQ(m_builder->selectedPreset(), preset);
    EXPECT_EQ(m_builder->selectedPresetId(), preset->presetId());
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model->item(1), before) << "the pop-up already shows the choice";
    // Headers and separators choose nothing.
    emit m_popUp.activated(0);
    emit m_popUp.activated(3);
    EXPECT_EQ(m_builder->selectedPreset(), preset);
}

TEST_F(MenuBuilderTest, RenameUpdatesTheEntryWithoutARebuild)
{
    const auto preset = store().createUserPreset(*store().builtIn()[1]);
    const auto* model = qobject_cast<QStandardItemModel*>(m_popUp.model());
    const int index = indexOf(preset->name());
    const QStandardItem* entry = model->item(index);
    preset->setName(QStringLiteral("Holidays"));
    EXPECT_EQ(m_popUp.itemText(index), QStringLiteral("Holidays"));
    EXPECT_EQ(model->item(index), entry);
}

TEST_F(MenuBuilderTest, RemovingTheSelectedPresetFallsBackAndSignalsOnce)
{
    const auto preset = store().createUserPreset(*store().builtIn()[1]);
    m_builder->setSelectedPresetId(preset->presetId());
    ASSERT_EQ(m_popUp.currentText(), preset->name());
    QSignalSpy changes(m_builder.get(), &PhotoSortingMenuBuilder::selectedPresetChanged);

    store().removeUserPreset(preset);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(m_builder->selectedPreset(), store().builtIn()[0]);
    EXPECT_EQ(m_popUp.currentIndex(), 1);
    EXPECT_EQ(m_popUp.count(), 5);
}

TEST_F(MenuBuilderTest, PresetsTheStoreDoesNotHoldFallBack)
{
    QSignalSpy changes(m_builder.get(), &PhotoSortingMenuBuilder::selectedPresetChanged);
    m_builder->setSelectedPreset(store().builtIn()[1]);
    EXPECT_EQ(m_popUp.currentIndex(), 2);

    // Another object with the same identifier, and an identifier nobody has.
    const auto lookalike = UserDefinedPhotoSorting::duplicateOf(*store().builtIn()[1]);
    const auto sameId = UserDefinedPhotoSorting::create(QStringLiteral("x"), store().builtIn()[1]->presetId(), nullptr, {});
    m_builder->setSelectedPreset(sameId);
    EXPECT_EQ(m_builder->selectedPreset(), store().builtIn()[0]);
    EXPECT_EQ(m_popUp.currentIndex(), 1);
    m_builder->setSelectedPresetId(QStringLiteral("no-such-preset"));
    EXPECT_EQ(m_builder->selectedPreset(), store().builtIn()[0]);
    EXPECT_EQ(changes.last().at(0).value<PresetPtr>(), store().builtIn()[0]);

    // Without a pop-up the builder keeps what it is given.
    PhotoSortingMenuBuilder detached(store());
    detached.setSelectedPreset(lookalike);
    EXPECT_EQ(detached.selectedPreset(), lookalike);
}

TEST_F(MenuBuilderTest, CustomizeOpensThePreferencesAndPutsTheSelectionBack)
{
    int opened = 0;
    PhotoSortingMenuBuilder::setCustomizeHandler([&] { ++opened; });
    m_builder->setSelectedPreset(store().builtIn()[1]);
    const auto* model = qobject_cast<QStandardItemModel*>(m_popUp.model());
    const QStandardItem* before = model->item(1);

    const int customize = m_popUp.count() - 1;
    m_popUp.setCurrentIndex(customize);
    emit m_popUp.activated(customize);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(m_popUp.currentIndex(), 2) << "the entry never stays chosen";
    EXPECT_EQ(model->item(1), before) << "not rebuilt inside the pop-up's own signal";
    EXPECT_TRUE(test::runUntil([&] { return model->item(1) != before; })) << "rebuilt afterwards";
    EXPECT_EQ(m_popUp.currentIndex(), 2);
    EXPECT_EQ(m_builder->selectedPreset(), store().builtIn()[1]);
}

} // namespace
} // namespace vornakel
