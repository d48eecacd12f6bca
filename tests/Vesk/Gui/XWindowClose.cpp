// WM_DELETE_WINDOW for the GUI tests, which run without a window manager. Apart from the driver,
// since Xlib's macros clash with GoogleTest's names.
#include "VeskDriver.h"

#include <X11/Xlib.h>

namespace veskgui {

bool sendDeleteWindow(unsigned long xid)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, xid, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return true;
}

} // namespace veskgui
