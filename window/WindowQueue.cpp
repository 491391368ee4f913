// The message queue: sent and posted messages, work run on the window thread, the message loop,
// and what becomes of them once the loop has ended, when nothing waits for the window thread.

#include <atomic>
#include <deque>
#include <future>
#include <thread>

#include "window/WindowData.h"

using namespace window_internal;

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
// How long the loop waits for input when nothing is left to paint.
constexpr int kIdleWaitMilliseconds = 250;

std::deque<Message> g_queue;
std::mutex g_queueMutex;
// Read by senders on other threads while the window thread (re)states itself.
std::atomic<std::thread::id> g_windowThread{std::this_thread::get_id()};
// Set when the loop takes WM_QUIT (under g_queueMutex): from then on nothing waits for the window
// thread, which is busy ending the process and may itself be waiting for the sender.
bool g_quit = false;
int g_exitCode = 0;

// Messages that only change or read a window's state: a sender on another thread handles them
// itself, under the tree lock, without waiting for the window thread. Their handlers therefore
// run on the sender's thread and must not send: a message sent from there to the window thread
// would wait for it while holding the lock the window thread needs to handle it.
bool IsStateMessage(UINT message)
{
    return message == WM_SETTEXT || message == WM_ENABLE || message == WM_GETFONT || message == PBM_SETPOS ||
           message == PBM_SETRANGE32 || message == PBM_GETPOS || message == PBM_GETRANGE;
}

bool OnWindowThread()
{
    return std::this_thread::get_id() == g_windowThread;
}

LRESULT Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(TreeLock());
    if (!Alive(hWnd))
        return 0;
    return hWnd->proc ? hWnd->proc->WindowProc(hWnd, message, wParam, lParam)
                      : DefWindowProc(hWnd, message, wParam, lParam);
}

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

bool TakeQueued(Message& message)
{
    std::lock_guard lock(g_queueMutex);
    if (g_queue.empty())
        return false;
    message = g_queue.front();
    g_queue.pop_front();
    return true;
}

bool AnythingQueued()
{
    std::lock_guard lock(g_queueMutex);
    return !g_queue.empty();
}

}  // namespace

namespace window_internal {

void Wake()
{
    if (IScreen* screen = CurrentScreen())
        screen->Wake();
}

void BecomeWindowThread()
{
    g_windowThread = std::this_thread::get_id();
}

}  // namespace window_internal

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (OnWindowThread() || IsStateMessage(message))
        return Dispatch(hWnd, message, wParam, lParam);
    // Anything else runs on the window thread; the sender waits for its result.
    return QueueAndWait({hWnd, message, wParam, lParam, nullptr}, true);
}

bool RunOnWindowThread(const std::function<void()>& work)
{
    if (MessageLoopEnded())
        return false;
    if (OnWindowThread()) {
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

bool PumpMessages()
{
    Message message;
    while (TakeQueued(message)) {
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
    BecomeWindowThread();
    {
        std::lock_guard lock(g_queueMutex);
        g_quit = false;
    }
    while (PumpMessages()) {
        if (!AnythingQueued())
            GetScreen().WaitForInput(AnyInvalid() ? static_cast<int>(kPaintInterval.count()) : kIdleWaitMilliseconds);
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
