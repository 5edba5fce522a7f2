#pragma once

#include <QPointer>
#include <QVariantList>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

class QMimeData;

namespace vornakel {

// A one-line field of literal text and token chips, edited like a line edit: typing, deleting, selecting,
// copy, cut, paste, and dragging between fields. Its value is the list of represented objects of a sorting
// step: adjacent literal characters as one QString, each token as its token object. Positions count elements:
// one per literal character (grapheme) and one per token.
class PhotoSortingTokenField : public QWidget {
    Q_OBJECT
public:
    // The most elements (characters and tokens) an edit may leave in a field: a file or folder name holds no
    // more than 255 bytes, and a field far longer would only be a slip of the clipboard.
    static constexpr int kMaximumLength = 255;

    explicit PhotoSortingTokenField(QWidget* parent = nullptr);
    ~PhotoSortingTokenField() override;

    QVariantList objectValue() const;
    // Shows the objects; the field's own edits are not reported for this.
    void setObjectValue(const QVariantList& objects);

    // Editable fields take typing, pastes and drops; selectable ones can be focused, selected, copied and dragged
    // from.
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable);
    bool isSelectable() const { return m_selectable; }
    void setSelectable(bool selectable);

    int elementCount() const { return int(m_elements.size()); }
    int cursorPosition() const { return m_cursor; }
    void setCursorPosition(int position);
    // Selects `length` elements from `start`.
    void setSelection(int start, int length);
    bool hasSelection() const { return m_anchor != m_cursor; }
    int selectionStart() const { return std::min(m_anchor, m_cursor); }
    int selectionEnd() const { return std::max(m_anchor, m_cursor); }
    QVariantList selectedObjects() const;

    // The edits the keys and the context menu make; each reports `textDidChange` when it changed the value.
    void insertText(const QString& text);
    void insertObjects(const QVariantList& objects);
    void deleteBackward();
    void deleteForward();
    void selectAll();
    void copy() const;
    void cut();
    void paste();

    // Where an element is drawn, in the field's coordinates, and the position between elements nearest a point.
    QRectF elementRect(int index) const;
    int positionAt(const QPointF& point) const;
    // The element under a point (across the field's height); -1 between or beyond them.
    int elementAt(const QPointF& point) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Called for each element painting or a hit test looks at, so that a test can count what they cost (it
    // grows with what is shown, not with the field's length). None is installed unless a test installs one.
    void setElementVisitObserver(std::function<void()> observer) { m_elementVisitObserver = std::move(observer); }

    // What is read out: the literal characters and each token's title, in order. Positions in it are
    // characters (a token's title counts its characters); the element under a character and back.
    QString displayedText() const;
    int textOffsetOfElement(int position) const;
    int elementAtTextOffset(int offset) const;
    // Each token's title and its element position, in order.
    std::vector<std::pair<int, QString>> tokenTitles() const;

signals:
    // After every change the user makes to the value: a typed character, a deletion, a paste, a drop, a token
    // dragged away.
    void textDidChange();
    // An edit was refused because the field would have grown beyond kMaximumLength; the message says so.
    void lengthRefused(const QString& message);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Element {
        QVariant object; // a one-grapheme QString, or a token object (or whatever else the step held)
        QString text;    // what is drawn
        bool chip = false;
        qreal width = 0;
    };

    std::vector<Element> makeElements(const QVariantList& objects) const;
    void relayout();
    int firstElementEndingAfter(qreal contentX) const;
    bool refuseGrowthBeyondLimit(int inserted);
    void notifyAccessibleTextChange();
    qreal contentWidth() const;
    qreal elementX(int position) const; // content coordinates
    qreal chipHeight() const;
    void ensureCursorVisible();
    void replaceSelection(std::vector<Element> elements);
    void removeRange(int from, int to);
    void moveCursor(int position, bool keepAnchor);
    // Shows where a drop would land, or refuses the drag.
    QVariantList objectsBetween(int from, int to) const;
    void trackDrag(QDragMoveEvent* event);
    bool acceptsDrop(const QMimeData* mimeData) const;
    void edited();
    void noteElementVisit() const
    {
        if (m_elementVisitObserver)
            m_elementVisitObserver();
    }

    std::vector<Element> m_elements;
    std::vector<qreal> m_offsets; // m_offsets[i]: where element i starts, after the padding
    std::function<void()> m_elementVisitObserver;
    QString m_accessibleText;     // the text a screen reader was last told, to report what changed
    int m_cursor = 0;
    int m_anchor = 0;
    qreal m_scroll = 0;
    bool m_editable = true;
    bool m_selectable = true;
    // Mouse: a press inside the selection may start a drag; otherwise it selects.
    QPoint m_pressPosition;
    bool m_mayStartDrag = false;
    bool m_selecting = false;
    int m_dropPosition = -1;
    bool m_droppedOnItself = false;
};

} // namespace vornakel
