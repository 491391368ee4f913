#pragma once
// The Windows screen: top-level windows as USER windows without a frame (a message box's with
// a caption), their surfaces shown with one copy, mouse and keyboard input turned into messages,
// and moves that follow the pointer.

#include <memory>

#include "window/WindowScreen.h"

// The screen of the desktop the program runs on; null when no window can be made there.
std::unique_ptr<IScreen> OpenWin32Screen();
