#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cuts the side link's byte stream into whole frames, from "@#" to the first "#@" after it.
// Bytes that cannot start a frame are dropped; a partial frame that grows beyond MaxFrame
// bytes is dropped and the search starts again at the next "@#".
class FrameStream
{
public:
    static constexpr qsizetype MaxFrame = 64 * 1024;

    // Adds received bytes and returns every frame completed by them, in order, as Latin-1 text.
    QStringList append(const QByteArray &bytes);

    // Bytes held back for a frame not yet complete.
    qsizetype pending() const { return m_buffer.size(); }
    void clear() { m_buffer.clear(); }

private:
    QByteArray m_buffer;
};
