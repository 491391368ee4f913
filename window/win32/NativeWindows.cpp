#include "window/win32/NativeWindows.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/win32/Wide.h"
#include "window/win32/GdiCalls.h"

namespace native_windows {
namespace {

// What a native window keeps: its key and sink, the pixels it shows, and a move in progress.
struct Native {
    Native(void* k, ISink* s) : key(k), sink(s) {}
    void* key;
    ISink* sink;
    std::mutex mutex;  // the pixels: Present may come from another thread
    HBITMAP pixels = nullptr;
    unsigned char* bits = nullptr;
    int width = 0, height = 0;
    bool trackingLeave = false;
    bool moving = false;
    POINT grab{};  // where in the client the move holds the window
    HICON icon = nullptr;
};

Native* Of(HWND window)
{
    return reinterpret_cast<Native*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The client area at the pointer's place while a move goes on.
void FollowPointer(HWND window, const Native& native)
{
    POINT cursor;
    GetCursorPos(&cursor);
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, cursor.x - native.grab.x + frame.left, cursor.y - native.grab.y + frame.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Paint(HWND window, Native& native)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    {
        std::lock_guard lock(native.mutex);
        if (native.pixels) {
            HDC memory = CreateCompatibleDC(dc);
            HGDIOBJ previous = SelectObject(memory, native.pixels);
            BitBlt(dc, 0, 0, native.width, native.height, memory, 0, 0, SRCCOPY);
            SelectObject(memory, previous);
            DeleteDC(memory);
        }
    }
    EndPaint(window, &paint);
}

// Mouse input: the button held keeps the mouse's messages coming to the window (as an X server's
// implicit grab does), and leaving is reported once per entry.
bool Mouse(HWND window, Native& native, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (native.moving) {
        FollowPointer(window, native);
        if (message == WM_LBUTTONUP || !(wParam & MK_LBUTTON)) {
            native.moving = false;
            ReleaseCapture();
        }
        return true;
    }
    if (message == WM_LBUTTONDOWN)
        SetCapture(window);
    else if (message == WM_LBUTTONUP && GetCapture() == window)
        ReleaseCapture();
    if (message == WM_MOUSEMOVE && !native.trackingLeave) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
        native.trackingLeave = TrackMouseEvent(&track);
    }
    native.sink->OnMouse(native.key, message, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    return true;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Native* native = Of(window);
    if (!native)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        Paint(window, *native);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
        Mouse(window, *native, message, wParam, lParam);
        return 0;
    case WM_MOUSELEAVE:
        native->trackingLeave = false;
        native->sink->OnMouse(native->key, WM_MOUSELEAVE, 0, 0);
        return 0;
    case WM_CAPTURECHANGED:
        native->moving = false;
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN || wParam == VK_ESCAPE)
            native->sink->OnKey(native->key, static_cast<unsigned>(wParam));
        return 0;
    case WM_MOVE:
        native->sink->OnMoved(native->key, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED || wParam == SIZE_RESTORED)
            native->sink->OnIconic(native->key, wParam == SIZE_MINIMIZED);
        return 0;
    case WM_CLOSE:
        native->sink->OnCloseRequest(native->key);
        return 0;
    case WM_NCDESTROY: {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (native->pixels)
            DeleteObject(native->pixels);
        if (native->icon)
            DestroyIcon(native->icon);
        delete native;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The class of that name, registered once for the process.
bool RegisterClassOnce(const std::wstring& name)
{
    static std::mutex mutex;
    static std::map<std::wstring, bool> registered;
    std::lock_guard lock(mutex);
    if (registered[name])
        return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = name.c_str();
    registered[name] = RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered[name];
}

// A DIB section of the client's size for the pixels shown (the lock held).
void EnsurePixels(Native& native, int width, int height)
{
    if (native.pixels && native.width == width && native.height == height)
        return;
    if (native.pixels)
        DeleteObject(native.pixels);
    const gdi_calls::Dib dib = gdi_calls::CreateDib(width, height);
    native.pixels = static_cast<HBITMAP>(dib.handle);
    native.bits = dib.bits;
    native.width = native.pixels ? width : 0;
    native.height = native.pixels ? height : 0;
}

}  // namespace

void* Create(void* key, ISink* sink, const std::string& className, bool caption, void* owner)
{
    const std::wstring name = Utf8ToWide(className);
    if (!RegisterClassOnce(name))
        return nullptr;
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN | (caption ? WS_CAPTION | WS_SYSMENU : 0);
    HWND window = CreateWindowExW(owner ? 0 : WS_EX_APPWINDOW, name.c_str(), L"", style, 0, 0, 1, 1,
                                  static_cast<HWND>(owner), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window)
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Native(key, sink)));
    return window;
}

void Place(void* window, const Box& screen, bool visible)
{
    HWND hWnd = static_cast<HWND>(window);
    if (!visible) {
        ShowWindow(hWnd, SW_HIDE);
        return;
    }
    RECT frame{screen.left, screen.top, screen.right, screen.bottom};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hWnd, GWL_EXSTYLE)));
    SetWindowPos(hWnd, HWND_TOP, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, SWP_SHOWWINDOW);
}

void SetTitle(void* window, const std::string& title)
{
    SetWindowTextW(static_cast<HWND>(window), Utf8ToWide(title).c_str());
}

void SetIcon(void* window, const std::uint32_t* argb, int width, int height)
{
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = width;
    header.bV5Height = -height;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!colour)
        return;
    std::copy(argb, argb + static_cast<std::size_t>(width) * height, static_cast<std::uint32_t*>(bits));
    const std::vector<unsigned char> zeros(static_cast<std::size_t>((width + 15) / 16 * 2) * height);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, zeros.data());  // all drawn: the alpha says what shows
    ICONINFO info{TRUE, 0, 0, mask, colour};
    Native* native = Of(static_cast<HWND>(window));
    if (HICON icon = native ? CreateIconIndirect(&info) : nullptr) {
        SendMessageW(static_cast<HWND>(window), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(static_cast<HWND>(window), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        if (native->icon)
            DestroyIcon(native->icon);  // the window's icon until now, which it no longer shows
        native->icon = icon;
    }
    DeleteObject(mask);
    DeleteObject(colour);
}

void Present(void* window, const unsigned char* rows, int stride, int width, int height, const Box& dirty)
{
    HWND hWnd = static_cast<HWND>(window);
    Native* native = Of(hWnd);
    if (!native)
        return;
    {
        std::lock_guard lock(native->mutex);
        EnsurePixels(*native, width, height);
        if (!native->pixels)
            return;
        GdiFlush();
        for (int y = std::max(dirty.top, 0); y < std::min(dirty.bottom, height); ++y) {
            const int left = std::max(dirty.left, 0), right = std::min(dirty.right, width);
            if (left < right)
                std::copy(rows + static_cast<std::ptrdiff_t>(y) * stride + left * 4, rows + static_cast<std::ptrdiff_t>(y) * stride + right * 4,
                          native->bits + static_cast<std::ptrdiff_t>(y) * width * 4 + left * 4);
        }
    }
    RECT area{dirty.left, dirty.top, dirty.right, dirty.bottom};
    InvalidateRect(hWnd, &area, FALSE);
}

void Destroy(void* window)
{
    DestroyWindow(static_cast<HWND>(window));
}

Box WorkArea()
{
    RECT area{0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return {area.left, area.top, area.right, area.bottom};
}

void BeginMove(void* window, int x, int y)
{
    HWND hWnd = static_cast<HWND>(window);
    // The press that asked for the move may be over already (a tap, a quick click, handled in
    // one turn with its release): a move then would follow the pointer until the next click.
    if (GetKeyState(VK_LBUTTON) >= 0)
        return;
    if (Native* native = Of(hWnd)) {
        native->moving = true;
        native->grab = {x, y};
        SetCapture(hWnd);
    }
}

std::uint64_t Find(const std::string& className, const std::string& title)
{
    const std::wstring wideClass = Utf8ToWide(className), wideTitle = Utf8ToWide(title);
    HWND found = FindWindowW(className.empty() ? nullptr : wideClass.c_str(), title.empty() ? nullptr : wideTitle.c_str());
    return reinterpret_cast<std::uintptr_t>(found);
}

void Activate(std::uint64_t window)
{
    HWND hWnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
    if (IsIconic(hWnd))
        ShowWindow(hWnd, SW_RESTORE);
    SetForegroundWindow(hWnd);
}

bool Post(std::uint64_t window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    return PostMessageW(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), message, wParam, lParam);
}

void* CreateWakeEvent()
{
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

void Wake(void* event)
{
    SetEvent(static_cast<HANDLE>(event));
}

bool Wait(void* wakeEvent, int milliseconds)
{
    HANDLE wake = static_cast<HANDLE>(wakeEvent);
    const DWORD waited = MsgWaitForMultipleObjectsEx(1, &wake, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds),
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    bool any = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        if (message.message == WM_QUIT)
            continue;  // the program's own loop ends on its own WM_QUIT, not on one posted here
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return any || waited == WAIT_OBJECT_0;
}

unsigned long CurrentThread()
{
    return GetCurrentThreadId();
}

}  // namespace native_windows
