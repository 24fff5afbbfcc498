#include "rdp/RdpX11.h"

#include <freerdp/input.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace RdpX11 {

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
