#include "platform/Window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/WindowStyles.h"

struct WindowData {
    std::string className;
    std::string text;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int id = 0;
    HWND parent = nullptr;
    HWND owner = nullptr;        // top-level windows: the window this one belongs to (a box's window)
    std::vector<HWND> children;  // top of the z-order first
    RECT rect;                   // in the parent's client coordinates; the screen's for top-level windows
    RECT inset;                  // the non-client margins: client rectangle within the window rectangle
    std::map<std::string, void*> props;
    IWindowProc* proc = nullptr;
    const CFont* font = nullptr;

    bool iconic = false;
    bool invalid = false;
    bool erase = false;
    bool frameInvalid = false;
    RECT update;  // in client coordinates

    // Class state.
    int progressLow = 0, progressHigh = 100, progressPos = 0;
    bool pressed = false;

    std::unique_ptr<CBitmap> surface;  // top-level windows
    RECT dirty;                        // of the surface, not yet presented
};

namespace {

struct Message {
    HWND hWnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::promise<LRESULT>* reply;  // a message sent from another thread
    const std::function<void()>* work = nullptr;  // work handed to the window thread instead
};

// What a refused message or piece of work answers its waiting sender.
constexpr LRESULT kWorkRefused = 0, kWorkDone = 1;

constexpr auto kPaintInterval = std::chrono::milliseconds(16);

std::recursive_mutex g_tree;
std::set<HWND> g_windows;
// Windows that are gone: kept, so that their handles are never given to another window.
std::vector<std::unique_ptr<WindowData>> g_destroyed;
std::deque<Message> g_queue;
std::mutex g_queueMutex;
std::condition_variable g_queueChanged;
// Read by senders on other threads while the window thread (re)states itself.
std::atomic<std::thread::id> g_windowThread{std::this_thread::get_id()};
// Set when the loop takes WM_QUIT (under g_queueMutex): from then on nothing waits for the window
// thread, which is busy ending the process and may itself be waiting for the sender.
bool g_quit = false;
int g_exitCode = 0;
HWND g_capture = nullptr;
HWND g_tracked = nullptr;
std::chrono::steady_clock::time_point g_lastPaint;
std::unique_ptr<IScreen> g_screen;

// Messages that only change a window's state: a sender on another thread handles them itself.
bool IsStateMessage(UINT message)
{
    return message == WM_SETTEXT || message == WM_ENABLE || message == WM_GETFONT || message == PBM_SETPOS ||
           message == PBM_SETRANGE32 || message == PBM_GETPOS || message == PBM_GETRANGE;
}

RECT Intersect(const RECT& a, const RECT& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool IsEmptyRect(const RECT& r)
{
    return r.left >= r.right || r.top >= r.bottom;
}

RECT Union(const RECT& a, const RECT& b)
{
    if (IsEmptyRect(a))
        return b;
    if (IsEmptyRect(b))
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Whether the handle names a window that still exists (the tree lock held).
bool Alive(HWND hWnd)
{
    return hWnd && g_windows.count(hWnd) > 0;
}

HWND TopLevel(HWND hWnd)
{
    while (hWnd && hWnd->parent)
        hWnd = hWnd->parent;
    return hWnd;
}

// The window's client origin within its top-level window's surface.
POINT SurfaceOrigin(HWND hWnd)
{
    POINT origin{hWnd->inset.left, hWnd->inset.top};
    for (HWND w = hWnd; w->parent; w = w->parent) {
        origin.x += w->rect.left + w->parent->inset.left;
        origin.y += w->rect.top + w->parent->inset.top;
    }
    return origin;
}

RECT ClientRect(HWND hWnd)
{
    return {0, 0, hWnd->rect.Width() - hWnd->inset.left - hWnd->inset.right,
            hWnd->rect.Height() - hWnd->inset.top - hWnd->inset.bottom};
}

bool Visible(HWND hWnd)
{
    for (HWND w = hWnd; w; w = w->parent)
        if (!(w->style & WS_VISIBLE))
            return false;
    return true;
}

void Wake()
{
    g_queueChanged.notify_all();
    if (g_screen)
        g_screen->Wake();
}

// The offscreen screen: windows exist only as their surfaces.
class OffscreenScreen : public IScreen {
public:
    bool HasDisplay() const override { return false; }
    void Show(HWND, const RECT&, bool) override {}
    void SetTitle(HWND, const std::string&) override {}
    void Present(HWND, const CBitmap&, const RECT&) override {}
    void Destroy(HWND) override {}
    RECT WorkArea() override { return {0, 0, 1024, 768}; }
    void BeginMove(HWND, int, int) override {}
    void SetIcon(HWND, const CBitmap&) override {}
    std::uint64_t FindForeignWindow(const std::string&, const std::string&) override { return 0; }
    void ActivateForeignWindow(std::uint64_t) override {}
    bool PostForeignMessage(std::uint64_t, UINT, WPARAM, LPARAM) override { return false; }
    bool WaitForInput(int milliseconds) override
    {
        std::unique_lock lock(g_queueMutex);
        g_queueChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), [] { return !g_queue.empty(); });
        return false;
    }
    void Wake() override { g_queueChanged.notify_all(); }
};

LRESULT Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(g_tree);
    if (!g_windows.count(hWnd))
        return 0;
    return hWnd->proc ? hWnd->proc->WindowProc(hWnd, message, wParam, lParam)
                      : DefWindowProc(hWnd, message, wParam, lParam);
}

void DrawItem(HWND hWnd, CDC& dc)
{
    DRAWITEMSTRUCT item{hWnd->className == "Button" ? ODT_BUTTON : ODT_STATIC,
                        static_cast<UINT>(hWnd->id),
                        (hWnd->pressed ? ODS_SELECTED : 0u) | ((hWnd->style & WS_DISABLED) ? ODS_DISABLED : 0u),
                        hWnd,
                        &dc,
                        ClientRect(hWnd)};
    if (hWnd->parent)
        SendMessage(hWnd->parent, WM_DRAWITEM, static_cast<WPARAM>(hWnd->id), reinterpret_cast<LPARAM>(&item));
}

// Paints the window where it is invalid, then its children, into the top-level surface.
void PaintTree(HWND hWnd, RECT& dirty)
{
    if (!(hWnd->style & WS_VISIBLE))
        return;
    if (hWnd->frameInvalid) {
        hWnd->frameInvalid = false;
        SendMessage(hWnd, WM_NCPAINT, 1, 0);
    }
    if (hWnd->invalid) {
        POINT origin = SurfaceOrigin(hWnd);
        RECT area = Intersect(hWnd->update, ClientRect(hWnd));
        hWnd->invalid = false;
        bool erase = std::exchange(hWnd->erase, false);
        if (!IsEmptyRect(area)) {
            RECT clip{area.left + origin.x, area.top + origin.y, area.right + origin.x, area.bottom + origin.y};
            CDC dc(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
            if (erase)
                SendMessage(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(&dc), 0);
            SendMessage(hWnd, WM_PAINT, 0, 0);
            dirty = Union(dirty, clip);
            // What the window painted may have covered its children there.
            for (HWND child : hWnd->children) {
                RECT under = Intersect(area, child->rect);
                if (!IsEmptyRect(under) && (child->style & WS_VISIBLE)) {
                    RECT local{under.left - child->rect.left - child->inset.left, under.top - child->rect.top - child->inset.top,
                               under.right - child->rect.left, under.bottom - child->rect.top};
                    InvalidateRect(child, &local, true);
                }
            }
        }
    }
    // Bottom of the z-order first, so that upper siblings end on top.
    for (auto it = hWnd->children.rbegin(); it != hWnd->children.rend(); ++it)
        PaintTree(*it, dirty);
}

bool NeedsPaint(HWND hWnd)
{
    if (!(hWnd->style & WS_VISIBLE))
        return false;
    if (hWnd->invalid || hWnd->frameInvalid)
        return true;
    return std::any_of(hWnd->children.begin(), hWnd->children.end(), NeedsPaint);
}

void PaintTopLevel(HWND top)
{
    RECT dirty{};
    PaintTree(top, dirty);
    top->dirty = Union(top->dirty, dirty);
    if (!IsEmptyRect(top->dirty) && (top->style & WS_VISIBLE)) {
        GetScreen().Present(top, *top->surface, top->dirty);
        top->dirty = {};
    }
}

// Paints every top-level window that needs it; at most once a paint interval unless forced.
void PaintAll(bool force)
{
    std::lock_guard lock(g_tree);
    auto now = std::chrono::steady_clock::now();
    if (!force && now - g_lastPaint < kPaintInterval)
        return;
    bool painted = false;
    for (HWND w : std::vector<HWND>(g_windows.begin(), g_windows.end())) {
        if (g_windows.count(w) && !w->parent && NeedsPaint(w)) {
            PaintTopLevel(w);
            painted = true;
        }
    }
    if (painted)
        g_lastPaint = now;
}

bool AnyInvalid()
{
    std::lock_guard lock(g_tree);
    return std::any_of(g_windows.begin(), g_windows.end(), [](HWND w) { return !w->parent && NeedsPaint(w); });
}

// The deepest visible child under a point of the window's client area, or the window itself.
HWND ChildAt(HWND hWnd, POINT& point)
{
    for (HWND child : hWnd->children) {
        const RECT& r = child->rect;
        if ((child->style & WS_VISIBLE) && point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom) {
            point = {point.x - r.left - child->inset.left, point.y - r.top - child->inset.top};
            return ChildAt(child, point);
        }
    }
    return hWnd;
}

// A push button as the system draws it: a framed face with its text in the middle.
void PaintPushButton(HWND hWnd)
{
    std::unique_ptr<CDC> dc = BeginPaint(hWnd);
    RECT r = ClientRect(hWnd);
    dc->FillSolidRect(r, RGB(0x70, 0x70, 0x70));
    dc->FillSolidRect({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                      hWnd->pressed ? RGB(0xC4, 0xD6, 0xEA) : RGB(0xE1, 0xE1, 0xE1));
    dc->SetBkMode(TRANSPARENT);
    dc->SelectFont(hWnd->font);
    dc->SetTextColor((hWnd->style & WS_DISABLED) ? RGB(0x8C, 0x8C, 0x8C) : RGB(0, 0, 0));
    dc->DrawText(hWnd->text, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// The button's own behaviour: pressed while the left button is held on it; a release over it
// is a click.
LRESULT ButtonProc(HWND hWnd, UINT message, LPARAM lParam)
{
    auto inside = [&] {
        RECT r = ClientRect(hWnd);
        int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    switch (message) {
    case WM_LBUTTONDOWN:
        hWnd->pressed = true;
        SetCapture(hWnd);
        InvalidateRect(hWnd, nullptr, true);
        return 0;
    case WM_MOUSEMOVE:
        if (g_capture == hWnd && hWnd->pressed != inside()) {
            hWnd->pressed = inside();
            InvalidateRect(hWnd, nullptr, true);
        }
        return 0;
    case WM_LBUTTONUP:
        if (g_capture == hWnd) {
            bool clicked = inside();
            hWnd->pressed = false;
            ReleaseCapture();
            InvalidateRect(hWnd, nullptr, true);
            if (clicked && hWnd->parent)
                SendMessage(hWnd->parent, WM_COMMAND, MAKEWPARAM(hWnd->id, BN_CLICKED), reinterpret_cast<LPARAM>(hWnd));
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT ProgressProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case PBM_SETRANGE32: {
        LRESULT previous = MAKELPARAM(hWnd->progressLow, hWnd->progressHigh);
        hWnd->progressLow = static_cast<int>(wParam);
        hWnd->progressHigh = static_cast<int>(lParam);
        hWnd->progressPos = std::clamp(hWnd->progressPos, std::min(hWnd->progressLow, hWnd->progressHigh),
                                       std::max(hWnd->progressLow, hWnd->progressHigh));
        InvalidateRect(hWnd, nullptr, true);
        return previous;
    }
    case PBM_SETPOS: {
        int previous = hWnd->progressPos;
        int pos = std::clamp(static_cast<int>(wParam), std::min(hWnd->progressLow, hWnd->progressHigh),
                             std::max(hWnd->progressLow, hWnd->progressHigh));
        if (pos != previous) {
            hWnd->progressPos = pos;
            InvalidateRect(hWnd, nullptr, true);
        }
        return previous;
    }
    case PBM_GETPOS:
        return hWnd->progressPos;
    case PBM_GETRANGE:
        return wParam ? hWnd->progressLow : hWnd->progressHigh;
    default:
        return 0;
    }
}

}  // namespace

HWND CreateWindowEx(std::uint32_t exStyle, const std::string& className, const std::string& text, std::uint32_t style,
                    const RECT& rect, HWND parent, int id)
{
    std::lock_guard lock(g_tree);
    auto* w = new WindowData;
    w->className = className;
    w->text = text;
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    // A window that is no child of its "parent" is a top-level window owned by it.
    if (parent && !(style & WS_CHILD))
        std::swap(parent, w->owner);
    w->parent = parent;
    w->rect = rect;
    if (style & WS_BORDER)
        w->inset = {1, 1, 1, 1};
    g_windows.insert(w);
    if (parent) {
        parent->children.push_back(w);  // created windows go to the bottom of the z-order
    } else {
        w->surface = std::make_unique<CBitmap>();
        w->surface->CreateBitmap(std::max(1, rect.Width()), std::max(1, rect.Height()));
        g_windowThread = std::this_thread::get_id();
    }
    SendMessage(w, WM_CREATE, 0, 0);
    if (style & WS_VISIBLE) {
        w->style &= ~WS_VISIBLE;
        ShowWindow(w, SW_SHOW);
    }
    return w;
}

bool DestroyWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!g_windows.count(hWnd))
        return false;
    // The windows it owns go first, as its boxes do on Windows.
    for (HWND owned : std::vector<HWND>(g_windows.begin(), g_windows.end()))
        if (owned->owner == hWnd)
            DestroyWindow(owned);
    SendMessage(hWnd, WM_DESTROY, 0, 0);
    while (!hWnd->children.empty())
        DestroyWindow(hWnd->children.front());
    if (hWnd->parent) {
        auto& siblings = hWnd->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
        InvalidateRect(hWnd->parent, &hWnd->rect, true);
    } else {
        GetScreen().Destroy(hWnd);
    }
    if (g_capture == hWnd)
        g_capture = nullptr;
    if (g_tracked == hWnd)
        g_tracked = nullptr;
    // The handle's memory is never reused, so a handle kept after its window is gone never names
    // another window; what the window held is released.
    g_windows.erase(hWnd);
    hWnd->surface.reset();
    hWnd->props.clear();
    hWnd->proc = nullptr;
    g_destroyed.emplace_back(hWnd);
    return true;
}

bool IsWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) > 0;
}

void SetWindowProc(HWND hWnd, IWindowProc* proc)
{
    std::lock_guard lock(g_tree);
    if (g_windows.count(hWnd))
        hWnd->proc = proc;
}

namespace {

// Queues a message or work for the window thread and waits for its answer; refused at once
// once the loop has ended.
LRESULT QueueAndWait(Message message, bool first)
{
    std::promise<LRESULT> reply;
    std::future<LRESULT> result = reply.get_future();
    message.reply = &reply;
    {
        std::lock_guard lock(g_queueMutex);
        if (g_quit)
            return kWorkRefused;
        if (first)
            g_queue.push_front(message);
        else
            g_queue.push_back(message);
    }
    Wake();
    return result.get();
}

// The loop has taken WM_QUIT: whoever still waits for the window thread is answered now.
void EndQueue()
{
    std::deque<Message> left;
    {
        std::lock_guard lock(g_queueMutex);
        g_quit = true;
        left.swap(g_queue);
    }
    for (Message& message : left)
        if (message.reply)
            message.reply->set_value(kWorkRefused);
}

}  // namespace

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (std::this_thread::get_id() == g_windowThread || IsStateMessage(message))
        return Dispatch(hWnd, message, wParam, lParam);
    // Anything else runs on the window thread; the sender waits for its result.
    return QueueAndWait({hWnd, message, wParam, lParam, nullptr}, true);
}

bool RunOnWindowThread(const std::function<void()>& work)
{
    if (MessageLoopEnded())
        return false;
    if (std::this_thread::get_id() == g_windowThread) {
        work();
        return true;
    }
    return QueueAndWait({nullptr, 0, 0, 0, nullptr, &work}, false) == kWorkDone;
}

bool MessageLoopEnded()
{
    std::lock_guard lock(g_queueMutex);
    return g_quit;
}

bool PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(hWnd))
        return false;
    {
        std::lock_guard lock(g_queueMutex);
        if (g_quit)
            return false;  // no loop will take it
        g_queue.push_back({hWnd, message, wParam, lParam, nullptr});
    }
    Wake();
    return true;
}

LRESULT DefWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(g_tree);
    switch (message) {
    case WM_SETTEXT:
        hWnd->text = reinterpret_cast<const char*>(lParam);
        InvalidateRect(hWnd, nullptr, true);
        return 1;
    case WM_ENABLE:
        InvalidateRect(hWnd, nullptr, true);
        return 0;
    case WM_ERASEBKGND:
        reinterpret_cast<CDC*>(wParam)->FillSolidRect(ClientRect(hWnd), RGB(240, 240, 240));
        return 1;
    case WM_NCPAINT:
        if (hWnd->inset.left > 0) {
            POINT origin = SurfaceOrigin(hWnd);
            RECT frame{origin.x - hWnd->inset.left, origin.y - hWnd->inset.top, origin.x - hWnd->inset.left + hWnd->rect.Width(),
                       origin.y - hWnd->inset.top + hWnd->rect.Height()};
            CDC dc(TopLevel(hWnd)->surface.get(), 0, 0, frame);
            dc.FillSolidRect(frame, RGB(100, 100, 100));
        }
        return 0;
    case WM_NCCALCSIZE:
        if (wParam) {
            auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
            int border = (hWnd->style & WS_BORDER) ? 1 : 0;
            params->rgrc[0] = {params->rgrc[0].left + border, params->rgrc[0].top + border,
                               params->rgrc[0].right - border, params->rgrc[0].bottom - border};
        }
        return 0;
    case WM_PAINT:
        if ((hWnd->className == "Button" && (hWnd->style & 0xF) == BS_OWNERDRAW) ||
            (hWnd->className == "Static" && (hWnd->style & 0x1F) == SS_OWNERDRAW)) {
            std::unique_ptr<CDC> dc = BeginPaint(hWnd);
            DrawItem(hWnd, *dc);
        } else if (hWnd->className == "Button") {
            PaintPushButton(hWnd);
        }
        return 0;
    case WM_DRAWITEM:
        // Handed back to the control that asked, as the framework reflects it.
        return SendMessage(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem, WM_REFLECT_DRAWITEM, wParam, lParam);
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_NCLBUTTONDOWN:
        if (wParam == HTCAPTION && !hWnd->parent)
            GetScreen().BeginMove(hWnd, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE && !hWnd->parent)
            SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_SETFONT:
        hWnd->font = reinterpret_cast<const CFont*>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(hWnd->font);
    case WM_SETICON:
        if (!hWnd->parent && wParam == ICON_BIG && lParam)
            GetScreen().SetIcon(hWnd, *reinterpret_cast<const CBitmap*>(lParam));
        return 0;
    default:
        if (hWnd->className == "Button" && (hWnd->style & WS_DISABLED) == 0)
            return ButtonProc(hWnd, message, lParam);
        if (hWnd->className == "msctls_progress32")
            return ProgressProc(hWnd, message, wParam, lParam);
        return 0;
    }
}

bool PumpMessages()
{
    for (;;) {
        Message message;
        {
            std::lock_guard lock(g_queueMutex);
            if (g_queue.empty())
                break;
            message = g_queue.front();
            g_queue.pop_front();
        }
        if (message.work) {
            (*message.work)();
            message.reply->set_value(kWorkDone);
            continue;
        }
        if (message.message == WM_QUIT) {
            g_exitCode = static_cast<int>(message.wParam);
            EndQueue();
            break;
        }
        LRESULT result = Dispatch(message.hWnd, message.message, message.wParam, message.lParam);
        if (message.reply)
            message.reply->set_value(result);
    }
    if (MessageLoopEnded())
        return false;
    PaintAll(false);
    return true;
}

int RunMessageLoop()
{
    g_windowThread = std::this_thread::get_id();
    {
        std::lock_guard lock(g_queueMutex);
        g_quit = false;
    }
    while (PumpMessages()) {
        bool queued;
        {
            std::lock_guard lock(g_queueMutex);
            queued = !g_queue.empty();
        }
        if (!queued)
            GetScreen().WaitForInput(AnyInvalid() ? static_cast<int>(kPaintInterval.count()) : 250);
    }
    return g_exitCode;
}

void PostQuitMessage(int exitCode)
{
    {
        std::lock_guard lock(g_queueMutex);
        g_queue.push_back({nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, nullptr});
    }
    Wake();
}

HWND GetParent(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) ? hWnd->parent : nullptr;
}

HWND GetWindowOwner(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) ? hWnd->owner : nullptr;
}

HWND GetDlgItem(HWND hDlg, int id)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hDlg))
        return nullptr;
    for (HWND child : hDlg->children)
        if (child->id == id)
            return child;
    return nullptr;
}

int GetDlgCtrlID(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return Alive(hWnd) ? hWnd->id : 0;
}

HWND GetTopWindow(HWND hParent)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hParent))
        return nullptr;
    return hParent->children.empty() ? nullptr : hParent->children.front();
}

HWND GetNextWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return nullptr;
    if (!hWnd->parent)
        return nullptr;
    auto& siblings = hWnd->parent->children;
    auto it = std::find(siblings.begin(), siblings.end(), hWnd);
    return it == siblings.end() || it + 1 == siblings.end() ? nullptr : *(it + 1);
}

std::uint32_t GetWindowStyle(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return 0;
    return hWnd->style;
}

void ModifyStyle(HWND hWnd, std::uint32_t remove, std::uint32_t add)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return;
    hWnd->style = (hWnd->style & ~remove) | add;
}

std::string GetWindowText(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    return hWnd->text;
}

void SetWindowText(HWND hWnd, const std::string& text)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return;
    SendMessage(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (Alive(hWnd) && !hWnd->parent)
        GetScreen().SetTitle(hWnd, text);
}

bool SetProp(HWND hWnd, const std::string& name, void* value)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    hWnd->props[name] = value;
    return true;
}

void* GetProp(HWND hWnd, const std::string& name)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return nullptr;
    auto it = hWnd->props.find(name);
    return it == hWnd->props.end() ? nullptr : it->second;
}

bool ShowWindow(HWND hWnd, int command)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    bool wasVisible = hWnd->style & WS_VISIBLE;
    bool show = command != SW_HIDE;
    if (show == wasVisible)
        return wasVisible;
    hWnd->style = show ? (hWnd->style | WS_VISIBLE) : (hWnd->style & ~WS_VISIBLE);
    SendMessage(hWnd, WM_SHOWWINDOW, show, 0);
    if (!hWnd->parent) {
        GetScreen().Show(hWnd, hWnd->rect, show);
    } else if (!show) {
        InvalidateRect(hWnd->parent, &hWnd->rect, true);
    }
    if (show) {
        hWnd->frameInvalid = true;
        InvalidateRect(hWnd, nullptr, true);
    }
    return wasVisible;
}

bool IsWindowVisible(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) && Visible(hWnd);
}

bool EnableWindow(HWND hWnd, bool enable)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    bool wasDisabled = hWnd->style & WS_DISABLED;
    if (wasDisabled == !enable)
        return wasDisabled;
    hWnd->style = enable ? (hWnd->style & ~WS_DISABLED) : (hWnd->style | WS_DISABLED);
    if (!enable) {
        hWnd->pressed = false;
        if (g_capture == hWnd)
            g_capture = nullptr;
    }
    SendMessage(hWnd, WM_ENABLE, enable, 0);
    return wasDisabled;
}

bool IsIconic(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return Alive(hWnd) && hWnd->iconic;
}

bool IsWindowEnabled(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    return !(hWnd->style & WS_DISABLED);
}

bool SetWindowPos(HWND hWnd, int x, int y, int width, int height, UINT flags)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    RECT old = hWnd->rect;
    RECT rect = old;
    if (!(flags & SWP_NOMOVE))
        rect = {x, y, x + rect.Width(), y + rect.Height()};
    if (!(flags & SWP_NOSIZE))
        rect = {rect.left, rect.top, rect.left + width, rect.top + height};
    hWnd->rect = rect;
    bool resized = rect.Width() != old.Width() || rect.Height() != old.Height();
    if (flags & SWP_FRAMECHANGED) {
        NCCALCSIZE_PARAMS params{{rect, old, ClientRect(hWnd)}};
        SendMessage(hWnd, WM_NCCALCSIZE, 1, reinterpret_cast<LPARAM>(&params));
        const RECT& client = params.rgrc[0];
        hWnd->inset = {client.left - rect.left, client.top - rect.top, rect.right - client.right, rect.bottom - client.bottom};
        hWnd->frameInvalid = true;
    }
    if (!hWnd->parent) {
        if (resized) {
            hWnd->surface = std::make_unique<CBitmap>();
            hWnd->surface->CreateBitmap(std::max(1, rect.Width()), std::max(1, rect.Height()));
        }
        if (hWnd->style & WS_VISIBLE)
            GetScreen().Show(hWnd, rect, true);
    } else if (hWnd->style & WS_VISIBLE) {
        InvalidateRect(hWnd->parent, &old, true);
    }
    if (resized) {
        RECT client = ClientRect(hWnd);
        SendMessage(hWnd, WM_SIZE, 0, MAKELPARAM(client.Width(), client.Height()));
    }
    if (resized || (flags & SWP_FRAMECHANGED) || !(flags & SWP_NOMOVE))
        InvalidateRect(hWnd, nullptr, true);
    if (!(flags & SWP_NOZORDER))
        BringWindowToTop(hWnd);
    return true;
}

bool BringWindowToTop(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return false;
    if (hWnd->parent) {
        auto& siblings = hWnd->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
        siblings.insert(siblings.begin(), hWnd);
        InvalidateRect(hWnd, nullptr, true);
    } else if (hWnd->style & WS_VISIBLE) {
        GetScreen().Show(hWnd, hWnd->rect, true);
    }
    return true;
}

RECT GetClientRect(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    return ClientRect(hWnd);
}

RECT GetWindowRect(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return {};
    HWND top = TopLevel(hWnd);
    POINT origin = SurfaceOrigin(hWnd);
    int left = top->rect.left + origin.x - hWnd->inset.left, topEdge = top->rect.top + origin.y - hWnd->inset.top;
    if (!hWnd->parent)
        return hWnd->rect;
    return {left, topEdge, left + hWnd->rect.Width(), topEdge + hWnd->rect.Height()};
}

POINT ScreenToClient(HWND hWnd, POINT point)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return point;
    HWND top = TopLevel(hWnd);
    POINT origin = SurfaceOrigin(hWnd);
    return {point.x - top->rect.left - origin.x, point.y - top->rect.top - origin.y};
}

bool InvalidateRect(HWND hWnd, const RECT* rect, bool erase)
{
    {
        std::lock_guard lock(g_tree);
        if (!g_windows.count(hWnd))
            return false;
        RECT area = rect ? *rect : ClientRect(hWnd);
        hWnd->update = hWnd->invalid ? Union(hWnd->update, area) : area;
        hWnd->invalid = true;
        hWnd->erase = hWnd->erase || erase;
    }
    Wake();
    return true;
}

void UpdateWindow(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (Alive(hWnd) && NeedsPaint(TopLevel(hWnd)))
        PaintTopLevel(TopLevel(hWnd));
}

std::unique_ptr<CDC> BeginPaint(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return std::make_unique<CDC>();
    POINT origin = SurfaceOrigin(hWnd);
    RECT area = Intersect(hWnd->update, ClientRect(hWnd));
    RECT clip{area.left + origin.x, area.top + origin.y, area.right + origin.x, area.bottom + origin.y};
    return std::make_unique<CDC>(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
}

bool GetProgressState(HWND hWnd, int& low, int& high, int& pos)
{
    std::lock_guard lock(g_tree);
    if (!g_windows.count(hWnd) || hWnd->className != "msctls_progress32")
        return false;
    low = hWnd->progressLow, high = hWnd->progressHigh, pos = hWnd->progressPos;
    return true;
}

std::unique_ptr<CDC> GetDC(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!Alive(hWnd))
        return std::make_unique<CDC>();
    POINT origin = SurfaceOrigin(hWnd);
    RECT client = ClientRect(hWnd);
    RECT clip{origin.x, origin.y, origin.x + client.Width(), origin.y + client.Height()};
    return std::make_unique<CDC>(TopLevel(hWnd)->surface.get(), origin.x, origin.y, clip);
}

void SetCapture(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    g_capture = hWnd;
}

void ReleaseCapture()
{
    std::lock_guard lock(g_tree);
    g_capture = nullptr;
}

bool TrackMouseLeave(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    if (!g_windows.count(hWnd))
        return false;
    g_tracked = hWnd;
    return true;
}

std::unique_ptr<IScreen> SetScreen(std::unique_ptr<IScreen> screen)
{
    std::swap(g_screen, screen);
    return screen;
}

std::unique_ptr<IScreen> MakeOffscreenScreen()
{
    return std::make_unique<OffscreenScreen>();
}

IScreen& GetScreen()
{
    if (!g_screen)
        g_screen = std::make_unique<OffscreenScreen>();
    return *g_screen;
}

const CBitmap* GetWindowSurface(HWND hWnd)
{
    std::lock_guard lock(g_tree);
    return g_windows.count(hWnd) ? TopLevel(hWnd)->surface.get() : nullptr;
}

void DeliverMouse(HWND topLevel, UINT message, int x, int y)
{
    std::lock_guard lock(g_tree);
    // A disabled window (one that a modal box owns) takes no input, nor do its children.
    if (!g_windows.count(topLevel) || (topLevel->style & WS_DISABLED))
        return;
    POINT point{x, y};
    HWND target = topLevel;
    if (message == WM_MOUSELEAVE) {
        target = nullptr;
    } else if (g_capture && g_windows.count(g_capture)) {
        target = g_capture;
        point = ScreenToClient(target, {topLevel->rect.left + x, topLevel->rect.top + y});
    } else {
        target = ChildAt(topLevel, point);
    }
    if (g_tracked && g_tracked != target) {
        HWND left = std::exchange(g_tracked, nullptr);
        SendMessage(left, WM_MOUSELEAVE, 0, 0);
    }
    if (target && !(target->style & WS_DISABLED))
        SendMessage(target, message, 0, MAKELPARAM(point.x, point.y));
}

void DeliverKey(HWND topLevel, WPARAM key)
{
    if (IsWindow(topLevel) && IsWindowEnabled(topLevel))
        SendMessage(topLevel, WM_KEYDOWN, key, 0);
}

void DeliverMove(HWND topLevel, int x, int y)
{
    std::lock_guard lock(g_tree);
    if (g_windows.count(topLevel) && !topLevel->parent)
        topLevel->rect = {x, y, x + topLevel->rect.Width(), y + topLevel->rect.Height()};
}

std::uint64_t FindWindow(const std::string& className, const std::string& title)
{
    return GetScreen().FindForeignWindow(className, title);
}

void DeliverIconic(HWND topLevel, bool iconic)
{
    {
        std::lock_guard lock(g_tree);
        if (!Alive(topLevel) || topLevel->iconic == iconic)
            return;
        topLevel->iconic = iconic;
    }
    InvalidateRect(topLevel, nullptr, true);
}

int GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}
