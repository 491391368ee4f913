#include "window/MessageBox.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "window/PlatformIdentity.h"
#include "window/WindowStyles.h"

namespace {

constexpr int kMargin = 20;
constexpr int kIconSize = 32;
constexpr int kLineHeight = 18;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kStripHeight = 46;  // the grey strip that holds the button

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start || end < text.size())
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

// The box's own window: icon, text and the OK button; OK, Return, Escape or closing end it.
class MessageBoxWindow : public IWindowProc {
public:
    MessageBoxWindow(const std::string& text, unsigned type) : m_lines(Lines(text)), m_nType(type) {}

    LRESULT WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        switch (message) {
        case WM_PAINT:
            Paint(hWnd);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) {
                DestroyWindow(hWnd);
                return 0;
            }
            return DefWindowProc(hWnd, message, wParam, lParam);
        case WM_COMMAND:
            if ((wParam & 0xFFFF) == IDOK || (wParam & 0xFFFF) == IDCANCEL)
                DestroyWindow(hWnd);
            return 0;
        default:
            return DefWindowProc(hWnd, message, wParam, lParam);
        }
    }

    // The client size the lines, the icon and the button need.
    std::pair<int, int> Size() const
    {
        CDC measure;
        measure.SelectFont(&m_font);
        int width = 0;
        for (const std::string& line : m_lines)
            width = std::max(width, measure.GetTextExtent(line).first);
        int textHeight = static_cast<int>(m_lines.size()) * kLineHeight;
        return {std::max(240, kMargin * 3 + kIconSize + width),
                kMargin * 2 + std::max(kIconSize, textHeight) + kStripHeight};
    }

    const CFont m_font{};

private:
    void Paint(HWND hWnd) const
    {
        std::unique_ptr<CDC> dc = BeginPaint(hWnd);
        RECT client = GetClientRect(hWnd);
        dc->FillSolidRect({0, 0, client.right, client.bottom - kStripHeight}, RGB(255, 255, 255));
        dc->FillSolidRect({0, client.bottom - kStripHeight, client.right, client.bottom}, RGB(0xF0, 0xF0, 0xF0));
        DrawIcon(*dc);
        dc->SetBkMode(TRANSPARENT);
        dc->SelectFont(&m_font);
        dc->SetTextColor(RGB(0, 0, 0));
        int x = kMargin * 2 + kIconSize, y = kMargin + (m_lines.size() == 1 ? (kIconSize - kLineHeight) / 2 : 0);
        for (const std::string& line : m_lines) {
            dc->DrawText(line, {x, y, client.right - kMargin, y + kLineHeight}, DT_SINGLELINE);
            y += kLineHeight;
        }
    }

    // Blue with an "i" for information, amber with a "!" for a warning.
    void DrawIcon(CDC& dc) const
    {
        const bool warning = (m_nType & 0xF0) == MB_ICONEXCLAMATION;
        const RECT icon{kMargin, kMargin, kMargin + kIconSize, kMargin + kIconSize};
        dc.FillSolidRect(icon, warning ? RGB(0xF2, 0xB7, 0x05) : RGB(0x1E, 0x6F, 0xD9));
        CFont glyph{"DejaVu Sans Bold", 24};
        dc.SelectFont(&glyph);
        dc.SetBkMode(TRANSPARENT);
        dc.SetTextColor(warning ? RGB(0, 0, 0) : RGB(255, 255, 255));
        dc.DrawText(warning ? "!" : "i", icon, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    std::vector<std::string> m_lines;
    unsigned m_nType;
};

// Shows the box and runs the window thread's messages until it is dismissed; false when the
// display went away under it, so that no one saw it to the end.
bool RunModalBox(HWND hOwner, const std::string& text, const std::string& caption, unsigned type)
{
    MessageBoxWindow box(text, type);
    auto [width, height] = box.Size();
    RECT area = IsWindow(hOwner) ? GetWindowRect(hOwner) : GetScreen().WorkArea();
    int left = area.left + (area.Width() - width) / 2, top = area.top + (area.Height() - height) / 2;
    HWND hBox = CreateWindowEx(0, "#32770", caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                               {left, top, left + width, top + height}, IsWindow(hOwner) ? hOwner : nullptr, 0);
    SetWindowProc(hBox, &box);
    GetScreen().SetTitle(hBox, caption);
    HWND ok = CreateWindowEx(0, "Button", GetPlatformIdentity().okText, WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                             {width - kMargin - kButtonWidth, height - (kStripHeight + kButtonHeight) / 2,
                              width - kMargin, height - (kStripHeight - kButtonHeight) / 2},
                             hBox, IDOK);
    SendMessage(ok, WM_SETFONT, reinterpret_cast<WPARAM>(&box.m_font), 0);

    const bool ownerEnabled = IsWindow(hOwner) && IsWindowEnabled(hOwner);
    if (ownerEnabled)
        EnableWindow(hOwner, false);
    ShowWindow(hBox, SW_SHOW);
    UpdateWindow(hBox);
    // The box ends when it is dismissed, when its owner goes (taking the box with it) or when the
    // message loop ends under it.
    while (IsWindow(hBox) && GetScreen().HasDisplay() && PumpMessages()) {
        if (IsWindow(hBox))
            GetScreen().WaitForInput(16);
    }
    const bool seen = GetScreen().HasDisplay();
    DestroyWindow(hBox);
    if (ownerEnabled && IsWindow(hOwner)) {
        EnableWindow(hOwner, true);
        BringWindowToTop(hOwner);
    }
    return seen;
}

}  // namespace

int MessageBox(HWND hOwner, const char* lpszText, const char* lpszCaption, unsigned nType)
{
    const std::string text = lpszText ? lpszText : "", caption = lpszCaption ? lpszCaption : "";
    bool shown = false;
    if (GetScreen().HasDisplay() && RunOnWindowThread([&] { shown = RunModalBox(hOwner, text, caption, nType); }) && shown)
        return IDOK;
    // No one can see a box, the window thread can no longer show one, or the display went away
    // while it showed: the text is not lost.
    std::string line = caption + ": " + text;
    if (line.back() != '\n')
        line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return IDOK;
}
