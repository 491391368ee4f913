#pragma once
// The X11 screen's connection to its display: the atoms it uses, what becomes of a failed
// request and of a broken connection, and the wait for events. Only the X11 screen's own files
// include this header (it brings Xlib's macros with it).

#include <X11/Xlib.h>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>

// Every atom the screen uses, interned once when the display is opened. The last is the type of
// the messages programs send each other, which the program names.
enum X11Atom {
    WM_PROTOCOLS_ATOM,
    WM_DELETE_WINDOW_ATOM,
    WM_STATE_ATOM,
    UTF8_STRING_ATOM,
    NET_WM_NAME_ATOM,
    NET_WM_ICON_ATOM,
    NET_WM_PID_ATOM,
    NET_WM_WINDOW_TYPE_ATOM,
    NET_WM_WINDOW_TYPE_DIALOG_ATOM,
    NET_SUPPORTED_ATOM,
    NET_WM_MOVERESIZE_ATOM,
    NET_ACTIVE_WINDOW_ATOM,
    MOTIF_WM_HINTS_ATOM,
    PROGRAM_MESSAGE_ATOM,
    ATOM_COUNT
};

class X11Connection {
public:
    // Takes the open display over; `messageAtom` names the type of the programs' messages.
    X11Connection(Display* display, const std::string& messageAtom);
    // Closes the display, unless it is lost already.
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    ::Atom AtomOf(X11Atom id) const { return m_atoms[id]; }
    // Once the connection breaks, the display must not be used any more.
    bool Lost() const { return m_lost; }

    // Waits up to `milliseconds` for events (or a Wake), then hands every event that came to
    // `handle`; false when none came.
    bool Dispatch(int milliseconds, const std::function<void(const XEvent&)>& handle);
    // Ends a Dispatch's wait, from any thread.
    void Wake();

    // A client message about `window`, sent to `to` (the root: for the window manager).
    bool SendClientMessage(Window to, Window window, ::Atom type, std::initializer_list<long> data) const;

    Display* const display;
    const Window root;
    Visual* const visual;
    const int depth;

private:
    static void OnDisplayLost(Display* display, void* connection);

    ::Atom m_atoms[ATOM_COUNT] = {};
    std::atomic<bool> m_lost{false};
    int m_wake[2] = {-1, -1};
};
