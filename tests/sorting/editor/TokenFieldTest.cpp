#include "EditorTestSupport.h"
#include "support/AccessibilityRecorder.h"
#include "support/TestSupport.h"

#include "platform/core/KeyedArchive.h"
#include "sorting/editor/PhotoSortingRowViewController.h"
#include "sorting/editor/PhotoSortingTokenField.h"
#include "sorting/editor/PhotoSortingTokenFieldDelegate.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <iterator>

namespace vornakel {
namespace {

using T = PhotoSortingToken;
using test::deliver;
using test::token;
namespace Delegate = PhotoSortingTokenFieldDelegate;

// A field shown in an active window, so that keys reach it as they would from the keyboard.
class TokenFieldTest : public testing::Test {
protected:
    TokenFieldTest()
    {
        m_window.resize(400, 60);
        m_field = new PhotoSortingTokenField(&m_window);
        m_field->setGeometry(10, 10, 380, 30);
        m_window.show();
        m_window.activateWindow();
        EXPECT_TRUE(test::runUntil([&] { return m_window.isActiveWindow(); }));
        m_field->setFocus();
    }

    QWidget m_window;
    PhotoSortingTokenField* m_field = nullptr;
};

TEST_F(TokenFieldTest, KeysEditLiteralsAroundTokens)
{
    const struct {
        const char* name;
        QVariantList start;
        std::function<void(PhotoSortingTokenField&)> keys;
        QVariantList expected;
    } cases[] = {
        {"typing after a token stays literal", {token(T::fourDigitYear)},
         [](auto& f) { QTest::keyClicks(&f, QStringLiteral("-x")); }, {token(T::fourDigitYear), QStringLiteral("-x")}},
        {"typing between tokens joins no literal to a token", {token(T::fourDigitYear), token(T::twoDigitMonth)},
         [](auto& f) { QTest::keyClick(&f, Qt::Key_Left); QTest::keyClick(&f, Qt::Key_Slash); },
         {token(T::fourDigitYear), QStringLiteral("/"), token(T::twoDigitMonth)}},
        {"backspace removes a whole token", {QStringLiteral("a"), token(T::fourDigitYear)},
         [](auto& f) { QTest::keyClick(&f, Qt::Key_Backspace); }, {QStringLiteral("a")}},
        {"delete at the start removes one character", {QStringLiteral("ab"), token(T::oneDigitDay)},
         [](auto& f) { QTest::keyClick(&f, Qt::Key_Home); QTest::keyClick(&f, Qt::Key_Delete); },
         {QStringLiteral("b"), token(T::oneDigitDay)}},
        {"a selection across a token is replaced by what is typed", {QStringLiteral("a"), token(T::fourDigitYear), QStringLiteral("b")},
         [](auto& f) {
             QTest::keyClick(&f, Qt::Key_Left, Qt::ShiftModifier);
             QTest::keyClick(&f, Qt::Key_Left, Qt::ShiftModifier);
             QTest::keyClick(&f, Qt::Key_Z);
         },
         {QStringLiteral("az")}},
        {"select all and backspace empties the field", {QStringLiteral("a"), token(T::twoDigitDay)},
         [](auto& f) { QTest::keySequence(&f, QKeySequence::SelectAll); QTest::keyClick(&f, Qt::Key_Backspace); }, {}},
        {"a character beyond the basic plane is one element", {QString::fromUtf8("\xF0\x9F\x93\xB7x")},
         [](auto& f) { QTest::keyClick(&f, Qt::Key_Left); QTest::keyClick(&f, Qt::Key_Backspace); }, {QStringLiteral("x")}},
    };
    for (const auto& c : cases) {
        m_field->setObjectValue(c.start);
        QSignalSpy changes(m_field, &PhotoSortingTokenField::textDidChange);
        c.keys(*m_field);
        EXPECT_EQ(m_field->objectValue(), c.expected) << c.name;
        EXPECT_GE(changes.count(), 1) << c.name;
    }
}

TEST_F(TokenFieldTest, SettingTheValueIsNoEdit)
{
    QSignalSpy changes(m_field, &PhotoSortingTokenField::textDidChange);
    m_field->setObjectValue({QStringLiteral("a"), token(T::fourDigitYear)});
    QTest::keyClick(m_field, Qt::Key_Left);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(m_field->elementCount(), 2);
}

TEST_F(TokenFieldTest, ReadOnlyAndUnselectableFieldsKeepTheirValue)
{
    const QVariantList value{QStringLiteral("a"), token(T::fourDigitYear)};
    m_field->setObjectValue(value);
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    m_field->setEditable(false);
    QSignalSpy changes(m_field, &PhotoSortingTokenField::textDidChange);
    QTest::keyClicks(m_field, QStringLiteral("xy"));
    QTest::keyClick(m_field, Qt::Key_Backspace);
    QTest::keySequence(m_field, QKeySequence::Paste);
    QTest::keySequence(m_field, QKeySequence::SelectAll);
    QTest::keySequence(m_field, QKeySequence::Cut);
    EXPECT_EQ(m_field->objectValue(), value);
    EXPECT_EQ(changes.count(), 0);
    // Selectable: copying out of it still works (the token bin).
    QTest::keySequence(m_field, QKeySequence::Copy);
    EXPECT_EQ(Delegate::readFromPasteboard(*QApplication::clipboard()->mimeData()), value);

    m_field->setSelectable(false);
    EXPECT_EQ(m_field->focusPolicy(), Qt::NoFocus);
    QApplication::clipboard()->setText(QStringLiteral("other"));
    m_field->selectAll();
    m_field->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("other"));
}

TEST_F(TokenFieldTest, ClickOnATokenSelectsIt)
{
    m_field->setObjectValue({QStringLiteral("ab"), token(T::namedMonth), QStringLiteral("c")});
    const QRectF chip = m_field->elementRect(2);
    ASSERT_TRUE(chip.isValid());
    QTest::mouseClick(m_field, Qt::LeftButton, {}, chip.center().toPoint());
    EXPECT_EQ(m_field->selectedObjects(), QVariantList{token(T::namedMonth)});
    // Clicking in text places the cursor between characters.
    QTest::mouseClick(m_field, Qt::LeftButton, {}, QPoint(int(m_field->elementRect(0).right()) + 1, 15));
    EXPECT_FALSE(m_field->hasSelection());
    EXPECT_EQ(m_field->cursorPosition(), 1);
    // A double click takes the run of text up to the next token.
    QTest::mouseDClick(m_field, Qt::LeftButton, {}, m_field->elementRect(1).center().toPoint());
    EXPECT_EQ(m_field->selectedObjects(), QVariantList{QStringLiteral("ab")});
}

TEST_F(TokenFieldTest, ClipboardCarriesTokensAndPlainText)
{
    m_field->setObjectValue({token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)});
    m_field->selectAll();
    m_field->copy();
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_TRUE(copied->hasFormat(Delegate::tokenMimeType()));
    EXPECT_EQ(copied->text(), QStringLiteral("Year (2018)-Month (03)"));
    EXPECT_EQ(Delegate::readFromPasteboard(*copied),
              (QVariantList{token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)}));

    // Plain text from another program pastes as one literal on one line; it never becomes a token.
    QApplication::clipboard()->setText(QStringLiteral("Year (2018)\nTrip"));
    EXPECT_EQ(Delegate::readFromPasteboard(*QApplication::clipboard()->mimeData()), std::nullopt);
    m_field->setObjectValue({});
    m_field->paste();
    EXPECT_EQ(m_field->objectValue(), QVariantList{QStringLiteral("Year (2018) Trip")});
}

TEST_F(TokenFieldTest, DropInsertsAtThePointerAndMovesWithinTheField)
{
    m_field->setObjectValue({QStringLiteral("ab")});
    auto mime = Delegate::mimeDataFor({token(T::oneDigitDay)});
    const QPointF betweenAandB(m_field->elementRect(0).right(), 15);
    QDropEvent drop(betweenAandB, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    deliver(m_field, drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(m_field->objectValue(), (QVariantList{QStringLiteral("a"), token(T::oneDigitDay), QStringLiteral("b")}));

    // A read-only field takes no drop.
    m_field->setEditable(false);
    QDropEvent refused(betweenAandB, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    deliver(m_field, refused);
    EXPECT_EQ(m_field->elementCount(), 3);
}

// ---- Rows -------------------------------------------------------------------------------------------------

TEST_F(TokenFieldTest, PaintingAndClickingCostWhatShowsNotTheFieldsLength)
{
    // The cost of a repaint, a click and a hit test, in elements looked at, on a short and a very long field
    // (a stored value may be that long; edits are capped).
    qint64 visits = 0;
    m_field->setElementVisitObserver([&visits] { ++visits; });
    const auto costFor = [&](int length) {
        m_field->setObjectValue({QString(length, QLatin1Char('a')), token(T::fourDigitYear), QString(length, QLatin1Char('b'))});
        m_field->setCursorPosition(length); // scrolled to the middle, next to the token
        const qint64 before = visits;
        m_field->repaint();
        const QPoint middle = m_field->rect().center();
        QTest::mouseClick(m_field, Qt::LeftButton, Qt::NoModifier, middle);
        m_field->elementAt(middle);
        m_field->positionAt(QPointF(middle));
        m_field->repaint();
        return visits - before;
    };
    const qint64 shortCost = costFor(1'000);
    const qint64 longCost = costFor(50'000);
    m_field->setElementVisitObserver({});
    EXPECT_GT(shortCost, 0);
    // Fifty times the length: the same elements show, and searches take a few more steps (a logarithm).
    EXPECT_LE(longCost, shortCost + 64) << "short " << shortCost << ", long " << longCost;
    EXPECT_LE(longCost, 400) << "no more than a screenful and some searching";
}

TEST_F(TokenFieldTest, EditsBeyondTheLengthCapAreRefusedWholeAndSaySo)
{
    constexpr int kCap = PhotoSortingTokenField::kMaximumLength;
    QSignalSpy refused(m_field, &PhotoSortingTokenField::lengthRefused);
    QSignalSpy changed(m_field, &PhotoSortingTokenField::textDidChange);
    const QVariantList start{QString(kCap - 5, QLatin1Char('x'))};
    const struct {
        const char* name;
        std::function<void(PhotoSortingTokenField&)> edit;
        bool accepted;
    } cases[] = {
        {"a paste that fills the field exactly",
         [](auto& f) { QApplication::clipboard()->setText(QStringLiteral("12345")); f.paste(); }, true},
        {"a paste one past the cap",
         [](auto& f) { QApplication::clipboard()->setText(QStringLiteral("123456")); f.paste(); }, false},
        {"a pasted novel", [](auto& f) { QApplication::clipboard()->setText(QString(50'000, QLatin1Char('n'))); f.paste(); }, false},
        {"tokens past the cap", [](auto& f) { f.insertObjects(QVariantList(6, token(T::oneDigitDay))); }, false},
        {"a paste over a selection, replacing it", [](auto& f) {
             f.setSelection(0, 10);
             QApplication::clipboard()->setText(QString(15, QLatin1Char('r')));
             f.paste();
         }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_field->setObjectValue(start);
        refused.clear();
        changed.clear();
        c.edit(*m_field);
        EXPECT_EQ(changed.count(), c.accepted ? 1 : 0);
        EXPECT_EQ(refused.count(), c.accepted ? 0 : 1);
        EXPECT_LE(m_field->elementCount(), kCap);
        if (!c.accepted) {
            EXPECT_EQ(m_field->objectValue(), start) << "nothing of a refused edit lands";
            EXPECT_TRUE(refused.front().front().toString().contains(QString::number(kCap)));
        }
    }
    // Typing at the cap is refused too, one key at a time.
    m_field->setObjectValue({QString(kCap, QLatin1Char('x'))});
    refused.clear();
    QTest::keyClick(m_field, Qt::Key_Z);
    EXPECT_EQ(refused.count(), 1);
    EXPECT_EQ(m_field->elementCount(), kCap);
}

TEST_F(TokenFieldTest, AssistiveTechnologyReadsTheTextAndEachTokenByName)
{
    m_field->setObjectValue({QStringLiteral("Trip-"), token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)});
    const QString year = Delegate::displayString(token(T::fourDigitYear)).value_or(QString());
    const QString month = Delegate::displayString(token(T::twoDigitMonth)).value_or(QString());
    ASSERT_FALSE(year.isEmpty());

    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(m_field);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->role(), QAccessible::EditableText);
    EXPECT_TRUE(field->state().editable);
    QAccessibleTextInterface* text = field->textInterface();
    ASSERT_NE(text, nullptr);
    const QString read = QStringLiteral("Trip-") + year + QStringLiteral("-") + month;
    EXPECT_EQ(text->text(0, text->characterCount()), read);
    EXPECT_EQ(field->text(QAccessible::Value), read);
    EXPECT_EQ(text->cursorPosition(), read.size()) << "the cursor is after the last token";

    ASSERT_EQ(field->childCount(), 2);
    const QString names[] = {year, month};
    for (int i = 0; i < 2; ++i) {
        QAccessibleInterface* tokenChild = field->child(i);
        ASSERT_NE(tokenChild, nullptr);
        EXPECT_EQ(tokenChild->text(QAccessible::Name), names[i]);
        EXPECT_EQ(tokenChild->parent(), field);
        EXPECT_EQ(field->indexOfChild(tokenChild), i);
        EXPECT_FALSE(tokenChild->rect().isEmpty());
        EXPECT_EQ(field->childAt(tokenChild->rect().center().x(), tokenChild->rect().center().y()), tokenChild);
    }

    // Selecting a token through the text reads it as selected; an edit through the interface is a real edit.
    text->setSelection(0, 5, 5 + int(year.size()));
    EXPECT_TRUE(field->child(0)->state().selected);
    EXPECT_FALSE(field->child(1)->state().selected);
    QSignalSpy changed(m_field, &PhotoSortingTokenField::textDidChange);
    QAccessibleEditableTextInterface* editable = field->editableTextInterface();
    ASSERT_NE(editable, nullptr);
    editable->insertText(0, QStringLiteral("My "));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m_field->objectValue().front(), QVariant(QStringLiteral("My Trip-")));
    editable->deleteText(int(QStringLiteral("My Trip-").size()), int(QStringLiteral("My Trip-").size() + year.size()));
    EXPECT_EQ(field->childCount(), 1) << "the removed token is no child any more";
    EXPECT_EQ(field->child(0)->text(QAccessible::Name), month);
}

// What a screen reader is told while the field changes: the text before and after each change (so that what it
// read stays right), the tokens as children that come and go, and the caret as the arrow keys move it.
TEST_F(TokenFieldTest, AScreenReaderIsToldEachChangeOfTheTextTheTokensAndTheCaret)
{
    using Event = test::AccessibilityRecorder::Event;
    const QString year = Delegate::displayString(token(T::fourDigitYear)).value_or(QString());
    ASSERT_FALSE(year.isEmpty());
    test::AccessibilityRecorder recorder;
    ASSERT_TRUE(QAccessible::isActive());
    const auto ofType = [](const std::vector<Event>& events, QAccessible::Event type) {
        std::vector<Event> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found), [&](const Event& e) { return e.type == type; });
        return found;
    };
    const auto reordered = [&](const std::vector<Event>& events) { return !ofType(events, QAccessible::ObjectReorder).empty(); };

    // A value the program sets is told as a change too, and is what the next change starts from.
    m_field->setObjectValue({QStringLiteral("Trip-"), token(T::fourDigitYear)});
    std::vector<Event> events = recorder.take();
    std::vector<Event> updates = ofType(events, QAccessible::TextUpdated);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].textRemoved, QString());
    EXPECT_EQ(updates[0].textInserted, QStringLiteral("Trip-") + year);
    EXPECT_TRUE(reordered(events)) << "the token is a new child";

    QTest::keyClicks(m_field, QStringLiteral("x"));
    updates = ofType(recorder.take(), QAccessible::TextUpdated);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].textRemoved, QStringLiteral("Trip-") + year);
    EXPECT_EQ(updates[0].textInserted, QStringLiteral("Trip-") + year + QStringLiteral("x"));

    // The caret steps over the x, then over the whole token.
    QTest::keyClick(m_field, Qt::Key_Left);
    std::vector<Event> moves = ofType(recorder.take(), QAccessible::TextCaretMoved);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back().position, int((QStringLiteral("Trip-") + year).size()));
    QTest::keyClick(m_field, Qt::Key_Left);
    moves = ofType(recorder.take(), QAccessible::TextCaretMoved);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back().position, int(QStringLiteral("Trip-").size()));

    // Deleting the token takes its child away; the text is told without it.
    QTest::keyClick(m_field, Qt::Key_Delete);
    events = recorder.take();
    updates = ofType(events, QAccessible::TextUpdated);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].textRemoved, QStringLiteral("Trip-") + year + QStringLiteral("x"));
    EXPECT_EQ(updates[0].textInserted, QStringLiteral("Trip-x"));
    EXPECT_TRUE(reordered(events));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(m_field)->childCount(), 0);
}

TEST(PhotoSortingRowTest, ModesShowTheirParts)
{
    using Mode = PhotoSortingRowViewController::Mode;
    QWidget window;
    for (Mode mode : {Mode::folder, Mode::noFolders, Mode::file}) {
        auto* row = new PhotoSortingRowViewController(&window);
        row->setMode(mode);
        row->updateForMode();
        if (mode == Mode::file)
            row->setShowAddRemoveButtons(false);
        EXPECT_EQ(row->tokenField()->isVisibleTo(row), mode != Mode::noFolders);
        EXPECT_EQ(row->noFoldersLabel()->isVisibleTo(row), mode == Mode::noFolders);
        EXPECT_EQ(row->addButton()->isVisibleTo(row), mode != Mode::file);
        EXPECT_EQ(row->removeButton()->isVisibleTo(row), mode != Mode::file);
        EXPECT_FALSE(row->iconView()->pixmap().isNull());
    }
}

TEST(PhotoSortingRowTest, EditsReachTheStepOnlyWhenAllowed)
{
    QWidget window;
    auto* row = new PhotoSortingRowViewController(&window);
    QSignalSpy changes(row, &PhotoSortingRowViewController::valueChanged);
    QSignalSpy adds(row, &PhotoSortingRowViewController::addRowRequested);

    // No step (the no-folders row): edits go nowhere, but the add button still asks for a level.
    row->tokenField()->insertText(QStringLiteral("x"));
    EXPECT_EQ(changes.count(), 0);
    row->addButton()->click();
    EXPECT_EQ(adds.count(), 1);

    const auto step = UserDefinedSortingStep::create({token(T::fourDigitYear)});
    row->setStep(step);
    EXPECT_EQ(row->tokenField()->objectValue(), step->tokenFieldRepresentedObjects());
    row->tokenField()->setCursorPosition(1);
    row->tokenField()->insertText(QStringLiteral("!"));
    EXPECT_EQ(step->tokenFieldRepresentedObjects(), (QVariantList{token(T::fourDigitYear), QStringLiteral("!")}));
    EXPECT_EQ(changes.count(), 1);

    // A built-in preset's row: the field takes nothing and a change notice is ignored.
    row->setAllowsEditing(false);
    EXPECT_FALSE(row->tokenField()->isEditable());
    EXPECT_FALSE(row->tokenField()->isSelectable());
    emit row->tokenField()->textDidChange();
    EXPECT_EQ(changes.count(), 1);

    row->setInsetLevel(3);
    EXPECT_EQ(row->insetConstant(), 60.0);
    EXPECT_EQ(row->layout()->contentsMargins().left(), 60);
}

} // namespace
} // namespace vornakel
