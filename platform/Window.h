#pragma once
// Windows and messages: a tree of windows with the Windows contracts the program relies on.
//
// Threads. One thread owns the windows and runs the message loop. Another thread may send
// messages to them: the sender waits until the message has been handled, as on Windows. The
// tree is guarded by one lock, so a message that only changes a window's state (its text,
// range, position, enabled state) is handled under that lock in the sender's own thread; what
// paints or talks to the screen always runs on the window thread. PostMessage queues.
//
// Painting. Invalidation records an update rectangle (with or without erasing); the loop
// paints what is invalid, WM_NCPAINT, WM_ERASEBKGND, WM_PAINT, then the children, into the
// top-level window's surface, and hands the surface to the screen with one copy.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Gdi.h"

using UINT = unsigned;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct WindowData;
using HWND = WindowData*;

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_DRAWITEM = 0x002B;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;
inline constexpr UINT WM_NCCALCSIZE = 0x0083;
inline constexpr UINT WM_NCPAINT = 0x0085;
inline constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_MOUSELEAVE = 0x02A3;
inline constexpr UINT WM_USER = 0x0400;
// WM_DRAWITEM as the parent hands it back to the control it came from.
inline constexpr UINT WM_REFLECT_DRAWITEM = 0x2000 + WM_DRAWITEM;
inline constexpr UINT PBM_SETPOS = WM_USER + 2;
inline constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
inline constexpr UINT PBM_GETRANGE = WM_USER + 7;
inline constexpr UINT PBM_GETPOS = WM_USER + 8;

inline constexpr WPARAM HTCAPTION = 2;
inline constexpr WPARAM BN_CLICKED = 0;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr UINT ODS_SELECTED = 0x0001;
inline constexpr UINT ODS_DISABLED = 0x0004;
inline constexpr UINT ODT_BUTTON = 4;
inline constexpr UINT ODT_STATIC = 5;

inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_FRAMECHANGED = 0x0020;
inline constexpr UINT SWP_NOCOPYBITS = 0x0100;
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

constexpr LPARAM MAKELPARAM(int low, int high)
{
    return static_cast<LPARAM>((static_cast<std::uint32_t>(high) & 0xFFFF) << 16 | (static_cast<std::uint32_t>(low) & 0xFFFF));
}
constexpr WPARAM MAKEWPARAM(int low, int high)
{
    return static_cast<WPARAM>(MAKELPARAM(low, high));
}
constexpr int GET_X_LPARAM(LPARAM l) { return static_cast<std::int16_t>(l & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM l) { return static_cast<std::int16_t>((l >> 16) & 0xFFFF); }

struct POINT {
    int x = 0, y = 0;
};

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemState;
    HWND hwndItem;
    CDC* hDC;
    RECT rcItem;
};

// Parameters of WM_NCCALCSIZE with wParam TRUE: rgrc[0] the proposed window rectangle, which the
// handler turns into the client rectangle; rgrc[2] the valid source area.
struct NCCALCSIZE_PARAMS {
    RECT rgrc[3];
};

// Whoever handles a window's messages: the program's window objects. Without one, a window gets
// its class's default processing.
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

// The screen a top-level window is shown on: the display, or none.
class IScreen {
public:
    virtual ~IScreen() = default;
    // Whether anyone can see the windows (false too once the display is lost).
    virtual bool HasDisplay() const = 0;
    virtual void Show(HWND hWnd, const RECT& screenRect, bool visible) = 0;
    virtual void SetTitle(HWND hWnd, const std::string& title) = 0;
    // The window's surface changed within `dirty`: one copy to the screen, which shows these
    // pixels from now on by itself (when the window is mapped or uncovered).
    virtual void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) = 0;
    virtual void Destroy(HWND hWnd) = 0;
    // The area windows are centred in.
    virtual RECT WorkArea() = 0;
    // Moves the window with the mouse, as if its caption had been grabbed at (x, y) of its client.
    // Returns at once; the move goes on while the message loop runs.
    virtual void BeginMove(HWND hWnd, int x, int y) = 0;
    // The window's icon (ARGB pixels).
    virtual void SetIcon(HWND hWnd, const CBitmap& icon) = 0;
    // Top-level windows of any program on the screen, by the class part of their class name and
    // by their title (an empty text matches any); 0 when there is none.
    virtual std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) = 0;
    // Raises the window and makes it the active one.
    virtual void ActivateForeignWindow(std::uint64_t window) = 0;
    // Queues a message for the window's program.
    virtual bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Waits up to `milliseconds` for input and turns it into messages; false when none came.
    virtual bool WaitForInput(int milliseconds) = 0;
    // Wakes a WaitForInput from another thread.
    virtual void Wake() = 0;
};

// The screen for top-level windows from now on (the offscreen screen unless set); returns the
// one set before, if any.
std::unique_ptr<IScreen> SetScreen(std::unique_ptr<IScreen> screen);
// A screen without a display: windows exist only as their surfaces.
std::unique_ptr<IScreen> MakeOffscreenScreen();
IScreen& GetScreen();
// The pixels of a top-level window as last painted (for tests and for the screen).
const CBitmap* GetWindowSurface(HWND hWnd);

// A top-level window on the screen, of this program or another, by class and title (an empty
// text matches any); 0 when there is none.
std::uint64_t FindWindow(const std::string& className, const std::string& title);

// Input from the screen, in client coordinates of the top-level window.
void DeliverMouse(HWND topLevel, UINT message, int x, int y);
void DeliverKey(HWND topLevel, WPARAM key);
// The screen moved the window (a drag): its new top-left corner in screen coordinates.
void DeliverMove(HWND topLevel, int x, int y);
// The screen minimised the window, or showed it again.
void DeliverIconic(HWND topLevel, bool iconic);

inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
// The size of an icon as windows draw it: 32 x 32 pixels.
int GetSystemMetrics(int index);
