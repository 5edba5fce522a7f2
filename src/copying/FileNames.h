#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace vornakel {

// Whether anything is at the path: a file, a folder, or a symbolic link (dangling or not, never followed).
// A path that cannot be checked counts as free.
bool fileEntryExists(const QString& path);

// The path itself when nothing is there, else the first free one of the name with " 2", " 3", … before its
// extension, in the same folder: "DSC01234.JPG" → "DSC01234 2.JPG", "archive.tar.gz" → "archive.tar 2.gz",
// "README" → "README 2". None for an empty or relative path, or when no number up to `maximumNumber` is free.
// `taken`, when given, names paths that count as taken though nothing is there yet; a path may stop counting
// as taken only once its file is in place.
std::optional<QString> nextAvailableFileURL(const QString& path, int maximumNumber = 100000,
                                            const std::function<bool(const QString&)>& taken = {});

} // namespace vornakel
