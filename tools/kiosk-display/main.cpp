// What the kiosk session needs of the X display, where no desktop or window manager does it:
//
//   kiosk-display size       prints the screen's width and height
//   kiosk-display panel PID  waits up to a minute for a shown top-level window of the process
//                            PID; then switches the screen saver and display power management
//                            off and gives that window the keyboard focus
//
// The screen settings wait for the panel as well: an X server started without -noreset forgets
// them when its last client leaves, which the panel's connection prevents.
// Exit status 0 when done, 1 otherwise.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace {

void keepScreenOn(Display *display)
{
    XSetScreenSaver(display, 0, 0, DontPreferBlanking, AllowExposures);
    int event = 0, error = 0;
    if (DPMSQueryExtension(display, &event, &error) && DPMSCapable(display))
        DPMSDisable(display);
}

unsigned long pidOf(Display *display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0, pid = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success
        && data && type == XA_CARDINAL && format == 32 && count == 1)
        pid = *reinterpret_cast<unsigned long *>(data);
    if (data)
        XFree(data);
    return pid;
}

// The largest shown top-level window of the process (menus and tooltips aside), or None.
Window windowOf(Display *display, unsigned long pid)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Window root = 0, parent = 0, *children = nullptr, found = None;
    unsigned int count = 0;
    long largest = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return None;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable || a.override_redirect)
            continue;
        if (long(a.width) * a.height > largest && pidOf(display, children[i], pidAtom) == pid) {
            largest = long(a.width) * a.height;
            found = children[i];
        }
    }
    if (children)
        XFree(children);
    return found;
}

// Waits for the panel's window; then the screen stays on and the window has the keyboard.
bool holdForPanel(Display *display, unsigned long pid)
{
    // Every window shown from now on is announced, so a window shown while the tree is read
    // is not missed.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (;;) {
        if (const Window window = windowOf(display, pid)) {
            keepScreenOn(display);
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            XSync(display, False);
            return true;
        }
        XEvent event;
        if (!XPending(display)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, int(left.count())) <= 0)
                return false;
        }
        while (XPending(display))
            XNextEvent(display, &event);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const bool size = argc == 2 && std::strcmp(argv[1], "size") == 0;
    if (!size && !(argc == 3 && std::strcmp(argv[1], "panel") == 0)) {
        std::fprintf(stderr, "usage: kiosk-display size | panel PID\n");
        return 1;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "kiosk-display: cannot open the display\n");
        return 1;
    }
    bool ok = true;
    if (size)
        std::printf("%d %d\n", DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display)));
    else
        ok = holdForPanel(display, std::strtoul(argv[2], nullptr, 10));
    XCloseDisplay(display);
    return ok ? 0 : 1;
}
