#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vornakel {

// The contents of a regular file of at most `maxBytes`; none for anything else. A FIFO, a device or a socket
// in a place where a file of ours is expected would block a plain open or read for ever; this never blocks on
// them, and symbolic links are followed only to a regular file. `errorNumber`, when given, says why none came
// back: the errno of the failing call, EINVAL for something that is not a regular file, EFBIG for a file larger
// than `maxBytes`.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, int* errorNumber = nullptr);
// The same for a path in the file system's own bytes, which need not be valid UTF-8.
std::optional<QByteArray> readRegularFile(const QByteArray& nativePath, qint64 maxBytes, int* errorNumber = nullptr);
// The same from a descriptor open for reading, which stays open.
std::optional<QByteArray> readRegularFile(int fd, qint64 maxBytes, int* errorNumber = nullptr);
// A descriptor open for reading on a regular file, or -1; the caller closes it. `size`, when given, gets the
// file's size at the time it was opened.
int openRegularFile(const QByteArray& nativePath, int* errorNumber = nullptr, qint64* size = nullptr);

} // namespace vornakel
