// The window classes: the default processing of a plain window, and the built-in controls (push
// and owner-drawn buttons, owner-drawn text, progress bars) found by class name in one table.

#include <algorithm>

#include "window/MessageBox.h"
#include "window/WindowData.h"
#include "window/WindowStyles.h"

using namespace window_internal;

namespace {

// What every window does with the messages its procedure leaves to it.
LRESULT PlainWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETTEXT: {
        // The same text again changes nothing on screen: a worker that repeats its status
        // costs no paint.
        const char* text = reinterpret_cast<const char*>(lParam);
        if (hWnd->text != text) {
            hWnd->text = text;
            InvalidateRect(hWnd, nullptr, true);
        }
        return 1;
    }
    case WM_ENABLE:
        InvalidateRect(hWnd, nullptr, true);
        return 0;
    case WM_ERASEBKGND:
        reinterpret_cast<CDC*>(wParam)->FillSolidRect(ClientRect(hWnd), RGB(240, 240, 240));
        return 1;
    case WM_NCPAINT:
        if (hWnd->inset.left > 0) {
            POINT origin = SurfaceOrigin(hWnd);
            RECT frame{origin.x - hWnd->inset.left, origin.y - hWnd->inset.top, origin.x - hWnd->inset.left + hWnd->rect.Width(),
                       origin.y - hWnd->inset.top + hWnd->rect.Height()};
            CDC dc(TopLevel(hWnd)->surface.get(), 0, 0, frame);
            dc.FillSolidRect(frame, RGB(100, 100, 100));
        }
        return 0;
    case WM_NCCALCSIZE:
        if (wParam) {
            auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
            int border = (hWnd->style & WS_BORDER) ? 1 : 0;
            params->rgrc[0] = {params->rgrc[0].left + border, params->rgrc[0].top + border,
                               params->rgrc[0].right - border, params->rgrc[0].bottom - border};
        }
        return 0;
    case WM_DRAWITEM:
        // Handed back to the control that asked, as the framework reflects it.
        return SendMessage(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem, WM_REFLECT_DRAWITEM, wParam, lParam);
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_NCLBUTTONDOWN:
        if (wParam == HTCAPTION && !hWnd->parent)
            GetScreen().BeginMove(hWnd, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE && !hWnd->parent)
            SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_SETFONT:
        hWnd->font = reinterpret_cast<const CFont*>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(hWnd->font);
    case WM_SETICON:
        if (!hWnd->parent && wParam == ICON_BIG && lParam)
            GetScreen().SetIcon(hWnd, *reinterpret_cast<const CBitmap*>(lParam));
        return 0;
    default:
        return 0;
    }
}

// An owner-drawn control is drawn by its parent, which WM_DRAWITEM asks.
void PaintThroughParent(HWND hWnd, UINT controlType)
{
    std::unique_ptr<CDC> dc = BeginPaint(hWnd);
    DRAWITEMSTRUCT item{controlType,
                        static_cast<UINT>(hWnd->id),
                        (hWnd->pressed ? ODS_SELECTED : 0u) | ((hWnd->style & WS_DISABLED) ? ODS_DISABLED : 0u),
                        hWnd,
                        dc.get(),
                        ClientRect(hWnd)};
    if (hWnd->parent)
        SendMessage(hWnd->parent, WM_DRAWITEM, static_cast<WPARAM>(hWnd->id), reinterpret_cast<LPARAM>(&item));
}

// A push button as the system draws it: a framed face with its text in the middle.
void PaintPushButton(HWND hWnd)
{
    std::unique_ptr<CDC> dc = BeginPaint(hWnd);
    RECT r = ClientRect(hWnd);
    dc->FillSolidRect(r, RGB(0x70, 0x70, 0x70));
    dc->FillSolidRect({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                      hWnd->pressed ? RGB(0xC4, 0xD6, 0xEA) : RGB(0xE1, 0xE1, 0xE1));
    dc->SetBkMode(TRANSPARENT);
    dc->SelectFont(hWnd->font);
    dc->SetTextColor((hWnd->style & WS_DISABLED) ? RGB(0x8C, 0x8C, 0x8C) : RGB(0, 0, 0));
    dc->DrawText(hWnd->text, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// The button's own behaviour with the mouse: pressed while the left button is held on it; a
// release over it is a click.
LRESULT ButtonMouse(HWND hWnd, UINT message, LPARAM lParam)
{
    auto inside = [&] {
        RECT r = ClientRect(hWnd);
        int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    switch (message) {
    case WM_LBUTTONDOWN:
        hWnd->pressed = true;
        SetCapture(hWnd);
        InvalidateRect(hWnd, nullptr, true);
        return 0;
    case WM_MOUSEMOVE:
        if (HasCapture(hWnd) && hWnd->pressed != inside()) {
            hWnd->pressed = inside();
            InvalidateRect(hWnd, nullptr, true);
        }
        return 0;
    case WM_LBUTTONUP:
        if (HasCapture(hWnd)) {
            bool clicked = inside();
            hWnd->pressed = false;
            ReleaseCapture();
            InvalidateRect(hWnd, nullptr, true);
            if (clicked && hWnd->parent)
                SendMessage(hWnd->parent, WM_COMMAND, MAKEWPARAM(hWnd->id, BN_CLICKED), reinterpret_cast<LPARAM>(hWnd));
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT ButtonProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if ((hWnd->style & BS_TYPEMASK) == BS_OWNERDRAW)
            PaintThroughParent(hWnd, ODT_BUTTON);
        else
            PaintPushButton(hWnd);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        // A disabled button takes no clicks.
        return (hWnd->style & WS_DISABLED) ? 0 : ButtonMouse(hWnd, message, lParam);
    default:
        return PlainWindowProc(hWnd, message, wParam, lParam);
    }
}

LRESULT StaticProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT && (hWnd->style & SS_TYPEMASK) == SS_OWNERDRAW) {
        PaintThroughParent(hWnd, ODT_STATIC);
        return 0;
    }
    return PlainWindowProc(hWnd, message, wParam, lParam);
}

int ClampToRange(int value, int low, int high)
{
    return std::clamp(value, std::min(low, high), std::max(low, high));
}

// A new range takes the position along into it; the bar is repainted only when either changed.
LRESULT SetProgressRange(HWND hWnd, int low, int high)
{
    LRESULT previous = MAKELPARAM(hWnd->progressLow, hWnd->progressHigh);
    int pos = ClampToRange(hWnd->progressPos, low, high);
    if (low != hWnd->progressLow || high != hWnd->progressHigh || pos != hWnd->progressPos) {
        hWnd->progressLow = low;
        hWnd->progressHigh = high;
        hWnd->progressPos = pos;
        InvalidateRect(hWnd, nullptr, true);
    }
    return previous;
}

LRESULT SetProgressPos(HWND hWnd, int pos)
{
    int previous = hWnd->progressPos;
    pos = ClampToRange(pos, hWnd->progressLow, hWnd->progressHigh);
    if (pos != previous) {
        hWnd->progressPos = pos;
        InvalidateRect(hWnd, nullptr, true);
    }
    return previous;
}

LRESULT ProgressProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case PBM_SETRANGE32:
        return SetProgressRange(hWnd, static_cast<int>(wParam), static_cast<int>(lParam));
    case PBM_SETPOS:
        return SetProgressPos(hWnd, static_cast<int>(wParam));
    case PBM_GETPOS:
        return hWnd->progressPos;
    case PBM_GETRANGE:
        return wParam ? hWnd->progressLow : hWnd->progressHigh;
    default:
        return PlainWindowProc(hWnd, message, wParam, lParam);
    }
}

}  // namespace

namespace window_internal {

ClassProc ClassProcFor(const std::string& className)
{
    // The classes with behaviour of their own; any other name is a plain window.
    static const std::map<std::string, ClassProc> classes = {
        {"Button", ButtonProc},
        {"Static", StaticProc},
        {"msctls_progress32", ProgressProc},
    };
    auto it = classes.find(className);
    return it == classes.end() ? PlainWindowProc : it->second;
}

}  // namespace window_internal

LRESULT DefWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(TreeLock());
    return hWnd->classProc(hWnd, message, wParam, lParam);
}

bool GetProgressState(HWND hWnd, int& low, int& high, int& pos)
{
    std::lock_guard lock(TreeLock());
    if (!Alive(hWnd) || hWnd->classProc != ProgressProc)
        return false;
    low = hWnd->progressLow, high = hWnd->progressHigh, pos = hWnd->progressPos;
    return true;
}
