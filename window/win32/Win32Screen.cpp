#include "window/win32/Win32Screen.h"

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "window/PlatformIdentity.h"
#include "window/Window.h"
#include "window/WindowStyles.h"
#include "window/win32/NativeWindows.h"

namespace {

namespace native = native_windows;

native::Box ToBox(const RECT& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

// The program's top-level windows as native windows. A native window belongs to the thread that
// made the screen (the window thread); what another thread asks of one is done there, the next
// time that thread waits for input.
class Win32Screen : public IScreen, private native::ISink {
public:
    Win32Screen() : m_wake(native::CreateWakeEvent()), m_thread(native::CurrentThread()) {}

    bool HasDisplay() const override { return true; }
    void Show(HWND hWnd, const RECT& rect, bool visible) override
    {
        OnWindowThread([this, hWnd, rect, visible] {
            if (void* window = Create(hWnd))
                native::Place(window, ToBox(rect), visible);
        });
    }
    void SetTitle(HWND hWnd, const std::string& title) override
    {
        OnWindowThread([this, hWnd, title] {
            m_titles[hWnd] = title;
            if (void* window = Find(hWnd))
                native::SetTitle(window, title);
        });
    }
    void SetIcon(HWND hWnd, const CBitmap& icon) override
    {
        std::vector<std::uint32_t> argb;
        for (int y = 0; y < icon.Height(); ++y)
            for (int x = 0; x < icon.Width(); ++x)
                argb.push_back(icon.GetArgb(x, y));
        OnWindowThread([this, hWnd, argb, width = icon.Width(), height = icon.Height()] {
            m_icons[hWnd] = {argb, width, height};
            if (void* window = Find(hWnd))
                native::SetIcon(window, argb.data(), width, height);
        });
    }
    void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) override
    {
        std::lock_guard lock(m_mutex);
        if (void* window = FindLocked(hWnd); window && !surface.IsEmpty()) {
            const CBitmap::PixelData pixels = surface.Pixels();
            native::Present(window, pixels.data, pixels.stride, pixels.width, pixels.height, ToBox(dirty));
        }
    }
    void Destroy(HWND hWnd) override
    {
        OnWindowThread([this, hWnd] {
            void* window = nullptr;
            {
                std::lock_guard lock(m_mutex);
                if (auto it = m_windows.find(hWnd); it != m_windows.end()) {
                    window = it->second;
                    m_windows.erase(it);
                }
            }
            m_titles.erase(hWnd);
            m_icons.erase(hWnd);
            if (window)
                native::Destroy(window);
        });
    }
    RECT WorkArea() override
    {
        const native::Box area = native::WorkArea();
        return {area.left, area.top, area.right, area.bottom};
    }
    void BeginMove(HWND hWnd, int x, int y) override
    {
        OnWindowThread([this, hWnd, x, y] {
            if (void* window = Find(hWnd))
                native::BeginMove(window, x, y);
        });
    }
    std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) override
    {
        return native::Find(className, title);
    }
    void ActivateForeignWindow(std::uint64_t window) override { native::Activate(window); }
    bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return native::Post(window, message, wParam, lParam);
    }
    bool WaitForInput(int milliseconds) override
    {
        if (RunQueued())
            return true;
        return native::Wait(m_wake, milliseconds) | RunQueued();
    }
    void Wake() override { native::Wake(m_wake); }

private:
    struct Icon {
        std::vector<std::uint32_t> argb;
        int width = 0, height = 0;
    };

    void OnMouse(void* key, unsigned message, int x, int y) override
    {
        DeliverMouse(static_cast<HWND>(key), message, x, y);
    }
    void OnKey(void* key, unsigned virtualKey) override { DeliverKey(static_cast<HWND>(key), virtualKey); }
    void OnMoved(void* key, int x, int y) override { DeliverMove(static_cast<HWND>(key), x, y); }
    void OnIconic(void* key, bool iconic) override { DeliverIconic(static_cast<HWND>(key), iconic); }
    void OnCloseRequest(void* key) override { PostMessage(static_cast<HWND>(key), WM_CLOSE); }

    // Runs the work now on the window thread, else queues it for that thread and wakes it.
    void OnWindowThread(std::function<void()> work)
    {
        if (native::CurrentThread() == m_thread) {
            RunQueued();  // what other threads asked for first, in order
            work();
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_queued.push_back(std::move(work));
        }
        native::Wake(m_wake);
    }
    bool RunQueued()
    {
        std::vector<std::function<void()>> queued;
        {
            std::lock_guard lock(m_mutex);
            queued.swap(m_queued);
        }
        for (auto& work : queued)
            work();
        return !queued.empty();
    }

    void* FindLocked(HWND hWnd) const
    {
        auto it = m_windows.find(hWnd);
        return it == m_windows.end() ? nullptr : it->second;
    }
    void* Find(HWND hWnd)
    {
        std::lock_guard lock(m_mutex);
        return FindLocked(hWnd);
    }
    // The window's native window, made on first use with its title and icon (the window thread).
    void* Create(HWND hWnd)
    {
        if (void* window = Find(hWnd))
            return window;
        if (!IsWindow(hWnd))
            return nullptr;  // gone before its queued work came: handles are never used again
        const bool caption = (GetWindowStyle(hWnd) & WS_CAPTION) == WS_CAPTION;
        void* window = native::Create(hWnd, this, GetPlatformIdentity().className, caption, Find(GetWindowOwner(hWnd)));
        if (!window)
            return nullptr;
        if (auto title = m_titles.find(hWnd); title != m_titles.end())
            native::SetTitle(window, title->second);
        if (auto icon = m_icons.find(hWnd); icon != m_icons.end())
            native::SetIcon(window, icon->second.argb.data(), icon->second.width, icon->second.height);
        std::lock_guard lock(m_mutex);
        return m_windows[hWnd] = window;
    }

    void* m_wake;
    unsigned long m_thread;
    std::mutex m_mutex;  // the windows' table and the queued work
    std::map<HWND, void*> m_windows;
    std::vector<std::function<void()>> m_queued;
    // Window thread only.
    std::map<HWND, std::string> m_titles;
    std::map<HWND, Icon> m_icons;
};

}  // namespace

std::unique_ptr<IScreen> OpenWin32Screen()
{
    return std::make_unique<Win32Screen>();
}
