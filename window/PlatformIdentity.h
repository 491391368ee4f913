#pragma once
// The words of the program that the window half shows or answers to. The program sets them once
// at start-up, before the screen is opened and before any window exists; until then, and in
// programs that never set them, neutral ones stand.

#include <string>

struct PlatformIdentity {
    // The class of every top-level window (WM_CLASS on X11, the window class on Windows), which
    // other programs find it by.
    std::string className = "PlatformWindow";
    // The type of the client messages PostForeignMessage sends, which the receiver listens for.
    std::string messageAtom = "WINDOW_MESSAGE";
    // The text of a message box's button.
    std::string okText = "OK";
    // The font families the program's text is drawn in: those of a font made without a family
    // (the message boxes' among them), and those a dialog template's face falls back on.
    std::string fontFamilies = "Sans";
};

void SetPlatformIdentity(PlatformIdentity identity);
const PlatformIdentity& GetPlatformIdentity();
