#pragma once
// Messages: the types they travel in, their numbers and the codes and flags that go with them,
// with their Windows values, and the structures some of them point to. The style bits of
// windows and controls are in WindowStyles.h.

#include <cstdint>

#include "window/Gdi.h"

using UINT = unsigned;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct WindowData;
using HWND = WindowData*;

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_DRAWITEM = 0x002B;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_NCCALCSIZE = 0x0083;
inline constexpr UINT WM_NCPAINT = 0x0085;
inline constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_MOUSELEAVE = 0x02A3;
inline constexpr UINT WM_USER = 0x0400;
// WM_DRAWITEM as the parent hands it back to the control it came from.
inline constexpr UINT WM_REFLECT_DRAWITEM = 0x2000 + WM_DRAWITEM;
inline constexpr UINT PBM_SETPOS = WM_USER + 2;
inline constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
inline constexpr UINT PBM_GETRANGE = WM_USER + 7;
inline constexpr UINT PBM_GETPOS = WM_USER + 8;

// WM_SETICON: which of the window's icons.
inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;
// WM_NCLBUTTONDOWN: where in the window the button went down.
inline constexpr WPARAM HTCAPTION = 2;
// WM_COMMAND from a button.
inline constexpr WPARAM BN_CLICKED = 0;
// WM_KEYDOWN: the keys windows react to.
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;

// WM_DRAWITEM: the control's state and kind.
inline constexpr UINT ODS_SELECTED = 0x0001;
inline constexpr UINT ODS_DISABLED = 0x0004;
inline constexpr UINT ODT_BUTTON = 4;
inline constexpr UINT ODT_STATIC = 5;

// SetWindowPos: what to leave as it is, and what else to do.
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_FRAMECHANGED = 0x0020;
inline constexpr UINT SWP_NOCOPYBITS = 0x0100;
// ShowWindow.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// GetSystemMetrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

constexpr LPARAM MAKELPARAM(int low, int high)
{
    return static_cast<LPARAM>((static_cast<std::uint32_t>(high) & 0xFFFF) << 16 | (static_cast<std::uint32_t>(low) & 0xFFFF));
}
constexpr WPARAM MAKEWPARAM(int low, int high)
{
    return static_cast<WPARAM>(MAKELPARAM(low, high));
}
constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<std::int16_t>(l & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<std::int16_t>((l >> 16) & 0xFFFF); }

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemState;
    HWND hwndItem;
    CDC* hDC;
    RECT rcItem;
};

// Parameters of WM_NCCALCSIZE with wParam TRUE: rgrc[0] the proposed window rectangle, which the
// handler turns into the client rectangle; rgrc[2] the valid source area.
struct NCCALCSIZE_PARAMS {
    RECT rgrc[3];
};
