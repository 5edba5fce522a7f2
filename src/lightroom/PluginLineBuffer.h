#pragma once

#include <QByteArray>
#include <QList>

namespace vornakel {

// Cuts a received byte stream into newline-terminated lines. A partial line waits for more bytes; a line that
// grows past the cap without its newline is an overflow, after which the buffer takes nothing more until cleared.
class PluginLineBuffer {
public:
    explicit PluginLineBuffer(qsizetype maxLineLength = 8 * 1024 * 1024) : m_maxLineLength(maxLineLength) {}

    // The complete lines in `bytes` and what came before, each with its newline, in order.
    QList<QByteArray> append(const QByteArray& bytes);
    bool overflowed() const { return m_overflowed; }
    qsizetype pendingSize() const { return m_pending.size(); }
    void clear();

private:
    QByteArray m_pending;
    qsizetype m_maxLineLength;
    bool m_overflowed = false;
};

} // namespace vornakel
