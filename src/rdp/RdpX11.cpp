#include "rdp/RdpX11.h"

#include <freerdp/input.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace RdpX11 {

namespace {

// The 32-bit values of a property of a window (windows, atoms), empty when it has none.
std::vector<unsigned long> property(_XDisplay *display, Window window, const char *name, Atom type)
{
    std::vector<unsigned long> values;
    const Atom atom = XInternAtom(display, name, True);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (atom == None
        || XGetWindowProperty(display, window, atom, 0, 4096, False, type, &actualType, &format, &count, &after, &data)
            != Success)
        return values;
    if (data && format == 32 && actualType == type)
        values.assign(reinterpret_cast<unsigned long *>(data), reinterpret_cast<unsigned long *>(data) + count);
    if (data)
        XFree(data);
    return values;
}

} // namespace

bool windowManagerRunning(_XDisplay *display)
{
    // The manager names a window of its own on the root window and on that window itself.
    if (!display)
        return false;
    const auto check = property(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return !check.empty() && property(display, check.front(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW) == check;
}

void takeInputFocus(_XDisplay *display, unsigned long window)
{
    XWindowAttributes attributes;
    if (display && XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XFlush(display);
    }
}

bool dockRunning(_XDisplay *display)
{
    if (!display)
        return false;
    const Atom dock = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", True);
    if (dock == None)
        return false;
    for (unsigned long window : property(display, DefaultRootWindow(display), "_NET_CLIENT_LIST", XA_WINDOW))
        for (unsigned long type : property(display, window, "_NET_WM_WINDOW_TYPE", XA_ATOM))
            if (type == dock)
                return true;
    return false;
}

uint32_t lockKeyStates(_XDisplay *display)
{
    if (!display)
        return 0;
    auto lit = [display](const char *name) {
        Bool on = False;
        const Atom atom = XInternAtom(display, name, True);
        return atom != None && XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr) && on;
    };
    uint32_t states = 0;
    if (lit("Caps Lock"))
        states |= KBD_SYNC_CAPS_LOCK;
    if (lit("Num Lock"))
        states |= KBD_SYNC_NUM_LOCK;
    if (lit("Scroll Lock"))
        states |= KBD_SYNC_SCROLL_LOCK;
    return states;
}

std::unique_ptr<WindowImage> WindowImage::create(xcb_connection_t *connection, uint32_t window)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    xcb_get_window_attributes_reply_t *attributes
        = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    bool fits = attributes && geometry && geometry->depth == 24 && setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (fits) {
        bool format = false, visual = false;
        for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
            format |= f.data->depth == 24 && f.data->bits_per_pixel == 32;
        for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen))
            for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem; xcb_depth_next(&depth))
                for (auto v = xcb_depth_visuals_iterator(depth.data); v.rem; xcb_visualtype_next(&v))
                    visual |= v.data->visual_id == attributes->visual && v.data->red_mask == 0xFF0000
                              && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
        fits = format && visual;
    }
    std::free(attributes);
    std::free(geometry);
    return fits ? std::unique_ptr<WindowImage>(new WindowImage(connection, window)) : nullptr;
}

WindowImage::WindowImage(xcb_connection_t *connection, uint32_t window)
    : m_connection(connection), m_window(window), m_gc(xcb_generate_id(connection)),
      m_maxRequestBytes(std::size_t(xcb_get_maximum_request_length(connection)) * 4)
{
    const uint32_t noExposures = 0;
    xcb_create_gc(connection, m_gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
}

WindowImage::~WindowImage()
{
    unshare();
    xcb_free_gc(m_connection, m_gc);
    xcb_flush(m_connection);
}

uint8_t *WindowImage::share(int width, int height)
{
    unshare();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(m_connection, &xcb_shm_id);
    if (!extension || !extension->present || std::getenv("QT_XCB_NO_MITSHM") || width <= 0 || height <= 0)
        return nullptr;
    const int id = shmget(IPC_PRIVATE, std::size_t(width) * std::size_t(height) * 4, IPC_CREAT | 0600);
    if (id < 0)
        return nullptr;
    void *const memory = shmat(id, nullptr, 0), *const failed = reinterpret_cast<void *>(-1);
    // A server on another machine cannot attach it: that is the answer to whether it is local.
    const uint32_t segment = xcb_generate_id(m_connection);
    xcb_generic_error_t *error = memory == failed
        ? nullptr
        : xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, segment, uint32_t(id), 1));
    // Marked for removal now, it goes when both sides have let go, however this process ends.
    shmctl(id, IPC_RMID, nullptr);
    if (memory == failed || error) {
        std::free(error);
        if (memory != failed)
            shmdt(memory);
        return nullptr;
    }
    m_shared = static_cast<uint8_t *>(memory);
    m_segment = segment;
    m_sharedWidth = width;
    m_sharedHeight = height;
    return m_shared;
}

void WindowImage::unshare()
{
    if (!m_shared)
        return;
    waitUntilRead();
    xcb_shm_detach(m_connection, m_segment);
    xcb_flush(m_connection);
    shmdt(m_shared);
    m_shared = nullptr;
}

void WindowImage::waitUntilRead()
{
    // The server has read the segment once it has answered the put.
    if (std::exchange(m_reading, false))
        std::free(xcb_request_check(m_connection, xcb_void_cookie_t{m_readingSequence}));
}

void WindowImage::put(const uint8_t *pixels, std::ptrdiff_t stride, int x, int y, int width, int height)
{
    const std::size_t rowBytes = std::size_t(width) * 4;
    if (width <= 0 || height <= 0)
        return;
    if (m_shared && pixels == m_shared) {
        // One answer at a time is awaited: the one of the last put.
        waitUntilRead();
        m_readingSequence = xcb_shm_put_image_checked(m_connection, m_window, m_gc, uint16_t(m_sharedWidth),
                                                      uint16_t(m_sharedHeight), uint16_t(x), uint16_t(y), uint16_t(width),
                                                      uint16_t(height), int16_t(x), int16_t(y), 24,
                                                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_segment, 0)
                                .sequence;
        m_reading = true;
        xcb_flush(m_connection);
        return;
    }
    // The request carries the rectangle's rows one after another; a large one goes in bands
    // that each fit into a request.
    const int band = int(std::clamp<std::size_t>((m_maxRequestBytes - 64) / rowBytes, 1, std::size_t(height)));
    for (int top = y; top < y + height; top += band) {
        const int rows = std::min(band, y + height - top);
        m_rows.resize(rowBytes * std::size_t(rows));
        for (int r = 0; r < rows; ++r)
            std::memcpy(m_rows.data() + rowBytes * std::size_t(r), pixels + (top + r) * stride + x * 4, rowBytes);
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, uint16_t(width), uint16_t(rows),
                      int16_t(x), int16_t(top), 0, 24, uint32_t(m_rows.size()), m_rows.data());
    }
    xcb_flush(m_connection);
}

} // namespace RdpX11
