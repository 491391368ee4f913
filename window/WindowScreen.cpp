// The screen the windows are shown on: the one set, or the offscreen screen, where windows exist
// only as their surfaces; and what the windows ask of the screen directly.

#include "window/WindowScreen.h"

#include <condition_variable>
#include <mutex>

namespace {

class OffscreenScreen : public IScreen {
public:
    bool HasDisplay() const override { return false; }
    void Show(HWND, const RECT&, bool) override {}
    void SetTitle(HWND, const std::string&) override {}
    void Present(HWND, const CBitmap&, const RECT&) override {}
    void Destroy(HWND) override {}
    RECT WorkArea() override { return {0, 0, 1024, 768}; }
    void BeginMove(HWND, int, int) override {}
    void SetIcon(HWND, const CBitmap&) override {}
    std::uint64_t FindForeignWindow(const std::string&, const std::string&) override { return 0; }
    void ActivateForeignWindow(std::uint64_t) override {}
    bool PostForeignMessage(std::uint64_t, UINT, WPARAM, LPARAM) override { return false; }
    // No input ever comes: what wakes the loop is a message queued for it, whose queueing calls
    // Wake. A wake before the wait is kept for it; the first wait returns at once, as a message
    // may have been queued before this screen existed.
    bool WaitForInput(int milliseconds) override
    {
        std::unique_lock lock(m_mutex);
        m_woken.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bWoken; });
        m_bWoken = false;
        return false;
    }
    void Wake() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_bWoken = true;
        }
        m_woken.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_bWoken = true;
};

std::unique_ptr<IScreen> g_screen;

}  // namespace

IScreen* CurrentScreen()
{
    return g_screen.get();
}

std::unique_ptr<IScreen> SetScreen(std::unique_ptr<IScreen> screen)
{
    std::swap(g_screen, screen);
    return screen;
}

std::unique_ptr<IScreen> MakeOffscreenScreen()
{
    return std::make_unique<OffscreenScreen>();
}

IScreen& GetScreen()
{
    if (!g_screen)
        g_screen = std::make_unique<OffscreenScreen>();
    return *g_screen;
}
