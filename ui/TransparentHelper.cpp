#include "ui/TransparentHelper.h"

void CTransparentHelper::Attach(HWND hWnd)
{
    m_hCtrlWnd = hWnd;
    if (!GetProp(hWnd, kTransparentTag))
        SetProp(hWnd, kTransparentTag, hWnd);
}

void CTransparentHelper::PaintBackground(CDC* dc) const
{
    HWND parent = GetParent(m_hCtrlWnd);
    if (!SendMessage(parent, WM_TRANSPARENT_BK, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_hCtrlWnd)))
        SendMessage(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
}

void DrawParentBackground(HWND hChild, const CDC* source, CDC* childDc)
{
    RECT screen = GetWindowRect(hChild);
    HWND parent = GetParent(hChild);
    POINT topLeft = ScreenToClient(parent, {screen.left, screen.top});
    POINT bottomRight = ScreenToClient(parent, {screen.right, screen.bottom});
    if (source)
        childDc->BitBlt(0, 0, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, source, topLeft.x, topLeft.y);
}

void RefreshTransparentChildren(HWND hParent)
{
    for (HWND child = GetTopWindow(hParent); child; child = GetNextWindow(child)) {
        if (!IsWindowVisible(child) || !GetProp(child, kTransparentTag))
            continue;
        if (SendMessage(child, WM_TRANSPARENT_SKIPREFRESH, 0, 0) == 1)
            continue;
        InvalidateRect(child, nullptr, true);
    }
}
