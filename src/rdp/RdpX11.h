#pragma once

#include <cstdint>

struct _XDisplay;

// The X server's side of the keyboard, kept apart because Xlib's macros clash with Qt's names.
namespace RdpX11 {
// Caps, Num and Scroll Lock as the X server's indicators show them, in the protocol's
// synchronize flags; 0 without a display.
uint32_t lockKeyStates(_XDisplay *display);
} // namespace RdpX11
