#include "copying/StagedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <tuple>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcCopy, "vornakel.copy")

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// Without this, a write beyond the file-size limit ends the whole program with SIGXFSZ instead of failing
// with EFBIG; a copy must fail like on a full disk.
void ignoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

QString randomLetters(int count)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString text;
    text.reserve(count);
    for (int i = 0; i < count; ++i)
        text += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof(kLetters) - 1))]);
    return text;
}

// Renames without replacing anything at `to`. Falls back to link + unlink where the file system cannot.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::link(from.constData(), to.constData()) != 0)
        return -1;
    ::unlink(from.constData());
    return 0;
}

} // namespace

Error posixError(int errnoValue, const QString& what, const QString& path)
{
    return Error(posixErrorDomain(), errnoValue,
                 QStringLiteral("Could not %1 “%2”: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errnoValue))),
                 QVariantMap{{QStringLiteral("path"), path}});
}

std::optional<Error> StagedFile::syncFolder(const QString& folder)
{
    const int fd = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return posixError(errno, QStringLiteral("open folder"), folder);
    std::optional<Error> error;
    if (::fsync(fd) != 0 && errno != EINVAL)
        error = posixError(errno, QStringLiteral("flush folder"), folder);
    ::close(fd);
    return error;
}

QString StagedFile::temporaryPrefix() { return QStringLiteral(".vkl-partial-"); }

bool StagedFile::isTemporaryName(const QString& fileName) { return fileName.startsWith(temporaryPrefix()); }

std::optional<Error> StagedFile::makeFolders(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    if (clean.isEmpty())
        return posixError(ENOENT, QStringLiteral("create folder"), folder);
    struct stat info {};
    if (::stat(nativePath(clean).constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return std::nullopt;
        return posixError(ENOTDIR, QStringLiteral("create folder"), clean);
    }
    const QString parent = QFileInfo(clean).path();
    if (parent != clean) {
        if (auto error = makeFolders(parent))
            return error;
    }
    if (::mkdir(nativePath(clean).constData(), 0777) != 0 && errno != EEXIST)
        return posixError(errno, QStringLiteral("create folder"), clean);
    return std::nullopt;
}

Result<std::unique_ptr<StagedFile>> StagedFile::create(const QString& finalPath)
{
    ignoreFileSizeSignal();
    const QFileInfo info(finalPath);
    if (finalPath.isEmpty() || info.fileName().isEmpty() || info.isRelative())
        return posixError(EINVAL, QStringLiteral("create"), finalPath);
    const QString folder = info.path();
    // The folder usually exists (every file of a copy after the first goes to a folder already there): it is
    // only looked at and made when the temporary cannot be created for want of it.
    bool madeFolders = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temporary = QDir(folder).filePath(temporaryPrefix() + randomLetters(10));
        const int fd = ::open(nativePath(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              0666);
        if (fd >= 0)
            return std::unique_ptr<StagedFile>(new StagedFile(finalPath, temporary, fd));
        const int openError = errno;
        if ((openError == ENOENT || openError == ENOTDIR) && !madeFolders) {
            madeFolders = true;
            if (auto error = makeFolders(folder))
                return *error;
            continue;
        }
        if (openError != EEXIST)
            return posixError(openError, QStringLiteral("create"), temporary);
    }
    return posixError(EEXIST, QStringLiteral("create a temporary file in"), folder);
}

StagedFile::StagedFile(QString finalPath, QString temporaryPath, int fd)
    : m_finalPath(std::move(finalPath)), m_temporaryPath(std::move(temporaryPath)), m_fd(fd)
{
}

StagedFile::~StagedFile() { discard(); }

std::optional<Error> StagedFile::write(const QByteArray& data)
{
    if (m_fd < 0 || m_failed)
        return posixError(EBADF, QStringLiteral("write"), m_temporaryPath);
    const char* bytes = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, bytes, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_failed = true;
            return posixError(errno, QStringLiteral("write"), m_temporaryPath);
        }
        if (written == 0) {
            m_failed = true;
            return posixError(EIO, QStringLiteral("write"), m_temporaryPath);
        }
        bytes += written;
        left -= written;
        m_bytesWritten += written;
    }
    // Start writing what has piled up to the disk while the camera sends the rest, so that the flush at the end
    // only waits for the tail instead of the whole file.
    constexpr qint64 kWritebackStep = 4 * 1024 * 1024;
    if (m_bytesWritten - m_writebackStarted >= kWritebackStep) {
        ::sync_file_range(m_fd, m_writebackStarted, m_bytesWritten - m_writebackStarted, SYNC_FILE_RANGE_WRITE);
        if (m_writebackStarted > 0) {
            // The window before this one has had a step's time to reach the disk: wait for it, then let the page
            // cache drop it, so that a long copy neither piles up dirty data (which made writes stall for seconds)
            // nor pushes out what the user works with. A disk error shows here first.
            if (::sync_file_range(m_fd, m_writtenBackTo, m_writebackStarted - m_writtenBackTo,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
                != 0
                && errno != ESPIPE && errno != EINVAL) {
                m_failed = true;
                return posixError(errno, QStringLiteral("write"), m_temporaryPath);
            }
            ::posix_fadvise(m_fd, m_writtenBackTo, m_writebackStarted - m_writtenBackTo, POSIX_FADV_DONTNEED);
            m_writtenBackTo = m_writebackStarted;
        }
        m_writebackStarted = m_bytesWritten;
    }
    return std::nullopt;
}

std::optional<Error> StagedFile::closeFile()
{
    if (m_fd < 0)
        return std::nullopt;
    const int fd = m_fd;
    m_fd = -1;
    // close is not retried on EINTR: on Linux the descriptor is gone either way.
    if (::close(fd) != 0 && errno != EINTR)
        return posixError(errno, QStringLiteral("close"), m_temporaryPath);
    return std::nullopt;
}

void StagedFile::finishWriting(const std::optional<QDateTime>& modificationTime)
{
    if (m_done || m_fd < 0 || m_failed)
        return;
    if (modificationTime && modificationTime->isValid()) {
        const qint64 msecs = modificationTime->toMSecsSinceEpoch();
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = time_t(msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000);
        times[1].tv_nsec = long((msecs - qint64(times[1].tv_sec) * 1000) * 1000000);
        // A date the file system cannot hold is not worth the copy: the data stays, undated.
        ::futimens(m_fd, times);
    }
    // The disk starts on a large tail now; the flush that follows, maybe of many files at once, then mostly
    // waits. A small file is left to that flush, which writes it with the others of its batch: started one by one,
    // each small file would cost a write request (and its block allocation) of its own.
    constexpr qint64 kSmallTail = 1024 * 1024;
    if (m_bytesWritten - m_writebackStarted >= kSmallTail) {
        ::sync_file_range(m_fd, m_writebackStarted, m_bytesWritten - m_writebackStarted, SYNC_FILE_RANGE_WRITE);
        m_writebackStarted = m_bytesWritten;
    }
}

std::vector<std::optional<Error>> StagedFile::flushTogether(const std::vector<StagedFile*>& files)
{
    std::vector<std::optional<Error>> results(files.size());
    std::vector<StagedFile*> open;
    for (size_t i = 0; i < files.size(); ++i) {
        StagedFile* file = files[i];
        if (file->m_done || file->m_fd < 0 || file->m_failed)
            results[i] = posixError(EBADF, QStringLiteral("flush"), file->m_temporaryPath);
        else
            open.push_back(file);
    }
    const auto flushed = [&](StagedFile* file, std::optional<Error> error) {
        const size_t index = size_t(std::find(files.begin(), files.end(), file) - files.begin());
        if (error) {
            file->m_failed = true;
            results[index] = std::move(error);
        } else {
            file->m_flushed = true;
        }
    };
    if (open.size() == 1) {
        // The data and what is needed to read it back (the size) reach the disk here; the rename and the folder's
        // flush carry the rest.
        StagedFile* file = open.front();
        flushed(file, ::fdatasync(file->m_fd) == 0 ? std::nullopt
                                                   : std::optional(posixError(errno, QStringLiteral("flush"),
                                                                              file->m_temporaryPath)));
        return results;
    }
    if (open.empty())
        return results;
    // One flush of the file system writes every file's data and size together, as `sync` does, where a flush per
    // file would wait for the disk once per file. Its error is every file's: none of them is known to be whole.
    const int first = open.front()->m_fd;
    if (::syncfs(first) != 0) {
        const int syncError = errno;
        for (StagedFile* file : open)
            flushed(file, posixError(syncError, QStringLiteral("flush"), file->m_temporaryPath));
        return results;
    }
    // Each file's own write errors, which the file system's flush reports for no file in particular; nothing is
    // left to write, so this only waits and asks.
    for (StagedFile* file : open) {
        const int result = ::sync_file_range(file->m_fd, 0, 0,
                                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        flushed(file, result == 0 || errno == ESPIPE || errno == EINVAL
                          ? std::nullopt
                          : std::optional(posixError(errno, QStringLiteral("flush"), file->m_temporaryPath)));
    }
    // Some file systems write their inode tables at the end of that flush, after telling the disk to empty its
    // cache; one more flush of a file empties it again, so that every size is on disk before any rename.
    if (::fdatasync(first) != 0) {
        const int flushError = errno;
        for (StagedFile* file : open)
            if (file->m_flushed) {
                file->m_flushed = false;
                flushed(file, posixError(flushError, QStringLiteral("flush"), file->m_temporaryPath));
            }
    }
    return results;
}

std::optional<Error> StagedFile::moveIntoPlace(bool replaceExisting, bool flushFolder)
{
    if (m_done || m_fd < 0 || m_failed || !m_flushed) {
        // Never a name for data that may not be on disk.
        discard();
        return posixError(EBADF, QStringLiteral("finish"), m_finalPath);
    }
    std::optional<Error> error = closeFile();
    if (!error) {
        const QByteArray from = nativePath(m_temporaryPath);
        const QByteArray to = nativePath(m_finalPath);
        const int result = replaceExisting ? ::rename(from.constData(), to.constData()) : renameNoReplace(from, to);
        if (result != 0)
            error = posixError(errno, QStringLiteral("move into place"), m_finalPath);
    }
    if (error) {
        discard();
        return error;
    }
    m_done = true;
    // The rename is only durable once the folder's entry is; a failure here leaves a complete file in place.
    if (flushFolder) {
        if (const auto folderError = syncFolder(QFileInfo(m_finalPath).path()))
            qCWarning(lcCopy, "%s", qPrintable(folderError->description()));
    }
    return std::nullopt;
}

std::optional<Error> StagedFile::commit(const std::optional<QDateTime>& modificationTime, bool replaceExisting,
                                        bool flushFolder)
{
    if (m_done || m_fd < 0 || m_failed) {
        discard();
        return posixError(EBADF, QStringLiteral("finish"), m_finalPath);
    }
    finishWriting(modificationTime);
    if (auto error = flushTogether({this}).front()) {
        discard();
        return error;
    }
    return moveIntoPlace(replaceExisting, flushFolder);
}

void StagedFile::discard()
{
    if (m_done)
        return;
    m_done = true;
    // The temporary goes next, so how its closing went changes nothing.
    std::ignore = closeFile();
    ::unlink(nativePath(m_temporaryPath).constData());
}

int StagedFile::removeLeftovers(const QString& folder, std::chrono::seconds minimumAge,
                                std::chrono::system_clock::time_point now)
{
    QDir dir(folder);
    const QStringList names = dir.entryList({temporaryPrefix() + QLatin1Char('*')},
                                            QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const auto sinceEpoch = now.time_since_epoch();
    int removed = 0;
    for (const QString& name : names) {
        const QByteArray path = nativePath(dir.filePath(name));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        // The status-change time moves with every write and cannot be set back, unlike the modification time.
        const auto changed = std::chrono::seconds(info.st_ctim.tv_sec);
        if (sinceEpoch - changed < minimumAge)
            continue;
        if (::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace vornakel
