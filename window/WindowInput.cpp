// Input as the screen reports it, delivered to the windows: the mouse to the window that holds
// the capture or else the one under it, one WM_MOUSELEAVE for a tracked window, keys to the
// top-level window, and the moves and minimising the screen did by itself.

#include <utility>

#include "window/WindowData.h"
#include "window/WindowStyles.h"

using namespace window_internal;

namespace {

// Both under the tree lock.
HWND g_capture = nullptr;
HWND g_tracked = nullptr;

// The deepest visible child under a point of the window's client area, or the window itself;
// the point becomes the child's.
HWND ChildAt(HWND hWnd, POINT& point)
{
    for (HWND child : hWnd->children) {
        const RECT& r = child->rect;
        if ((child->style & WS_VISIBLE) && point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom) {
            point = {point.x - r.left - child->inset.left, point.y - r.top - child->inset.top};
            return ChildAt(child, point);
        }
    }
    return hWnd;
}

}  // namespace

namespace window_internal {

bool HasCapture(HWND hWnd)
{
    return g_capture == hWnd;
}

void DropCapture(HWND hWnd)
{
    if (g_capture == hWnd)
        g_capture = nullptr;
}

void ForgetInputTarget(HWND hWnd)
{
    DropCapture(hWnd);
    if (g_tracked == hWnd)
        g_tracked = nullptr;
}

}  // namespace window_internal

void SetCapture(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    g_capture = hWnd;
}

void ReleaseCapture()
{
    std::lock_guard lock(TreeLock());
    g_capture = nullptr;
}

bool TrackMouseLeave(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    if (!Alive(hWnd))
        return false;
    g_tracked = hWnd;
    return true;
}

void DeliverMouse(HWND topLevel, UINT message, int x, int y)
{
    std::lock_guard lock(TreeLock());
    // A disabled window (one that a modal box owns) takes no input, nor do its children.
    if (!Alive(topLevel) || (topLevel->style & WS_DISABLED))
        return;
    POINT point{x, y};
    HWND target = topLevel;
    if (message == WM_MOUSELEAVE) {
        target = nullptr;
    } else if (Alive(g_capture)) {
        target = g_capture;
        point = ScreenToClient(target, {topLevel->rect.left + x, topLevel->rect.top + y});
    } else {
        target = ChildAt(topLevel, point);
    }
    if (g_tracked && g_tracked != target) {
        HWND left = std::exchange(g_tracked, nullptr);
        SendMessage(left, WM_MOUSELEAVE, 0, 0);
    }
    if (target && !(target->style & WS_DISABLED))
        SendMessage(target, message, 0, MAKELPARAM(point.x, point.y));
}

void DeliverKey(HWND topLevel, WPARAM key)
{
    if (IsWindow(topLevel) && IsWindowEnabled(topLevel))
        SendMessage(topLevel, WM_KEYDOWN, key, 0);
}

void DeliverMove(HWND topLevel, int x, int y)
{
    std::lock_guard lock(TreeLock());
    if (Alive(topLevel) && !topLevel->parent)
        topLevel->rect = {x, y, x + topLevel->rect.Width(), y + topLevel->rect.Height()};
}

void DeliverIconic(HWND topLevel, bool iconic)
{
    {
        std::lock_guard lock(TreeLock());
        if (!Alive(topLevel) || topLevel->iconic == iconic)
            return;
        topLevel->iconic = iconic;
    }
    InvalidateRect(topLevel, nullptr, true);
}
