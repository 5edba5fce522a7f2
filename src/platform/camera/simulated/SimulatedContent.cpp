#include "platform/camera/simulated/SimulatedContent.h"
#include "platform/exiv2/Exiv2Library.h"

#include "platform/core/RegularFile.h"
#include "platform/imaging/HeifImage.h"
#include "platform/imaging/ImageFileTypes.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringDecoder>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornakel::simulated {
namespace {

constexpr int kThumbnailLongestSide = 160;
// Image files decoded whole (JPEG, TIFF, PNG, HEIF) are read into memory; nothing a camera writes comes close.
constexpr qint64 kMaxDecodedFileSize = 512 * 1024 * 1024;
const QString kOptionsFileName = QStringLiteral("camera.ini");

QString joinPath(const QString& parent, const QString& name)
{
    return parent.isEmpty() ? name : parent + QLatin1Char('/') + name;
}

QByteArray joinNativePath(const QByteArray& parent, const QByteArray& name)
{
    return parent.isEmpty() ? name : parent + '/' + name;
}

bool isJpegName(const QString& name)
{
    return ImageFileTypes::kindOfFileName(name) == ImageFileTypes::Kind::jpeg;
}

bool isHeifName(const QString& name)
{
    return ImageFileTypes::kindOfFileName(name) == ImageFileTypes::Kind::heif;
}

bool isJpegData(const QByteArray& data)
{
    return data.startsWith("\xff\xd8\xff");
}

// A file name as the listing shows it: bytes that are not UTF-8 become U+FFFD, so the file is still served.
QString displayName(const QByteArray& nativeName)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return decoder.decode(nativeName);
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

// The parts of a file's embedded images and tags we serve. exiv2 reports failures by throwing; they stay here.
struct EmbeddedImages {
    bool readable = false;
    QByteArray exifThumbnail;
    QByteArray smallestPreview;
    QByteArray largestPreview;
    QString dateTimeOriginal;
    QString offsetTimeOriginal;
    std::optional<int> orientation;
    VKLShootingData shooting;
};

// The shooting settings as the EXIF records them; ISO also from the other standard tags and the makers' notes
// (RAW files often keep it only there).
VKLShootingData shootingDataOf(const Exiv2::ExifData& exif)
{
    VKLShootingData data;
    data.exposureTime = Exiv2Library::exifNumber(exif, "Exif.Photo.ExposureTime");
    data.fNumber = Exiv2Library::exifNumber(exif, "Exif.Photo.FNumber");
    data.focalLength = Exiv2Library::exifNumber(exif, "Exif.Photo.FocalLength");
    data.iso = Exiv2Library::isoSetting(exif);
    return data;
}

QByteArray toByteArray(const Exiv2::byte* data, long size)
{
    if (!data || size <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

EmbeddedImages readEmbedded(const QByteArray& nativePath, bool wantImages)
{
    EmbeddedImages result;
    try {
        auto image = Exiv2Library::openNativePath(nativePath);
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
        auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (orientation != exif.end() && orientation->count() > 0) {
            const long value = orientation->toLong(0);
            if (value >= 1 && value <= 8)
                result.orientation = int(value);
        }
        result.shooting = shootingDataOf(exif);
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

// The start of a file, where a HEIF file keeps its item descriptions; none when it cannot be read.
std::optional<QByteArray> fileHead(const QByteArray& nativePath, qint64 bytes)
{
    const int fd = openRegularFile(nativePath);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return std::nullopt;
    return file.read(bytes);
}

// What exiv2 left out of a HEIF file's metadata (it reads EXIF in some item layouts only, and gives up on a
// whole file over a colour profile it rejects), through libheif; what exiv2 did read stays. The orientation
// becomes the one the served images still need: libheif hands them out already turned by the file's own
// rotation and mirroring, which say the same as the EXIF orientation, so a file with either needs no further
// turn.
void completeHeifMetadata(const QByteArray& nativePath, EmbeddedImages& embedded)
{
    constexpr qint64 kItemDescriptionBytes = 1024 * 1024;
    if (embedded.dateTimeOriginal.isEmpty() || !embedded.orientation || embedded.shooting.isEmpty()) {
        Exiv2Library::initialize();
        const std::optional<QByteArray> data = readRegularFile(nativePath, kMaxDecodedFileSize);
        const std::optional<QByteArray> tiff = data ? HeifImage::exifTiff(*data) : std::nullopt;
        if (tiff) {
            try {
                Exiv2::ExifData exif;
                Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff->constData()),
                                          uint32_t(tiff->size()));
                const auto text = [&exif](const char* key) {
                    const auto found = exif.findKey(Exiv2::ExifKey(key));
                    return found == exif.end() ? QString() : QString::fromStdString(found->toString());
                };
                if (embedded.dateTimeOriginal.isEmpty()) {
                    embedded.dateTimeOriginal = text("Exif.Photo.DateTimeOriginal");
                    embedded.offsetTimeOriginal = text("Exif.Photo.OffsetTimeOriginal");
                }
                const auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
                if (!embedded.orientation && orientation != exif.end() && orientation->count() > 0
                    && orientation->toLong(0) >= 1 && orientation->toLong(0) <= 8)
                    embedded.orientation = int(orientation->toLong(0));
                if (embedded.shooting.isEmpty())
                    embedded.shooting = shootingDataOf(exif);
            } catch (const std::exception&) {
                // Damaged EXIF gives no date or orientation; the file's time stands in.
            }
        }
    }
    const std::optional<QByteArray> head = fileHead(nativePath, kItemDescriptionBytes);
    if (head && HeifImage::primaryHasOwnTransform(*head))
        embedded.orientation = 1;
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
    ~FileReader() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool open(const QByteArray& nativePath)
    {
        m_fd = openRegularFile(nativePath, nullptr, &m_left);
        return m_fd >= 0;
    }
    // Serves the file as it was when opened: the stream ends at that size without asking the disk again, so a
    // small file costs one read.
    std::optional<QByteArray> read(qint64 maxBytes) override
    {
        QByteArray data;
        const qint64 wanted = std::min(maxBytes, m_left);
        if (wanted <= 0)
            return data;
        data.resize(qsizetype(wanted));
        qint64 done = 0;
        while (done < wanted) {
            const ssize_t count = ::read(m_fd, data.data() + done, size_t(wanted - done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return std::nullopt;
            if (count == 0)
                break;
            done += count;
        }
        // A file cut short since it was opened ends where it ends.
        m_left = done < wanted ? 0 : m_left - done;
        data.truncate(qsizetype(done));
        return data;
    }

private:
    int m_fd = -1;
    qint64 m_left = 0;
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

    Result<std::vector<Entry>> list(const Entry& folder, bool withMetadata) const override
    {
        std::vector<Entry> entries;
        // Listed with the file system's own bytes: Qt's listing leaves out names that are not valid UTF-8.
        DIR* dir = folder.isFolder ? ::opendir(pathOf(folder).constData()) : nullptr;
        if (!dir)
            return makeError(VKLErrorListingFailed);
        const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, &::closedir);
        while (const dirent* child = ::readdir(dir)) {
            const QByteArray nativeName(child->d_name);
            // Hidden files and "."/".." are left out, as a camera shows none.
            if (nativeName.startsWith('.'))
                continue;
            struct stat info {};
            if (::fstatat(::dirfd(dir), child->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            // Symbolic links could lead out of the camera folder; FIFOs, sockets and devices would block or make
            // no sense as camera files. A camera has none of them.
            if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
                continue;
            Entry entry;
            entry.name = displayName(nativeName);
            if (folder.relativePath.isEmpty() && entry.name == kOptionsFileName)
                continue;
            entry.relativePath = joinPath(folder.relativePath, entry.name);
            entry.nativeRelativePath = joinNativePath(folder.nativeRelativePath, nativeName);
            entry.isFolder = S_ISDIR(info.st_mode);
            entry.size = entry.isFolder ? 0 : static_cast<uint64_t>(info.st_size);
            entries.push_back(std::move(entry));
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.name != b.name ? a.name < b.name : a.nativeRelativePath < b.nativeRelativePath;
        });
        if (withMetadata) {
            for (Entry& entry : entries) {
                // An entry whose metadata cannot be read is listed without it, to be read on its own later.
                const Result<Metadata> metadata = readMetadata(entry);
                if (metadata) {
                    entry.size = metadata->size;
                    entry.dateCreated = metadata->dateCreated;
                    entry.orientation = metadata->orientation;
                    entry.shootingData = metadata->shootingData;
                    entry.metadataLoaded = true;
                }
            }
        }
        return entries;
    }

    Result<Metadata> readMetadata(const Entry& entry) const override
    {
        const QByteArray path = pathOf(entry);
        struct stat info {};
        if (::stat(path.constData(), &info) != 0)
            return makeError(VKLErrorFileNotFound);
        Metadata metadata;
        metadata.size = entry.isFolder ? 0 : static_cast<uint64_t>(info.st_size);
        if (!entry.isFolder && isKnownImageName(entry.name)) {
            EmbeddedImages embedded = readEmbedded(path, false);
            if (isHeifName(entry.name))
                completeHeifMetadata(path, embedded);
            metadata.dateCreated = parseExifDateTime(embedded.dateTimeOriginal, embedded.offsetTimeOriginal);
            metadata.orientation = embedded.orientation;
            if (!embedded.shooting.isEmpty())
                metadata.shootingData = embedded.shooting;
        }
        if (!metadata.dateCreated) {
            metadata.dateCreated = QDateTime::fromMSecsSinceEpoch(
                qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
        }
        return metadata;
    }

    Result<QByteArray> thumbnail(const Entry& entry) const override
    {
        const QByteArray path = pathOf(entry);
        if (entry.isFolder || !isRegularFile(path))
            return makeError(VKLErrorFileNotFound);
        const EmbeddedImages embedded = readEmbedded(path, true);
        // Only what decodes is served, and always as JPEG: an EXIF thumbnail may be stored as uncompressed TIFF
        // strips, which a receiver expecting JPEG data would cache and never display. A HEIF file's thumbnail
        // comes from libheif, turned like its preview; an EXIF one in it would keep the stored orientation.
        if (!embedded.exifThumbnail.isEmpty() && !isHeifName(entry.name)) {
            if (isJpegData(embedded.exifThumbnail) && !QImage::fromData(embedded.exifThumbnail).isNull())
                return embedded.exifThumbnail;
            QByteArray scaled = scaledJpeg(QImage::fromData(embedded.exifThumbnail));
            if (!scaled.isEmpty())
                return scaled;
        }
        QImage image;
        if (isHeifName(entry.name)) {
            const std::optional<QByteArray> data = readRegularFile(path, kMaxDecodedFileSize);
            HeifImage::Decoded decoded = data ? HeifImage::decodeThumbnail(*data) : HeifImage::Decoded{};
            if (!decoded && data)
                decoded = HeifImage::decodePrimary(*data, kThumbnailLongestSide);
            image = decoded.image.value_or(QImage());
        } else {
            image = decodedFile(entry, path);
        }
        if (image.isNull() && !embedded.smallestPreview.isEmpty())
            image = QImage::fromData(embedded.smallestPreview);
        QByteArray scaled = scaledJpeg(image);
        if (scaled.isEmpty())
            return makeError(VKLErrorReadFailed);
        return scaled;
    }

    Result<QByteArray> preview(const Entry& entry) const override
    {
        const QByteArray path = pathOf(entry);
        if (entry.isFolder || !isRegularFile(path))
            return makeError(VKLErrorFileNotFound);
        QByteArray preview;
        if (isJpegName(entry.name)) {
            preview = readRegularFile(path, kMaxDecodedFileSize).value_or(QByteArray());
        } else if (isHeifName(entry.name)) {
            const std::optional<QByteArray> data = readRegularFile(path, kMaxDecodedFileSize);
            const HeifImage::Decoded decoded = data ? HeifImage::decodePrimary(*data) : HeifImage::Decoded{};
            if (decoded)
                preview = encodeJpeg(*decoded);
        } else {
            const EmbeddedImages embedded = readEmbedded(path, true);
            preview = embedded.largestPreview;
            if (preview.isEmpty())
                preview = encodeJpeg(decodedFile(entry, path));
        }
        if (preview.isEmpty())
            return makeError(VKLErrorReadFailed);
        return preview;
    }

    std::unique_ptr<ContentReader> open(const Entry& entry) const override
    {
        if (entry.isFolder)
            return nullptr;
        auto reader = std::make_unique<FileReader>();
        if (!reader->open(pathOf(entry)))
            return nullptr;
        return reader;
    }

private:
    // Entries come from our own listing, whose names are directory entries, so the path stays in the root.
    QByteArray pathOf(const Entry& entry) const { return joinNativePath(m_nativeRoot, entry.nativeRelativePath); }

    static bool isRegularFile(const QByteArray& path)
    {
        struct stat info {};
        return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
    }

    // The whole file decoded by Qt's image readers; RAW data is not read, only what exiv2 finds embedded.
    static QImage decodedFile(const Entry& entry, const QByteArray& path)
    {
        if (ImageFileTypes::kindOfFileName(entry.name) == ImageFileTypes::Kind::raw)
            return {};
        const std::optional<QByteArray> data = readRegularFile(path, kMaxDecodedFileSize);
        return data ? QImage::fromData(*data) : QImage();
    }

    QString m_root;
    QByteArray m_nativeRoot = QFile::encodeName(m_root);
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

    Result<std::vector<Entry>> list(const Entry& folder, bool withMetadata) const override
    {
        if (!folder.folder)
            return makeError(VKLErrorListingFailed);
        const auto& node = *folder.folder;
        std::vector<Entry> entries;
        entries.reserve(node.folders.size() + node.files.size());
        for (const auto& child : node.folders) {
            Entry entry;
            entry.name = child.name;
            entry.relativePath = joinPath(folder.relativePath, child.name);
            entry.isFolder = true;
            entry.folder = &child;
            entry.metadataLoaded = withMetadata;
            entries.push_back(std::move(entry));
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
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    Result<Metadata> readMetadata(const Entry& entry) const override
    {
        Metadata metadata;
        if (entry.file) {
            metadata.size = sizeOf(*entry.file);
            metadata.dateCreated = entry.file->dateCreated;
        }
        return metadata;
    }

    Result<QByteArray> thumbnail(const Entry& entry) const override { return image(entry, false); }
    Result<QByteArray> preview(const Entry& entry) const override { return image(entry, true); }

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

    Result<QByteArray> image(const Entry& entry, bool large) const
    {
        if (!entry.file)
            return makeError(VKLErrorFileNotFound);
        return generatedJpeg(large);
    }

    const SimulatedCameraContent m_content;
};

} // namespace

bool isKnownImageName(const QString& name)
{
    return ImageFileTypes::isKnownImageName(name);
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
