#pragma once
// A message box with an OK button. With a display it is a modal window: its owner (may be null)
// is disabled while it is open, and the caller, on any thread, waits until it is dismissed.
// The box belongs to its owner: it goes when the owner goes, and ends when the message loop ends.
// Without a display, or once the message loop has ended, it writes one line to standard error —
// the caption, a colon, a blank and the text — and returns as if OK had been pressed.

#include "window/Window.h"

inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

int MessageBox(HWND hOwner, const char* lpszText, const char* lpszCaption, unsigned nType);
