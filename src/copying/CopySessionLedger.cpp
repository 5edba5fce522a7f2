#include "copying/CopySessionLedger.h"

#include "copying/StagedFile.h"

#include <QDir>

namespace vornakel {

void CopySessionLedger::addWrittenFile(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_writtenFiles.insert(QDir::cleanPath(path));
}

bool CopySessionLedger::wroteFile(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_writtenFiles.count(QDir::cleanPath(path)) > 0;
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
