// The screen the windows are shown on: the one set, or the offscreen screen, where windows exist
// only as their surfaces; and what the windows ask of the screen directly.

#include "window/WindowData.h"

using namespace window_internal;

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
    // No input ever comes: what wakes the loop is a message queued for it.
    bool WaitForInput(int milliseconds) override
    {
        WaitForQueued(milliseconds);
        return false;
    }
    void Wake() override { WakeQueueWaiters(); }
};

std::unique_ptr<IScreen> g_screen;

}  // namespace

namespace window_internal {

IScreen* CurrentScreen()
{
    return g_screen.get();
}

}  // namespace window_internal

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

std::uint64_t FindWindow(const std::string& className, const std::string& title)
{
    return GetScreen().FindForeignWindow(className, title);
}

// The size of an icon as windows draw it.
int GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}
