#pragma once

// Every use of exiv2 in the program opens its images here, so the library is set up once, thread-safely, before
// any thread reads a file with it.

#include <QByteArray>
#include <QString>

#include <exiv2/exiv2.hpp>

#include <memory>

namespace vornakel::Exiv2Library {

using ImagePtr = std::unique_ptr<Exiv2::Image>;

// Sets exiv2 up for use from several threads at once: its XMP toolkit gets a lock (it keeps global state), the
// ISO base media formats (CR3, HEIF) are switched on, and its console warnings about odd files are switched off
// (they are the camera's business). Runs once; later calls return at once. The application calls it at start-up,
// before any worker thread exists; the openers below call it too, and so must any other use of exiv2.
void initialize();

// The image at the path (or in the bytes), ready for readMetadata() / writeMetadata(); none when exiv2 cannot
// open it. Never throws; the calls made on the image afterwards may, and callers catch Exiv2::Error there.
ImagePtr open(const QString& path);
// Bytes are never a path: openData or openNativePath say which they are.
ImagePtr open(const QByteArray&) = delete;
// The path as the file system spells it (QFile::encodeName), for names that are not valid text.
ImagePtr openNativePath(const QByteArray& nativePath);
ImagePtr openData(const QByteArray& bytes);

} // namespace vornakel::Exiv2Library
