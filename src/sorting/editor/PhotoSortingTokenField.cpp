#include "sorting/editor/PhotoSortingTokenField.h"

#include "platform/core/Strings.h"
#include "sorting/editor/PhotoSortingTokenFieldAccessible.h"
#include "sorting/editor/PhotoSortingTokenFieldDelegate.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextBoundaryFinder>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <utility>

namespace vornakel {
namespace {

namespace Delegate = PhotoSortingTokenFieldDelegate;

constexpr qreal kPadding = 5.0;     // between the frame and the first element
constexpr qreal kChipPadding = 6.0; // between a chip's edge and its title
constexpr qreal kChipMargin = 1.5;  // around a chip
constexpr qreal kMinimumChipWidth = 18.0;

QColor chipFill(const QPalette& palette)
{
    // A light tint of the highlight colour, so that chips read as objects but their text stays dark.
    QColor tint = palette.color(QPalette::Highlight);
    const QColor base = palette.color(QPalette::Base);
    return QColor::fromRgbF(base.redF() * 0.8f + tint.redF() * 0.2f, base.greenF() * 0.8f + tint.greenF() * 0.2f,
                            base.blueF() * 0.8f + tint.blueF() * 0.2f);
}

QColor chipBorder(const QPalette& palette)
{
    QColor tint = palette.color(QPalette::Highlight);
    tint.setAlphaF(0.55f);
    return tint;
}

bool isTypable(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint() || c.isSurrogate(); });
}

} // namespace

PhotoSortingTokenField::PhotoSortingTokenField(QWidget* parent) : QWidget(parent)
{
    installTokenFieldAccessibility();
    relayout();
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setAttribute(Qt::WA_KeyCompression, false);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

PhotoSortingTokenField::~PhotoSortingTokenField() = default;

std::vector<PhotoSortingTokenField::Element> PhotoSortingTokenField::makeElements(const QVariantList& objects) const
{
    const QFontMetricsF metrics(font());
    std::vector<Element> elements;
    for (const QVariant& object : objects) {
        if (Delegate::style(object) == Delegate::TokenStyle::none) {
            const QString text = object.toString();
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
            qsizetype start = 0;
            for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
                const QString grapheme = text.mid(start, end - start);
                elements.push_back({QVariant(grapheme), grapheme, false, metrics.horizontalAdvance(grapheme)});
                start = end;
            }
        } else {
            const QString title = Delegate::displayString(object).value_or(QString());
            const qreal width = std::max(kMinimumChipWidth, metrics.horizontalAdvance(title) + 2 * kChipPadding);
            elements.push_back({object, title, true, width + 2 * kChipMargin});
        }
    }
    return elements;
}

QVariantList PhotoSortingTokenField::objectValue() const
{
    return objectsBetween(0, int(m_elements.size()));
}

void PhotoSortingTokenField::setObjectValue(const QVariantList& objects)
{
    m_elements = makeElements(objects);
    relayout();
    m_cursor = m_anchor = elementCount();
    m_scroll = 0;
    ensureCursorVisible();
    updateGeometry();
    update();
    // A screen reader is told of a new value as of an edit, so that what it read stays right; for the owner it is
    // no edit, and textDidChange stays quiet.
    notifyAccessibleTextChange();
}

void PhotoSortingTokenField::setEditable(bool editable)
{
    m_editable = editable;
    setAcceptDrops(editable);
    setAttribute(Qt::WA_InputMethodEnabled, editable);
    setCursor(editable ? Qt::IBeamCursor : Qt::ArrowCursor);
    update();
}

void PhotoSortingTokenField::setSelectable(bool selectable)
{
    m_selectable = selectable;
    if (!selectable) {
        m_anchor = m_cursor;
        if (hasFocus())
            clearFocus();
    }
    setFocusPolicy(selectable ? Qt::StrongFocus : Qt::NoFocus);
    update();
}

void PhotoSortingTokenField::setCursorPosition(int position)
{
    moveCursor(position, false);
}

void PhotoSortingTokenField::setSelection(int start, int length)
{
    m_anchor = std::clamp(start, 0, elementCount());
    m_cursor = std::clamp(start + length, 0, elementCount());
    ensureCursorVisible();
    update();
}

QVariantList PhotoSortingTokenField::selectedObjects() const
{
    return objectsBetween(std::min(m_anchor, m_cursor), std::max(m_anchor, m_cursor));
}

// Chips as their objects, and each run of typed characters between them as one string.
QVariantList PhotoSortingTokenField::objectsBetween(int from, int to) const
{
    QVariantList objects;
    QString literal;
    for (int i = from; i < to; ++i) {
        const Element& element = m_elements[size_t(i)];
        if (element.chip) {
            if (!literal.isEmpty())
                objects.append(std::exchange(literal, QString()));
            objects.append(element.object);
        } else {
            literal += element.object.toString();
        }
    }
    if (!literal.isEmpty())
        objects.append(literal);
    return objects;
}

void PhotoSortingTokenField::moveCursor(int position, bool keepAnchor)
{
    m_cursor = std::clamp(position, 0, elementCount());
    if (!keepAnchor)
        m_anchor = m_cursor;
    ensureCursorVisible();
    update();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent moved(this, textOffsetOfElement(m_cursor));
        QAccessible::updateAccessibility(&moved);
    }
}

void PhotoSortingTokenField::removeRange(int from, int to)
{
    from = std::clamp(from, 0, elementCount());
    to = std::clamp(to, from, elementCount());
    m_elements.erase(m_elements.begin() + from, m_elements.begin() + to);
    m_cursor = m_anchor = from;
    relayout();
}

void PhotoSortingTokenField::replaceSelection(std::vector<Element> elements)
{
    const int from = std::min(m_anchor, m_cursor);
    removeRange(from, std::max(m_anchor, m_cursor));
    const int count = int(elements.size());
    m_elements.insert(m_elements.begin() + from, std::make_move_iterator(elements.begin()),
                      std::make_move_iterator(elements.end()));
    relayout();
    m_cursor = m_anchor = from + count;
    ensureCursorVisible();
    updateGeometry();
    update();
}

void PhotoSortingTokenField::edited()
{
    ensureCursorVisible();
    update();
    notifyAccessibleTextChange();
    emit textDidChange();
}

bool PhotoSortingTokenField::refuseGrowthBeyondLimit(int inserted)
{
    const int selected = std::abs(m_cursor - m_anchor);
    if (elementCount() - selected + inserted <= kMaximumLength)
        return false;
    // Refused whole rather than cut: a paste that silently lost its end would be worse than none.
    QApplication::beep();
    const QString message = GeneralUI::format(QStringLiteral("TokenFieldTooLong"), {QString::number(kMaximumLength)});
    QToolTip::showText(mapToGlobal(QPoint(0, height())), message, this);
    emit lengthRefused(message);
    return true;
}

void PhotoSortingTokenField::insertText(const QString& text)
{
    if (!m_editable)
        return;
    QString typed;
    for (QChar character : text) {
        if (character.isPrint() || character.isSurrogate())
            typed += character;
    }
    if (typed.isEmpty())
        return;
    std::vector<Element> elements = makeElements({Delegate::representedObjectForEditingString(typed)});
    if (refuseGrowthBeyondLimit(int(elements.size())))
        return;
    replaceSelection(std::move(elements));
    edited();
}

void PhotoSortingTokenField::insertObjects(const QVariantList& objects)
{
    if (!m_editable || objects.isEmpty())
        return;
    std::vector<Element> elements = makeElements(objects);
    if (refuseGrowthBeyondLimit(int(elements.size())))
        return;
    replaceSelection(std::move(elements));
    edited();
}

void PhotoSortingTokenField::deleteBackward()
{
    if (!m_editable)
        return;
    if (!hasSelection()) {
        if (m_cursor == 0)
            return;
        m_anchor = m_cursor - 1;
    }
    replaceSelection({});
    edited();
}

void PhotoSortingTokenField::deleteForward()
{
    if (!m_editable)
        return;
    if (!hasSelection()) {
        if (m_cursor == elementCount())
            return;
        m_anchor = m_cursor + 1;
    }
    replaceSelection({});
    edited();
}

void PhotoSortingTokenField::selectAll()
{
    if (!m_selectable)
        return;
    setSelection(0, elementCount());
}

void PhotoSortingTokenField::copy() const
{
    if (!m_selectable || !hasSelection())
        return;
    QApplication::clipboard()->setMimeData(Delegate::mimeDataFor(selectedObjects()).release());
}

void PhotoSortingTokenField::cut()
{
    if (!m_editable || !hasSelection())
        return;
    copy();
    replaceSelection({});
    edited();
}

void PhotoSortingTokenField::paste()
{
    if (!m_editable)
        return;
    const QMimeData* mimeData = QApplication::clipboard()->mimeData();
    if (!mimeData)
        return;
    insertObjects(Delegate::pastedObjects(*mimeData));
}

// ---- What assistive technology reads -----------------------------------------------------------------------

QString PhotoSortingTokenField::displayedText() const
{
    QString text;
    for (const Element& element : m_elements)
        text += element.text;
    return text;
}

int PhotoSortingTokenField::textOffsetOfElement(int position) const
{
    int offset = 0;
    for (int i = 0; i < std::min(position, elementCount()); ++i)
        offset += int(m_elements[size_t(i)].text.size());
    return offset;
}

int PhotoSortingTokenField::elementAtTextOffset(int offset) const
{
    int start = 0;
    for (int i = 0; i < elementCount(); ++i) {
        const int end = start + int(m_elements[size_t(i)].text.size());
        if (offset < end)
            return offset - start <= end - offset ? i : i + 1;
        start = end;
    }
    return elementCount();
}

std::vector<std::pair<int, QString>> PhotoSortingTokenField::tokenTitles() const
{
    std::vector<std::pair<int, QString>> titles;
    for (int i = 0; i < elementCount(); ++i) {
        if (m_elements[size_t(i)].chip)
            titles.emplace_back(i, m_elements[size_t(i)].text);
    }
    return titles;
}

void PhotoSortingTokenField::notifyAccessibleTextChange()
{
    // Kept while nobody listens too: a screen reader that starts later is told what changed from what it read.
    const QString text = displayedText();
    const QString before = std::exchange(m_accessibleText, text);
    if (!QAccessible::isActive())
        return;
    QAccessibleTextUpdateEvent update(this, 0, before, text);
    QAccessible::updateAccessibility(&update);
    // The tokens are the field's children: a change may add or remove some.
    tokenFieldChildrenChanged(this);
}

// ---- Geometry ----------------------------------------------------------------------------------------------

qreal PhotoSortingTokenField::chipHeight() const
{
    return QFontMetricsF(font()).height() + 4.0;
}

void PhotoSortingTokenField::relayout()
{
    // Where each element starts, so that geometry questions take one lookup (or a binary search) instead of a
    // walk over everything before the element: long fields would otherwise cost the square of their length.
    m_offsets.resize(m_elements.size() + 1);
    m_offsets[0] = 0;
    for (size_t i = 0; i < m_elements.size(); ++i)
        m_offsets[i + 1] = m_offsets[i] + m_elements[i].width;
}

qreal PhotoSortingTokenField::elementX(int position) const
{
    return kPadding + m_offsets[size_t(std::clamp(position, 0, elementCount()))];
}

int PhotoSortingTokenField::firstElementEndingAfter(qreal contentX) const
{
    // The elements' right edges grow with the index: a binary search, each step one element looked at.
    const auto begin = m_offsets.begin() + 1;
    const auto found = std::upper_bound(begin, m_offsets.end(), contentX - kPadding, [this](qreal x, qreal right) {
        noteElementVisit();
        return x < right;
    });
    return int(found - begin);
}

qreal PhotoSortingTokenField::contentWidth() const
{
    return elementX(elementCount()) + kPadding;
}

QRectF PhotoSortingTokenField::elementRect(int index) const
{
    if (index < 0 || index >= elementCount())
        return {};
    const Element& element = m_elements[size_t(index)];
    const qreal x = elementX(index) - m_scroll;
    const qreal h = chipHeight();
    const qreal y = (height() - h) / 2.0;
    if (element.chip)
        return QRectF(x + kChipMargin, y, element.width - 2 * kChipMargin, h);
    return QRectF(x, y, element.width, h);
}

int PhotoSortingTokenField::elementAt(const QPointF& point) const
{
    const int i = firstElementEndingAfter(point.x() + m_scroll);
    if (i >= elementCount())
        return -1;
    noteElementVisit();
    const QRectF box = elementRect(i);
    return point.x() >= box.left() && point.x() < box.right() ? i : -1;
}

int PhotoSortingTokenField::positionAt(const QPointF& point) const
{
    // The position before the first element whose middle lies right of the point; the middles grow with the
    // index as the edges do.
    const qreal x = point.x() + m_scroll - kPadding;
    int low = 0;
    int high = elementCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        noteElementVisit();
        if (x < (m_offsets[size_t(middle)] + m_offsets[size_t(middle) + 1]) / 2.0)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

void PhotoSortingTokenField::ensureCursorVisible()
{
    const qreal visible = width();
    const qreal caret = elementX(m_cursor);
    if (caret - m_scroll < kPadding)
        m_scroll = caret - kPadding;
    else if (caret - m_scroll > visible - kPadding)
        m_scroll = caret - visible + kPadding;
    m_scroll = std::clamp(m_scroll, 0.0, std::max(0.0, contentWidth() - visible));
}

QSize PhotoSortingTokenField::sizeHint() const
{
    const int h = int(std::ceil(chipHeight() + 8.0));
    return QSize(std::max(int(std::ceil(kPadding * 2 + kMinimumChipWidth)), int(std::ceil(contentWidth()))), h);
}

QSize PhotoSortingTokenField::minimumSizeHint() const
{
    return QSize(int(std::ceil(kPadding * 2 + kMinimumChipWidth)), sizeHint().height());
}

void PhotoSortingTokenField::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ensureCursorVisible();
}

void PhotoSortingTokenField::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        const int cursor = m_cursor;
        const int anchor = m_anchor;
        m_elements = makeElements(objectValue());
        relayout();
        m_cursor = std::min(cursor, elementCount());
        m_anchor = std::min(anchor, elementCount());
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

// ---- Drawing -----------------------------------------------------------------------------------------------

void PhotoSortingTokenField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    if (!m_editable)
        frame.palette.setBrush(QPalette::Base, palette().brush(QPalette::Window));
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(rect().adjusted(2, 2, -2, -2));
    const QPalette& pal = palette();
    const bool showSelection = hasSelection() && (hasFocus() || !m_editable);
    const int from = std::min(m_anchor, m_cursor);
    const int to = std::max(m_anchor, m_cursor);
    const QFontMetricsF metrics(font());

    // Only what shows is drawn: from the first element reaching into view to the last one starting in it.
    for (int i = firstElementEndingAfter(m_scroll); i < elementCount(); ++i) {
        noteElementVisit();
        const Element& element = m_elements[size_t(i)];
        const QRectF box = elementRect(i);
        if (box.left() > width())
            break;
        const bool selected = showSelection && i >= from && i < to;
        if (element.chip) {
            QPainterPath chip;
            chip.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 4.0, 4.0);
            painter.fillPath(chip, selected ? pal.color(QPalette::Highlight) : chipFill(pal));
            painter.setPen(QPen(selected ? pal.color(QPalette::Highlight) : chipBorder(pal), 1.0));
            painter.drawPath(chip);
            painter.setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
            painter.drawText(box, Qt::AlignCenter, element.text);
        } else {
            if (selected)
                painter.fillRect(box, pal.color(QPalette::Highlight));
            painter.setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
            painter.drawText(QPointF(box.left(), box.top() + (box.height() - metrics.height()) / 2.0 + metrics.ascent()),
                             element.text);
        }
    }

    const qreal h = chipHeight();
    const qreal top = (height() - h) / 2.0;
    if (m_dropPosition >= 0) {
        const qreal x = elementX(m_dropPosition) - m_scroll;
        painter.fillRect(QRectF(x - 1.0, top, 2.0, h), pal.color(QPalette::Highlight));
    } else if (hasFocus() && m_editable && !hasSelection()) {
        const qreal x = std::round(elementX(m_cursor) - m_scroll) + 0.5;
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(pal.color(QPalette::Text), 1.0));
        painter.drawLine(QPointF(x, top + 1), QPointF(x, top + h - 1));
    }
}

// ---- Keyboard ----------------------------------------------------------------------------------------------

bool PhotoSortingTokenField::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // The field's own keys win over window shortcuts while it has the focus (a Delete that removes a preset,
        // say).
        auto* key = static_cast<QKeyEvent*>(event);
        const bool ours = key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut)
                          || key->matches(QKeySequence::Paste) || key->matches(QKeySequence::SelectAll)
                          || key->matches(QKeySequence::Delete) || key->key() == Qt::Key_Backspace
                          || key->key() == Qt::Key_Left || key->key() == Qt::Key_Right
                          || key->key() == Qt::Key_Home || key->key() == Qt::Key_End
                          || (isTypable(key->text())
                              && !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier)));
        if (ours) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void PhotoSortingTokenField::keyPressEvent(QKeyEvent* event)
{
    if (!m_selectable) {
        event->ignore();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::MoveToPreviousChar) || event->matches(QKeySequence::MoveToPreviousWord)) {
        moveCursor(hasSelection() ? std::min(m_anchor, m_cursor) : m_cursor - 1, false);
    } else if (event->matches(QKeySequence::MoveToNextChar) || event->matches(QKeySequence::MoveToNextWord)) {
        moveCursor(hasSelection() ? std::max(m_anchor, m_cursor) : m_cursor + 1, false);
    } else if (event->matches(QKeySequence::SelectPreviousChar) || event->matches(QKeySequence::SelectPreviousWord)) {
        moveCursor(m_cursor - 1, true);
    } else if (event->matches(QKeySequence::SelectNextChar) || event->matches(QKeySequence::SelectNextWord)) {
        moveCursor(m_cursor + 1, true);
    } else if (event->matches(QKeySequence::MoveToStartOfLine) || event->matches(QKeySequence::MoveToStartOfBlock)
               || event->matches(QKeySequence::MoveToStartOfDocument)) {
        moveCursor(0, false);
    } else if (event->matches(QKeySequence::MoveToEndOfLine) || event->matches(QKeySequence::MoveToEndOfBlock)
               || event->matches(QKeySequence::MoveToEndOfDocument)) {
        moveCursor(elementCount(), false);
    } else if (event->matches(QKeySequence::SelectStartOfLine) || event->matches(QKeySequence::SelectStartOfBlock)
               || event->matches(QKeySequence::SelectStartOfDocument)) {
        moveCursor(0, true);
    } else if (event->matches(QKeySequence::SelectEndOfLine) || event->matches(QKeySequence::SelectEndOfBlock)
               || event->matches(QKeySequence::SelectEndOfDocument)) {
        moveCursor(elementCount(), true);
    } else if (event->key() == Qt::Key_Backspace) {
        deleteBackward();
    } else if (event->matches(QKeySequence::Delete)) {
        deleteForward();
    } else if (isTypable(event->text()) && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        if (!m_editable) {
            event->ignore();
            return;
        }
        insertText(event->text());
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void PhotoSortingTokenField::inputMethodEvent(QInputMethodEvent* event)
{
    if (m_editable && !event->commitString().isEmpty())
        insertText(event->commitString());
    event->accept();
}

QVariant PhotoSortingTokenField::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return m_editable;
    case Qt::ImCursorRectangle: {
        const qreal h = chipHeight();
        return QRectF(elementX(m_cursor) - m_scroll, (height() - h) / 2.0, 1.0, h).toRect();
    }
    default:
        return QWidget::inputMethodQuery(query);
    }
}

void PhotoSortingTokenField::focusInEvent(QFocusEvent* event)
{
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        selectAll();
    QWidget::focusInEvent(event);
    update();
}

void PhotoSortingTokenField::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void PhotoSortingTokenField::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_selectable) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    QAction* cutAction = menu.addAction(GeneralUI::text(QStringLiteral("TokenFieldCut")), this, &PhotoSortingTokenField::cut);
    cutAction->setEnabled(m_editable && hasSelection());
    QAction* copyAction = menu.addAction(GeneralUI::text(QStringLiteral("TokenFieldCopy")), this, &PhotoSortingTokenField::copy);
    copyAction->setEnabled(hasSelection());
    QAction* pasteAction = menu.addAction(GeneralUI::text(QStringLiteral("TokenFieldPaste")), this, &PhotoSortingTokenField::paste);
    const QMimeData* clipboard = QApplication::clipboard()->mimeData();
    pasteAction->setEnabled(m_editable && clipboard && !Delegate::pastedObjects(*clipboard).isEmpty());
    menu.addSeparator();
    menu.addAction(GeneralUI::text(QStringLiteral("TokenFieldSelectAll")), this, &PhotoSortingTokenField::selectAll);
    menu.exec(event->globalPos());
}

// ---- Mouse, drag and drop ----------------------------------------------------------------------------------

void PhotoSortingTokenField::mousePressEvent(QMouseEvent* event)
{
    if (!m_selectable || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF point = event->position();
    const int position = positionAt(point);
    const int hit = elementAt(point);
    const int from = std::min(m_anchor, m_cursor);
    const int to = std::max(m_anchor, m_cursor);
    m_pressPosition = event->position().toPoint();
    if (hit >= 0 && hasSelection() && hit >= from && hit < to && !(event->modifiers() & Qt::ShiftModifier)) {
        m_mayStartDrag = true;
    } else if (hit >= 0 && m_elements[size_t(hit)].chip && !(event->modifiers() & Qt::ShiftModifier)) {
        // A click on a token takes the whole token, ready to be dragged or copied.
        setSelection(hit, 1);
        m_mayStartDrag = true;
    } else {
        moveCursor(position, event->modifiers() & Qt::ShiftModifier);
        m_selecting = true;
    }
    event->accept();
}

void PhotoSortingTokenField::mouseMoveEvent(QMouseEvent* event)
{
    if (m_mayStartDrag
        && (event->position().toPoint() - m_pressPosition).manhattanLength() >= QApplication::startDragDistance()) {
        m_mayStartDrag = false;
        const int from = std::min(m_anchor, m_cursor);
        const int to = std::max(m_anchor, m_cursor);
        const QVariantList objects = selectedObjects();
        QRectF shown;
        for (int i = from; i < to; ++i)
            shown = shown.united(elementRect(i));

        auto* drag = new QDrag(this);
        drag->setMimeData(Delegate::mimeDataFor(objects).release());
        const QRect pixmapRect = shown.toAlignedRect().intersected(rect());
        if (!pixmapRect.isEmpty()) {
            drag->setPixmap(grab(pixmapRect));
            drag->setHotSpot(m_pressPosition - pixmapRect.topLeft());
        }
        m_droppedOnItself = false;
        const QPointer<PhotoSortingTokenField> self(this);
        const Qt::DropAction action = drag->exec(m_editable ? Qt::CopyAction | Qt::MoveAction : Qt::CopyAction,
                                                 m_editable ? Qt::MoveAction : Qt::CopyAction);
        // A token moved to another field leaves this one; one moved within this field was handled by the drop.
        if (self && action == Qt::MoveAction && m_editable && !m_droppedOnItself && to <= elementCount()) {
            removeRange(from, to);
            edited();
        }
        return;
    }
    if (m_selecting && (event->buttons() & Qt::LeftButton))
        moveCursor(positionAt(event->position()), true);
}

void PhotoSortingTokenField::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_mayStartDrag) {
        // A click inside a selection of text that did not become a drag places the cursor.
        const int from = std::min(m_anchor, m_cursor);
        const bool singleChip = std::max(m_anchor, m_cursor) - from == 1 && m_elements[size_t(from)].chip;
        if (!singleChip)
            moveCursor(positionAt(event->position()), false);
    }
    m_mayStartDrag = false;
    m_selecting = false;
    QWidget::mouseReleaseEvent(event);
}

void PhotoSortingTokenField::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_selectable || event->button() != Qt::LeftButton)
        return;
    // A double click takes the run of literal text under the pointer, or the token.
    const int position = elementAt(event->position());
    if (position < 0)
        return;
    if (m_elements[size_t(position)].chip) {
        setSelection(position, 1);
        return;
    }
    int start = position;
    int end = position + 1;
    while (start > 0 && !m_elements[size_t(start - 1)].chip)
        --start;
    while (end < elementCount() && !m_elements[size_t(end)].chip)
        ++end;
    setSelection(start, end - start);
}

bool PhotoSortingTokenField::acceptsDrop(const QMimeData* mimeData) const
{
    return m_editable && mimeData && !Delegate::pastedObjects(*mimeData).isEmpty();
}

void PhotoSortingTokenField::dragEnterEvent(QDragEnterEvent* event)
{
    trackDrag(event);
}

void PhotoSortingTokenField::dragMoveEvent(QDragMoveEvent* event)
{
    trackDrag(event);
}

void PhotoSortingTokenField::trackDrag(QDragMoveEvent* event)
{
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    m_dropPosition = positionAt(event->position());
    event->acceptProposedAction();
    update();
}

void PhotoSortingTokenField::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_dropPosition = -1;
    update();
    QWidget::dragLeaveEvent(event);
}

void PhotoSortingTokenField::dropEvent(QDropEvent* event)
{
    m_dropPosition = -1;
    update();
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    const QVariantList objects = Delegate::pastedObjects(*event->mimeData());
    int position = positionAt(event->position());
    const bool movedWithin = event->source() == this && event->dropAction() == Qt::MoveAction;
    if (!movedWithin) {
        // Dropped text lands at the drop point, not over the selection.
        const int selectedCursor = m_cursor;
        const int selectedAnchor = m_anchor;
        m_anchor = m_cursor;
        const bool refused = refuseGrowthBeyondLimit(int(makeElements(objects).size()));
        m_cursor = selectedCursor;
        m_anchor = selectedAnchor;
        if (refused) {
            event->ignore();
            return;
        }
    }
    if (movedWithin) {
        const int from = std::min(m_anchor, m_cursor);
        const int to = std::max(m_anchor, m_cursor);
        m_droppedOnItself = true;
        if (position >= from && position <= to) {
            event->acceptProposedAction();
            return; // dropped where it came from
        }
        removeRange(from, to);
        if (position > to)
            position -= to - from;
    }
    m_anchor = m_cursor = std::clamp(position, 0, elementCount());
    replaceSelection(makeElements(objects));
    const int inserted = m_cursor;
    m_anchor = position;
    m_cursor = inserted;
    edited();
    event->acceptProposedAction();
    activateWindow();
    setFocus(Qt::MouseFocusReason);
}

} // namespace vornakel
