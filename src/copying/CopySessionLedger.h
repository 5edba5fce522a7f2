#pragma once

#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>

namespace vornakel {

// What one copy has done to its target folders, shared by all of its operations (which run one after another
// on the operation queue's thread, and record their files on the copy queue): the files it wrote, so that a
// later file of the same copy never replaces one of them, and the folders it has swept for temporaries that
// copies which died left behind.
class CopySessionLedger {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // Temporaries at least this old are from copies that died; younger ones may belong to a copy under way in
    // another window or process.
    static constexpr std::chrono::hours kLeftoverAge{24};

    explicit CopySessionLedger(WallClock clock = [] { return std::chrono::system_clock::now(); })
        : m_clock(std::move(clock))
    {
    }

    void addWrittenFile(const QString& path);
    // Whether the copy wrote the file, or is writing it (claimed and not yet given up).
    bool wroteFile(const QString& path) const;

    // A name an operation took for a file it is still writing or flushing: the next file of the copy may start
    // before this one is in place, and must find its name taken all the same. `addWrittenFile` ends the claim;
    // `releaseClaim` gives the name up when the file is not written after all.
    void claimFile(const QString& path);
    void releaseClaim(const QString& path);
    bool isClaimed(const QString& path) const;

    // Removes the folder's stale temporaries the first time this copy names the folder; later calls do nothing.
    void sweepLeftoversOnce(const QString& folder);

private:
    // A written file is remembered by a 64-bit hash of its path, so that a copy of many files holds a few bytes
    // for each. Two paths of one hash would make a name look taken by this copy when it is not: the file then
    // gets a new name instead of replacing the one there, and nothing is lost.
    static quint64 keyOf(const QString& cleanPath);

    const WallClock m_clock;
    mutable std::mutex m_mutex;
    QSet<quint64> m_writtenFiles;
    std::set<QString> m_claimedFiles;
    std::set<QString> m_sweptFolders;
};

} // namespace vornakel
