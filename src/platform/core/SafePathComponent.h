#pragma once

#include <QString>

namespace vornakel {

// The longest file or folder name the usual Linux file systems take, in bytes of UTF-8.
inline constexpr qsizetype kMaximumPathComponentBytes = 255;

// The one gate through which text from outside (camera identifiers and file names, typed literals, token texts)
// becomes a single file or folder name below a base folder. Ordinary names come back unchanged; a name that
// could leave the base folder, split into several levels or fail to be created gets a visible, stable
// substitute instead: "/" becomes "∕" (U+2215), NUL and other control characters become "_", an empty name,
// "." or ".." becomes "_", and a name longer than `maximumBytes` is shortened at the end of its stem, keeping
// its extension (never splitting a character).
QString safePathComponent(const QString& component, qsizetype maximumBytes = kMaximumPathComponentBytes);

// The text cut to at most `maximumBytes` bytes of UTF-8, never inside a character.
QString truncatedToUtf8Bytes(const QString& text, qsizetype maximumBytes);

} // namespace vornakel
