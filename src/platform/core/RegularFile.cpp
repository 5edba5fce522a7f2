#include "platform/core/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornakel {
namespace {

std::nullopt_t failed(int* errorNumber, int value)
{
    if (errorNumber)
        *errorNumber = value;
    return std::nullopt;
}

} // namespace

int openRegularFile(const QByteArray& nativePath, int* errorNumber, qint64* size)
{
    // O_NONBLOCK keeps the open itself from waiting for a FIFO's writer; the file type is then checked on the
    // descriptor, so nothing can be swapped in between the check and the read.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failed(errorNumber, errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        failed(errorNumber, EINVAL);
        ::close(fd);
        return -1;
    }
    if (size)
        *size = qint64(info.st_size);
    return fd;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, int* errorNumber)
{
    return readRegularFile(QFile::encodeName(path), maxBytes, errorNumber);
}

std::optional<QByteArray> readRegularFile(const QByteArray& nativePath, qint64 maxBytes, int* errorNumber)
{
    const int fd = openRegularFile(nativePath, errorNumber);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> contents = readRegularFile(fd, maxBytes, errorNumber);
    ::close(fd);
    return contents;
}

std::optional<QByteArray> readRegularFile(int fd, qint64 maxBytes, int* errorNumber)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return failed(errorNumber, errno);
    if (!S_ISREG(info.st_mode))
        return failed(errorNumber, EINVAL);
    if (info.st_size < 0 || info.st_size > maxBytes)
        return failed(errorNumber, EFBIG);
    QByteArray contents;
    contents.resize(static_cast<qsizetype>(info.st_size));
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t count = ::read(fd, contents.data() + done, size_t(contents.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return failed(errorNumber, errno);
        if (count == 0)
            break; // the file shrank while being read
        done += count;
    }
    contents.truncate(done);
    return contents;
}

} // namespace vornakel
