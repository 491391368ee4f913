#pragma once
// What the window files of the platform layer share, and nothing outside them includes: a
// window's data, the lock that guards it, and the few calls one part of the windows makes into
// another (the tree, the queue, painting, the classes, input, the screen).

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "window/Window.h"

// A window class's processing of the messages the window's own procedure leaves to it.
using ClassProc = LRESULT (*)(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

struct WindowData {
    std::string className;
    ClassProc classProc = nullptr;  // chosen by class name when the window is made
    std::string text;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int id = 0;
    HWND parent = nullptr;
    HWND owner = nullptr;        // top-level windows: the window this one belongs to (a box's window)
    std::vector<HWND> children;  // top of the z-order first
    RECT rect;                   // in the parent's client coordinates; the screen's for top-level windows
    RECT inset;                  // the non-client margins: client rectangle within the window rectangle
    std::map<std::string, void*> props;
    IWindowProc* proc = nullptr;
    const CFont* font = nullptr;

    bool iconic = false;
    bool invalid = false;
    bool erase = false;
    bool frameInvalid = false;
    RECT update;  // in client coordinates

    // Class state.
    int progressLow = 0, progressHigh = 100, progressPos = 0;
    bool pressed = false;

    std::unique_ptr<CBitmap> surface;  // top-level windows
    RECT dirty;                        // of the surface, not yet presented
};

namespace window_internal {

// The tree (WindowTree.cpp). One recursive lock guards every window and the links between them:
// handlers run under it and call the window functions again.
std::recursive_mutex& TreeLock();
// Whether the handle names a window that still exists (the tree lock held).
bool Alive(HWND hWnd);
// The windows without a parent, in a copy that destroying windows leaves alone.
std::vector<HWND> TopLevelWindows();
HWND TopLevel(HWND hWnd);
// The window's client origin within its top-level window's surface.
POINT SurfaceOrigin(HWND hWnd);
RECT ClientRect(HWND hWnd);

inline bool IsEmptyRect(const RECT& r)
{
    return r.left >= r.right || r.top >= r.bottom;
}
RECT Intersect(const RECT& a, const RECT& b);
RECT Union(const RECT& a, const RECT& b);

// The queue (WindowQueue.cpp).
// Wakes the window thread: something was queued or became invalid.
void Wake();
// Top-level windows belong to the thread that makes them: it is the window thread from now on.
void BecomeWindowThread();

// Painting (WindowPaint.cpp). The loop paints at most once a paint interval.
inline constexpr auto kPaintInterval = std::chrono::milliseconds(16);
// Paints every top-level window that needs it; at most once a paint interval unless forced.
void PaintAll(bool force);
bool AnyInvalid();

// The classes (WindowClasses.cpp): the processing of the window's class, by its name.
ClassProc ClassProcFor(const std::string& className);

// Input (WindowInput.cpp), under the tree lock.
bool HasCapture(HWND hWnd);
// The window no longer takes the mouse while a button is held on it.
void DropCapture(HWND hWnd);
// The window is going: input no longer goes to it, nor is it told when the mouse leaves it.
void ForgetInputTarget(HWND hWnd);

}  // namespace window_internal
