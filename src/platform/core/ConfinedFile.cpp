#include "platform/core/ConfinedFile.h"

#include "platform/core/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace vornakel::ConfinedFile {
namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

Error posixError(int errorNumber, const QString& what, const QString& path)
{
    return Error(errorDomain(), errorNumber,
                 QStringLiteral("Could not %1 “%2”: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errorNumber))));
}

// The folders below the root and the file's name, or none for a path outside the root or one that climbs out.
std::optional<QStringList> componentsBelow(const QString& root, const QString& path)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(QDir::isRelativePath(path) ? cleanRoot + QLatin1Char('/') + path : path);
    const QString prefix = cleanRoot.endsWith(QLatin1Char('/')) ? cleanRoot : cleanRoot + QLatin1Char('/');
    if (cleanRoot.isEmpty() || !cleanPath.startsWith(prefix) || cleanPath.size() == prefix.size())
        return std::nullopt;
    QStringList components = cleanPath.mid(prefix.size()).split(QLatin1Char('/'));
    for (const QString& component : components)
        if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
            return std::nullopt;
    return components;
}

// The folder holding the file, each step below the root opened without following a link; created on the way
// when `create`. Sets `errorNumber` and returns an invalid descriptor on failure.
Descriptor openParentFolder(const QString& root, const QStringList& components, bool create, int& errorNumber)
{
    Descriptor folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        errorNumber = errno;
        return folder;
    }
    for (qsizetype i = 0; i + 1 < components.size(); ++i) {
        const QByteArray name = QFile::encodeName(components[i]);
        if (create && ::mkdirat(folder.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
            errorNumber = errno;
            return Descriptor();
        }
        Descriptor next(::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            // A link where a folder belongs reads as ELOOP or ENOTDIR, depending on what it points to.
            errorNumber = errno == ENOTDIR ? ELOOP : errno;
            return next;
        }
        folder = std::move(next);
    }
    return folder;
}

bool writeAll(int fd, const QByteArray& data, int& errorNumber)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t count = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            errorNumber = errno;
            return false;
        }
        done += count;
    }
    return true;
}

} // namespace

std::optional<Error> replace(const QString& root, const QString& path, const QByteArray& data, Durability durability)
{
    const std::optional<QStringList> components = componentsBelow(root, path);
    if (!components)
        return posixError(EINVAL, QStringLiteral("write outside its folder"), path);
    int errorNumber = 0;
    const Descriptor folder = openParentFolder(root, *components, true, errorNumber);
    if (!folder.valid())
        return posixError(errorNumber, QStringLiteral("open the folder of"), path);

    const QByteArray name = QFile::encodeName(components->last());
    // A file that is there keeps its permissions; nothing else there (a link) lends its own.
    struct stat existing {};
    const bool replacesFile = ::fstatat(folder.get(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0
                              && S_ISREG(existing.st_mode);
    Descriptor temporary;
    QByteArray temporaryName;
    for (int attempt = 0; attempt < 100 && !temporary.valid(); ++attempt) {
        temporaryName = '.' + name + ".tmp-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        temporary.reset(::openat(folder.get(), temporaryName.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!temporary.valid() && errno != EEXIST)
            break;
    }
    if (!temporary.valid())
        return posixError(errno, QStringLiteral("create a temporary file for"), path);

    const auto abandon = [&](int failure, const QString& what) {
        temporary.reset();
        ::unlinkat(folder.get(), temporaryName.constData(), 0);
        return posixError(failure, what, path);
    };
    if (!writeAll(temporary.get(), data, errorNumber))
        return abandon(errorNumber, QStringLiteral("write"));
    if (replacesFile && ::fchmod(temporary.get(), existing.st_mode & 07777) != 0)
        return abandon(errno, QStringLiteral("keep the permissions of"));
    if (durability == Durability::durable && ::fdatasync(temporary.get()) != 0)
        return abandon(errno, QStringLiteral("flush"));
    if (::close(temporary.release()) != 0)
        return abandon(errno, QStringLiteral("write"));
    // rename replaces a link by the file; it never writes through it.
    if (::renameat(folder.get(), temporaryName.constData(), folder.get(), name.constData()) != 0)
        return abandon(errno, QStringLiteral("replace"));
    if (durability == Durability::durable && ::fsync(folder.get()) != 0)
        return posixError(errno, QStringLiteral("flush the folder of"), path);
    return std::nullopt;
}

std::optional<Error> makeFolder(const QString& root, const QString& path)
{
    std::optional<QStringList> components = componentsBelow(root, path + QStringLiteral("/_"));
    if (!components)
        return posixError(EINVAL, QStringLiteral("create a folder outside its folder"), path);
    int errorNumber = 0;
    if (!openParentFolder(root, *components, true, errorNumber).valid())
        return posixError(errorNumber, QStringLiteral("create the folder"), path);
    return std::nullopt;
}

std::optional<QByteArray> read(const QString& root, const QString& path, qint64 maxBytes, int* errorNumber)
{
    int failure = 0;
    const auto failed = [&](int value) -> std::optional<QByteArray> {
        if (errorNumber)
            *errorNumber = value;
        return std::nullopt;
    };
    const std::optional<QStringList> components = componentsBelow(root, path);
    if (!components)
        return failed(EINVAL);
    const Descriptor folder = openParentFolder(root, *components, false, failure);
    if (!folder.valid())
        return failed(failure);
    // O_NONBLOCK: a FIFO in the file's place must not hold the open up; it is then refused as not regular.
    const Descriptor file(::openat(folder.get(), QFile::encodeName(components->last()).constData(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        return failed(errno);
    return readRegularFile(file.get(), maxBytes, errorNumber);
}

bool isRegularFile(const QString& root, const QString& path)
{
    const std::optional<QStringList> components = componentsBelow(root, path);
    if (!components)
        return false;
    int failure = 0;
    const Descriptor folder = openParentFolder(root, *components, false, failure);
    struct stat info {};
    return folder.valid()
           && ::fstatat(folder.get(), QFile::encodeName(components->last()).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
           && S_ISREG(info.st_mode);
}

} // namespace vornakel::ConfinedFile
