// Painting: what is invalid, merged into one update rectangle a window; the paint of a window and
// its children into the top-level window's surface, at most once a paint interval; and the
// surface handed to the screen.

#include <algorithm>
#include <atomic>
#include <utility>

#include "window/WindowData.h"
#include "window/WindowStyles.h"

using namespace window_internal;

namespace {

std::chrono::steady_clock::time_point g_lastPaint;
// An invalidation woke the window thread and no paint pass has ended since.
std::atomic<bool> g_paintWakePending{false};

// A rectangle of the window's client area in its top-level window's surface.
RECT InSurface(const RECT& area, POINT origin)
{
    return {area.left + origin.x, area.top + origin.y, area.right + origin.x, area.bottom + origin.y};
}

// What the window painted over `area` may have covered its children there.
void InvalidateChildrenUnder(HWND hWnd, const RECT& area)
{
    for (HWND child : hWnd->children) {
        RECT under = Intersect(area, child->rect);
        if (!IsEmptyRect(under) && (child->style & WS_VISIBLE)) {
            RECT local{under.left - child->rect.left - child->inset.left, under.top - child->rect.top - child->inset.top,
                       under.right - child->rect.left, under.bottom - child->rect.top};
            InvalidateRect(child, &local, true);
        }
    }
}

// WM_ERASEBKGND and WM_PAINT where the window is invalid; adds what was painted to `dirty`.
void PaintClient(HWND hWnd, RECT& dirty)
{
    POINT origin = SurfaceOrigin(hWnd);
    RECT area = Intersect(hWnd->update, ClientRect(hWnd));
    hWnd->invalid = false;
    bool erase = std::exchange(hWnd->erase, false);
    if (IsEmptyRect(area))
        return;
    RECT clip = InSurface(area, origin);
    CDC dc(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
    if (erase)
        SendMessage(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(&dc), 0);
    SendMessage(hWnd, WM_PAINT, 0, 0);
    dirty = Union(dirty, clip);
    InvalidateChildrenUnder(hWnd, area);
}

// Paints the window where it is invalid, then its children, into the top-level surface.
void PaintTree(HWND hWnd, RECT& dirty)
{
    if (!(hWnd->style & WS_VISIBLE))
        return;
    if (hWnd->frameInvalid) {
        hWnd->frameInvalid = false;
        SendMessage(hWnd, WM_NCPAINT, 1, 0);
    }
    if (hWnd->invalid)
        PaintClient(hWnd, dirty);
    // Bottom of the z-order first, so that upper siblings end on top.
    for (auto it = hWnd->children.rbegin(); it != hWnd->children.rend(); ++it)
        PaintTree(*it, dirty);
}

bool NeedsPaint(HWND hWnd)
{
    if (!(hWnd->style & WS_VISIBLE))
        return false;
    if (hWnd->invalid || hWnd->frameInvalid)
        return true;
    return std::any_of(hWnd->children.begin(), hWnd->children.end(), NeedsPaint);
}

// Paints the window's tree and presents what changed, once the window is shown.
void PaintTopLevel(HWND top)
{
    RECT dirty{};
    PaintTree(top, dirty);
    // Cleared once painted, under the tree lock: what the paint itself invalidated (the children
    // under a painted area) was painted with it, and what another thread invalidates from now on
    // wakes the window thread again.
    g_paintWakePending = false;
    top->dirty = Union(top->dirty, dirty);
    if (!IsEmptyRect(top->dirty) && (top->style & WS_VISIBLE)) {
        GetScreen().Present(top, *top->surface, top->dirty);
        top->dirty = {};
    }
}

}  // namespace

namespace window_internal {

void PaintAll(bool force)
{
    std::lock_guard lock(TreeLock());
    auto now = std::chrono::steady_clock::now();
    if (!force && now - g_lastPaint < kPaintInterval)
        return;
    bool painted = false;
    for (HWND w : TopLevelWindows()) {
        if (Alive(w) && NeedsPaint(w)) {
            PaintTopLevel(w);
            painted = true;
        }
    }
    g_paintWakePending = false;  // also when nothing shown was invalid: a hidden window may be shown next
    if (painted)
        g_lastPaint = now;
}

bool AnyInvalid()
{
    if (g_paintWakePending)
        return true;  // the pass that clears it is due within a paint interval
    std::lock_guard lock(TreeLock());
    auto windows = TopLevelWindows();
    return std::any_of(windows.begin(), windows.end(), NeedsPaint);
}

}  // namespace window_internal

bool InvalidateRect(HWND hWnd, const RECT* rect, bool erase)
{
    {
        std::lock_guard lock(TreeLock());
        if (!Alive(hWnd))
            return false;
        RECT area = rect ? *rect : ClientRect(hWnd);
        hWnd->update = hWnd->invalid ? Union(hWnd->update, area) : area;
        hWnd->invalid = true;
        hWnd->erase = hWnd->erase || erase;
    }
    // The window thread was woken for a paint still to come, which covers this area too: a
    // progress bar moved block by block wakes it once a frame, not once a block.
    if (!g_paintWakePending.exchange(true))
        Wake();
    return true;
}

void UpdateWindow(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    if (Alive(hWnd) && NeedsPaint(TopLevel(hWnd)))
        PaintTopLevel(TopLevel(hWnd));
}

std::unique_ptr<CDC> BeginPaint(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    if (!Alive(hWnd))
        return std::make_unique<CDC>();
    POINT origin = SurfaceOrigin(hWnd);
    RECT clip = InSurface(Intersect(hWnd->update, ClientRect(hWnd)), origin);
    return std::make_unique<CDC>(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
}

std::unique_ptr<CDC> GetDC(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    if (!Alive(hWnd))
        return std::make_unique<CDC>();
    POINT origin = SurfaceOrigin(hWnd);
    RECT clip = InSurface(ClientRect(hWnd), origin);
    return std::make_unique<CDC>(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
}

const CBitmap* GetWindowSurface(HWND hWnd)
{
    std::lock_guard lock(TreeLock());
    return Alive(hWnd) ? TopLevel(hWnd)->surface.get() : nullptr;
}
