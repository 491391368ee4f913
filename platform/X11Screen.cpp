#include "platform/X11Screen.h"

#include "platform/WindowStyles.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask |
                            KeyPressMask | StructureNotifyMask | PropertyChangeMask;
constexpr long kIconicState = 3;  // WM_STATE's state when the window manager shows the window as an icon
constexpr long kMoveResizeMove = 8;  // _NET_WM_MOVERESIZE_MOVE

class X11Screen : public IScreen {
public:
    bool HasDisplay() const override { return true; }

    explicit X11Screen(Display* display) : m_display(display)
    {
        m_root = DefaultRootWindow(display);
        m_visual = DefaultVisual(display, DefaultScreen(display));
        m_depth = DefaultDepth(display, DefaultScreen(display));
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
    }

    ~X11Screen() override
    {
        for (auto& [hWnd, window] : m_windows)
            XDestroyWindow(m_display, window.id);
        XCloseDisplay(m_display);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }

    void Show(HWND hWnd, const RECT& rect, bool visible) override
    {
        std::lock_guard lock(m_mutex);
        Window id = Create(hWnd, rect);
        if (!visible) {
            XUnmapWindow(m_display, id);
        } else {
            XMoveResizeWindow(m_display, id, rect.left, rect.top, static_cast<unsigned>(rect.Width()),
                              static_cast<unsigned>(rect.Height()));
            SetFixedSize(id, rect);
            XMapRaised(m_display, id);
        }
        XFlush(m_display);
    }

    void SetTitle(HWND hWnd, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        m_titles[hWnd] = title;
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end())
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
        if (it != m_windows.end())
            ApplyIcon(it->second.id, data);
    }

    void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(hWnd);
        if (it == m_windows.end() || surface.IsEmpty())
            return;
        CBitmap::PixelData pixels = surface.Pixels();
        XImage* image = XCreateImage(m_display, m_visual, static_cast<unsigned>(m_depth), ZPixmap, 0,
                                     reinterpret_cast<char*>(pixels.data), static_cast<unsigned>(pixels.width),
                                     static_cast<unsigned>(pixels.height), 32, pixels.stride);
        if (!image)
            return;
        RECT area{std::max(0, dirty.left), std::max(0, dirty.top), std::min(pixels.width, dirty.right),
                  std::min(pixels.height, dirty.bottom)};
        if (area.Width() > 0 && area.Height() > 0)
            XPutImage(m_display, it->second.id, it->second.gc, image, area.left, area.top, area.left, area.top,
                      static_cast<unsigned>(area.Width()), static_cast<unsigned>(area.Height()));
        image->data = nullptr;  // the surface keeps its pixels
        XDestroyImage(image);
        XFlush(m_display);
    }

    void Destroy(HWND hWnd) override
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(hWnd);
        if (it == m_windows.end())
            return;
        XFreeGC(m_display, it->second.gc);
        XDestroyWindow(m_display, it->second.id);
        m_handles.erase(it->second.id);
        m_windows.erase(it);
        m_titles.erase(hWnd);
        m_icons.erase(hWnd);
        XFlush(m_display);
    }

    RECT WorkArea() override
    {
        int screen = DefaultScreen(m_display);
        return {0, 0, DisplayWidth(m_display, screen), DisplayHeight(m_display, screen)};
    }

    void BeginMove(HWND hWnd, int x, int y) override
    {
        Window id;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_windows.find(hWnd);
            if (it == m_windows.end())
                return;
            id = it->second.id;
        }
        Window child;
        int rootX = 0, rootY = 0;
        XTranslateCoordinates(m_display, id, m_root, x, y, &rootX, &rootY, &child);
        if (WindowManagerSupports("_NET_WM_MOVERESIZE"))
            AskWindowManagerToMove(id, rootX, rootY);
        else
            MoveWithPointer(hWnd, id, rootX, rootY);
    }

    std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        // Window managers put top-level windows into frames: one level down is looked at too.
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
        XRaiseWindow(m_display, window);
        SendClientMessage(m_root, window, "_NET_ACTIVE_WINDOW", {1});  // 1: from an application
    }

    bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        std::lock_guard lock(m_mutex);
        return SendClientMessage(window, window, "KESU_MESSAGE",
                                 {static_cast<long>(message), static_cast<long>(wParam), static_cast<long>(lParam)});
    }

    bool WaitForInput(int milliseconds) override
    {
        if (!XPending(m_display)) {
            fd_set read;
            FD_ZERO(&read);
            int connection = ConnectionNumber(m_display);
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
        while (XPending(m_display)) {
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
    };

    Window Create(HWND hWnd, const RECT& rect)
    {
        auto it = m_windows.find(hWnd);
        if (it != m_windows.end())
            return it->second.id;
        XSetWindowAttributes attributes{};
        attributes.event_mask = kEventMask;
        attributes.background_pixmap = None;
        Window id = XCreateWindow(m_display, m_root, rect.left, rect.top, static_cast<unsigned>(std::max(1, rect.Width())),
                                  static_cast<unsigned>(std::max(1, rect.Height())), 0, m_depth, InputOutput, m_visual,
                                  CWEventMask | CWBackPixmap, &attributes);
        // Without a caption no decorations: such a window is all skin.
        if ((GetWindowStyle(hWnd) & WS_CAPTION) != WS_CAPTION) {
            struct {
                unsigned long flags, functions, decorations;
                long inputMode;
                unsigned long status;
            } motif{2, 0, 0, 0, 0};
            XChangeProperty(m_display, id, Intern("_MOTIF_WM_HINTS"), Intern("_MOTIF_WM_HINTS"), 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&motif), 5);
        }
        XClassHint classHint{const_cast<char*>("KesuUpdate"), const_cast<char*>("KesuUpdate")};
        XSetClassHint(m_display, id, &classHint);
        ::Atom deleteWindow = Intern("WM_DELETE_WINDOW");
        XSetWMProtocols(m_display, id, &deleteWindow, 1);
        long pid = static_cast<long>(::getpid());
        XChangeProperty(m_display, id, Intern("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&pid), 1);
        SetFixedSize(id, rect);
        m_windows[hWnd] = {id, XCreateGC(m_display, id, 0, nullptr)};
        m_handles[id] = hWnd;
        if (auto title = m_titles.find(hWnd); title != m_titles.end())
            ApplyTitle(id, title->second);
        if (auto icon = m_icons.find(hWnd); icon != m_icons.end())
            ApplyIcon(id, icon->second);
        return id;
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
        XChangeProperty(m_display, id, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XFlush(m_display);
    }

    void ApplyIcon(Window id, const std::vector<unsigned long>& data)
    {
        XChangeProperty(m_display, id, Intern("_NET_WM_ICON"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    }

    ::Atom Intern(const char* name) { return XInternAtom(m_display, name, False); }

    // A client message about `window`, sent to `to` (the root: for the window manager).
    bool SendClientMessage(Window to, Window window, const char* type, std::initializer_list<long> data)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = Intern(type);
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
        if (XGetWindowProperty(m_display, window, Intern("WM_STATE"), 0, 2, False, AnyPropertyType, &type, &format,
                               &count, &remaining, &data) == Success && data) {
            if (count > 0)
                state = reinterpret_cast<long*>(data)[0];
            XFree(data);
        }
        return state;
    }

    bool Matches(Window window, const std::string& className, const std::string& title)
    {
        if (!title.empty() && Text(window, Intern("_NET_WM_NAME"), Intern("UTF8_STRING")) != title &&
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

    bool WindowManagerSupports(const char* name)
    {
        ::Atom type;
        int format;
        unsigned long count = 0, remaining;
        unsigned char* data = nullptr;
        bool supported = false;
        if (XGetWindowProperty(m_display, m_root, Intern("_NET_SUPPORTED"), 0, 4096, False, XA_ATOM, &type, &format,
                               &count, &remaining, &data) == Success && data) {
            ::Atom wanted = Atom(name);
            auto* atoms = reinterpret_cast<::Atom*>(data);
            supported = std::find(atoms, atoms + count, wanted) != atoms + count;
            XFree(data);
        }
        return supported;
    }

    void AskWindowManagerToMove(Window id, int rootX, int rootY)
    {
        XUngrabPointer(m_display, CurrentTime);
        // The last 1: the request comes from a normal application.
        SendClientMessage(m_root, id, "_NET_WM_MOVERESIZE", {rootX, rootY, kMoveResizeMove, Button1, 1});
    }

    // Without a window manager that moves windows: follow the pointer until the button is released.
    void MoveWithPointer(HWND hWnd, Window id, int rootX, int rootY)
    {
        XWindowAttributes attributes;
        XGetWindowAttributes(m_display, id, &attributes);
        const int startX = attributes.x, startY = attributes.y;
        if (XGrabPointer(m_display, id, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync, GrabModeAsync, None,
                         None, CurrentTime) != GrabSuccess)
            return;
        for (;;) {
            XEvent event;
            XMaskEvent(m_display, ButtonReleaseMask | PointerMotionMask, &event);
            int x = event.type == MotionNotify ? event.xmotion.x_root : event.xbutton.x_root;
            int y = event.type == MotionNotify ? event.xmotion.y_root : event.xbutton.y_root;
            XMoveWindow(m_display, id, startX + x - rootX, startY + y - rootY);
            DeliverMove(hWnd, startX + x - rootX, startY + y - rootY);
            if (event.type == ButtonRelease)
                break;
        }
        XUngrabPointer(m_display, CurrentTime);
        XFlush(m_display);
    }

    void Handle(const XEvent& event)
    {
        HWND hWnd = nullptr;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_handles.find(event.xany.window);
            if (it == m_handles.end())
                return;
            hWnd = it->second;
        }
        switch (event.type) {
        case Expose:
            DeliverExpose(hWnd, {event.xexpose.x, event.xexpose.y, event.xexpose.x + event.xexpose.width,
                                 event.xexpose.y + event.xexpose.height});
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
            if (event.xproperty.atom == Intern("WM_STATE"))
                DeliverIconic(hWnd, WmState(event.xproperty.window) == kIconicState);
            break;
        case ClientMessage:
            if (event.xclient.message_type == Intern("KESU_MESSAGE"))
                PostMessage(hWnd, static_cast<UINT>(event.xclient.data.l[0]), static_cast<WPARAM>(event.xclient.data.l[1]),
                            static_cast<LPARAM>(event.xclient.data.l[2]));
            else if (static_cast<::Atom>(event.xclient.data.l[0]) == Intern("WM_DELETE_WINDOW"))
                PostMessage(hWnd, WM_CLOSE);
            break;
        default:
            break;
        }
    }

    Display* m_display;
    Window m_root;
    Visual* m_visual;
    int m_depth;
    int m_wake[2] = {-1, -1};
    std::mutex m_mutex;
    std::map<HWND, WindowState> m_windows;
    std::map<Window, HWND> m_handles;
    std::map<HWND, std::string> m_titles;
    std::map<HWND, std::vector<unsigned long>> m_icons;
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
