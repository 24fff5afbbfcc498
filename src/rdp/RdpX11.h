#pragma once

#include <cstdint>

struct _XDisplay;

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
} // namespace RdpX11
