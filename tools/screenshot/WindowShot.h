#pragma once
// What an X server shows of a window, taken as a bitmap: the screenshot tool saves it, and the
// tests compare it with what the program drew.

#include <X11/Xlib.h>

#include "window/Gdi.h"

// The pixels the server shows within `area` of the window (in its own coordinates) into `shot`;
// false when the server cannot give them (the window is gone or not shown, or the area is
// outside it).
bool TakeWindowShot(Display* display, Window window, const RECT& area, CBitmap& shot);
// The whole window.
bool TakeWindowShot(Display* display, Window window, CBitmap& shot);

// How many pixels of `area` of the shot differ from those of `expected` at the same place, moved
// by (expectedX, expectedY).
int CountDifferences(const CBitmap& shot, const CBitmap& expected, const RECT& area, int expectedX = 0,
                     int expectedY = 0);
