#pragma once
// The X11 screen: top-level windows as X windows without decorations, their surfaces shown with
// one copy, mouse and keyboard input turned into messages, and moves by the window manager or,
// where it cannot move windows, by following the pointer.

#include <memory>

#include "window/WindowScreen.h"

// The display named by DISPLAY, or nothing when DISPLAY is unset or empty or cannot be opened.
std::unique_ptr<IScreen> OpenX11Screen();
