#pragma once

#include <QString>
#include <QStringList>

namespace vornakel {

// The "GeneralUI" strings table (resources/GeneralUI.strings, in the `"Key" = "Text";` form).
namespace GeneralUI {

// The text for the key; the key itself when the table has no text for it.
QString text(const QString& key);
// The text with each "%@" replaced, in order, by the next argument.
QString format(const QString& key, const QStringList& arguments);
// For a counted text: the key with "_Plural" appended unless count is 1; "%@" and "%d"/"%ld" take the count
// when no arguments are given.
QString counted(const QString& key, qint64 count, const QStringList& arguments = {});

// Replaces each "%@" in a text by the next argument; never interprets the arguments themselves.
QString substitute(const QString& text, const QStringList& arguments);

} // namespace GeneralUI
} // namespace vornakel
