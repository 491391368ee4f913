#include "platform/X11Screen.h"

#include "platform/Log.h"
#include "platform/PlatformIdentity.h"
#include "platform/Window.h"
#include "platform/WindowStyles.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

// Last: it defines min and max. Only its display-lock macro is used.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

constexpr long kEventMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask | KeyPressMask |
                            StructureNotifyMask | PropertyChangeMask;
constexpr long kIconicState = 3;  // WM_STATE's state when the window manager shows the window as an icon
constexpr long kMoveResizeMove = 8;  // _NET_WM_MOVERESIZE_MOVE

// Every atom the screen uses, interned once when the display is opened. The last is the type of
// the messages programs send each other, which the program names.
enum AtomId {
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

class X11Screen : public IScreen {
public:
    explicit X11Screen(Display* display) : m_display(display), m_className(GetPlatformIdentity().className)
    {
        m_root = DefaultRootWindow(display);
        m_visual = DefaultVisual(display, DefaultScreen(display));
        m_depth = DefaultDepth(display, DefaultScreen(display));
        const char* names[ATOM_COUNT];
        std::copy(std::begin(kAtomNames), std::end(kAtomNames), names);
        names[PROGRAM_MESSAGE_ATOM] = GetPlatformIdentity().messageAtom.c_str();
        XInternAtoms(display, const_cast<char**>(names), ATOM_COUNT, False, m_atoms);
        XSetErrorHandler(OnXError);
        XSetIOErrorHandler(OnIOError);
        XSetIOErrorExitHandler(display, OnDisplayLost, this);
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
    }

    ~X11Screen() override
    {
        if (!m_lost) {
            for (auto& [hWnd, window] : m_windows) {
                XDestroyWindow(m_display, window.id);
                XFreePixmap(m_display, window.background);
            }
            XCloseDisplay(m_display);  // a display that is gone has nothing left to close
        }
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }

    bool HasDisplay() const override { return !m_lost; }

    void Show(HWND hWnd, const RECT& rect, bool visible) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return;
        WindowState& window = Create(hWnd, rect);
        if (!visible) {
            XUnmapWindow(m_display, window.id);
        } else {
            Resize(window, rect);
            XMoveResizeWindow(m_display, window.id, rect.left, rect.top, static_cast<unsigned>(rect.Width()),
                              static_cast<unsigned>(rect.Height()));
            SetFixedSize(window.id, rect);
            XMapRaised(m_display, window.id);
        }
        XFlush(m_display);
    }

    void SetTitle(HWND hWnd, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        m_titles[hWnd] = title;
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end() && !m_lost)
            ApplyTitle(it->second.id, title);
    }

    void SetIcon(HWND hWnd, const CBitmap& icon) override
    {
        std::lock_guard lock(m_mutex);
        std::vector<unsigned long>& data = m_icons[hWnd];
        data = {static_cast<unsigned long>(icon.Width()), static_cast<unsigned long>(icon.Height())};
        for (int y = 0; y < icon.Height(); ++y)
            for (int x = 0; x < icon.Width(); ++x)
                data.push_back(icon.GetArgb(x, y));
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end() && !m_lost)
            ApplyIcon(it->second.id, data);
    }

    // The pixels go into the window's background pixmap, which the server itself paints the window
    // with: on mapping, on every exposure, even while the window thread is busy elsewhere (a slow
    // manifest, a window manager that maps the window late).
    void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(hWnd);
        if (it == m_windows.end() || surface.IsEmpty() || m_lost)
            return;
        const WindowState& window = it->second;
        CBitmap::PixelData pixels = surface.Pixels();
        XImage* image = XCreateImage(m_display, m_visual, static_cast<unsigned>(m_depth), ZPixmap, 0,
                                     reinterpret_cast<char*>(pixels.data), static_cast<unsigned>(pixels.width),
                                     static_cast<unsigned>(pixels.height), 32, pixels.stride);
        if (!image)
            return;
        RECT area{std::max(0, dirty.left), std::max(0, dirty.top), std::min({pixels.width, window.width, dirty.right}),
                  std::min({pixels.height, window.height, dirty.bottom})};
        if (area.Width() > 0 && area.Height() > 0) {
            const auto width = static_cast<unsigned>(area.Width()), height = static_cast<unsigned>(area.Height());
            XPutImage(m_display, window.background, window.gc, image, area.left, area.top, area.left, area.top, width,
                      height);
            XClearArea(m_display, window.id, area.left, area.top, width, height, False);
        }
        image->data = nullptr;  // the surface keeps its pixels
        XDestroyImage(image);
        XFlush(m_display);
    }

    void Destroy(HWND hWnd) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end() && !m_lost) {
            XFreeGC(m_display, it->second.gc);
            XDestroyWindow(m_display, it->second.id);
            XFreePixmap(m_display, it->second.background);
            XFlush(m_display);
        }
        Forget(hWnd);
    }

    RECT WorkArea() override
    {
        int screen = DefaultScreen(m_display);
        return {0, 0, DisplayWidth(m_display, screen), DisplayHeight(m_display, screen)};
    }

    // Asks the window manager to move the window; without one that can, follows the pointer
    // from the event loop until the button is released. Either way it returns at once.
    void BeginMove(HWND hWnd, int x, int y) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(hWnd);
        if (it == m_windows.end() || m_lost)
            return;
        const Window id = it->second.id;
        Window child;
        int rootX = 0, rootY = 0;
        XTranslateCoordinates(m_display, id, m_root, x, y, &rootX, &rootY, &child);
        if (WindowManagerSupports(m_atoms[NET_WM_MOVERESIZE_ATOM])) {
            XUngrabPointer(m_display, CurrentTime);
            // The last 1: the request comes from a normal application.
            SendClientMessage(m_root, id, m_atoms[NET_WM_MOVERESIZE_ATOM], {rootX, rootY, kMoveResizeMove, Button1, 1});
            return;
        }
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, id, &attributes) ||
            XGrabPointer(m_display, id, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync, GrabModeAsync, None,
                         None, CurrentTime) != GrabSuccess)
            return;
        m_move = Move{hWnd, id, attributes.x - rootX, attributes.y - rootY};
    }

    std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return 0;
        // Window managers put top-level windows into frames: one level down is looked at too.
        // Any of these windows may go away while it is read; it then simply does not match.
        for (Window candidate : Children(m_root)) {
            if (Matches(candidate, className, title))
                return candidate;
            for (Window inner : Children(candidate))
                if (Matches(inner, className, title))
                    return inner;
        }
        return 0;
    }

    void ActivateForeignWindow(std::uint64_t window) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return;
        XRaiseWindow(m_display, window);
        SendClientMessage(m_root, window, m_atoms[NET_ACTIVE_WINDOW_ATOM], {1});  // 1: from an application
    }

    bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return false;
        return SendClientMessage(window, window, m_atoms[PROGRAM_MESSAGE_ATOM],
                                 {static_cast<long>(message), static_cast<long>(wParam), static_cast<long>(lParam)});
    }

    bool WaitForInput(int milliseconds) override
    {
        const int connection = m_lost ? -1 : ConnectionNumber(m_display);
        if (m_lost || !XPending(m_display)) {
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
        while (!m_lost && XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            Handle(event);
            any = true;
        }
        return any;
    }

    void Wake() override
    {
        if (m_wake[1] >= 0) {
            char byte = 0;
            [[maybe_unused]] ssize_t ignored = ::write(m_wake[1], &byte, 1);
        }
    }

private:
    struct WindowState {
        Window id;
        GC gc;
        Pixmap background;
        int width, height;
    };
    // A move that follows the pointer: the window's corner is the pointer plus the offset.
    struct Move {
        HWND hWnd;
        Window id;
        int offsetX, offsetY;
    };

    static int OnIOError(Display*)
    {
        LogLine("the connection to the display was lost; the program goes on without a window");
        return 0;
    }

    // Called instead of ending the process when the display connection breaks: from now on the
    // screen is no display at all, and the run goes on as it does without one.
    static void OnDisplayLost(Display* display, void* screen)
    {
        // Xlib expects this handler to end the process: before calling it, it took the display's
        // user lock and released its internal one, which the interrupted call releases again when
        // it returns. Returning means giving both back as that call expects them.
        XUnlockDisplay(display);
        LockDisplay(display);
        auto* self = static_cast<X11Screen*>(screen);
        self->m_lost = true;
        self->Wake();
    }

    WindowState& Create(HWND hWnd, const RECT& rect)
    {
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end())
            return it->second;
        const int width = std::max(1, rect.Width()), height = std::max(1, rect.Height());
        Pixmap background = NewBackground(width, height);
        XSetWindowAttributes attributes{};
        attributes.event_mask = kEventMask;
        attributes.background_pixmap = background;
        Window id = XCreateWindow(m_display, m_root, rect.left, rect.top, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, m_depth, InputOutput, m_visual,
                                  CWEventMask | CWBackPixmap, &attributes);
        // Without a caption no decorations: such a window is all skin.
        if ((GetWindowStyle(hWnd) & WS_CAPTION) != WS_CAPTION) {
            struct {
                unsigned long flags, functions, decorations;
                long inputMode;
                unsigned long status;
            } motif{2, 0, 0, 0, 0};
            XChangeProperty(m_display, id, m_atoms[MOTIF_WM_HINTS_ATOM], m_atoms[MOTIF_WM_HINTS_ATOM], 32,
                            PropModeReplace, reinterpret_cast<unsigned char*>(&motif), 5);
        }
        XClassHint classHint{m_className.data(), m_className.data()};
        XSetClassHint(m_display, id, &classHint);
        XSetWMProtocols(m_display, id, &m_atoms[WM_DELETE_WINDOW_ATOM], 1);
        long pid = static_cast<long>(::getpid());
        XChangeProperty(m_display, id, m_atoms[NET_WM_PID_ATOM], XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&pid), 1);
        SetOwner(id, GetWindowOwner(hWnd));
        SetFixedSize(id, rect);
        WindowState& window = m_windows[hWnd] = {id, XCreateGC(m_display, id, 0, nullptr), background, width, height};
        m_handles[id] = hWnd;
        if (auto title = m_titles.find(hWnd); title != m_titles.end())
            ApplyTitle(id, title->second);
        if (auto icon = m_icons.find(hWnd); icon != m_icons.end())
            ApplyIcon(id, icon->second);
        return window;
    }

    // A black pixmap of the size given, to be a window's background.
    Pixmap NewBackground(int width, int height)
    {
        Pixmap pixmap = XCreatePixmap(m_display, m_root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      static_cast<unsigned>(m_depth));
        GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
        XSetForeground(m_display, gc, BlackPixel(m_display, DefaultScreen(m_display)));
        XFillRectangle(m_display, pixmap, gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFreeGC(m_display, gc);
        return pixmap;
    }

    // A window of a new size gets a background of that size (its pixels follow with the next paint).
    void Resize(WindowState& window, const RECT& rect)
    {
        const int width = std::max(1, rect.Width()), height = std::max(1, rect.Height());
        if (width == window.width && height == window.height)
            return;
        Pixmap background = NewBackground(width, height);
        XSetWindowBackgroundPixmap(m_display, window.id, background);
        XFreePixmap(m_display, window.background);
        window = {window.id, window.gc, background, width, height};
    }

    // A box belongs to its owner's window: window managers keep it above the owner and give it
    // the owner's close instead.
    void SetOwner(Window id, HWND owner)
    {
        auto it = owner ? m_windows.find(owner) : m_windows.end();
        if (it == m_windows.end())
            return;
        XSetTransientForHint(m_display, id, it->second.id);
        XChangeProperty(m_display, id, m_atoms[NET_WM_WINDOW_TYPE_ATOM], XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&m_atoms[NET_WM_WINDOW_TYPE_DIALOG_ATOM]), 1);
    }

    void Forget(HWND hWnd)
    {
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end()) {
            m_handles.erase(it->second.id);
            m_windows.erase(it);
        }
        m_titles.erase(hWnd);
        m_icons.erase(hWnd);
        if (m_move && m_move->hWnd == hWnd)
            m_move.reset();
    }

    // Where the window is and that its size is fixed, so that window managers place it there.
    void SetFixedSize(Window id, const RECT& rect)
    {
        XSizeHints* hints = XAllocSizeHints();
        hints->flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
        hints->x = rect.left;
        hints->y = rect.top;
        hints->width = hints->min_width = hints->max_width = rect.Width();
        hints->height = hints->min_height = hints->max_height = rect.Height();
        XSetWMNormalHints(m_display, id, hints);
        XFree(hints);
    }

    void ApplyTitle(Window id, const std::string& title)
    {
        XStoreName(m_display, id, title.c_str());
        XChangeProperty(m_display, id, m_atoms[NET_WM_NAME_ATOM], m_atoms[UTF8_STRING_ATOM], 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XFlush(m_display);
    }

    void ApplyIcon(Window id, const std::vector<unsigned long>& data)
    {
        XChangeProperty(m_display, id, m_atoms[NET_WM_ICON_ATOM], XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    }

    // A client message about `window`, sent to `to` (the root: for the window manager).
    bool SendClientMessage(Window to, Window window, ::Atom type, std::initializer_list<long> data)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        std::copy(data.begin(), data.end(), event.xclient.data.l);
        long mask = to == m_root ? SubstructureRedirectMask | SubstructureNotifyMask : NoEventMask;
        bool sent = XSendEvent(m_display, to, False, mask, &event) != 0;
        XFlush(m_display);
        return sent;
    }

    std::vector<Window> Children(Window parent)
    {
        Window root, ancestor, *children = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        if (XQueryTree(m_display, parent, &root, &ancestor, &children, &count) && children)
            result.assign(children, children + count);
        if (children)
            XFree(children);
        return result;
    }

    std::string Text(Window window, ::Atom property, ::Atom type)
    {
        ::Atom actual;
        int format;
        unsigned long count = 0, remaining;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(m_display, window, property, 0, 1024, False, type, &actual, &format, &count, &remaining,
                               &data) == Success && data) {
            text.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        return text;
    }

    long WmState(Window window)
    {
        ::Atom type;
        int format;
        unsigned long count = 0, remaining;
        unsigned char* data = nullptr;
        long state = 0;
        if (XGetWindowProperty(m_display, window, m_atoms[WM_STATE_ATOM], 0, 2, False, AnyPropertyType, &type, &format,
                               &count, &remaining, &data) == Success && data) {
            if (count > 0)
                state = reinterpret_cast<long*>(data)[0];
            XFree(data);
        }
        return state;
    }

    bool Matches(Window window, const std::string& className, const std::string& title)
    {
        if (!title.empty() && Text(window, m_atoms[NET_WM_NAME_ATOM], m_atoms[UTF8_STRING_ATOM]) != title &&
            Text(window, XA_WM_NAME, XA_STRING) != title)
            return false;
        if (className.empty())
            return !title.empty();
        XClassHint hint{};
        if (!XGetClassHint(m_display, window, &hint))
            return false;
        bool same = hint.res_class && className == hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
        return same;
    }

    bool WindowManagerSupports(::Atom wanted)
    {
        ::Atom type;
        int format;
        unsigned long count = 0, remaining;
        unsigned char* data = nullptr;
        bool supported = false;
        if (XGetWindowProperty(m_display, m_root, m_atoms[NET_SUPPORTED_ATOM], 0, 4096, False, XA_ATOM, &type, &format,
                               &count, &remaining, &data) == Success && data) {
            auto* atoms = reinterpret_cast<::Atom*>(data);
            supported = std::find(atoms, atoms + count, wanted) != atoms + count;
            XFree(data);
        }
        return supported;
    }

    // While a move follows the pointer, the pointer's motion moves the window; the release ends it.
    bool FollowPointer(const XEvent& event)
    {
        std::optional<Move> move;
        int x = 0, y = 0;  // where the window goes
        {
            std::lock_guard lock(m_mutex);
            if (!m_move || event.xany.window != m_move->id || (event.type != MotionNotify && event.type != ButtonRelease))
                return false;
            move = m_move;
            // A grab lost without a release (the window hidden, another client's grab) ends the
            // move at the first motion without the button.
            const bool released = event.type == ButtonRelease || !(event.xmotion.state & Button1Mask);
            x = (event.type == ButtonRelease ? event.xbutton.x_root : event.xmotion.x_root) + move->offsetX;
            y = (event.type == ButtonRelease ? event.xbutton.y_root : event.xmotion.y_root) + move->offsetY;
            XMoveWindow(m_display, move->id, x, y);
            if (released) {
                XUngrabPointer(m_display, CurrentTime);
                m_move.reset();
            }
            XFlush(m_display);
        }
        DeliverMove(move->hWnd, x, y);
        return true;
    }

    void Handle(const XEvent& event)
    {
        if (FollowPointer(event))
            return;
        HWND hWnd = nullptr;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_handles.find(event.xany.window);
            if (it == m_handles.end())
                return;
            hWnd = it->second;
            // Destroyed by another client: nothing may be asked of that window any more, and the
            // window it showed is closed.
            if (event.type == DestroyNotify) {
                if (auto window = m_windows.find(hWnd); window != m_windows.end()) {
                    XFreeGC(m_display, window->second.gc);
                    XFreePixmap(m_display, window->second.background);
                }
                Forget(hWnd);
            }
        }
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
        case KeyPress: {
            KeySym key = XLookupKeysym(const_cast<XKeyEvent*>(&event.xkey), 0);
            if (key == XK_Escape)
                DeliverKey(hWnd, VK_ESCAPE);
            else if (key == XK_Return || key == XK_KP_Enter)
                DeliverKey(hWnd, VK_RETURN);
            break;
        }
        case ConfigureNotify: {
            Window child;
            int x = 0, y = 0;
            XTranslateCoordinates(m_display, event.xconfigure.window, m_root, 0, 0, &x, &y, &child);
            DeliverMove(hWnd, x, y);
            break;
        }
        case PropertyNotify:
            if (event.xproperty.atom == m_atoms[WM_STATE_ATOM])
                DeliverIconic(hWnd, WmState(event.xproperty.window) == kIconicState);
            break;
        case ClientMessage:
            // The window manager's close is the one message taken from other clients: anything
            // else they send (messages of the program's own type included) is no business of
            // this window.
            if (event.xclient.message_type == m_atoms[WM_PROTOCOLS_ATOM] && event.xclient.format == 32 &&
                static_cast<::Atom>(event.xclient.data.l[0]) == m_atoms[WM_DELETE_WINDOW_ATOM])
                PostMessage(hWnd, WM_CLOSE);
            break;
        default:
            break;
        }
    }

    Display* m_display;
    std::string m_className;
    Window m_root;
    Visual* m_visual;
    int m_depth;
    ::Atom m_atoms[ATOM_COUNT] = {};
    std::atomic<bool> m_lost{false};
    int m_wake[2] = {-1, -1};
    std::mutex m_mutex;
    std::map<HWND, WindowState> m_windows;
    std::map<Window, HWND> m_handles;
    std::map<HWND, std::string> m_titles;
    std::map<HWND, std::vector<unsigned long>> m_icons;
    std::optional<Move> m_move;
};

}  // namespace

std::unique_ptr<IScreen> OpenX11Screen()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    static std::once_flag threads;
    std::call_once(threads, [] { XInitThreads(); });
    Display* display = XOpenDisplay(name);
    if (!display)
        return nullptr;
    return std::make_unique<X11Screen>(display);
}
