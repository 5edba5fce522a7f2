#include "lightroom/PluginLineBuffer.h"

namespace vornakel {

QList<QByteArray> PluginLineBuffer::append(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    if (m_overflowed)
        return lines;
    m_pending.append(bytes);
    qsizetype start = 0;
    for (;;) {
        const qsizetype newline = m_pending.indexOf('\n', start);
        if (newline < 0)
            break;
        if (newline + 1 - start > m_maxLineLength) {
            m_overflowed = true;
            m_pending.clear();
            return lines;
        }
        lines.append(m_pending.mid(start, newline + 1 - start));
        start = newline + 1;
    }
    m_pending.remove(0, start);
    if (m_pending.size() > m_maxLineLength) {
        m_overflowed = true;
        m_pending.clear();
    }
    return lines;
}

void PluginLineBuffer::clear()
{
    m_pending.clear();
    m_overflowed = false;
}

} // namespace vornakel
