#pragma once

#include "platform/core/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vornakel {

// Files of ours inside a folder we trust (the image cache, the settings folder), reached without ever following
// a symbolic link below that folder: a link put in place of a file or a folder of ours would otherwise make us
// write over, or read, whatever it points to.
//
// `root` is trusted as given (it may itself be reached through links, as a home folder often is); `path` is a
// file below it (absolute, starting with `root`, or relative to it). Every folder between the two must be a real
// folder. Errors carry the errno value and the path.
namespace ConfinedFile {

enum class Durability {
    // A cache that can be rebuilt: the file appears whole or not at all, but nothing waits for the disk.
    disposable,
    // Data on the disk before the rename, and the rename itself before the call returns.
    durable,
};

inline QString errorDomain() { return QStringLiteral("NSPOSIXErrorDomain"); }

// Writes `data` to a new temporary beside the file and renames it over the name, replacing whatever is there
// (a link included; never what it points to). Missing folders below `root` are created; `root` must exist. A
// file that was there keeps its permissions; a new one gets the usual ones for the umask. A failure removes the
// temporary and leaves the old file as it was.
[[nodiscard]] std::optional<Error> replace(const QString& root, const QString& path, const QByteArray& data,
                                           Durability durability);

// Creates the folder at `path` and those missing between it and `root` (which must exist); a link among them,
// or anything else that is not a folder, fails it.
[[nodiscard]] std::optional<Error> makeFolder(const QString& root, const QString& path);

// The contents of the regular file at `path`, at most `maxBytes`; none for a link, a missing file, anything but a
// regular file, a link among the folders, or a file too large. `errorNumber`, when given, says why: the errno of
// the failing call, ELOOP for a link, EINVAL for something that is not a regular file, EFBIG for a file too large.
std::optional<QByteArray> read(const QString& root, const QString& path, qint64 maxBytes, int* errorNumber = nullptr);

// Whether `path` is a regular file reached as `read` would reach it.
bool isRegularFile(const QString& root, const QString& path);

} // namespace ConfinedFile
} // namespace vornakel
