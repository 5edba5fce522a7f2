#include "platform/photolibrary/FolderPhotoLibrary.h"

#include "platform/core/Deferred.h"
#include "platform/core/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vornakel {
namespace {

const QString kLibraryFolder = QStringLiteral(".photolibrary");
const QString kSettingsFile = QStringLiteral("Preferences.plist");
const QString kReferencesFile = QStringLiteral("References.plist");
constexpr int kMaxNameNumber = 10000;
constexpr int kMaxClashRetries = 5;

Error libraryError(PhotoLibrary::ErrorCode code, const QString& message)
{
    return Error(PhotoLibrary::errorDomain(), code, message);
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool isDirectory(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

// Something is at the path, a dangling symbolic link included.
bool occupied(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

ReferencedImportSetting readSetting(const QString& path)
{
    if (!QFileInfo::exists(path))
        return libraryError(PhotoLibrary::SettingMissing, QStringLiteral("The library has no settings file."));
    auto contents = PropertyList::readFile(path);
    if (!contents)
        return libraryError(PhotoLibrary::SettingUnreadable, contents.error().description());
    const QVariant& value = *contents;
    if (value.typeId() != QMetaType::QVariantMap)
        return libraryError(PhotoLibrary::SettingUnreadable, QStringLiteral("The library's settings are not a dictionary."));
    const QVariantMap settings = value.toMap();
    const auto found = settings.constFind(FolderPhotoLibrary::referencedImportKey());
    if (found == settings.constEnd())
        return libraryError(PhotoLibrary::SettingMissing, QStringLiteral("The library's settings do not say how it imports."));
    if (found->typeId() != QMetaType::Bool)
        return libraryError(PhotoLibrary::SettingUnreadable, QStringLiteral("The library's import setting is not a Boolean."));
    return found->toBool();
}

// Renames without ever replacing what is at the target; answers 0 or the errno.
int renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // The file system cannot refuse to replace by itself: claim the name first, then rename over our own claim.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    if (::rename(source.constData(), target.constData()) == 0)
        return 0;
    error = errno;
    ::unlink(target.constData());
    return error;
}

// Copies into a hidden temporary file next to the target, then renames it into place; the source stays.
int copyNoReplace(const QString& from, const QString& to, QString* message)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *message = source.errorString();
        return EIO;
    }
    QTemporaryFile temporary(QFileInfo(to).absolutePath() + QStringLiteral("/.importing-XXXXXX"));
    if (!temporary.open()) {
        *message = temporary.errorString();
        return EIO;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(buffer.data(), buffer.size());
        if (read < 0 || (read > 0 && temporary.write(buffer.constData(), read) != read)) {
            *message = read < 0 ? source.errorString() : temporary.errorString();
            return EIO;
        }
        if (read == 0)
            break;
    }
    if (!temporary.flush() || ::fsync(temporary.handle()) != 0) {
        *message = temporary.errorString();
        return EIO;
    }
    // The copy's dates say when the photo was taken; keep them (after the last write, which would change them).
    temporary.setFileTime(QFileInfo(from).lastModified(), QFileDevice::FileModificationTime);
    temporary.setPermissions(source.permissions());
    temporary.close();
    const int error = renameNoReplace(temporary.fileName(), to);
    if (error == 0)
        temporary.setAutoRemove(false);
    else
        *message = errnoText(error);
    return error;
}

QString numberedName(const QString& name, int number)
{
    if (number <= 1)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return QStringLiteral("%1 %2").arg(name).arg(number);
    return QStringLiteral("%1 %2%3").arg(name.left(dot)).arg(number).arg(name.mid(dot));
}

struct Placement {
    QString source;
    QString target;
    enum class How { AlreadyThere, Moved, Copied } how = How::AlreadyThere;
};

void undo(const std::vector<Placement>& placed)
{
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        if (it->how == Placement::How::Moved)
            renameNoReplace(it->target, it->source);
        else if (it->how == Placement::How::Copied)
            QFile::remove(it->target);
    }
}

// Free names in the folder for the files of one photo: the smallest number at which every name is free, so RAW
// and JPEG keep one base name; a file whose name another file of the same photo already took counts on from there.
std::optional<std::vector<QString>> freeNames(const QString& folder, const std::vector<QString>& names,
                                              const std::vector<bool>& inPlace, int from)
{
    int common = from;
    for (; common <= kMaxNameNumber; ++common) {
        bool free = true;
        for (size_t i = 0; i < names.size() && free; ++i)
            free = inPlace[i] || !occupied(folder + u'/' + numberedName(names[i], common));
        if (free)
            break;
    }
    std::vector<QString> result;
    QSet<QString> taken;
    for (size_t i = 0; i < names.size(); ++i) {
        if (inPlace[i]) {
            result.push_back(names[i]);
            continue;
        }
        int number = common;
        while (number <= kMaxNameNumber
               && (taken.contains(numberedName(names[i], number)) || occupied(folder + u'/' + numberedName(names[i], number))))
            ++number;
        if (number > kMaxNameNumber)
            return std::nullopt;
        result.push_back(numberedName(names[i], number));
        taken.insert(result.back());
    }
    return result;
}

Result<ImportedPhoto> moveIntoFolder(const std::vector<QString>& files, const QString& folder)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    std::vector<QString> names;
    std::vector<bool> inPlace;
    for (const QString& file : files) {
        const QFileInfo info(file);
        names.push_back(PhotoLibrary::sanitizedName(info.fileName()).value_or(QStringLiteral("Untitled")));
        inPlace.push_back(QFileInfo(info.absolutePath()).canonicalFilePath() == canonicalFolder && names.back() == info.fileName());
    }

    int from = 1;
    for (int attempt = 0; attempt < kMaxClashRetries; ++attempt) {
        const auto targets = freeNames(folder, names, inPlace, from);
        if (!targets)
            return libraryError(PhotoLibrary::ImportFailed, QStringLiteral("No free file name in %1.").arg(folder));
        std::vector<Placement> placed;
        bool clash = false;
        for (size_t i = 0; i < files.size(); ++i) {
            Placement placement{QFileInfo(files[i]).absoluteFilePath(), folder + u'/' + (*targets)[i]};
            if (inPlace[i]) {
                placement.target = placement.source;
                placed.push_back(placement);
                continue;
            }
            int error = renameNoReplace(placement.source, placement.target);
            QString message;
            placement.how = Placement::How::Moved;
            if (error == EXDEV) {
                error = copyNoReplace(placement.source, placement.target, &message);
                placement.how = Placement::How::Copied;
            }
            if (error == EEXIST) {
                // Someone took the name since we looked: put back what moved and look again.
                clash = true;
                break;
            }
            if (error != 0) {
                undo(placed);
                return libraryError(PhotoLibrary::ImportFailed,
                                    QStringLiteral("Cannot import %1: %2").arg(placement.source, message.isEmpty() ? errnoText(error) : message));
            }
            placed.push_back(placement);
        }
        if (clash) {
            undo(placed);
            ++from;
            continue;
        }
        ImportedPhoto imported;
        imported.libraryOwnsCopies = true;
        for (const Placement& placement : placed) {
            // Only now that every file is in the album do the originals of copies across file systems go.
            if (placement.how == Placement::How::Copied)
                QFile::remove(placement.source);
            imported.files.push_back(placement.target);
        }
        return imported;
    }
    return libraryError(PhotoLibrary::ImportFailed, QStringLiteral("The names in %1 kept changing during the import.").arg(folder));
}

Result<ImportedPhoto> recordReferences(const std::vector<QString>& files, const QString& album, const QString& referencesPath)
{
    ImportedPhoto imported;
    imported.libraryOwnsCopies = false;
    QVariantList paths;
    for (const QString& file : files) {
        imported.files.push_back(QFileInfo(file).absoluteFilePath());
        paths.append(imported.files.back());
    }

    QVariantList entries;
    if (QFileInfo::exists(referencesPath)) {
        auto contents = PropertyList::readFile(referencesPath);
        if (!contents || contents->typeId() != QMetaType::QVariantList)
            return libraryError(PhotoLibrary::ImportFailed, QStringLiteral("The library's list of referenced files is unreadable."));
        entries = contents->toList();
    }
    if (!QDir().mkpath(QFileInfo(referencesPath).absolutePath()))
        return libraryError(PhotoLibrary::ImportFailed, QStringLiteral("Cannot make the library's own folder."));
    QVariantMap entry{{QStringLiteral("Files"), paths}, {QStringLiteral("ImportDate"), QDateTime::currentDateTimeUtc()}};
    if (!album.isEmpty())
        entry.insert(QStringLiteral("Album"), album);
    entries.append(entry);
    if (auto error = PropertyList::writeBinaryFile(entries, referencesPath))
        return libraryError(PhotoLibrary::ImportFailed, error->description());
    return imported;
}

Result<ImportedPhoto> importFiles(const QString& root, const std::vector<QString>& files,
                                              const std::optional<PhotoAlbum>& album)
{
    if (!isDirectory(root))
        return libraryError(PhotoLibrary::LibraryMissing, QStringLiteral("The photo library %1 is not there.").arg(root));

    QString folder = root;
    QString albumName;
    if (album) {
        const auto name = PhotoLibrary::sanitizedName(album->name);
        if (!name)
            return libraryError(PhotoLibrary::InvalidName, QStringLiteral("An album needs a name."));
        albumName = *name;
        folder = root + u'/' + albumName;
        if (!isDirectory(folder))
            return libraryError(PhotoLibrary::NotAFolder, QStringLiteral("The album %1 is not there.").arg(albumName));
    }

    std::vector<QString> sources;
    QSet<QString> seen;
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.isFile())
            return libraryError(PhotoLibrary::SourceMissing, QStringLiteral("%1 is not there.").arg(file));
        if (!seen.contains(info.absoluteFilePath())) {
            seen.insert(info.absoluteFilePath());
            sources.push_back(info.absoluteFilePath());
        }
    }

    // A library whose setting cannot be read imports the way it does by default: it keeps copies.
    const QString libraryFolder = root + u'/' + kLibraryFolder;
    const ReferencedImportSetting setting = readSetting(libraryFolder + u'/' + kSettingsFile);
    const bool referenced = setting.valueOr(false);
    if (sources.empty()) {
        ImportedPhoto nothing;
        nothing.libraryOwnsCopies = !referenced;
        return nothing;
    }
    if (referenced)
        return recordReferences(sources, albumName, libraryFolder + u'/' + kReferencesFile);
    return moveIntoFolder(sources, folder);
}

Result<PhotoAlbum> findOrMakeAlbumIn(const QString& root, const QString& requestedName)
{
    const auto name = PhotoLibrary::sanitizedName(requestedName);
    if (!name)
        return libraryError(PhotoLibrary::InvalidName, QStringLiteral("An album needs a name."));
    if (!isDirectory(root))
        return libraryError(PhotoLibrary::LibraryMissing, QStringLiteral("The photo library %1 is not there.").arg(root));
    const QString path = root + u'/' + *name;
    if (occupied(path) && !isDirectory(path))
        return libraryError(PhotoLibrary::NotAFolder, QStringLiteral("%1 is in the way of the album.").arg(path));
    // mkdir also answers false when the folder appeared meanwhile: then it is there, which is all we want.
    if (!QDir(root).mkdir(*name) && !isDirectory(path))
        return libraryError(PhotoLibrary::AlbumFailed, QStringLiteral("Cannot make the album %1.").arg(path));
    return PhotoAlbum{*name, path};
}

Result<std::vector<PhotoAlbum>> albumsIn(const QString& root)
{
    if (!isDirectory(root))
        return libraryError(PhotoLibrary::LibraryMissing, QStringLiteral("The photo library %1 is not there.").arg(root));
    std::vector<PhotoAlbum> albums;
    const QDir dir(root);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::LocaleAware))
        albums.push_back(PhotoAlbum{info.fileName(), info.absoluteFilePath()});
    return albums;
}

} // namespace

FolderPhotoLibrary::FolderPhotoLibrary(QString root, QueuePtr completionQueue)
    : m_root(root.isEmpty() ? defaultRoot() : QDir::cleanPath(root))
    , m_queue(DispatchQueue::createSerial(photosImportQueueLabel()))
    , m_completionQueue(completionQueue ? std::move(completionQueue) : DispatchQueue::main())
{
}

QString FolderPhotoLibrary::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

QString FolderPhotoLibrary::root() const
{
    std::lock_guard lock(m_mutex);
    return m_root;
}

void FolderPhotoLibrary::setRoot(const QString& root)
{
    std::lock_guard lock(m_mutex);
    m_root = root.isEmpty() ? defaultRoot() : QDir::cleanPath(root);
}

void FolderPhotoLibrary::setTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard lock(m_mutex);
    m_timeout = timeout;
}

QString FolderPhotoLibrary::settingsPath() const
{
    return root() + u'/' + kLibraryFolder + u'/' + kSettingsFile;
}

QString FolderPhotoLibrary::referencesPath() const
{
    return root() + u'/' + kLibraryFolder + u'/' + kReferencesFile;
}

bool FolderPhotoLibrary::exists() const
{
    const QFileInfo info(root());
    return info.isDir() && info.isWritable();
}

ReferencedImportSetting FolderPhotoLibrary::referencedImportSetting() const
{
    return readSetting(settingsPath());
}

void FolderPhotoLibrary::readReferencedImportSetting(SettingCompletion completion)
{
    submit<ReferencedImportSetting>([path = settingsPath()] { return readSetting(path); }, std::move(completion));
}

std::optional<Error> FolderPhotoLibrary::setReferencedImportSetting(bool referenced)
{
    const QString path = settingsPath();
    if (!isDirectory(root()))
        return libraryError(LibraryMissing, QStringLiteral("The photo library %1 is not there.").arg(root()));
    QVariantMap settings;
    if (QFileInfo::exists(path)) {
        auto contents = PropertyList::readFile(path);
        // Other settings may live in the file; rather than lose them, leave a file we cannot read alone.
        if (!contents || contents->typeId() != QMetaType::QVariantMap)
            return libraryError(SettingWriteFailed, QStringLiteral("The library's settings file is unreadable; it was left as it is."));
        settings = contents->toMap();
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return libraryError(SettingWriteFailed, QStringLiteral("Cannot make the library's own folder."));
    settings.insert(referencedImportKey(), referenced);
    if (auto error = PropertyList::writeBinaryFile(settings, path))
        return libraryError(SettingWriteFailed, error->description());
    return std::nullopt;
}

void FolderPhotoLibrary::findOrMakeAlbum(const QString& name, AlbumCompletion completion)
{
    submit<Result<PhotoAlbum>>([root = root(), name] { return findOrMakeAlbumIn(root, name); },
                                           std::move(completion));
}

void FolderPhotoLibrary::fetchAlbums(AlbumListCompletion completion)
{
    submit<Result<std::vector<PhotoAlbum>>>([root = root()] { return albumsIn(root); }, std::move(completion));
}

void FolderPhotoLibrary::importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album,
                                     ImportCompletion completion)
{
    submit<Result<ImportedPhoto>>([root = root(), files, album] { return importFiles(root, files, album); },
                                              std::move(completion));
}

template <typename T>
void FolderPhotoLibrary::submit(std::function<T()> work, std::function<void(const T&)> completion)
{
    std::chrono::milliseconds timeout;
    {
        std::lock_guard lock(m_mutex);
        timeout = m_timeout;
    }
    const auto timedOut = [timeout] {
        return T(libraryError(TimedOut, QStringLiteral("The photo library did not answer within %1 seconds.").arg(timeout.count() / 1000.0)));
    };
    Deferred<T> result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    m_queue->async([work = std::move(work), result, deadline, timedOut] {
        // A request whose caller has stopped waiting is not carried out: an import the caller counts as failed
        // must leave the files where they are.
        if (std::chrono::steady_clock::now() >= deadline) {
            result.fill(timedOut());
            return;
        }
        result.fill(work());
    });
    DispatchQueue::global()->asyncAfter(timeout, [result, timedOut] { result.fill(timedOut()); });
    result.upon(m_completionQueue, std::move(completion));
}

} // namespace vornakel
