#include "window/x11/X11Connection.h"

#include <algorithm>
#include <fcntl.h>
#include <iterator>
#include <sys/select.h>
#include <unistd.h>

#include "platform/Log.h"

// Last: it defines min and max. Only its display-lock macro is used.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

const char* const kAtomNames[PROGRAM_MESSAGE_ATOM] = {
    "WM_PROTOCOLS",       "WM_DELETE_WINDOW",  "WM_STATE",
    "UTF8_STRING",        "_NET_WM_NAME",      "_NET_WM_ICON",
    "_NET_WM_PID",        "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_SUPPORTED",     "_NET_WM_MOVERESIZE", "_NET_ACTIVE_WINDOW",
    "_MOTIF_WM_HINTS",
};

// A request that fails names a window that went away in the meantime — another program's, or
// ours destroyed by another client. The call that made it sees its own failure (no property, no
// children: "not found"); the process goes on. Anything else is worth a line.
int OnXError(Display* display, XErrorEvent* error)
{
    if (error->error_code == BadWindow || error->error_code == BadDrawable)
        return 0;
    char text[256] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    LogLine("X request " + std::to_string(error->request_code) + " failed: " + text);
    return 0;
}

int OnIOError(Display*)
{
    LogLine("the connection to the display was lost; the program goes on without a window");
    return 0;
}

}  // namespace

X11Connection::X11Connection(Display* display, const std::string& messageAtom)
    : display(display),
      root(DefaultRootWindow(display)),
      visual(DefaultVisual(display, DefaultScreen(display))),
      depth(DefaultDepth(display, DefaultScreen(display)))
{
    const char* names[ATOM_COUNT];
    std::copy(std::begin(kAtomNames), std::end(kAtomNames), names);
    names[PROGRAM_MESSAGE_ATOM] = messageAtom.c_str();
    XInternAtoms(display, const_cast<char**>(names), ATOM_COUNT, False, m_atoms);
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnIOError);
    XSetIOErrorExitHandler(display, OnDisplayLost, this);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

X11Connection::~X11Connection()
{
    if (!m_lost)
        XCloseDisplay(display);  // a display that is gone has nothing left to close
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

// Called instead of ending the process when the display connection breaks: from now on the
// screen is no display at all, and the run goes on as it does without one.
void X11Connection::OnDisplayLost(Display* display, void* connection)
{
    // Xlib expects this handler to end the process: before calling it, it took the display's
    // user lock and released its internal one, which the interrupted call releases again when
    // it returns. Returning means giving both back as that call expects them.
    XUnlockDisplay(display);
    LockDisplay(display);
    auto* self = static_cast<X11Connection*>(connection);
    self->m_lost = true;
    self->Wake();
}

bool X11Connection::Dispatch(int milliseconds, const std::function<void(const XEvent&)>& handle)
{
    const int connection = m_lost ? -1 : ConnectionNumber(display);
    if (m_lost || !XPending(display)) {
        fd_set read;
        FD_ZERO(&read);
        if (connection >= 0)
            FD_SET(connection, &read);
        if (m_wake[0] >= 0)
            FD_SET(m_wake[0], &read);
        timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
        ::select(std::max(connection, m_wake[0]) + 1, &read, nullptr, nullptr, &timeout);
        char drain[64];
        while (m_wake[0] >= 0 && ::read(m_wake[0], drain, sizeof drain) > 0) {
        }
    }
    bool any = false;
    while (!m_lost && XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
        any = true;
    }
    return any;
}

void X11Connection::Wake()
{
    if (m_wake[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(m_wake[1], &byte, 1);
    }
}

bool X11Connection::SendClientMessage(Window to, Window window, ::Atom type, std::initializer_list<long> data) const
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    std::copy(data.begin(), data.end(), event.xclient.data.l);
    long mask = to == root ? SubstructureRedirectMask | SubstructureNotifyMask : NoEventMask;
    bool sent = XSendEvent(display, to, False, mask, &event) != 0;
    XFlush(display);
    return sent;
}
