#include "ui/SkinStatic.h"

#include "window/WindowStyles.h"

void CSkinStatic::PreSubclassWindow()
{
    CStatic::PreSubclassWindow();
    m_transparent.Attach(m_hWnd);
    ModifyStyle(0, SS_OWNERDRAW);
}

LRESULT CSkinStatic::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;  // the background comes from the parent when drawing
    return CStatic::OnMessage(message, wParam, lParam);
}

void CSkinStatic::DrawItem(DRAWITEMSTRUCT* item)
{
    CDC* dc = item->hDC;
    m_transparent.PaintBackground(dc);
    const std::string text = GetWindowText();
    const RECT rect = GetClientRect();
    dc->SetBkMode(TRANSPARENT);
    const CFont* oldFont = dc->SelectFont(reinterpret_cast<const CFont*>(SendMessage(WM_GETFONT)));
    COLORREF oldColor = dc->SetTextColor(m_crText);
    dc->DrawText(text, rect, DT_SINGLELINE);
    dc->SetTextColor(oldColor);
    dc->SelectFont(oldFont);
}
