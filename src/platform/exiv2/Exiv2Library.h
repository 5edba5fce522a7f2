#pragma once

// Every use of exiv2 in the program opens its images here, so the library is set up once, thread-safely, before
// any thread reads a file with it.

#include <QByteArray>
#include <QString>

#include <exiv2/exiv2.hpp>

#include <memory>
#include <optional>

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

// The entry's first value as a number (a rational divided out); none when it is missing, has no values, divides
// by zero or is not finite.
std::optional<double> exifNumber(const Exiv2::ExifData& exif, const char* key);
// The ISO setting from the standard tags or the makers' notes (exiv2's easy-access reader; the printed form is
// the decoded value for notes that encode it); none when absent or not a plausible setting (1 … 10,000,000).
std::optional<qint64> isoSetting(const Exiv2::ExifData& exif);

} // namespace vornakel::Exiv2Library
