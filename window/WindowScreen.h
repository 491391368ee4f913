#pragma once
// The screen top-level windows are shown on, as the windows see it: what a screen does for them
// (IScreen, which the X11 screen and the offscreen screen implement), which screen is in use, and
// the calls through which a screen reports back to the windows.

#include <cstdint>
#include <memory>
#include <string>

#include "window/Gdi.h"
#include "window/WindowMessages.h"

// The screen a top-level window is shown on: the display, or none.
class IScreen {
public:
    virtual ~IScreen() = default;
    // Whether anyone can see the windows (false too once the display is lost).
    virtual bool HasDisplay() const = 0;
    virtual void Show(HWND hWnd, const RECT& screenRect, bool visible) = 0;
    virtual void SetTitle(HWND hWnd, const std::string& title) = 0;
    // The window's surface changed within `dirty`: one copy to the screen, which shows these
    // pixels from now on by itself (when the window is mapped or uncovered).
    virtual void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) = 0;
    virtual void Destroy(HWND hWnd) = 0;
    // The area windows are centred in.
    virtual RECT WorkArea() = 0;
    // Moves the window with the mouse, as if its caption had been grabbed at (x, y) of its client.
    // Returns at once; the move goes on while the message loop runs.
    virtual void BeginMove(HWND hWnd, int x, int y) = 0;
    // The window's icon (ARGB pixels).
    virtual void SetIcon(HWND hWnd, const CBitmap& icon) = 0;
    // Top-level windows of any program on the screen, by the class part of their class name and
    // by their title (an empty text matches any); 0 when there is none.
    virtual std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) = 0;
    // Raises the window and makes it the active one.
    virtual void ActivateForeignWindow(std::uint64_t window) = 0;
    // Queues a message for the window's program.
    virtual bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Waits up to `milliseconds` for input and turns it into messages; false when none came.
    virtual bool WaitForInput(int milliseconds) = 0;
    // Wakes a WaitForInput from another thread.
    virtual void Wake() = 0;
};

// The screen for top-level windows from now on (the offscreen screen unless set); returns the
// one set before, if any.
std::unique_ptr<IScreen> SetScreen(std::unique_ptr<IScreen> screen);
// A screen without a display: windows exist only as their surfaces.
std::unique_ptr<IScreen> MakeOffscreenScreen();
IScreen& GetScreen();
// The screen set, or null while none is (GetScreen then makes the offscreen one).
IScreen* CurrentScreen();

// Input from the screen, in client coordinates of the top-level window.
void DeliverMouse(HWND topLevel, UINT message, int x, int y);
void DeliverKey(HWND topLevel, WPARAM key);
// The screen moved the window (a drag): its new top-left corner in screen coordinates.
void DeliverMove(HWND topLevel, int x, int y);
// The screen minimised the window, or showed it again.
void DeliverIconic(HWND topLevel, bool iconic);
