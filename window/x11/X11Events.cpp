#include "window/x11/X11Events.h"

#include <X11/keysym.h>

#include "window/Window.h"
#include "window/WindowScreen.h"
#include "window/x11/X11Properties.h"

namespace {

void DeliverKeyPress(HWND hWnd, const XKeyEvent& event)
{
    KeySym key = XLookupKeysym(const_cast<XKeyEvent*>(&event), 0);
    if (key == XK_Escape)
        DeliverKey(hWnd, VK_ESCAPE);
    else if (key == XK_Return || key == XK_KP_Enter)
        DeliverKey(hWnd, VK_RETURN);
}

// The window manager's close is the one message taken from other clients: anything else they
// send (messages of the program's own type included) is no business of this window.
bool IsCloseRequest(const X11Connection& x, const XClientMessageEvent& message)
{
    return message.message_type == x.AtomOf(WM_PROTOCOLS_ATOM) && message.format == 32 &&
           static_cast<::Atom>(message.data.l[0]) == x.AtomOf(WM_DELETE_WINDOW_ATOM);
}

}  // namespace

void DeliverEvent(const X11Connection& x, HWND hWnd, const XEvent& event)
{
    switch (event.type) {
    case DestroyNotify:
        PostMessage(hWnd, WM_CLOSE);
        break;
    case ButtonPress:
        if (event.xbutton.button == Button1)
            DeliverMouse(hWnd, WM_LBUTTONDOWN, event.xbutton.x, event.xbutton.y);
        break;
    case ButtonRelease:
        if (event.xbutton.button == Button1)
            DeliverMouse(hWnd, WM_LBUTTONUP, event.xbutton.x, event.xbutton.y);
        break;
    case MotionNotify:
        DeliverMouse(hWnd, WM_MOUSEMOVE, event.xmotion.x, event.xmotion.y);
        break;
    case LeaveNotify:
        DeliverMouse(hWnd, WM_MOUSELEAVE, 0, 0);
        break;
    case KeyPress:
        DeliverKeyPress(hWnd, event.xkey);
        break;
    case ConfigureNotify: {
        Window child;
        int left = 0, top = 0;
        XTranslateCoordinates(x.display, event.xconfigure.window, x.root, 0, 0, &left, &top, &child);
        DeliverMove(hWnd, left, top);
        break;
    }
    case PropertyNotify:
        if (event.xproperty.atom == x.AtomOf(WM_STATE_ATOM))
            DeliverIconic(hWnd, WmState(x, event.xproperty.window) == kIconicState);
        break;
    case ClientMessage:
        if (IsCloseRequest(x, event.xclient))
            PostMessage(hWnd, WM_CLOSE);
        break;
    default:
        break;
    }
}
