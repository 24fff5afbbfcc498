#include "serverlink/FrameStream.h"

#include <QtGlobal>

// The buffer always begins where a frame may begin: it is empty, holds a lone '@' (the first
// half of a start marker), or begins with "@#" and holds no end marker after it yet. Every
// byte is searched a bounded number of times, so many small arrivals cost linear time.
//
// A frame is at most MaxFrame bytes, whatever way it arrives: a candidate that grows beyond
// that without its end, or that ends beyond it, is dropped and the search for a start resumes
// after its start marker, so a frame whose end was lost does not swallow the ones behind it.
QStringList FrameStream::append(const QByteArray &bytes)
{
    static constexpr char kStart[] = "@#";
    static constexpr char kEnd[] = "#@";

    QStringList frames;
    // No end marker begins before this position in the current candidate: the previous call
    // searched the held bytes, all but the last one, which may pair with the first new byte.
    qsizetype endSearch = qMax<qsizetype>(2, m_buffer.size() - 1);
    m_buffer.append(bytes);

    qsizetype begin = 0; // the first byte still held
    for (;;) {
        const bool atStart = m_buffer.size() - begin >= 2 && m_buffer.at(begin) == '@'
                             && m_buffer.at(begin + 1) == '#';
        if (!atStart) {
            const qsizetype start = m_buffer.indexOf(kStart, begin);
            if (start < 0) {
                // Nothing here can begin a frame, except a last '@' not yet consumed.
                begin = qMax(begin, m_buffer.endsWith('@') ? m_buffer.size() - 1 : m_buffer.size());
                break;
            }
            begin = start;
            endSearch = start + 2;
        }
        endSearch = qMax(endSearch, begin + 2);

        const qsizetype end = m_buffer.indexOf(kEnd, endSearch);
        if (end >= 0 && end + 2 - begin <= MaxFrame) {
            frames.append(QString::fromLatin1(m_buffer.constData() + begin, end + 2 - begin));
            begin = end + 2;
            endSearch = begin + 2;
            continue;
        }
        if (end < 0) {
            endSearch = qMax(begin + 2, m_buffer.size() - 1);
            if (m_buffer.size() - begin <= MaxFrame)
                break; // a partial frame: wait for more bytes
        } else {
            endSearch = end; // the first end marker after any later start is this one or later
        }

        // Too long: drop this candidate and look for the next start after its marker.
        const qsizetype next = m_buffer.indexOf(kStart, begin + 2);
        if (next < 0) {
            begin = m_buffer.endsWith('@') ? m_buffer.size() - 1 : m_buffer.size();
            if (end >= 0)
                begin = qMax(begin, end + 2); // an end marker found cannot start a frame
            break;
        }
        begin = next;
    }

    m_buffer.remove(0, begin);
    return frames;
}
