#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace vornakel {

// Naming and upkeep of the on-disk image cache that Photo fills: <root>/<camera>/<photo>.cached/.
namespace ImageCache {

// Cache folders not seen for longer than this are purged at start-up.
inline constexpr qint64 kMaximumAgeSeconds = 2592000; // 30 days

// The cache's folder name for camera-supplied text (camera identifiers, file names): what the program's one
// path gate (safePathComponent) makes of it, short enough to leave room for the date, a distinguisher and the
// suffix, with no leading "." (a hidden folder the purge never visits) and no trailing ".cached" (which would
// make the purge mistake a camera folder for a photo folder). Ordinary names come back unchanged; an empty
// text gives `fallback`.
QString folderNameComponent(const QString& text, const QString& fallback);

// "<name>-YYYYMMDD-HHMMSS.cached" with the date's components in UTC (the year unpadded), or "<name>.cached"
// when undated. A non-empty `distinguisher` goes before the suffix: "<name>-YYYYMMDD-HHMMSS-<d>.cached".
// `displayName` must already be safe.
QString photoFolderName(const QString& displayName, const std::optional<QDateTime>& date,
                        const QString& distinguisher = {});

// The standard cache root: <XDG cache>/com.vornakel.zediriri-zir/Cached Images; none without a cache folder.
std::optional<QString> standardRoot();

// Removes photo cache folders (named "*.cached", exactly that case) under `root` whose "Metadata.plist" holds
// a "LastSeen" date more than 30 days before `now`. A folder with a missing or unreadable record stays. Hidden
// items are not visited, symbolic links are neither followed nor removed, and nothing outside `root` is
// touched. Returns the number of folders removed. Once `stop` is set the walk ends at the next folder.
int purgeOutOfDateThumbnailsAndPreviews(const std::optional<QString>& root, const QDateTime& now,
                                        const std::atomic<bool>* stop = nullptr);
// The same over Photo::imageCachesDirectory() at Photo::now().
int purgeOutOfDateThumbnailsAndPreviews();

// The purge start-up asks for, off the GUI thread: it reads every cached photo's record, which takes seconds
// with tens of thousands of photos on a cold disk, and the window must not wait for it. Returns at once; the
// purge runs on a background queue, and `done` runs there afterwards with the number of folders removed. The
// purge stops early once `stop` (which must outlive it) is set.
void purgeOutOfDateThumbnailsAndPreviewsInBackground(const std::optional<QString>& root, const QDateTime& now,
                                                     std::shared_ptr<const std::atomic<bool>> stop,
                                                     std::function<void(int removed)> done);

} // namespace ImageCache
} // namespace vornakel
