#pragma once
// Windows and messages: a tree of windows with the Windows contracts the program relies on.
// This is the header callers include; it brings the messages (WindowMessages.h) and the screen
// (WindowScreen.h) along. The style bits are in WindowStyles.h.
//
// Threads. One thread owns the windows and runs the message loop. Another thread may send
// messages to them: the sender waits until the message has been handled, as on Windows. The
// tree is guarded by one lock, so a message that only changes a window's state (its text,
// range, position, enabled state) is handled under that lock in the sender's own thread; what
// paints or talks to the screen always runs on the window thread. PostMessage queues.
//
// Painting. Invalidation records an update rectangle (with or without erasing); the loop
// paints what is invalid, WM_NCPAINT, WM_ERASEBKGND, WM_PAINT, then the children, into the
// top-level window's surface, and hands the surface to the screen with one copy. Setting a
// window's text, or a progress bar's range or position, to what it already has invalidates
// nothing, so it paints nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "window/Gdi.h"
#include "window/WindowMessages.h"
#include "window/WindowScreen.h"

struct POINT {
    int x = 0, y = 0;
};

// Whoever handles a window's messages: the program's window objects. Without one, a window gets
// its class's default processing.
//
// State messages (WM_SETTEXT, WM_ENABLE, WM_GETFONT and the progress bar's PBM_ messages) sent
// from another thread are handled on the sender's thread, under the tree lock, while the window
// thread goes on: their handlers only change or read the window's state and must not send a
// message themselves, which could wait for a window thread that is waiting for that lock.
class IWindowProc {
public:
    virtual LRESULT WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~IWindowProc() = default;
};

// Window classes with behaviour of their own: "Button" (owner-drawn push buttons: pressed state,
// clicks as WM_COMMAND), "Static" (owner-drawn text) and "msctls_progress32" (range and position).
// Any other class name is a plain window.
HWND CreateWindowEx(std::uint32_t exStyle, const std::string& className, const std::string& text,
                    std::uint32_t style, const RECT& rect, HWND parent, int id);
bool DestroyWindow(HWND hWnd);
bool IsWindow(HWND hWnd);

// Routes the window's messages to `proc` (nullptr: back to default processing).
void SetWindowProc(HWND hWnd, IWindowProc* proc);
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
bool PostMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// The class's default processing of a message.
LRESULT DefWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the work on the window thread: at once when called there, else queued, the caller
// waiting until it is done. False, and the work not done, once the message loop has ended.
bool RunOnWindowThread(const std::function<void()>& work);

// Runs the message loop of the calling thread until PostQuitMessage; returns its exit code.
int RunMessageLoop();
// Handles what is queued and paints what is invalid, without waiting; false once WM_QUIT came.
bool PumpMessages();
void PostQuitMessage(int exitCode);
// Whether the message loop has taken WM_QUIT (until the next RunMessageLoop). From then on
// nothing waits for the window thread, which may itself be waiting for the caller: a cross-thread
// SendMessage answers 0, RunOnWindowThread refuses at once, and so does whatever was still queued
// for it; PostMessage queues nothing.
bool MessageLoopEnded();

HWND GetParent(HWND hWnd);
// The window a top-level window belongs to: created with a parent but without WS_CHILD, it stays
// above its owner and goes when its owner goes.
HWND GetWindowOwner(HWND hWnd);
HWND GetDlgItem(HWND hDlg, int id);
int GetDlgCtrlID(HWND hWnd);
HWND GetTopWindow(HWND hParent);           // the topmost child
HWND GetNextWindow(HWND hWnd);             // the next child below it
std::uint32_t GetWindowStyle(HWND hWnd);
void ModifyStyle(HWND hWnd, std::uint32_t remove, std::uint32_t add);
std::string GetWindowText(HWND hWnd);
void SetWindowText(HWND hWnd, const std::string& text);
bool SetProp(HWND hWnd, const std::string& name, void* value);
void* GetProp(HWND hWnd, const std::string& name);
bool ShowWindow(HWND hWnd, int command);
bool IsWindowVisible(HWND hWnd);
bool EnableWindow(HWND hWnd, bool enable);
bool IsWindowEnabled(HWND hWnd);
// Whether the screen shows the window minimised (as an icon).
bool IsIconic(HWND hWnd);
bool SetWindowPos(HWND hWnd, int x, int y, int width, int height, UINT flags);
bool BringWindowToTop(HWND hWnd);
RECT GetClientRect(HWND hWnd);
RECT GetWindowRect(HWND hWnd);  // screen coordinates
POINT ScreenToClient(HWND hWnd, POINT point);

bool InvalidateRect(HWND hWnd, const RECT* rect, bool erase);
void UpdateWindow(HWND hWnd);
// In a WM_PAINT handler: the DC clipped to what is being painted. The window counts as painted
// once its WM_PAINT returns, whether or not the handler asked for the DC.
std::unique_ptr<CDC> BeginPaint(HWND hWnd);
// A progress bar's range and position; false for a window of another class.
bool GetProgressState(HWND hWnd, int& low, int& high, int& pos);
// A DC for drawing into the window outside painting; delete it when done.
std::unique_ptr<CDC> GetDC(HWND hWnd);

// Mouse input, as the screen reports it (coordinates in the top-level window's client area).
void SetCapture(HWND hWnd);
void ReleaseCapture();
// Asks for one WM_MOUSELEAVE when the mouse leaves the window.
bool TrackMouseLeave(HWND hWnd);

// The pixels of a top-level window as last painted (for tests and for the screen).
const CBitmap* GetWindowSurface(HWND hWnd);

// A top-level window on the screen, of this program or another, by class and title (an empty
// text matches any); 0 when there is none.
std::uint64_t FindWindow(const std::string& className, const std::string& title);

// The size of an icon as windows draw it: 32 x 32 pixels.
int GetSystemMetrics(int index);
