#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cuts the side link's byte stream into whole frames: from "@#" to the first "#@" after it,
// every frame the frame functions take as one, each handed out as it is.
//
// Bytes that cannot belong to a frame cost only themselves. Keys are words ending in ':'
// that never hold '@' or '#': an '@' where a key is read, or "@#" followed by one of the
// protocol's keys anywhere, drops the unfinished frame, and "@#" there begins the next. The
// '@' that ends a frame may begin the next one, so a frame short of its last bytes does not
// take the one behind it along. A value may hold "@#", even at its start (a password), but
// not "@#" followed by a key such as "cmd:", nor "#@". A frame longer than MaxFrame bytes is
// dropped.
class FrameStream
{
public:
    static constexpr qsizetype MaxFrame = 64 * 1024;

    // Adds received bytes and returns every frame completed by them, in order, as Latin-1 text.
    QStringList append(const QByteArray &bytes);

    // Bytes held back for a frame not yet complete.
    qsizetype pending() const { return m_buffer.size(); }
    void clear();

private:
    enum class Field { None, KeyStart, Key, Value };

    // The buffer begins with the frame being read ("@#"...), or holds at most a lone '@'.
    QByteArray m_buffer;
    qsizetype m_at = 0;          // the next byte of the frame to look at
    Field m_field = Field::None; // what that byte belongs to; None: no frame begun
    qsizetype m_valueAt = 0;     // where the current value begins
};
