#pragma once

#include <QImage>
#include <QRect>

#include <memory>
#include <mutex>

class QPainter;
namespace RdpX11 {
class WindowImage;
}

// The remote screen, shared by the session's worker thread, which copies in what the server
// draws, and the widget, which paints it: the picture, the part changed since the widget last
// looked, and whether the widget has been told of it (one notice at a time, however often the
// server draws meanwhile). Where the widget's window can take the picture straight from the
// worker, the worker puts each change there itself and the widget is not told; where the X
// server reads the window's shared memory, the picture is kept there, so that it is the one
// copy beside the library's own.
class RdpFrame
{
public:
    RdpFrame();
    ~RdpFrame();
    // A black picture of that size, nothing changed.
    void reset(const QSize &size);
    // Widget: the window the worker puts changes into from now on; null: none. True when the
    // picture is in memory the X server reads itself.
    bool setWindow(std::unique_ptr<RdpX11::WindowImage> window);
    // Widget: puts that part of the picture into the window again (after the toolkit drew there).
    void present(const QRect &area);
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
    // The window's shared memory for a picture of that size, null where it has none.
    uchar *share(const QSize &size);
    QImage newImage(const QSize &size);

    mutable std::mutex m_mutex;
    QImage m_image;
    std::unique_ptr<RdpX11::WindowImage> m_window;
    bool m_shared = false; // m_image is the window's shared memory
    QRect m_damaged;
    bool m_updatePosted = false;
};
