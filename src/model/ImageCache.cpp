#include "model/ImageCache.h"

#include "model/Photo.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"
#include "platform/core/PropertyList.h"
#include "platform/core/SafePathComponent.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimeZone>

#include <vector>

namespace vornakel::ImageCache {
namespace {

// Leaves room below the usual 255-byte name limit for the date, a distinguisher and the suffix.
constexpr qsizetype kMaximumComponentBytes = 180;

bool isLastSeenOutOfDate(const QString& folder, const QDateTime& now)
{
    const QFileInfo record(folder + QLatin1Char('/') + Photo::cacheMetadataFileName());
    if (record.isSymLink() || !record.isFile())
        return false;
    const Result<QVariant> contents = PropertyList::readFile(record.filePath());
    if (!contents || contents->typeId() != QMetaType::QVariantMap)
        return false;
    const QVariant lastSeen = contents->toMap().value(Photo::cacheMetadataLastSeenKey());
    if (lastSeen.typeId() != QMetaType::QDateTime || !lastSeen.toDateTime().isValid())
        return false;
    return lastSeen.toDateTime().msecsTo(now) > kMaximumAgeSeconds * 1000;
}

} // namespace

QString folderNameComponent(const QString& text, const QString& fallback)
{
    if (text.isEmpty())
        return fallback;
    // The name is a folder of its own: nothing after a dot is an extension to keep.
    QString result = truncatedToUtf8Bytes(safePathComponent(text, kMaximumPathComponentBytes), kMaximumComponentBytes);
    if (result.startsWith(QLatin1Char('.')))
        result[0] = QLatin1Char('_');
    if (result.endsWith(QLatin1String(".cached")))
        result += QLatin1Char('_');
    return result;
}

QString photoFolderName(const QString& displayName, const std::optional<QDateTime>& date, const QString& distinguisher)
{
    QString name = displayName;
    if (date && date->isValid()) {
        const QDateTime utc = date->toTimeZone(QTimeZone::utc());
        const QDate day = utc.date();
        const QTime time = utc.time();
        name += QStringLiteral("-%1%2%3-%4%5%6")
                    .arg(day.year())
                    .arg(day.month(), 2, 10, QLatin1Char('0'))
                    .arg(day.day(), 2, 10, QLatin1Char('0'))
                    .arg(time.hour(), 2, 10, QLatin1Char('0'))
                    .arg(time.minute(), 2, 10, QLatin1Char('0'))
                    .arg(time.second(), 2, 10, QLatin1Char('0'));
    }
    if (!distinguisher.isEmpty())
        name += QLatin1Char('-') + distinguisher;
    return name + QLatin1Char('.') + Photo::cacheDirectorySuffix();
}

std::optional<QString> standardRoot()
{
    const QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (caches.isEmpty())
        return std::nullopt;
    return caches + QLatin1Char('/') + appIdentifierPrefix() + QStringLiteral(".zediriri-zir/Cached Images");
}

int purgeOutOfDateThumbnailsAndPreviews(const std::optional<QString>& root, const QDateTime& now,
                                        const std::atomic<bool>* stop)
{
    if (!root || !QFileInfo(*root).isDir())
        return 0;
    int removed = 0;
    // An explicit stack: the walk's depth does not depend on the call stack.
    std::vector<QString> folders{*root};
    while (!folders.empty() && !(stop && *stop)) {
        const QString folder = std::move(folders.back());
        folders.pop_back();
        // Without QDir::Hidden, hidden items are not listed.
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const QFileInfo& entry : entries) {
            if (stop && *stop)
                break;
            // A link could lead out of the cache; neither follow nor remove it.
            if (entry.isSymLink() || entry.fileName().startsWith(QLatin1Char('.')))
                continue;
            if (entry.suffix() != Photo::cacheDirectorySuffix()) {
                folders.push_back(entry.filePath());
                continue;
            }
            // A photo folder: decided on its record, never descended into. removeRecursively deletes links
            // inside the folder without following them.
            if (isLastSeenOutOfDate(entry.filePath(), now) && QDir(entry.filePath()).removeRecursively())
                ++removed;
        }
    }
    return removed;
}

int purgeOutOfDateThumbnailsAndPreviews()
{
    return purgeOutOfDateThumbnailsAndPreviews(Photo::imageCachesDirectory(), Photo::now());
}

void purgeOutOfDateThumbnailsAndPreviewsInBackground(const std::optional<QString>& root, const QDateTime& now,
                                                     std::shared_ptr<const std::atomic<bool>> stop,
                                                     std::function<void(int removed)> done)
{
    DispatchQueue::global(DispatchQueue::QoS::Background)->async([root, now, stop = std::move(stop),
                                                                  done = std::move(done)] {
        const int removed = purgeOutOfDateThumbnailsAndPreviews(root, now, stop.get());
        if (done)
            done(removed);
    });
}

} // namespace vornakel::ImageCache
