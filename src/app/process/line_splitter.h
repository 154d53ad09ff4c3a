#pragma once

#include <QByteArray>
#include <QList>

// Cuts a byte stream into lines as chunks arrive. Splitting happens on bytes, before any
// decoding, so a read that ends inside a multi-byte character loses nothing. "\n", "\r\n" and
// a lone "\r" (the engine's in-place progress) each end a line.
class LineSplitter {
public:
    // A line longer than this without a break is handed out as it stands: no engine line of
    // interest is that long, and the buffer must not grow without bound.
    static constexpr qsizetype kMaxLine = 1 << 20;

    QList<QByteArray> append(QByteArray chunk);
    // The text after the last break (a last line without one still counts); empties the buffer.
    QByteArray takeRemainder();

private:
    QByteArray m_pending;
    bool m_lastWasCarriageReturn = false;
};
