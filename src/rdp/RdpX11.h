#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct _XDisplay;
struct xcb_connection_t;

// The X server's side of the keyboard and the desktop, kept apart because Xlib's macros clash
// with Qt's names.
namespace RdpX11 {
// Caps, Num and Scroll Lock as the X server's indicators show them, in the protocol's
// synchronize flags; 0 without a display.
uint32_t lockKeyStates(_XDisplay *display);
// A window manager (one that follows the desktop conventions) manages the screen.
bool windowManagerRunning(_XDisplay *display);
// A panel or dock (a taskbar, a tray) stands on the screen.
bool dockRunning(_XDisplay *display);
// Gives the keyboard to a window that is on the screen (as a window manager would).
void takeInputFocus(_XDisplay *display, unsigned long window);

// A window that the session's picture is put into straight from the session's thread, over the
// toolkit's own connection, so that the puts keep their order with the toolkit's drawing there.
// The picture reaches the screen without waiting for the user-interface thread. Where the X
// server shares memory with this process (a local display) the picture is kept in a segment
// that the server reads itself; elsewhere, or with QT_XCB_NO_MITSHM set (as for the toolkit's
// own drawing), each change travels through the connection, in bands that fit a request.
class WindowImage
{
public:
    // Null unless the window takes the library's 32-bit pixels as they are (24-bit true colour,
    // least significant byte first).
    static std::unique_ptr<WindowImage> create(xcb_connection_t *connection, uint32_t window);
    ~WindowImage();
    // Memory for a picture of that size (rows of width * 4 bytes) that the X server reads
    // itself, in place of the previous one; null where it shares none.
    uint8_t *share(int width, int height);
    // Before the shared picture is written: waits until the X server has read what was put.
    void waitUntilRead();
    // A rectangle of a 32-bit picture, to the same place in the window; from the shared picture
    // the server takes it without a copy.
    void put(const uint8_t *pixels, std::ptrdiff_t stride, int x, int y, int width, int height);

private:
    WindowImage(xcb_connection_t *connection, uint32_t window);
    void unshare();

    xcb_connection_t *m_connection;
    uint32_t m_window, m_gc;
    std::size_t m_maxRequestBytes;
    std::vector<uint8_t> m_rows; // one band on its way through the connection
    uint8_t *m_shared = nullptr;
    uint32_t m_segment = 0;
    int m_sharedWidth = 0, m_sharedHeight = 0;
    bool m_reading = false; // a put from the shared picture not known to be read yet
    unsigned m_readingSequence = 0;
};
} // namespace RdpX11
