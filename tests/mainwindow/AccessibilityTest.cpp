// What a screen reader reads of the connected camera's view: the photo grid as a list of named, described and
// selectable photos, the keyboard focus within it, and the names of the toolbar's buttons and battery picture.
// The events the grid sends are taken by a recorder that stands in for a screen reader, so they are checked on
// every platform, offscreen included.
#include "PhotoFeed.h"
#include "support/AccessibilityRecorder.h"

#include "mainwindow/CameraBatteryStatusView.h"
#include "mainwindow/MainViewController.h"
#include "mainwindow/grid/ImageGridView.h"
#include "mainwindow/grid/ImageGridViewController.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>

namespace vornakel {
namespace {

using test::at;

// A camera whose battery properties the test sets.
class BatteryCamera : public InProcessCamera {
public:
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned identifier) override
    {
        std::shared_ptr<VKLPropertyProxy>& proxy = m_proxies[identifier];
        if (!proxy)
            proxy = std::make_shared<VKLPropertyProxy>(identifier);
        return proxy;
    }

private:
    std::map<unsigned, std::shared_ptr<VKLPropertyProxy>> m_proxies;
};

class GridAccessibilityTest : public ::testing::Test {
protected:
    GridAccessibilityTest()
    {
        ImageGridOptions options;
        options.calendar.clock = [] { return at(2026, 4, 10, 12, 0); };
        options.calendar.timeZone = QTimeZone::utc();
        options.animationSpeed = 0;
        grid = std::make_unique<ImageGridViewController>(options);
        grid->widget()->resize(800, 640);
        grid->widget()->show();
    }
    ImageGridView& view() { return grid->view(); }
    QAccessibleInterface* list() { return QAccessible::queryAccessibleInterface(&view()); }
    QStringList childNames()
    {
        QStringList names;
        for (int i = 0; i < list()->childCount(); ++i)
            names << list()->child(i)->text(QAccessible::Name);
        return names;
    }
    QAccessibleInterface* childNamed(const QString& name)
    {
        for (int i = 0; i < list()->childCount(); ++i)
            if (list()->child(i)->text(QAccessible::Name) == name)
                return list()->child(i);
        return nullptr;
    }
    void click(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QPoint point = view().viewport()->mapFromGlobal(childNamed(name)->rect().center());
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, point, view().viewport()->mapToGlobal(point), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, modifiers);
            QApplication::sendEvent(view().viewport(), &event);
        }
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&view(), &event);
    }

    test::PhotoFeed feed;
    std::unique_ptr<ImageGridViewController> grid;
};

TEST_F(GridAccessibilityTest, EachPhotoIsANamedDescribedItemInGridOrder)
{
    feed.add("IMG_0001.CR2", at(2026, 4, 9, 8, 30));
    feed.add("IMG_0001.JPG", at(2026, 4, 9, 8, 30));
    feed.add("IMG_0002.NEF", at(2026, 4, 10, 9, 15));
    feed.add("IMG_0003.JPG", at(2026, 4, 10, 11, 45));
    feed.add("NODATE.JPG", std::nullopt);
    feed.deliver(*grid);

    ASSERT_NE(list(), nullptr);
    EXPECT_EQ(list()->role(), QAccessible::List);
    EXPECT_FALSE(list()->text(QAccessible::Name).isEmpty());
    EXPECT_TRUE(list()->state().multiSelectable);
    // Newest day first, newest first within a day, undated last; the scroll bars are not items of the list.
    EXPECT_EQ(childNames(), QStringList({"IMG_0003.JPG", "IMG_0002.NEF", "IMG_0001.CR2", "NODATE.JPG"}));

    struct Case {
        const char* name;
        const char* badge;
        const char* when; // a part of the date the description must carry
    };
    const Case cases[] = {
        {"IMG_0003.JPG", "JPEG", "2026"},
        {"IMG_0002.NEF", "RAW", "2026"},
        {"IMG_0001.CR2", "RAW+JPEG", "2026"},
        {"NODATE.JPG", "JPEG", "Undated"},
    };
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case& c = cases[i];
        QAccessibleInterface* item = list()->child(i);
        ASSERT_NE(item, nullptr) << c.name;
        EXPECT_EQ(item->role(), QAccessible::ListItem) << c.name;
        EXPECT_EQ(item->parent(), list()) << c.name;
        EXPECT_EQ(list()->indexOfChild(item), i) << c.name;
        const QString description = item->text(QAccessible::Description);
        EXPECT_TRUE(description.endsWith(QStringLiteral(", ") + c.badge)) << c.name << ": " << description.toStdString();
        EXPECT_TRUE(description.contains(c.when)) << c.name << ": " << description.toStdString();
        EXPECT_TRUE(item->state().selectable) << c.name;
        EXPECT_FALSE(item->state().selected) << c.name;
        // The item lies where its cell is drawn: asking the list what is there finds it.
        EXPECT_EQ(list()->childAt(item->rect().center().x(), item->rect().center().y()), item) << c.name;
    }
    // The time is read in the grid's time zone, not the machine's.
    EXPECT_TRUE(childNamed("IMG_0002.NEF")->text(QAccessible::Description).contains("9:15"));
}

TEST_F(GridAccessibilityTest, SelectionAndKeyboardFocusAreRead)
{
    feed.add("A.JPG", at(2026, 4, 10, 11, 0));
    feed.add("B.JPG", at(2026, 4, 10, 10, 0));
    feed.add("C.JPG", at(2026, 4, 10, 9, 0));
    feed.deliver(*grid);
    view().activateWindow();
    view().setFocus();
    ASSERT_TRUE(test::runUntil([&] { return view().hasFocus(); }));

    const auto selectedNames = [&] {
        QStringList names;
        for (int i = 0; i < list()->childCount(); ++i)
            if (list()->child(i)->state().selected)
                names << list()->child(i)->text(QAccessible::Name);
        return names;
    };
    const auto focusedName = [&] {
        QAccessibleInterface* focused = list()->focusChild();
        return focused ? focused->text(QAccessible::Name) : QString();
    };

    click("B.JPG");
    EXPECT_EQ(selectedNames(), QStringList({"B.JPG"}));
    EXPECT_EQ(focusedName(), "B.JPG");
    EXPECT_TRUE(childNamed("B.JPG")->state().focused);

    // The arrow keys move the focus (and the selection) through the list; with Shift they extend it.
    press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(selectedNames(), QStringList({"B.JPG", "C.JPG"}));
    EXPECT_EQ(focusedName(), "C.JPG");
    EXPECT_FALSE(childNamed("B.JPG")->state().focused);

    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(selectedNames(), QStringList({"A.JPG"}));
    EXPECT_EQ(focusedName(), "A.JPG");

    // Without the keyboard focus the grid reports no focused photo.
    view().clearFocus();
    ASSERT_TRUE(test::runUntil([&] { return !view().hasFocus(); }));
    EXPECT_EQ(list()->focusChild(), nullptr);
    EXPECT_FALSE(childNamed("A.JPG")->state().focused);
}

TEST_F(GridAccessibilityTest, AnItemWhosePhotoWasReplacedIsNoLongerValid)
{
    auto raw = feed.add("PAIR.CR2", at(2026, 4, 10, 9, 0));
    auto jpeg = feed.add("PAIR.JPG", at(2026, 4, 10, 9, 0));
    feed.deliver(*grid, {raw});
    QAccessibleInterface* alone = list()->child(0);
    ASSERT_NE(alone, nullptr);
    EXPECT_TRUE(alone->isValid());
    EXPECT_TRUE(alone->text(QAccessible::Description).endsWith(", RAW"));
    const QAccessible::Id aloneId = QAccessible::uniqueId(alone);

    // The JPEG makes the RAW a pair: a new photo takes its place.
    feed.deliver(*grid, {jpeg});
    EXPECT_EQ(QAccessible::accessibleInterface(aloneId), nullptr) << "the gone photo's item is dropped";
    ASSERT_EQ(list()->childCount(), 1);
    EXPECT_TRUE(list()->child(0)->isValid());
    EXPECT_TRUE(list()->child(0)->text(QAccessible::Description).endsWith(", RAW+JPEG"));
}

TEST_F(GridAccessibilityTest, SelectionFocusAndChangesAreAnnounced)
{
    feed.add("B.CR2", at(2026, 4, 10, 10, 0));
    feed.add("A.JPG", at(2026, 4, 10, 11, 0));
    auto jpeg = feed.add("B.JPG", at(2026, 4, 10, 10, 0));
    feed.deliver(*grid, {feed.files()[0], feed.files()[1]});
    view().activateWindow();
    view().setFocus();
    ASSERT_TRUE(test::runUntil([&] { return view().hasFocus(); }));
    test::AccessibilityRecorder listener;
    ASSERT_TRUE(QAccessible::isActive());

    click("A.JPG");
    EXPECT_TRUE(listener.heard(QAccessible::Focus, "A.JPG"));
    click("B.CR2", Qt::ControlModifier);
    EXPECT_TRUE(listener.heard(QAccessible::SelectionWithin));
    press(Qt::Key_Left);
    EXPECT_TRUE(listener.heard(QAccessible::Focus, "A.JPG"));
    feed.deliver(*grid, {jpeg});
    EXPECT_TRUE(listener.heard(QAccessible::ObjectReorder));
}

TEST(ToolbarAccessibilityTest, PicturesAndButtonsHaveNamesAndDescriptions)
{
    ConnectedCameraEnvironment environment;
    environment.copy = [](const CopyRequest&) {};
    MainViewController view(environment);
    const auto read = [](QWidget* widget, QAccessible::Text text) {
        QAccessibleInterface* accessible = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
        return accessible ? accessible->text(text) : QStringLiteral("(none)");
    };
    QToolButton* disconnect = nullptr;
    QToolButton* copy = view.findChild<QToolButton*>(QStringLiteral("copyButton"));
    for (QToolButton* button : view.findChildren<QToolButton*>())
        if (button->defaultAction() && button->defaultAction()->objectName() == QStringLiteral("disconnectAction"))
            disconnect = button;
    struct Case {
        const char* what;
        QWidget* widget;
        const char* name;
        const char* description;
    };
    const Case cases[] = {
        {"Disconnect", disconnect, "Disconnect", "Disconnect from the camera"},
        {"Copy", copy, "Copy", "Copy the selected photos, or all photos when none is selected"},
        {"battery", view.cameraBatteryStatus(), "Camera battery", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.widget, QAccessible::Name), c.name) << c.what;
        EXPECT_EQ(read(c.widget, QAccessible::Description), c.description) << c.what;
    }

    // The battery's level, which it only shows as a picture, is its description.
    auto camera = std::make_shared<BatteryCamera>();
    const struct {
        std::optional<int> level, power;
        const char* description;
    } levels[] = {{0, 0, "Full"}, {3, 0, "A quarter full"}, {4, 0, "Empty"}, {2, 1, "On mains power"}, {std::nullopt, 0, ""}};
    CameraBatteryStatusView battery;
    battery.setCamera(camera);
    for (const auto& level : levels) {
        camera->proxyForProperty(VKLPropertyBatteryLevel)->setValue(level.level);
        camera->proxyForProperty(VKLPropertyPowerSource)->setValue(level.power);
        EXPECT_EQ(read(&battery, QAccessible::Description), level.description) << level.description;
        EXPECT_EQ(read(&battery, QAccessible::Name), "Camera battery");
    }
}

} // namespace
} // namespace vornakel
