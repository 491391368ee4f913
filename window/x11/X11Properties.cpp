#include "window/x11/X11Properties.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <unistd.h>

namespace {

std::vector<Window> Children(const X11Connection& x, Window parent)
{
    Window root, ancestor, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(x.display, parent, &root, &ancestor, &children, &count) && children)
        result.assign(children, children + count);
    if (children)
        XFree(children);
    return result;
}

// Hands the property's data and its number of items to `use`, when the window has the property
// (and still exists). `length` is in 32-bit units.
template <typename Use>
void ReadProperty(const X11Connection& x, Window window, ::Atom property, ::Atom type, long length, Use use)
{
    ::Atom actual;
    int format;
    unsigned long count = 0, remaining;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x.display, window, property, 0, length, False, type, &actual, &format, &count, &remaining,
                           &data) == Success && data) {
        use(data, count);
        XFree(data);
    }
}

std::string Text(const X11Connection& x, Window window, ::Atom property, ::Atom type)
{
    std::string text;
    ReadProperty(x, window, property, type, 1024,
                 [&](unsigned char* data, unsigned long count) { text.assign(reinterpret_cast<char*>(data), count); });
    return text;
}

bool Matches(const X11Connection& x, Window window, const std::string& className, const std::string& title)
{
    if (!title.empty() && Text(x, window, x.AtomOf(NET_WM_NAME_ATOM), x.AtomOf(UTF8_STRING_ATOM)) != title &&
        Text(x, window, XA_WM_NAME, XA_STRING) != title)
        return false;
    if (className.empty())
        return !title.empty();
    XClassHint hint{};
    if (!XGetClassHint(x.display, window, &hint))
        return false;
    bool same = hint.res_class && className == hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return same;
}

}  // namespace

void DescribeWindow(const X11Connection& x, Window id, bool decorated, const std::string& className)
{
    if (!decorated) {
        struct {
            unsigned long flags, functions, decorations;
            long inputMode;
            unsigned long status;
        } motif{2, 0, 0, 0, 0};
        XChangeProperty(x.display, id, x.AtomOf(MOTIF_WM_HINTS_ATOM), x.AtomOf(MOTIF_WM_HINTS_ATOM), 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(&motif), 5);
    }
    std::string name = className;
    XClassHint classHint{name.data(), name.data()};
    XSetClassHint(x.display, id, &classHint);
    ::Atom close = x.AtomOf(WM_DELETE_WINDOW_ATOM);
    XSetWMProtocols(x.display, id, &close, 1);
    long pid = static_cast<long>(::getpid());
    XChangeProperty(x.display, id, x.AtomOf(NET_WM_PID_ATOM), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
}

void SetOwnerWindow(const X11Connection& x, Window id, Window owner)
{
    XSetTransientForHint(x.display, id, owner);
    ::Atom dialog = x.AtomOf(NET_WM_WINDOW_TYPE_DIALOG_ATOM);
    XChangeProperty(x.display, id, x.AtomOf(NET_WM_WINDOW_TYPE_ATOM), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dialog), 1);
}

void SetFixedSize(const X11Connection& x, Window id, const RECT& rect)
{
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
    hints->x = rect.left;
    hints->y = rect.top;
    hints->width = hints->min_width = hints->max_width = rect.Width();
    hints->height = hints->min_height = hints->max_height = rect.Height();
    XSetWMNormalHints(x.display, id, hints);
    XFree(hints);
}

void SetTitleProperty(const X11Connection& x, Window id, const std::string& title)
{
    XStoreName(x.display, id, title.c_str());
    XChangeProperty(x.display, id, x.AtomOf(NET_WM_NAME_ATOM), x.AtomOf(UTF8_STRING_ATOM), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    XFlush(x.display);
}

void SetIconProperty(const X11Connection& x, Window id, const std::vector<unsigned long>& icon)
{
    XChangeProperty(x.display, id, x.AtomOf(NET_WM_ICON_ATOM), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(icon.data()), static_cast<int>(icon.size()));
}

long WmState(const X11Connection& x, Window id)
{
    long state = 0;
    ReadProperty(x, id, x.AtomOf(WM_STATE_ATOM), AnyPropertyType, 2, [&](unsigned char* data, unsigned long count) {
        if (count > 0)
            state = reinterpret_cast<long*>(data)[0];
    });
    return state;
}

bool WindowManagerSupports(const X11Connection& x, ::Atom wanted)
{
    bool supported = false;
    ReadProperty(x, x.root, x.AtomOf(NET_SUPPORTED_ATOM), XA_ATOM, 4096, [&](unsigned char* data, unsigned long count) {
        auto* atoms = reinterpret_cast<::Atom*>(data);
        supported = std::find(atoms, atoms + count, wanted) != atoms + count;
    });
    return supported;
}

Window FindTopLevel(const X11Connection& x, const std::string& className, const std::string& title)
{
    // Window managers put top-level windows into frames: one level down is looked at too.
    // Any of these windows may go away while it is read; it then simply does not match.
    for (Window candidate : Children(x, x.root)) {
        if (Matches(x, candidate, className, title))
            return candidate;
        for (Window inner : Children(x, candidate))
            if (Matches(x, inner, className, title))
                return inner;
    }
    return 0;
}
