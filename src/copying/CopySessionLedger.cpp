#include "copying/CopySessionLedger.h"

#include "copying/StagedFile.h"

#include <QDir>

namespace vornakel {

void CopySessionLedger::addWrittenFile(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    std::lock_guard lock(m_mutex);
    m_claimedFiles.erase(clean);
    m_writtenFiles.insert(clean);
}

bool CopySessionLedger::wroteFile(const QString& path) const
{
    const QString clean = QDir::cleanPath(path);
    std::lock_guard lock(m_mutex);
    return m_writtenFiles.count(clean) > 0 || m_claimedFiles.count(clean) > 0;
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
