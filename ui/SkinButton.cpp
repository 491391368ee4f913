#include "ui/SkinButton.h"

#include "window/WindowStyles.h"
#include "res/Resources.h"

void CSkinButton::PreSubclassWindow()
{
    CButton::PreSubclassWindow();
    ModifyStyle(0, BS_OWNERDRAW);
    m_transparent.Attach(m_hWnd);
    LoadBitmap(m_bmpSkin, IDB_CANCEL_BUTTON);
    SetWindowPos(0, 0, m_bmpSkin.Width() / 4, m_bmpSkin.Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CSkinButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        OnMouseMove();
        return Default();
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSELEAVE:
        return OnMouseLeave();
    default:
        return CButton::OnMessage(message, wParam, lParam);
    }
}

void CSkinButton::OnMouseMove()
{
    if (m_bHover)
        return;
    m_bHover = TrackMouseLeave(m_hWnd);
    Invalidate(false);
}

LRESULT CSkinButton::OnMouseLeave()
{
    m_bHover = false;
    Invalidate(false);
    return 0;
}

void CSkinButton::DrawItem(DRAWITEMSTRUCT* item)
{
    CDC* dc = item->hDC;
    m_transparent.PaintBackground(dc);
    const int frameWidth = m_bmpSkin.Width() / 4, frameHeight = m_bmpSkin.Height();
    int frame = 0;
    if (item->itemState & ODS_DISABLED)
        frame = 3;
    else if (item->itemState & ODS_SELECTED)
        frame = 2;
    else if (m_bHover)
        frame = 1;
    CDC strip;
    strip.SelectObject(&m_bmpSkin);
    dc->TransparentBlt(0, 0, item->rcItem.Width(), item->rcItem.Height(), &strip, frame * frameWidth, 0, frameWidth,
                       frameHeight, kSkinKeyColour);

    // A button with a caption of its own draws it over the frame, pushed in while pressed.
    const std::string text = GetWindowText();
    if (!text.empty()) {
        RECT rect = item->rcItem;
        if (item->itemState & ODS_SELECTED)
            rect = {rect.left + 1, rect.top + 1, rect.right + 1, rect.bottom + 1};
        dc->SetBkMode(TRANSPARENT);
        const CFont* oldFont = dc->SelectFont(reinterpret_cast<const CFont*>(SendMessage(WM_GETFONT)));
        dc->DrawText(text, rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        dc->SelectFont(oldFont);
    }
}
