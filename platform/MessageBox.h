#pragma once
// A message box with an OK button. Without a display it writes one line to standard error —
// the caption, a colon, a blank and the text — and returns as if OK had been pressed.

inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

int MessageBox(const char* lpszText, const char* lpszCaption, unsigned nType);
