// The window tree: windows made and destroyed, their links to parent, children and owner, their
// styles, texts, properties, geometry and visible and enabled states.

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "window/WindowData.h"
#include "window/WindowStyles.h"

using namespace window_internal;

namespace {

std::recursive_mutex g_tree;
std::set<HWND> g_windows;
// Windows that are gone: kept, so that their handles are never given to another window.
std::vector<std::unique_ptr<WindowData>> g_destroyed;

bool Visible(HWND hWnd)
{
    for (HWND w = hWnd; w; w = w->parent)
        if (!(w->style & WS_VISIBLE))
            return false;
    return true;
}

void MakeSurface(HWND hWnd)
{
    hWnd->surface = std::make_unique<CBitmap>();
    hWnd->surface->CreateBitmap(std::max(1, hWnd->rect.Width()), std::max(1, hWnd->rect.Height()));
}

void Unlink(HWND hWnd)
{
    if (hWnd->parent) {
        auto& siblings = hWnd->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
        InvalidateRect(hWnd->parent, &hWnd->rect, true);
    } else {
        GetScreen().Destroy(hWnd);
    }
}

// The handle's memory is never reused, so a handle kept after its window is gone never names
// another window; what the window held is released.
void Retire(HWND hWnd)
{
    g_windows.erase(hWnd);
    hWnd->surface.reset();
    hWnd->props.clear();
    hWnd->proc = nullptr;
    g_destroyed.emplace_back(hWnd);
}

// WM_NCCALCSIZE: the window says where its client area is within its new rectangle.
void RecalculateFrame(HWND hWnd, const RECT& old)
{
    RECT rect = hWnd->rect;
    NCCALCSIZE_PARAMS params{{rect, old, ClientRect(hWnd)}};
    SendMessage(hWnd, WM_NCCALCSIZE, 1, reinterpret_cast<LPARAM>(&params));
    const RECT& client = params.rgrc[0];
    hWnd->inset = {client.left - rect.left, client.top - rect.top, rect.right - client.right, rect.bottom - client.bottom};
    hWnd->frameInvalid = true;
}

}  // namespace

namespace window_internal {

std::recursive_mutex& TreeLock()
{
    return g_tree;
}

bool Alive(HWND hWnd)
{
    return hWnd && g_windows.count(hWnd) > 0;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    std::copy_if(g_windows.begin(), g_windows.end(), std::back_inserter(windows), [](HWND w) { return !w->parent; });
    return windows;
}

HWND TopLevel(HWND hWnd)
{
    while (hWnd && hWnd->parent)
        hWnd = hWnd->parent;
    return hWnd;
}

POINT SurfaceOrigin(HWND hWnd)
{
    POINT origin{hWnd->inset.left, hWnd->inset.top};
    for (HWND w = hWnd; w->parent; w = w->parent) {
        origin.x += w->rect.left + w->parent->inset.left;
        origin.y += w->rect.top + w->parent->inset.top;
    }
    return origin;
}

RECT ClientRect(HWND hWnd)
{
    return {0, 0, hWnd->rect.Width() - hWnd->inset.left - hWnd->inset.right,
            hWnd->rect.Height() - hWnd->inset.top - hWnd->inset.bottom};
}

RECT Intersect(const RECT& a, const RECT& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

RECT Union(const RECT& a, const RECT& b)
{
    if (IsEmptyRect(a))
        return b;
    if (IsEmptyRect(b))
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace window_internal

HWND CreateWindowEx(std::uint32_t exStyle, const std::string& className, const std::string& text, std::uint32_t style,
                    const RECT& rect, HWND parent, int id)
{
    std::lock_guard lock(g_tree);
    auto* w = new WindowData;
    w->className = className;
    w->classProc = ClassProcFor(className);
    w->text = text;
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    // A window that is no child of its "parent" is a top-level window owned by it.
    if (parent && !(style & WS_CHILD))
        std::swap(parent, w->owner);
    w->parent = parent;
    w->rect = rect;
    if (style & WS_BORDER)
        w->inset = {1, 1, 1, 1};
    g_windows.insert(w);
    if (parent) {
        parent->children.push_back(w);  // created windows go to the bottom of the z-order
    } else {
        MakeSurface(w);
        BecomeWindowThread();
    }
    SendMessage(w, WM_CREATE, 0, 0);
    if (style & WS_VISIBLE) {
        w->style &= ~WS_VISIBLE;
        ShowWindow(w, SW_SHOW);
    }
    return w;
}

bool DestroyWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!g_windows.count(hWnd))
        return false;
    // The windows it owns go first, as its boxes do on Windows.
    for (HWND owned : TopLevelWindows())
        if (owned->owner == hWnd)
            DestroyWindow(owned);
    SendMessage(hWnd, WM_DESTROY, 0, 0);
    while (!hWnd->children.empty())
        DestroyWindow(hWnd->children.front());
    Unlink(hWnd);
    ForgetInputTarget(hWnd);
    Retire(hWnd);
    return true;
}

bool IsWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) > 0;
}

void SetWindowProc(HWND hWnd, IWindowProc* proc)
{
    std::lock_guard lock(g_tree);
    if (g_windows.count(hWnd))
        hWnd->proc = proc;
}

HWND GetParent(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) ? hWnd->parent : nullptr;
}

HWND GetWindowOwner(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) ? hWnd->owner : nullptr;
}

HWND GetDlgItem(HWND hDlg, int id)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hDlg))
        return nullptr;
    for (HWND child : hDlg->children)
        if (child->id == id)
            return child;
    return nullptr;
}

int GetDlgCtrlID(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return Alive(hWnd) ? hWnd->id : 0;
}

HWND GetTopWindow(HWND hParent)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hParent))
        return nullptr;
    return hParent->children.empty() ? nullptr : hParent->children.front();
}

HWND GetNextWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return nullptr;
    if (!hWnd->parent)
        return nullptr;
    auto& siblings = hWnd->parent->children;
    auto it = std::find(siblings.begin(), siblings.end(), hWnd);
    return it == siblings.end() || it + 1 == siblings.end() ? nullptr : *(it + 1);
}

std::uint32_t GetWindowStyle(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return 0;
    return hWnd->style;
}

void ModifyStyle(HWND hWnd, std::uint32_t remove, std::uint32_t add)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return;
    hWnd->style = (hWnd->style & ~remove) | add;
}

std::string GetWindowText(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    return hWnd->text;
}

void SetWindowText(HWND hWnd, const std::string& text)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return;
    SendMessage(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (Alive(hWnd) && !hWnd->parent)
        GetScreen().SetTitle(hWnd, text);
}

bool SetProp(HWND hWnd, const std::string& name, void* value)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    hWnd->props[name] = value;
    return true;
}

void* GetProp(HWND hWnd, const std::string& name)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return nullptr;
    auto it = hWnd->props.find(name);
    return it == hWnd->props.end() ? nullptr : it->second;
}

bool ShowWindow(HWND hWnd, int command)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    bool wasVisible = hWnd->style & WS_VISIBLE;
    bool show = command != SW_HIDE;
    if (show == wasVisible)
        return wasVisible;
    hWnd->style = show ? (hWnd->style | WS_VISIBLE) : (hWnd->style & ~WS_VISIBLE);
    SendMessage(hWnd, WM_SHOWWINDOW, show, 0);
    if (!hWnd->parent) {
        GetScreen().Show(hWnd, hWnd->rect, show);
    } else if (!show) {
        InvalidateRect(hWnd->parent, &hWnd->rect, true);
    }
    if (show) {
        hWnd->frameInvalid = true;
        InvalidateRect(hWnd, nullptr, true);
    }
    return wasVisible;
}

bool IsWindowVisible(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) && Visible(hWnd);
}

bool EnableWindow(HWND hWnd, bool enable)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    bool wasDisabled = hWnd->style & WS_DISABLED;
    if (wasDisabled == !enable)
        return wasDisabled;
    hWnd->style = enable ? (hWnd->style & ~WS_DISABLED) : (hWnd->style | WS_DISABLED);
    if (!enable) {
        hWnd->pressed = false;
        DropCapture(hWnd);
    }
    SendMessage(hWnd, WM_ENABLE, enable, 0);
    return wasDisabled;
}

bool IsIconic(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return Alive(hWnd) && hWnd->iconic;
}

bool IsWindowEnabled(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    return !(hWnd->style & WS_DISABLED);
}

bool SetWindowPos(HWND hWnd, int x, int y, int width, int height, UINT flags)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    RECT old = hWnd->rect;
    RECT rect = old;
    if (!(flags & SWP_NOMOVE))
        rect = {x, y, x + rect.Width(), y + rect.Height()};
    if (!(flags & SWP_NOSIZE))
        rect = {rect.left, rect.top, rect.left + width, rect.top + height};
    hWnd->rect = rect;
    bool resized = rect.Width() != old.Width() || rect.Height() != old.Height();
    if (flags & SWP_FRAMECHANGED)
        RecalculateFrame(hWnd, old);
    if (!hWnd->parent) {
        if (resized)
            MakeSurface(hWnd);
        if (hWnd->style & WS_VISIBLE)
            GetScreen().Show(hWnd, rect, true);
    } else if (hWnd->style & WS_VISIBLE) {
        InvalidateRect(hWnd->parent, &old, true);
    }
    if (resized) {
        RECT client = ClientRect(hWnd);
        SendMessage(hWnd, WM_SIZE, 0, MAKELPARAM(client.Width(), client.Height()));
    }
    if (resized || (flags & SWP_FRAMECHANGED) || !(flags & SWP_NOMOVE))
        InvalidateRect(hWnd, nullptr, true);
    if (!(flags & SWP_NOZORDER))
        BringWindowToTop(hWnd);
    return true;
}

bool BringWindowToTop(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    if (hWnd->parent) {
        auto& siblings = hWnd->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
        siblings.insert(siblings.begin(), hWnd);
        InvalidateRect(hWnd, nullptr, true);
    } else if (hWnd->style & WS_VISIBLE) {
        GetScreen().Show(hWnd, hWnd->rect, true);
    }
    return true;
}

RECT GetClientRect(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    return ClientRect(hWnd);
}

RECT GetWindowRect(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    if (!hWnd->parent)
        return hWnd->rect;
    HWND top = TopLevel(hWnd);
    POINT origin = SurfaceOrigin(hWnd);
    int left = top->rect.left + origin.x - hWnd->inset.left, topEdge = top->rect.top + origin.y - hWnd->inset.top;
    return {left, topEdge, left + hWnd->rect.Width(), topEdge + hWnd->rect.Height()};
}

POINT ScreenToClient(HWND hWnd, POINT point)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return point;
    HWND top = TopLevel(hWnd);
    POINT origin = SurfaceOrigin(hWnd);
    return {point.x - top->rect.left - origin.x, point.y - top->rect.top - origin.y};
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
