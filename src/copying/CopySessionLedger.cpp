#include "copying/CopySessionLedger.h"

#include "copying/StagedFile.h"

#include <QDir>

namespace vornakel {

quint64 CopySessionLedger::keyOf(const QString& cleanPath)
{
    static_assert(sizeof(size_t) >= sizeof(quint64), "the hash must be 64 bits wide");
    return quint64(qHash(cleanPath, size_t(0x9e3779b97f4a7c15ULL)));
}

void CopySessionLedger::addWrittenFile(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const quint64 key = keyOf(clean);
    std::lock_guard lock(m_mutex);
    m_claimedFiles.erase(clean);
    m_writtenFiles.insert(key);
}

bool CopySessionLedger::wroteFile(const QString& path) const
{
    const QString clean = QDir::cleanPath(path);
    const quint64 key = keyOf(clean);
    std::lock_guard lock(m_mutex);
    return m_writtenFiles.contains(key) || m_claimedFiles.count(clean) > 0;
}

void CopySessionLedger::claimFile(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_claimedFiles.insert(QDir::cleanPath(path));
}

void CopySessionLedger::releaseClaim(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_claimedFiles.erase(QDir::cleanPath(path));
}

bool CopySessionLedger::isClaimed(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_claimedFiles.count(QDir::cleanPath(path)) > 0;
}

void CopySessionLedger::sweepLeftoversOnce(const QString& folder)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_sweptFolders.insert(QDir::cleanPath(folder)).second)
            return;
    }
    StagedFile::removeLeftovers(folder, kLeftoverAge, m_clock());
}

} // namespace vornakel
