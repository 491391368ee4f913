#include "window/x11/X11Screen.h"

#include "window/PlatformIdentity.h"
#include "window/Window.h"
#include "window/WindowStyles.h"
#include "window/x11/X11Connection.h"
#include "window/x11/X11Events.h"
#include "window/x11/X11Properties.h"
#include "window/x11/X11Surface.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr long kMoveResizeMove = 8;  // _NET_WM_MOVERESIZE_MOVE

// The program's top-level windows as X windows, kept under one lock: the screen is called from
// more than one thread.
class X11Screen : public IScreen {
public:
    explicit X11Screen(Display* display)
        : m_x(display, GetPlatformIdentity().messageAtom), m_className(GetPlatformIdentity().className)
    {
    }

    ~X11Screen() override
    {
        if (!m_x.Lost()) {
            for (auto& [hWnd, surface] : m_windows)
                FreeSurface(m_x, surface);
        }
    }

    bool HasDisplay() const override { return !m_x.Lost(); }

    void Show(HWND hWnd, const RECT& rect, bool visible) override
    {
        std::lock_guard lock(m_mutex);
        if (m_x.Lost())
            return;
        X11Surface& window = Create(hWnd, rect);
        if (!visible) {
            XUnmapWindow(m_x.display, window.id);
        } else {
            ResizeSurface(m_x, window, rect);
            XMoveResizeWindow(m_x.display, window.id, rect.left, rect.top, static_cast<unsigned>(rect.Width()),
                              static_cast<unsigned>(rect.Height()));
            SetFixedSize(m_x, window.id, rect);
            XMapRaised(m_x.display, window.id);
        }
        XFlush(m_x.display);
    }

    void SetTitle(HWND hWnd, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        m_titles[hWnd] = title;
        if (const X11Surface* window = Find(hWnd))
            SetTitleProperty(m_x, window->id, title);
    }

    void SetIcon(HWND hWnd, const CBitmap& icon) override
    {
        std::lock_guard lock(m_mutex);
        std::vector<unsigned long>& data = m_icons[hWnd];
        data = {static_cast<unsigned long>(icon.Width()), static_cast<unsigned long>(icon.Height())};
        for (int y = 0; y < icon.Height(); ++y)
            for (int x = 0; x < icon.Width(); ++x)
                data.push_back(icon.GetArgb(x, y));
        if (const X11Surface* window = Find(hWnd))
            SetIconProperty(m_x, window->id, data);
    }

    void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) override
    {
        std::lock_guard lock(m_mutex);
        if (const X11Surface* window = Find(hWnd); window && !surface.IsEmpty())
            PresentSurface(m_x, *window, surface, dirty);
    }

    void Destroy(HWND hWnd) override
    {
        std::lock_guard lock(m_mutex);
        if (const X11Surface* window = Find(hWnd)) {
            FreeSurface(m_x, *window);
            XFlush(m_x.display);
        }
        Forget(hWnd);
    }

    RECT WorkArea() override
    {
        int screen = DefaultScreen(m_x.display);
        return {0, 0, DisplayWidth(m_x.display, screen), DisplayHeight(m_x.display, screen)};
    }

    // Asks the window manager to move the window; without one that can, follows the pointer
    // from the event loop until the button is released. Either way it returns at once.
    void BeginMove(HWND hWnd, int x, int y) override
    {
        std::lock_guard lock(m_mutex);
        const X11Surface* window = Find(hWnd);
        if (!window)
            return;
        const Window id = window->id;
        Window child;
        int rootX = 0, rootY = 0;
        XTranslateCoordinates(m_x.display, id, m_x.root, x, y, &rootX, &rootY, &child);
        if (WindowManagerSupports(m_x, m_x.AtomOf(NET_WM_MOVERESIZE_ATOM))) {
            XUngrabPointer(m_x.display, CurrentTime);
            // The last 1: the request comes from a normal application.
            m_x.SendClientMessage(m_x.root, id, m_x.AtomOf(NET_WM_MOVERESIZE_ATOM),
                                  {rootX, rootY, kMoveResizeMove, Button1, 1});
            return;
        }
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_x.display, id, &attributes) ||
            XGrabPointer(m_x.display, id, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync, GrabModeAsync,
                         None, None, CurrentTime) != GrabSuccess)
            return;
        m_move = Move{hWnd, id, attributes.x - rootX, attributes.y - rootY};
    }

    std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) override
    {
        std::lock_guard lock(m_mutex);
        return m_x.Lost() ? 0 : FindTopLevel(m_x, className, title);
    }

    void ActivateForeignWindow(std::uint64_t window) override
    {
        std::lock_guard lock(m_mutex);
        if (m_x.Lost())
            return;
        XRaiseWindow(m_x.display, window);
        m_x.SendClientMessage(m_x.root, window, m_x.AtomOf(NET_ACTIVE_WINDOW_ATOM), {1});  // 1: from an application
    }

    bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        std::lock_guard lock(m_mutex);
        if (m_x.Lost())
            return false;
        return m_x.SendClientMessage(window, window, m_x.AtomOf(PROGRAM_MESSAGE_ATOM),
                                     {static_cast<long>(message), static_cast<long>(wParam), static_cast<long>(lParam)});
    }

    bool WaitForInput(int milliseconds) override
    {
        return m_x.Dispatch(milliseconds, [this](const XEvent& event) { Handle(event); });
    }

    void Wake() override { m_x.Wake(); }

private:
    // A move that follows the pointer: the window's corner is the pointer plus the offset.
    struct Move {
        HWND hWnd;
        Window id;
        int offsetX, offsetY;
    };

    // The window's surface while the display is there (the lock held).
    X11Surface* Find(HWND hWnd)
    {
        auto it = m_windows.find(hWnd);
        return it == m_windows.end() || m_x.Lost() ? nullptr : &it->second;
    }

    X11Surface& Create(HWND hWnd, const RECT& rect)
    {
        if (X11Surface* window = Find(hWnd))
            return *window;
        const X11Surface surface = CreateSurface(m_x, rect, kX11EventMask);
        DescribeWindow(m_x, surface.id, (GetWindowStyle(hWnd) & WS_CAPTION) == WS_CAPTION, m_className);
        if (const X11Surface* owner = Find(GetWindowOwner(hWnd)))
            SetOwnerWindow(m_x, surface.id, owner->id);
        SetFixedSize(m_x, surface.id, rect);
        m_handles[surface.id] = hWnd;
        if (auto title = m_titles.find(hWnd); title != m_titles.end())
            SetTitleProperty(m_x, surface.id, title->second);
        if (auto icon = m_icons.find(hWnd); icon != m_icons.end())
            SetIconProperty(m_x, surface.id, icon->second);
        return m_windows[hWnd] = surface;
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
            XMoveWindow(m_x.display, move->id, x, y);
            if (released) {
                XUngrabPointer(m_x.display, CurrentTime);
                m_move.reset();
            }
            XFlush(m_x.display);
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
                if (const X11Surface* window = Find(hWnd))
                    FreeSurface(m_x, *window, true);
                Forget(hWnd);
            }
        }
        DeliverEvent(m_x, hWnd, event);
    }

    X11Connection m_x;
    std::string m_className;
    std::mutex m_mutex;
    std::map<HWND, X11Surface> m_windows;
    std::map<Window, HWND> m_handles;
    std::map<HWND, std::string> m_titles;
    std::map<HWND, std::vector<unsigned long>> m_icons;
    std::optional<Move> m_move;
};

}  // namespace

std::unique_ptr<IScreen> OpenX11Screen(const std::string& displayName)
{
    if (displayName.empty())
        return nullptr;
    static std::once_flag threads;
    std::call_once(threads, [] { XInitThreads(); });
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display)
        return nullptr;
    return std::make_unique<X11Screen>(display);
}
