#pragma once
// The X11 screen: top-level windows as X windows without decorations, their surfaces shown with
// one copy, mouse and keyboard input turned into messages, and moves by the window manager or,
// where it cannot move windows, by following the pointer.

#include <memory>
#include <string>

#include "window/WindowScreen.h"

// The display of that name (as DISPLAY gives it), or nothing when the name is empty or the display
// cannot be opened.
std::unique_ptr<IScreen> OpenX11Screen(const std::string& displayName);
