#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

// A file being written under a temporary name in the folder of its final name. The temporary is created
// exclusively (nothing existing is opened or followed), every write is checked, and only `commit` gives the
// data its final name: flushed to disk, dated, renamed into place. Until then, and
// after any failure, the final name is untouched; a discarded or destroyed file removes its temporary.
//
// Temporaries are named ".vkl-partial-" plus random letters, so that leftovers of a crash can be recognised.
// Not thread-safe: one thread (or one serial queue) at a time.
class StagedFile {
public:
    // Creates the missing folders up to the final name's folder and the temporary in it.
    [[nodiscard]] static Result<std::unique_ptr<StagedFile>> create(const QString& finalPath);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const QString& finalPath() const { return m_finalPath; }
    const QString& temporaryPath() const { return m_temporaryPath; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    bool isOpen() const { return m_fd >= 0; }

    // Writes all of the data; a failure (disk full, file too large, I/O error) leaves the file unusable.
    [[nodiscard]] std::optional<Error> write(const QByteArray& data);
    // Flushes the data, sets the modification time (Linux keeps no settable creation time), closes the file and
    // renames it to the final name. Without `replaceExisting` an entry already at the final name (a file, a
    // folder, a symbolic link, dangling or not) makes the commit fail; with it, that entry itself is replaced
    // (a symbolic link is replaced, not followed). On failure the temporary is removed.
    // The new name is on disk once the folder is flushed: at once with `flushFolder`, else by `syncFolder` later
    // (a copy flushes each folder once, when it ends, rather than after every file).
    [[nodiscard]] std::optional<Error> commit(const std::optional<QDateTime>& modificationTime, bool replaceExisting,
                                bool flushFolder = true);

    // The commit in steps, for a copy that flushes many files together: `finishWriting` dates the file and starts
    // its writeback, `flushTogether` makes the data of several files durable at once, and `moveIntoPlace` gives a
    // flushed file its final name. A file that was not flushed is never moved into place: the move fails.
    void finishWriting(const std::optional<QDateTime>& modificationTime);
    [[nodiscard]] std::optional<Error> moveIntoPlace(bool replaceExisting, bool flushFolder);
    bool isFlushed() const { return m_flushed; }
    // Flushes the files' data (and what is needed to read it back) to disk; answers one result per file, in
    // order. A single file is flushed on its own; several are flushed by one flush of their file system, which
    // writes them all in one go instead of waiting for each file in turn, and each file is then asked for its
    // own write errors. A file that failed is not flushed and fails its move.
    [[nodiscard]] static std::vector<std::optional<Error>> flushTogether(const std::vector<StagedFile*>& files);
    // Flushes a folder's entries to disk.
    [[nodiscard]] static std::optional<Error> syncFolder(const QString& folder);
    // Closes and removes the temporary; does nothing after a commit or an earlier discard.
    void discard();

    static QString temporaryPrefix(); // ".vkl-partial-"
    static bool isTemporaryName(const QString& fileName);
    // Removes temporaries in `folder` left by copies that ended without cleaning up (a crash, a stalled camera)
    // whose status last changed at least `minimumAge` before `now`. Answers how many were removed.
    static int removeLeftovers(const QString& folder, std::chrono::seconds minimumAge,
                               std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    // Creates the folder and its missing parents.
    [[nodiscard]] static std::optional<Error> makeFolders(const QString& folder);

private:
    StagedFile(QString finalPath, QString temporaryPath, int fd);
    [[nodiscard]] std::optional<Error> closeFile();

    QString m_finalPath;
    QString m_temporaryPath;
    int m_fd = -1;
    qint64 m_bytesWritten = 0;
    qint64 m_writebackStarted = 0; // bytes handed to the disk ahead of the final flush
    qint64 m_writtenBackTo = 0;    // bytes known on disk and let go from the page cache
    bool m_failed = false;
    bool m_flushed = false;
    bool m_done = false; // committed or discarded
};

// An error of the POSIX domain for `errnoValue`, with what failed and on which path.
Error posixError(int errnoValue, const QString& what, const QString& path);
inline QString posixErrorDomain() { return QStringLiteral("NSPOSIXErrorDomain"); }

} // namespace vornakel
