#pragma once

#include <QString>

namespace vornakel {

// The one gate through which text from outside (camera file names, typed literals, token texts) becomes a
// single file or folder name below a base folder. Ordinary names come back unchanged; a name that could leave
// the base folder or split into several levels gets a visible, stable substitute instead:
// "/" becomes "∕" (U+2215), NUL becomes "_", and an empty name, "." or ".." becomes "_".
QString safePathComponent(const QString& component);

} // namespace vornakel
