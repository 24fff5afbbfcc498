#include "rdp/RdpX11.h"

#include <freerdp/input.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

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

} // namespace RdpX11
