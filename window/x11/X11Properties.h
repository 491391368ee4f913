#pragma once
// The properties of top-level windows: what the program's windows tell the window manager about
// themselves, and what is read of other programs' windows to find one of them.

#include <string>
#include <vector>

#include "window/Gdi.h"
#include "window/x11/X11Connection.h"

// What a new window says about itself: no decorations unless `decorated` (such a window is all
// skin), its class, that the window manager closes it by asking, and the process it belongs to.
void DescribeWindow(const X11Connection& x, Window id, bool decorated, const std::string& className);
// A box belongs to its owner's window: window managers keep it above the owner and give it the
// owner's close instead.
void SetOwnerWindow(const X11Connection& x, Window id, Window owner);
// Where the window is and that its size is fixed, so that window managers place it there.
void SetFixedSize(const X11Connection& x, Window id, const RECT& rect);
void SetTitleProperty(const X11Connection& x, Window id, const std::string& title);
// The icon as _NET_WM_ICON has it: width, height, then ARGB pixels row by row.
void SetIconProperty(const X11Connection& x, Window id, const std::vector<unsigned long>& icon);

// The state in WM_STATE of a window the window manager shows as an icon.
inline constexpr long kIconicState = 3;
// The window's WM_STATE; 0 when it has none.
long WmState(const X11Connection& x, Window id);
bool WindowManagerSupports(const X11Connection& x, ::Atom wanted);
// A top-level window of any program by the class part of its class name and by its title (an
// empty text matches any), looking one level into window-manager frames; 0 when there is none.
Window FindTopLevel(const X11Connection& x, const std::string& className, const std::string& title);
