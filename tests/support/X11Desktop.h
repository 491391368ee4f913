#pragma once
// An X server seen from a test's own connection, as a user or a window manager sees it: windows
// found by their name, closed, typed into; and a real window manager to run on it.

#include <X11/Xlib.h>
#include <string>
#include <sys/types.h>
#include <utility>

// From now on a request about a window that went away fails quietly instead of ending the test:
// other programs' windows come and go while a test looks at them.
void TolerateVanishingWindows();

// A top-level window by its name (WM_NAME), looking one level into window-manager frames; 0 when
// there is none.
Window FindByName(Display* display, const std::string& name);
bool IsShown(Display* display, Window window);
// The top-left corner of a window on the screen.
std::pair<int, int> Position(Display* display, Window window);
// Asks the window to close, as a window manager's close button does.
void CloseWindow(Display* display, Window window);
// A key press sent to the window, as the keyboard would send it.
void PressKey(Display* display, Window window, KeySym key);

// openbox on the display named by DISPLAY, stopped when the object goes; it manages the windows
// once the constructor returns.
class Openbox {
public:
    // Throws std::runtime_error when openbox does not come up.
    explicit Openbox(Display* display);
    ~Openbox();
    Openbox(const Openbox&) = delete;
    Openbox& operator=(const Openbox&) = delete;

private:
    pid_t m_pid = -1;
};

bool OpenboxInstalled();
