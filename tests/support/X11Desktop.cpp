#include "tests/support/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/Spawn.h"

namespace {

bool NameIs(Display* display, Window window, const std::string& name)
{
    char* title = nullptr;
    bool same = XFetchName(display, window, &title) && title && name == title;
    if (title)
        XFree(title);
    return same;
}

// Whether a window manager has announced itself on the root window.
bool WindowManagerRuns(Display* display)
{
    Atom type;
    int format;
    unsigned long count = 0, remaining;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0,
                       1, False, XA_WINDOW, &type, &format, &count, &remaining, &data);
    if (data)
        XFree(data);
    return count == 1;
}

int IgnoreError(Display*, XErrorEvent*)
{
    return 0;
}

}  // namespace

void TolerateVanishingWindows()
{
    XSetErrorHandler(IgnoreError);
}

Window FindByName(Display* display, const std::string& name)
{
    Window root = DefaultRootWindow(display), parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        if (NameIs(display, children[i], name)) {
            found = children[i];
            break;
        }
        Window *inner = nullptr, r, p;
        unsigned innerCount = 0;
        if (XQueryTree(display, children[i], &r, &p, &inner, &innerCount)) {
            for (unsigned j = 0; j < innerCount && !found; ++j)
                if (NameIs(display, inner[j], name))
                    found = inner[j];
            if (inner)
                XFree(inner);
        }
    }
    if (children)
        XFree(children);
    return found;
}

bool IsShown(Display* display, Window window)
{
    XWindowAttributes attributes;
    return window && XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

std::pair<int, int> Position(Display* display, Window window)
{
    Window child;
    int x = 0, y = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {x, y};
}

void CloseWindow(Display* display, Window window)
{
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &close);
    XFlush(display);
}

void PressKey(Display* display, Window window, KeySym key)
{
    XEvent press{};
    press.xkey.type = KeyPress;
    press.xkey.display = display;
    press.xkey.window = window;
    press.xkey.root = DefaultRootWindow(display);
    press.xkey.keycode = XKeysymToKeycode(display, key);
    press.xkey.same_screen = True;
    XSendEvent(display, window, True, KeyPressMask, &press);
    XFlush(display);
}

bool OpenboxInstalled()
{
    return ::access("/usr/bin/openbox", X_OK) == 0;
}

// Whether the window manager puts a new window into a frame of its own and shows it there. It
// announces itself on the root window before it is ready to: a window mapped in between is left
// unshown, so a fresh probe window is tried each time.
bool WindowManagerFrames(Display* display)
{
    Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 20, 20, 0, 0, 0);
    XMapWindow(display, probe);
    XSync(display, False);
    bool framed = false;
    for (int i = 0; i < 20 && !framed; ++i) {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, probe, &root, &parent, &children, &count))
            framed = parent != root && IsShown(display, probe);
        if (children)
            XFree(children);
        if (!framed)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XDestroyWindow(display, probe);
    XSync(display, False);
    return framed;
}

Openbox::Openbox(Display* display)
{
    m_pid = Spawn({.program = "openbox", .argv = {"openbox"}});
    if (m_pid < 0)
        throw std::runtime_error("openbox cannot be started");
    for (int i = 0; i < 500 && !WindowManagerRuns(display); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool ready = false;
    for (int i = 0; i < 50 && !ready; ++i)
        ready = WindowManagerRuns(display) && WindowManagerFrames(display);
    if (!ready) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        throw std::runtime_error("openbox did not come up");
    }
}

Openbox::~Openbox()
{
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}
