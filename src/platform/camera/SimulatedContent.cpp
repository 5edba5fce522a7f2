#include "platform/camera/SimulatedContent.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTimeZone>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <mutex>

namespace vornakel::simulated {
namespace {

constexpr int kThumbnailLongestSide = 160;
const QString kOptionsFileName = QStringLiteral("camera.ini");

QString joinPath(const QString& parent, const QString& name)
{
    return parent.isEmpty() ? name : parent + QLatin1Char('/') + name;
}

bool isJpegName(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
}

QByteArray encodeJpeg(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 85))
        return {};
    return data;
}

QByteArray scaledJpeg(const QImage& image)
{
    if (image.isNull())
        return {};
    if (std::max(image.width(), image.height()) <= kThumbnailLongestSide)
        return encodeJpeg(image);
    return encodeJpeg(image.scaled(kThumbnailLongestSide, kThumbnailLongestSide, Qt::KeepAspectRatio,
                                   Qt::SmoothTransformation));
}

// exiv2 is used from several link queues at once; its XMP toolkit must be set up once before that, and its
// warnings about odd files are the camera's business, not the console's.
void prepareExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

// The parts of a file's embedded images and tags we serve. exiv2 reports failures by throwing; they stay here.
struct EmbeddedImages {
    bool readable = false;
    QByteArray exifThumbnail;
    QByteArray smallestPreview;
    QByteArray largestPreview;
    QString dateTimeOriginal;
    QString offsetTimeOriginal;
};

QByteArray toByteArray(const Exiv2::byte* data, long size)
{
    if (!data || size <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

EmbeddedImages readEmbedded(const QString& path, bool wantImages)
{
    prepareExiv2();
    EmbeddedImages result;
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        if (!image.get())
            return result;
        image->readMetadata();
        result.readable = true;
        const Exiv2::ExifData& exif = image->exifData();
        auto date = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        if (date != exif.end())
            result.dateTimeOriginal = QString::fromStdString(date->toString());
        auto offset = exif.findKey(Exiv2::ExifKey("Exif.Photo.OffsetTimeOriginal"));
        if (offset != exif.end())
            result.offsetTimeOriginal = QString::fromStdString(offset->toString());
        if (!wantImages)
            return result;
        Exiv2::ExifThumbC thumb(exif);
        const Exiv2::DataBuf thumbData = thumb.copy();
        result.exifThumbnail = toByteArray(thumbData.pData_, thumbData.size_);
        Exiv2::PreviewManager previews(*image);
        Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [](const Exiv2::PreviewProperties& p) { return p.mimeType_ != "image/jpeg"; }),
                   list.end());
        // exiv2 lists previews smallest first.
        if (!list.empty()) {
            const Exiv2::PreviewImage smallest = previews.getPreviewImage(list.front());
            result.smallestPreview = toByteArray(smallest.pData(), static_cast<long>(smallest.size()));
            const Exiv2::PreviewImage largest = previews.getPreviewImage(list.back());
            result.largestPreview = toByteArray(largest.pData(), static_cast<long>(largest.size()));
        }
    } catch (const std::exception&) {
        // An unreadable or unknown file has no embedded images; the caller falls back to decoding it.
    }
    return result;
}

// A small generated image for in-memory files, made once per size.
QByteArray generatedJpeg(bool large)
{
    static const QByteArray thumbnail = [] {
        QImage image(160, 120, QImage::Format_RGB32);
        image.fill(QColor(90, 120, 150));
        return encodeJpeg(image);
    }();
    static const QByteArray preview = [] {
        QImage image(1024, 768, QImage::Format_RGB32);
        image.fill(QColor(90, 120, 150));
        return encodeJpeg(image);
    }();
    return large ? preview : thumbnail;
}

Error makeError(int code) { return errorWithVKLErrorCode(code); }

// ---- Disk ---------------------------------------------------------------------------------------------------

class FileReader final : public ContentReader {
public:
    explicit FileReader(const QString& path) : m_file(path) {}
    bool open() { return m_file.open(QIODevice::ReadOnly); }
    std::optional<QByteArray> read(qint64 maxBytes) override
    {
        QByteArray data = m_file.read(maxBytes);
        if (data.isEmpty() && m_file.error() != QFileDevice::NoError)
            return std::nullopt;
        return data;
    }

private:
    QFile m_file;
};

class DiskContent final : public CameraContent {
public:
    explicit DiskContent(QString rootPath) : m_root(QDir(rootPath).absolutePath()) {}

    Entry root() const override
    {
        Entry entry;
        entry.name = QFileInfo(m_root).fileName();
        entry.isFolder = true;
        return entry;
    }

    Outcome<std::vector<Entry>> list(const Entry& folder, bool withMetadata) const override
    {
        Outcome<std::vector<Entry>> outcome;
        const QDir dir(pathOf(folder));
        if (!folder.isFolder || !dir.exists()) {
            outcome.error = makeError(VKLErrorListingFailed);
            return outcome;
        }
        // Symbolic links are left out: a camera has none, and they could lead out of the camera folder.
        const QFileInfoList infos =
            dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
        outcome.value.reserve(static_cast<size_t>(infos.size()));
        for (const QFileInfo& info : infos) {
            if (folder.relativePath.isEmpty() && info.fileName() == kOptionsFileName)
                continue;
            Entry entry;
            entry.name = info.fileName();
            entry.relativePath = joinPath(folder.relativePath, entry.name);
            entry.isFolder = info.isDir();
            entry.size = entry.isFolder ? 0 : static_cast<uint64_t>(info.size());
            if (withMetadata) {
                const Outcome<Metadata> metadata = readMetadata(entry);
                if (!metadata.error) {
                    entry.size = metadata.value.size;
                    entry.dateCreated = metadata.value.dateCreated;
                    entry.metadataLoaded = true;
                }
            }
            outcome.value.push_back(std::move(entry));
        }
        return outcome;
    }

    Outcome<Metadata> readMetadata(const Entry& entry) const override
    {
        Outcome<Metadata> outcome;
        const QFileInfo info(pathOf(entry));
        if (!info.exists()) {
            outcome.error = makeError(VKLErrorFileNotFound);
            return outcome;
        }
        outcome.value.size = entry.isFolder ? 0 : static_cast<uint64_t>(info.size());
        if (!entry.isFolder && isKnownImageName(entry.name)) {
            const EmbeddedImages embedded = readEmbedded(info.filePath(), false);
            outcome.value.dateCreated = parseExifDateTime(embedded.dateTimeOriginal, embedded.offsetTimeOriginal);
        }
        if (!outcome.value.dateCreated)
            outcome.value.dateCreated = info.lastModified();
        return outcome;
    }

    Outcome<QByteArray> thumbnail(const Entry& entry) const override
    {
        Outcome<QByteArray> outcome;
        const QString path = pathOf(entry);
        if (entry.isFolder || !QFileInfo::exists(path)) {
            outcome.error = makeError(VKLErrorFileNotFound);
            return outcome;
        }
        const EmbeddedImages embedded = readEmbedded(path, true);
        if (!embedded.exifThumbnail.isEmpty()) {
            outcome.value = embedded.exifThumbnail;
            return outcome;
        }
        QImage image(path);
        if (image.isNull() && !embedded.smallestPreview.isEmpty())
            image = QImage::fromData(embedded.smallestPreview);
        outcome.value = scaledJpeg(image);
        if (outcome.value.isEmpty())
            outcome.error = makeError(VKLErrorReadFailed);
        return outcome;
    }

    Outcome<QByteArray> preview(const Entry& entry) const override
    {
        Outcome<QByteArray> outcome;
        const QString path = pathOf(entry);
        if (entry.isFolder || !QFileInfo::exists(path)) {
            outcome.error = makeError(VKLErrorFileNotFound);
            return outcome;
        }
        if (isJpegName(entry.name)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                outcome.value = file.readAll();
        } else {
            const EmbeddedImages embedded = readEmbedded(path, true);
            outcome.value = embedded.largestPreview;
            if (outcome.value.isEmpty())
                outcome.value = encodeJpeg(QImage(path));
        }
        if (outcome.value.isEmpty())
            outcome.error = makeError(VKLErrorReadFailed);
        return outcome;
    }

    std::unique_ptr<ContentReader> open(const Entry& entry) const override
    {
        if (entry.isFolder)
            return nullptr;
        auto reader = std::make_unique<FileReader>(pathOf(entry));
        if (!reader->open())
            return nullptr;
        return reader;
    }

private:
    // Entries come from our own listing, whose names are directory entries, so the path stays in the root.
    QString pathOf(const Entry& entry) const { return joinPath(m_root, entry.relativePath); }

    QString m_root;
};

// ---- Memory -------------------------------------------------------------------------------------------------

// Streams a file's data, or `size` bytes of a pattern that depends on the position (so that chunks out of
// order or repeated would show).
class MemoryReader final : public ContentReader {
public:
    explicit MemoryReader(const SimulatedCameraContent::File& file) : m_file(file) {}
    std::optional<QByteArray> read(qint64 maxBytes) override
    {
        const qint64 total = m_file.data.isEmpty() ? static_cast<qint64>(m_file.size) : m_file.data.size();
        const qint64 count = std::min(maxBytes, total - m_position);
        if (count <= 0)
            return QByteArray();
        QByteArray chunk;
        if (!m_file.data.isEmpty()) {
            chunk = m_file.data.mid(m_position, count);
        } else {
            chunk.resize(count);
            for (qint64 i = 0; i < count; ++i)
                chunk[i] = static_cast<char>((m_position + i) * 31 % 251);
        }
        m_position += count;
        return chunk;
    }

private:
    const SimulatedCameraContent::File& m_file;
    qint64 m_position = 0;
};

class MemoryContent final : public CameraContent {
public:
    explicit MemoryContent(SimulatedCameraContent content) : m_content(std::move(content)) {}

    Entry root() const override
    {
        Entry entry;
        entry.name = m_content.root.name;
        entry.isFolder = true;
        entry.folder = &m_content.root;
        return entry;
    }

    Outcome<std::vector<Entry>> list(const Entry& folder, bool withMetadata) const override
    {
        Outcome<std::vector<Entry>> outcome;
        if (!folder.folder) {
            outcome.error = makeError(VKLErrorListingFailed);
            return outcome;
        }
        const auto& node = *folder.folder;
        outcome.value.reserve(node.folders.size() + node.files.size());
        for (const auto& child : node.folders) {
            Entry entry;
            entry.name = child.name;
            entry.relativePath = joinPath(folder.relativePath, child.name);
            entry.isFolder = true;
            entry.folder = &child;
            entry.metadataLoaded = withMetadata;
            outcome.value.push_back(std::move(entry));
        }
        for (const auto& child : node.files) {
            Entry entry;
            entry.name = child.name;
            entry.isFolder = false;
            entry.size = sizeOf(child);
            entry.file = &child;
            if (withMetadata) {
                entry.dateCreated = child.dateCreated;
                entry.metadataLoaded = true;
            }
            outcome.value.push_back(std::move(entry));
        }
        return outcome;
    }

    Outcome<Metadata> readMetadata(const Entry& entry) const override
    {
        Outcome<Metadata> outcome;
        if (entry.file) {
            outcome.value.size = sizeOf(*entry.file);
            outcome.value.dateCreated = entry.file->dateCreated;
        }
        return outcome;
    }

    Outcome<QByteArray> thumbnail(const Entry& entry) const override { return image(entry, false); }
    Outcome<QByteArray> preview(const Entry& entry) const override { return image(entry, true); }

    std::unique_ptr<ContentReader> open(const Entry& entry) const override
    {
        if (!entry.file)
            return nullptr;
        return std::make_unique<MemoryReader>(*entry.file);
    }

private:
    static uint64_t sizeOf(const SimulatedCameraContent::File& file)
    {
        return file.data.isEmpty() ? file.size : static_cast<uint64_t>(file.data.size());
    }

    Outcome<QByteArray> image(const Entry& entry, bool large) const
    {
        Outcome<QByteArray> outcome;
        if (!entry.file)
            outcome.error = makeError(VKLErrorFileNotFound);
        else
            outcome.value = generatedJpeg(large);
        return outcome;
    }

    const SimulatedCameraContent m_content;
};

} // namespace

bool isKnownImageName(const QString& name)
{
    static const QStringList kSuffixes = {
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("cr2"),  QStringLiteral("cr3"),
        QStringLiteral("arw"), QStringLiteral("nef"),  QStringLiteral("orf"),  QStringLiteral("rw2"),
        QStringLiteral("raf"), QStringLiteral("dng"),  QStringLiteral("tif"),  QStringLiteral("tiff"),
        QStringLiteral("png"), QStringLiteral("heic"),
    };
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return kSuffixes.contains(name.mid(dot + 1).toLower());
}

std::optional<QDateTime> parseExifDateTime(const QString& dateTime, const QString& offset)
{
    const QString trimmed = dateTime.trimmed().left(19);
    const QDateTime local = QDateTime::fromString(trimmed, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    if (!local.isValid())
        return std::nullopt;
    // "+02:00" or "-05:30"; without one the camera's clock is taken as this computer's local time.
    const QString zone = offset.trimmed();
    if (zone.size() == 6 && (zone[0] == QLatin1Char('+') || zone[0] == QLatin1Char('-')) && zone[3] == QLatin1Char(':')) {
        bool okHours = false, okMinutes = false;
        const int hours = zone.mid(1, 2).toInt(&okHours);
        const int minutes = zone.mid(4, 2).toInt(&okMinutes);
        if (okHours && okMinutes && hours <= 14 && minutes < 60) {
            const int seconds = (hours * 3600 + minutes * 60) * (zone[0] == QLatin1Char('-') ? -1 : 1);
            return QDateTime(local.date(), local.time(), QTimeZone(seconds));
        }
    }
    return local;
}

std::shared_ptr<CameraContent> CameraContent::onDisk(const QString& rootPath)
{
    return std::make_shared<DiskContent>(rootPath);
}

std::shared_ptr<CameraContent> CameraContent::inMemory(SimulatedCameraContent content)
{
    return std::make_shared<MemoryContent>(std::move(content));
}

} // namespace vornakel::simulated
