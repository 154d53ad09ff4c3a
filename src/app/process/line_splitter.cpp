#include "app/process/line_splitter.h"

QList<QByteArray> LineSplitter::append(QByteArray chunk)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    // A "\r\n" split across two reads must not produce an empty line.
    if (m_lastWasCarriageReturn && !chunk.isEmpty() && chunk.front() == '\n')
        start = 1;
    m_lastWasCarriageReturn = false;
    for (qsizetype i = start; i < chunk.size(); ++i) {
        const char c = chunk.at(i);
        if (c != '\n' && c != '\r')
            continue;
        m_pending.append(chunk.constData() + start, i - start);
        lines.append(std::exchange(m_pending, QByteArray()));
        if (c == '\r') {
            if (i + 1 < chunk.size()) {
                if (chunk.at(i + 1) == '\n')
                    ++i;
            } else {
                m_lastWasCarriageReturn = true;
            }
        }
        start = i + 1;
    }
    m_pending.append(chunk.constData() + start, chunk.size() - start);
    if (m_pending.size() > kMaxLine)
        lines.append(std::exchange(m_pending, QByteArray()));
    return lines;
}

QByteArray LineSplitter::takeRemainder()
{
    m_lastWasCarriageReturn = false;
    return std::exchange(m_pending, QByteArray());
}
