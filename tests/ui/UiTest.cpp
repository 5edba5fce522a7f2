#include "platform/services/HelpBook.h"
#include "platform/services/Workspace.h"
#include "ui/BackgroundColorView.h"
#include "ui/HelpAnchorButton.h"
#include "ui/LayoutHelpers.h"
#include "ui/LineGeometry.h"
#include "ui/LineViews.h"
#include "ui/NoClickThroughView.h"
#include "ui/WindowDragging.h"

#include "support/TestComposition.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

// ---- Layout and sheet helpers ---------------------------------------------------------------------------

TEST(LayoutHelpersTest, PinnedViewFollowsParentWithInsets)
{
    QWidget parent;
    parent.resize(200, 100);
    parent.show(); // a hidden widget's resizes reach it only when it is shown
    auto* child = new QWidget(&parent);
    ASSERT_NE(pinToParentEdges(child, EdgeInsets{1, 2, 3, 4}), nullptr);
    // Leading gap 2, trailing gap 4, top gap 1, bottom gap 3.
    EXPECT_EQ(child->geometry(), QRect(2, 1, 194, 96));
    parent.resize(300, 50);
    EXPECT_EQ(child->geometry(), QRect(2, 1, 294, 46));

    auto* filling = new QWidget(&parent);
    pinToParentEdges(filling);
    EXPECT_EQ(filling->geometry(), parent.rect());

    QWidget orphan;
    EXPECT_EQ(pinToParentEdges(&orphan), nullptr);
}

TEST(LayoutHelpersTest, ClosesOnlyWindowModalSheets)
{
    QWidget window;
    window.show();

    QDialog sheet(&window);
    sheet.setWindowModality(Qt::WindowModal);
    auto* content = new QWidget(&sheet);
    int finished = 0;
    QObject::connect(&sheet, &QDialog::finished, [&] { ++finished; });
    sheet.open();
    ASSERT_TRUE(sheet.isVisible());
    EXPECT_TRUE(closeContainingSheet(content));
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(finished, 1);

    // An ordinary window, and a dialog that is not window-modal, are left alone.
    auto* plain = new QWidget(&window);
    EXPECT_FALSE(closeContainingSheet(plain));
    EXPECT_TRUE(window.isVisible());
    QDialog modeless(&window);
    auto* inModeless = new QWidget(&modeless);
    modeless.show();
    EXPECT_FALSE(closeContainingSheet(inModeless));
    EXPECT_TRUE(modeless.isVisible());
    EXPECT_FALSE(closeContainingSheet(nullptr));
}

// ---- Background colour view -----------------------------------------------------------------------------

TEST(BackgroundColorViewTest, ClearAtFirstThenPaintsItsColour)
{
    QWidget parent;
    parent.resize(40, 40);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, Qt::red);
    parent.setPalette(palette);
    auto* view = new BackgroundColorView(&parent);
    view->setGeometry(10, 10, 20, 20);

    EXPECT_EQ(view->backgroundColor().alpha(), 0);
    EXPECT_EQ(parent.grab().toImage().pixelColor(15, 15), QColor(Qt::red));

    view->setBackgroundColor(Qt::blue);
    const QImage image = parent.grab().toImage();
    EXPECT_EQ(image.pixelColor(15, 15), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::red));
}

// ---- Window dragging ------------------------------------------------------------------------------------

TEST(WindowDragThresholdTest, EachAxisAloneAtFivePoints)
{
    const struct {
        QPointF move;
        bool drags;
    } cases[] = {
        {{0, 0}, false},   {{4.9, 0}, false}, {{4.9, 4.9}, false}, {{0, -4.9}, false},
        {{5.0, 0}, true},  {{0, 5.0}, true},  {{-5.0, 0}, true},   {{0, -5.0}, true},
        {{3, 12}, true},   {{-7.5, 1}, true},
    };
    const QPointF start(100, 50);
    for (const auto& c : cases)
        EXPECT_EQ(exceedsDragThreshold(start, start + c.move), c.drags) << c.move.x() << ", " << c.move.y();
}

class WindowDraggableButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(200, 100);
        button = new WindowDraggableButton(QStringLiteral("Camera"), &window);
        button->setGeometry(20, 20, 120, 30);
        window.show();
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        QObject::connect(button, &WindowDraggableButton::windowDragStarted, [this] { ++drags; });
    }

    void send(QEvent::Type type, QPointF local, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, local, button->mapTo(&window, local), button->mapToGlobal(local), Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
    void press(QPointF at) { send(QEvent::MouseButtonPress, at, Qt::LeftButton); }
    void move(QPointF to) { send(QEvent::MouseMove, to, Qt::LeftButton); }
    void release(QPointF at) { send(QEvent::MouseButtonRelease, at, Qt::NoButton); }

    QWidget window;
    WindowDraggableButton* button = nullptr;
    int clicks = 0;
    int drags = 0;
};

TEST_F(WindowDraggableButtonTest, PressAndReleaseClicksOnce)
{
    press({10, 10});
    EXPECT_TRUE(button->isDown());
    release({10, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(drags, 0);
    EXPECT_FALSE(button->isDown());
}

TEST_F(WindowDraggableButtonTest, SmallMoveStillClicks)
{
    press({10, 10});
    move({14.9, 10});
    release({14.9, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(drags, 0);
}

TEST_F(WindowDraggableButtonTest, FivePointsStartWindowDragWithoutClick)
{
    press({10, 10});
    move({10, 15});
    EXPECT_EQ(drags, 1);
    EXPECT_FALSE(button->isDown()) << "the highlight goes when the drag starts";
    release({10, 15});
    EXPECT_EQ(clicks, 0);

    press({50, 10});
    move({45, 10}); // leftwards: the distance is absolute
    release({45, 10});
    EXPECT_EQ(drags, 2);
    EXPECT_EQ(clicks, 0);
}

TEST(NoClickThroughViewTest, SwallowsPresses)
{
    // Records the presses that reach it.
    class Recorder : public QWidget {
    public:
        int presses = 0;

    protected:
        void mousePressEvent(QMouseEvent* event) override
        {
            ++presses;
            event->accept();
        }
    };
    Recorder parent;
    parent.resize(100, 100);
    auto* view = new NoClickThroughView(&parent);
    view->setGeometry(0, 0, 50, 50);
    auto* plain = new QWidget(&parent);
    plain->setGeometry(50, 50, 50, 50);
    parent.show();

    const auto pressOn = [](QWidget* target) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    pressOn(view);
    EXPECT_EQ(parent.presses, 0);
    pressOn(plain); // an ordinary child passes the press on: the recorder works
    EXPECT_EQ(parent.presses, 1);
}

// ---- Help button ----------------------------------------------------------------------------------------

TEST(HelpAnchorButtonTest, OpensItsAnchorInTheAppHelpBook)
{
    test::TestComposition composition;
    const std::vector<QUrl>& opened = composition.workspace.opened;
    HelpAnchorButton button;
    EXPECT_EQ(HelpAnchorButton::helpBookName(), QStringLiteral("com.vornakel.zediriri-zir.help"));

    button.click(); // never set: the empty anchor, which is the help's first page
    button.setAnchorName(QStringLiteral("Help_CopyLightroom"));
    button.setup(); // wiring again must not open twice
    button.click();

    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(opened[0].toLocalFile().endsWith(QStringLiteral("/index.html")));
    EXPECT_TRUE(opened[0].fragment().isEmpty());
    EXPECT_TRUE(opened[1].toLocalFile().endsWith(QStringLiteral("/copy-lightroom.html")));
    EXPECT_EQ(opened[1].fragment(), QStringLiteral("Help_CopyLightroom"));
}

// ---- Drawn lines ----------------------------------------------------------------------------------------

std::vector<QPointF> points(const QPainterPath& path)
{
    std::vector<QPointF> result;
    for (int i = 0; i < path.elementCount(); ++i)
        result.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
    return result;
}

TEST(PointingLineGeometryTest, NotchPointsAtTheWantedHeight)
{
    const std::vector<QPointF> path = points(pointingLinePath(QRectF(0, 0, 20, 300), 150));
    const std::vector<QPointF> expected = {{18.5, 0},   {18.5, 133}, {1.5, 150},  {18.5, 167}, {18.5, 300},
                                           {18.5, 302}, {22, 302},   {22, -2},    {18.5, -2},  {18.5, 0}};
    EXPECT_EQ(path, expected);
}

TEST(PointingLineGeometryTest, NotchNeverCloserToTheBottomThanHalfItsHeight)
{
    // a = 17: a line pointed at its bottom edge (where a line never pointed anywhere points) centres its notch
    // 8.5 above the bottom, reaching out to 8.5 below it (clipped).
    const std::vector<QPointF> path = points(pointingLinePath(QRectF(0, 0, 20, 300), 300));
    EXPECT_EQ(path[1], QPointF(18.5, 274.5));
    EXPECT_EQ(path[2], QPointF(1.5, 291.5));
    EXPECT_EQ(path[3], QPointF(18.5, 308.5));
    EXPECT_EQ(pointingLineNotchCenter(QRectF(0, 0, 20, 300), 291.6), 291.5);
    EXPECT_EQ(pointingLineNotchCenter(QRectF(0, 0, 20, 300), -1000), -1000) << "no bound towards the top";
    EXPECT_EQ(pointingLineNotchCenter(QRectF(0, 0, 20, 300), 0), 0);
}

TEST(PointingLineViewTest, NeverPointedShowsTheNotchAtTheBottom)
{
    PointingLineView line;
    line.resize(20, 300);
    EXPECT_DOUBLE_EQ(line.arrowPointY(), 300);
    EXPECT_EQ(points(line.currentPath())[2], QPointF(1.5, 291.5));
    line.resize(20, 200);
    EXPECT_EQ(points(line.currentPath())[2], QPointF(1.5, 191.5)) << "follows the bottom edge until pointed";
}

TEST(LineGeometryTest, ShadowLineRectangles)
{
    const struct {
        QRectF bounds;
        QRectF rect;
    } cases[] = {
        {QRectF(0, 0, 200, 1), QRectF(-1, 1.0, 202, 1.5)},    // horizontal: the lower half is filled
        {QRectF(0, 0, 1, 200), QRectF(-1.5, -1, 1.5, 202)},   // vertical: the left half is filled
        {QRectF(0, 0, 10, 10), QRectF(-1.5, -1, 6, 12)},      // square counts as vertical
        {QRectF(0, 0, 100, 20), QRectF(-1, 10.5, 102, 11)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shadowLineRect(c.bounds), c.rect) << c.bounds.width() << " x " << c.bounds.height();
}

TEST(LineGeometryTest, HairlineIsOneDevicePixel)
{
    EXPECT_EQ(hairlineWidth(2.0), 0.5);
    EXPECT_EQ(hairlineWidth(1.0), 1.0);
    EXPECT_EQ(hairlineWidth(0.0), 1.0);
}

// A destination that wants the notch at its top band.
class DestinationButton : public QWidget, public PointLineViewDestination {
public:
    using QWidget::QWidget;
    QRectF subFrameToPointTo() const override { return QRectF(0, 0, width(), 48); }
};

TEST(PointingLineViewTest, PointsAtTargetMiddleOrDestinationBand)
{
    QWidget panel;
    panel.resize(400, 400);
    auto* line = new PointingLineView(&panel);
    line->setGeometry(100, 0, 20, 400);
    auto* plain = new QWidget(&panel);
    plain->setGeometry(0, 200, 80, 40);
    auto* destination = new DestinationButton(&panel);
    destination->setGeometry(0, 50, 80, 120);

    line->pointAt(plain, false);
    EXPECT_DOUBLE_EQ(line->arrowPointY(), 220);
    line->pointAt(destination, false);
    EXPECT_DOUBLE_EQ(line->arrowPointY(), 74);
    EXPECT_EQ(points(line->currentPath())[2], QPointF(1.5, 74));
}

TEST(PointingLineViewTest, AnimatesOnlyOnceAPathIsShown)
{
    QWidget panel;
    auto* line = new PointingLineView(&panel);
    auto* target = new QWidget(&panel);
    target->setGeometry(0, 100, 10, 20);
    ASSERT_FALSE(line->hasPath());
    line->pointAt(target, true);
    EXPECT_FALSE(line->isAnimating()) << "no path yet: set at once";
    EXPECT_TRUE(line->hasPath());

    line->resize(20, 300);
    target->setGeometry(0, 200, 10, 20);
    line->pointAt(target, true);
    EXPECT_TRUE(line->isAnimating());
    EXPECT_TRUE(test::runUntil([&] { return !line->isAnimating(); }, std::chrono::milliseconds(2000)));
    EXPECT_EQ(points(line->currentPath())[2], QPointF(1.5, 210));
}

} // namespace
} // namespace vornakel
