#pragma once
// Controls that look transparent: a marked control asks its parent, every time it draws, for the
// piece of the parent's background that lies under it; the parent redraws the marked controls
// whenever its background changes.

#include "window/Window.h"

inline constexpr UINT WM_TRANSPARENT_BK = 0x07FD;           // wParam the control's CDC*, lParam its window
inline constexpr UINT WM_TRANSPARENT_SKIPREFRESH = 0x1095;  // an answer of 1 leaves the control out
inline constexpr const char* kTransparentTag = "###tranparentctrl_tag###";

// The control's side, embedded in every transparent control.
class CTransparentHelper {
public:
    virtual ~CTransparentHelper() = default;

    // Records the control's window and marks it, unless it is marked already.
    void Attach(HWND hWnd);
    // Fills the DC with the parent's background under the control: the parent's answer to
    // WM_TRANSPARENT_BK, or else its WM_ERASEBKGND painting.
    void PaintBackground(CDC* dc) const;

    HWND m_hCtrlWnd = nullptr;
};

// The parent's side: copies the part of the parent's background (in `source`, may be null)
// that lies under the child into the child's DC at (0, 0).
void DrawParentBackground(HWND hChild, const CDC* source, CDC* childDc);
// Makes every visible marked child redraw itself with erasing.
void RefreshTransparentChildren(HWND hParent);
