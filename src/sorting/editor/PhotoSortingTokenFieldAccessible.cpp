#include "sorting/editor/PhotoSortingTokenFieldAccessible.h"

#include "platform/core/Strings.h"
#include "sorting/editor/PhotoSortingTokenField.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace vornakel {
namespace {

// One token of a field: a named, selectable piece of its text. It answers for the element it was made for;
// the field's interface makes new ones whenever the tokens change.
class TokenAccessible : public QAccessibleInterface {
public:
    TokenAccessible(PhotoSortingTokenField* field, int element, QString title)
        : m_field(field), m_element(element), m_title(std::move(title))
    {
    }

    bool isValid() const override { return m_field && m_element < m_field->elementCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_field ? m_field->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return m_field ? QAccessible::queryAccessibleInterface(m_field.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text type) const override
    {
        switch (type) {
        case QAccessible::Name: return m_title;
        case QAccessible::Description: return GeneralUI::text(QStringLiteral("TokenAccessibleDescription"));
        default: return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!m_field)
            return {};
        const QRect local = m_field->elementRect(m_element).toAlignedRect().intersected(m_field->rect());
        return QRect(m_field->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = m_field && m_field->isSelectable();
        state.selected = m_field && m_element >= m_field->selectionStart() && m_element < m_field->selectionEnd();
        state.invisible = rect().isEmpty();
        return state;
    }

    int element() const { return m_element; }

private:
    QPointer<PhotoSortingTokenField> m_field;
    int m_element;
    QString m_title;
};

// The unit of `type` around `offset` in `text`, as [start, end).
std::pair<int, int> unitAround(const QString& text, int offset, QAccessible::TextBoundaryType type)
{
    const int length = int(text.size());
    offset = std::clamp(offset, 0, length);
    QTextBoundaryFinder::BoundaryType finderType;
    switch (type) {
    case QAccessible::CharBoundary: return {offset, std::min(offset + 1, length)};
    case QAccessible::WordBoundary: finderType = QTextBoundaryFinder::Word; break;
    case QAccessible::SentenceBoundary: finderType = QTextBoundaryFinder::Sentence; break;
    default: return {0, length}; // one line, one paragraph
    }
    QTextBoundaryFinder finder(finderType, text);
    finder.setPosition(offset);
    const int start = finder.isAtBoundary() ? offset : int(std::max<qsizetype>(0, finder.toPreviousBoundary()));
    finder.setPosition(offset);
    const qsizetype next = finder.toNextBoundary();
    return {start, next < 0 ? length : int(next)};
}

class TokenFieldAccessible : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit TokenFieldAccessible(PhotoSortingTokenField* field) : QAccessibleWidget(field, QAccessible::EditableText)
    {
    }
    ~TokenFieldAccessible() override { forgetTokens(); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = field()->isEditable();
        state.readOnly = !field()->isEditable();
        state.selectableText = field()->isSelectable();
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return field()->displayedText();
        return QAccessibleWidget::text(type);
    }

    // The tokens, in order, as children.
    int childCount() const override
    {
        syncTokens();
        return int(m_tokenIds.size());
    }
    QAccessibleInterface* child(int index) const override
    {
        syncTokens();
        if (index < 0 || index >= int(m_tokenIds.size()))
            return nullptr;
        return QAccessible::accessibleInterface(m_tokenIds[size_t(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        syncTokens();
        for (size_t i = 0; i < m_tokenIds.size(); ++i) {
            if (QAccessible::accessibleInterface(m_tokenIds[i]) == child)
                return int(i);
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int element = field()->elementAt(field()->mapFromGlobal(QPoint(x, y)));
        syncTokens();
        for (size_t i = 0; i < m_tokens.size(); ++i) {
            if (m_tokens[i].first == element)
                return QAccessible::accessibleInterface(m_tokenIds[i]);
        }
        return nullptr;
    }

    // QAccessibleTextInterface: positions are characters of the read text.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && field()->hasSelection()) {
            *startOffset = field()->textOffsetOfElement(field()->selectionStart());
            *endOffset = field()->textOffsetOfElement(field()->selectionEnd());
        }
    }
    int selectionCount() const override { return field()->hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int) override { field()->setCursorPosition(field()->cursorPosition()); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        const int start = field()->elementAtTextOffset(startOffset);
        field()->setSelection(start, field()->elementAtTextOffset(endOffset) - start);
    }
    int cursorPosition() const override { return field()->textOffsetOfElement(field()->cursorPosition()); }
    void setCursorPosition(int position) override { field()->setCursorPosition(field()->elementAtTextOffset(position)); }
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = field()->displayedText();
        startOffset = std::clamp(startOffset, 0, int(all.size()));
        endOffset = std::clamp(endOffset, startOffset, int(all.size()));
        return all.mid(startOffset, endOffset - startOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset, int* endOffset) const override
    {
        const QString all = field()->displayedText();
        const int before = unitAround(all, offset, type).first;
        return unitText(all, before > 0 ? unitAround(all, before - 1, type) : std::pair<int, int>{0, 0}, startOffset,
                        endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset, int* endOffset) const override
    {
        const QString all = field()->displayedText();
        const int after = unitAround(all, offset, type).second;
        return unitText(all, after < all.size() ? unitAround(all, after, type) : std::pair<int, int>{after, after},
                        startOffset, endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset, int* endOffset) const override
    {
        const QString all = field()->displayedText();
        return unitText(all, unitAround(all, offset, type), startOffset, endOffset);
    }
    int characterCount() const override { return int(field()->displayedText().size()); }
    QRect characterRect(int offset) const override
    {
        const QRect local = field()->elementRect(field()->elementAtTextOffset(offset)).toAlignedRect();
        return QRect(field()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return field()->textOffsetOfElement(field()->positionAt(field()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int) override { setCursorPosition(startIndex); }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

    // QAccessibleEditableTextInterface: the same edits the keys make, so the same rules hold (the length cap).
    void deleteText(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
        if (field()->hasSelection())
            field()->deleteBackward();
    }
    void insertText(int offset, const QString& text) override
    {
        setCursorPosition(offset);
        field()->insertText(text);
    }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        setSelection(0, startOffset, endOffset);
        field()->insertText(text);
    }

private:
    PhotoSortingTokenField* field() const { return static_cast<PhotoSortingTokenField*>(widget()); }

    static QString unitText(const QString& all, std::pair<int, int> unit, int* startOffset, int* endOffset)
    {
        *startOffset = unit.first;
        *endOffset = unit.second;
        return all.mid(unit.first, unit.second - unit.first);
    }

    // Children are made again whenever the field's tokens differ from those they were made for.
    void syncTokens() const
    {
        std::vector<std::pair<int, QString>> tokens = field()->tokenTitles();
        if (tokens == m_tokens && m_tokenIds.size() == tokens.size())
            return;
        forgetTokens();
        m_tokens = std::move(tokens);
        for (const auto& [element, title] : m_tokens)
            m_tokenIds.push_back(QAccessible::registerAccessibleInterface(new TokenAccessible(field(), element, title)));
    }
    void forgetTokens() const
    {
        for (QAccessible::Id id : m_tokenIds)
            QAccessible::deleteAccessibleInterface(id);
        m_tokenIds.clear();
        m_tokens.clear();
    }

    mutable std::vector<std::pair<int, QString>> m_tokens;
    mutable std::vector<QAccessible::Id> m_tokenIds;
};

QAccessibleInterface* tokenFieldFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String(PhotoSortingTokenField::staticMetaObject.className()))
        return nullptr;
    auto* field = qobject_cast<PhotoSortingTokenField*>(object);
    return field ? new TokenFieldAccessible(field) : nullptr;
}

} // namespace

void installTokenFieldAccessibility()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(tokenFieldFactory); });
}

void tokenFieldChildrenChanged(PhotoSortingTokenField* field)
{
    QAccessibleEvent reordered(field, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reordered);
}

} // namespace vornakel
