#pragma once
// What the X11 screen hears of its windows, and what each event becomes for the window: mouse
// and key messages, moves, minimising, and the window manager's close.

#include "window/WindowMessages.h"
#include "window/x11/X11Connection.h"

// The events the screen selects on each of its windows.
inline constexpr long kX11EventMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask |
                                      KeyPressMask | StructureNotifyMask | PropertyChangeMask;

// Hands the event, which came for the top-level window hWnd, to the window.
void DeliverEvent(const X11Connection& x, HWND hWnd, const XEvent& event);
