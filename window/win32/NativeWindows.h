#pragma once
// The USER calls the Windows screen makes, in the program's plain types: this header stands
// between <windows.h> and the window headers, whose names (HWND, RECT, the WM_ messages) Windows'
// header defines otherwise. Only NativeWindows.cpp includes <windows.h>. Message numbers are
// Windows' own on both sides.
//
// A native window shows the pixels last presented to it, by itself, and reports its input to a
// sink under the key it was made with. It belongs to the thread that made it: that thread makes,
// places, titles and destroys it and waits for its input (Wait); Present, Wake and the calls on
// other programs' windows may come from any thread.

#include <cstdint>
#include <string>

namespace native_windows {

struct Box {
    int left, top, right, bottom;
};

// Where a native window's input goes, on the thread that waits for it.
class ISink {
public:
    // Mouse messages (WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_MOUSELEAVE) in client
    // coordinates; the keys are VK_RETURN and VK_ESCAPE.
    virtual void OnMouse(void* key, unsigned message, int x, int y) = 0;
    virtual void OnKey(void* key, unsigned virtualKey) = 0;
    // The client area's new top-left corner in screen coordinates.
    virtual void OnMoved(void* key, int x, int y) = 0;
    virtual void OnIconic(void* key, bool iconic) = 0;
    // The user asked to close the window (its system menu, Alt+F4).
    virtual void OnCloseRequest(void* key) = 0;

protected:
    ~ISink() = default;
};

// A hidden top-level window of the class, without a frame, or with a caption when `caption`
// (its client area then is the rectangle Place gives); owned by `owner` when not null. Null when
// it cannot be made.
void* Create(void* key, ISink* sink, const std::string& className, bool caption, void* owner);
// The client area at `screen`, shown or hidden.
void Place(void* window, const Box& screen, bool visible);
void SetTitle(void* window, const std::string& title);
// The icon from rows of 0xAARRGGBB pixels, not premultiplied.
void SetIcon(void* window, const std::uint32_t* argb, int width, int height);
// Copies the rows of 32-bit xRGB pixels within `dirty` (pixel coordinates) into what the
// window shows, and has that much repainted.
void Present(void* window, const unsigned char* rows, int stride, int width, int height, const Box& dirty);
void Destroy(void* window);
Box WorkArea();
// Moves the window with the mouse as if grabbed at (x, y) of its client, until the button goes up.
void BeginMove(void* window, int x, int y);

// Top-level windows of any program by class and title (empty: any); 0 when none.
std::uint64_t Find(const std::string& className, const std::string& title);
void Activate(std::uint64_t window);
bool Post(std::uint64_t window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

// Waiting for input: an event that wakes Wait from any thread.
void* CreateWakeEvent();
void Wake(void* event);
// Waits up to `milliseconds` for input or a wake and dispatches what came; false when nothing did.
bool Wait(void* wakeEvent, int milliseconds);
unsigned long CurrentThread();

}  // namespace native_windows
