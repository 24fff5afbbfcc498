#pragma once

#include <QImage>
#include <QRect>

#include <mutex>

class QPainter;

// The remote screen, shared by the session's worker thread, which copies in what the server
// draws, and the widget, which paints it: the picture, the part changed since the widget last
// looked, and whether the widget has been told of it (one notice at a time, however often the
// server draws meanwhile).
class RdpFrame
{
public:
    // A black picture of that size, nothing changed.
    void reset(const QSize &size);
    // Worker: copies a rectangle of the library's 32-bit picture (a new size replaces the whole
    // picture); true when the widget is to be told.
    bool write(const uchar *pixels, qsizetype stride, const QSize &size, const QRect &rect);
    // Widget: what changed since it last asked; the next change tells it again.
    QRect takeDamage();
    QImage image() const;
    QSize size() const;
    // The picture one pixel for one; what it does not cover is black.
    void paint(QPainter &painter, const QRect &area) const;

private:
    mutable std::mutex m_mutex;
    QImage m_image;
    QRect m_damaged;
    bool m_updatePosted = false;
};
