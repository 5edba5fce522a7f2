#pragma once

#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

class QMimeData;

namespace vornakel {

// How the editor's token fields show pattern elements and move them through the clipboard and drag and drop.
// Typed text always stays literal: tokens enter a field only from the clipboard or a drop (the token bin or
// another field).
namespace PhotoSortingTokenFieldDelegate {

enum class TokenStyle { none, rounded };

// A string shows itself, a token object its title; anything else has no display string.
std::optional<QString> displayString(const QVariant& representedObject);
// Literal text is drawn as plain text between rounded token chips.
TokenStyle style(const QVariant& representedObject);
// What typed text becomes: itself, a literal.
QVariant representedObjectForEditingString(const QString& editingString);

// The MIME type that carries the "TokenType" clipboard form (a keyed archive of the element array).
QString tokenMimeType();
// Clipboard data for a run of elements: the "TokenType" form, plus the shown text for other programs.
std::unique_ptr<QMimeData> mimeDataFor(const QVariantList& representedObjects);
void writeRepresentedObjects(const QVariantList& representedObjects, QMimeData& mimeData);
// The elements of "TokenType" data, strings and valid tokens only; none when there is no such data or it does
// not hold an array.
std::optional<QVariantList> readFromPasteboard(const QMimeData& mimeData);
// What a paste or a drop inserts: the "TokenType" elements when there are any, else the plain text as one
// literal (line breaks and other control characters become spaces, as the field holds one line).
QVariantList pastedObjects(const QMimeData& mimeData);

} // namespace PhotoSortingTokenFieldDelegate
} // namespace vornakel
