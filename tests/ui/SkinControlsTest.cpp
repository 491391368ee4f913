// The skinned controls on the offscreen screen, checked pixel by pixel.

#include <gtest/gtest.h>

#include "window/MessageBox.h"
#include "window/WindowStyles.h"
#include "res/Resources.h"
#include "ui/SkinButton.h"
#include "ui/SkinProgressCtrl.h"
#include "ui/SkinStatic.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kFrame = RGB(0xAA, 0x4D, 0x05);

// A parent with a background of its own that it hands to transparent children, or, when
// `knowsProtocol` is false, paints on their WM_ERASEBKGND instead.
class Parent : public CWnd {
public:
    explicit Parent(bool knowsProtocol = true) : m_bKnowsProtocol(knowsProtocol)
    {
        background.CreateBitmap(400, 100);
        CDC dc;
        dc.SelectObject(&background);
        for (int x = 0; x < 400; ++x)
            dc.FillSolidRect({x, 0, x + 1, 100}, RGB(x % 256, 40, 200 - x / 2));
        memDc.SelectObject(&background);
        HWND hWnd = CreateWindowEx(0, "Parent", "", WS_POPUP | WS_VISIBLE, {0, 0, 400, 100}, nullptr, 0);
        SubclassWindow(hWnd);
    }
    ~Parent() override { DestroyWindow(); }

    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PAINT) {
            std::unique_ptr<CDC> dc = BeginPaint(m_hWnd);
            dc->BitBlt(0, 0, 400, 100, &memDc, 0, 0);
            return 0;
        }
        if (message == WM_ERASEBKGND && wParam != 0 && !m_bKnowsProtocol) {
            reinterpret_cast<CDC*>(wParam)->FillSolidRect({0, 0, 400, 100}, RGB(1, 2, 3));
            return 1;
        }
        if (message == WM_TRANSPARENT_BK && m_bKnowsProtocol) {
            DrawParentBackground(reinterpret_cast<HWND>(lParam), &memDc, reinterpret_cast<CDC*>(wParam));
            return 1;
        }
        return CWnd::OnMessage(message, wParam, lParam);
    }

    HWND Child(const char* className, std::uint32_t style, const RECT& rect, int id) const
    {
        return CreateWindowEx(0, className, "", WS_CHILD | style, rect, m_hWnd, id);
    }
    COLORREF Pixel(int x, int y) const { return GetWindowSurface(m_hWnd)->GetPixel(x, y); }
    COLORREF Background(int x, int y) const { return background.GetPixel(x, y); }
    void Paint() const { ::UpdateWindow(m_hWnd); }

    CBitmap background;
    CDC memDc;
    bool m_bKnowsProtocol;
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadBitmap(fill, IDB_PROGRESS_FILL);
        bar.SubclassWindow(parent.Child("msctls_progress32", WS_VISIBLE | WS_BORDER | PBS_SMOOTH, {10, 20, 346, 34}, 1000));
        bar.SetWindowPos(0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    COLORREF At(int x, int y) const { return parent.Pixel(10 + x, 20 + y); }
    // Columns of the bar whose row 5 shows the fill.
    std::pair<int, int> FilledColumns() const
    {
        int first = -1, last = -1;
        for (int x = 0; x < 336; ++x) {
            if (At(x, 6) == fill.GetPixel(0, 5)) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        return {first, last};
    }
    void Set(int low, int high, int pos)
    {
        bar.SetRange32(low, high);
        bar.SetPos(pos);
        parent.Paint();
    }

    Parent parent;
    CSkinProgressCtrl bar;
    CBitmap fill;
};

TEST_F(ProgressTest, TheFrameTakesNoRoomAfterTheFrameChange)
{
    RECT client = bar.GetClientRect();
    EXPECT_EQ(client.Width(), 336);
    EXPECT_EQ(client.Height(), 14);
}

TEST_F(ProgressTest, FullBarFillsColumnsTwoToWidthLessThreeAndTheInnerRows)
{
    Set(0, 100, 100);
    EXPECT_EQ(FilledColumns(), (std::pair{2, 333}));
    for (int y = 1; y <= 12; ++y)
        EXPECT_EQ(At(100, y), fill.GetPixel(0, y - 1)) << y;
    // The track stays visible around it: the white outer frame and the orange inner one.
    EXPECT_EQ(At(0, 6), kWhite);
    EXPECT_EQ(At(1, 6), kFrame);
    EXPECT_EQ(At(334, 6), kFrame);
    EXPECT_EQ(At(335, 6), kWhite);
    EXPECT_EQ(At(100, 0), kWhite);
    EXPECT_EQ(At(100, 13), kWhite);
}

TEST_F(ProgressTest, NoFillAtTheLowerBoundNearItOrForAnEmptyRange)
{
    for (auto [low, high, pos] : {std::tuple{0, 100, 0}, std::tuple{0, 334, 1}, std::tuple{0, 334, 2},
                                  std::tuple{5, 5, 5}, std::tuple{-50, 50, -50}}) {
        Set(low, high, pos);
        EXPECT_EQ(FilledColumns(), (std::pair{-1, -1})) << low << " " << high << " " << pos;
        EXPECT_EQ(At(100, 6), kWhite);
    }
    Set(0, 334, 3);
    EXPECT_EQ(FilledColumns(), (std::pair{2, 2}));
}

TEST_F(ProgressTest, HalfWayAndAShrinkingFillRedrawsTheTrack)
{
    Set(0, 100, 50);
    EXPECT_EQ(FilledColumns(), (std::pair{2, 166}));
    Set(0, 100, 10);  // the next file starts: the fill shrinks
    EXPECT_EQ(FilledColumns(), (std::pair{2, 32}));
    EXPECT_EQ(At(100, 6), kWhite);
}

TEST(SkinProgressVerticalTest, AVerticalBarFillsFromTheBottom)
{
    Parent parent;
    CSkinProgressCtrl bar;
    bar.SubclassWindow(parent.Child("msctls_progress32", WS_VISIBLE | PBS_VERTICAL, {10, 10, 24, 90}, 1000));
    bar.SetRange32(0, 100);
    bar.SetPos(50);
    parent.Paint();
    CBitmap fill;
    LoadBitmap(fill, IDB_PROGRESS_FILL);
    // inner = (1, 1, 13, 79): yt = MulDiv(78, 50, 100) = 39; the fill covers rows 39 to 78.
    auto filled = [&](int y) { return parent.Pixel(10 + 6, 10 + y) != kWhite && parent.Pixel(10 + 6, 10 + y) != kFrame; };
    EXPECT_FALSE(filled(37));
    EXPECT_TRUE(filled(40));
    EXPECT_TRUE(filled(78));
}

TEST(SkinStaticTest, TextDrawsOverTheParentsBackgroundClippedToOneLine)
{
    Parent parent;
    CSkinStatic text;
    HWND hText = parent.Child("Static", WS_VISIBLE | SS_LEFT, {102, 9, 345 - 200, 21}, 1001);
    // The update window's text: 9-point Song, AR PL UMing CN on this system, whose 12-pixel bitmap
    // strike draws in the text colour itself.
    CFont font{"SimSun, AR PL UMing CN", 12};
    SendMessage(hText, WM_SETFONT, reinterpret_cast<WPARAM>(&font), 0);
    text.SubclassWindow(hText);
    text.SetTextColor(kWhite);
    EXPECT_EQ(GetProp(hText, kTransparentTag), hText);
    EXPECT_EQ(GetWindowStyle(hText) & 0x1F, SS_OWNERDRAW);

    text.SetWindowText("");
    parent.Paint();
    for (int x = 102; x < 145; ++x)
        ASSERT_EQ(parent.Pixel(x, 15), parent.Background(x, 15)) << x;  // empty: background only

    text.SetWindowText("正在下载 data\\a.bin and more text than fits");
    parent.Paint();
    int white = 0;
    for (int y = 9; y < 21; ++y)
        for (int x = 102; x < 145; ++x)
            white += parent.Pixel(x, y) == kWhite;
    EXPECT_GT(white, 20);
    for (int y = 0; y < 100; ++y)
        EXPECT_EQ(parent.Pixel(145, y), parent.Background(145, y)) << y;  // cut at the right edge
    for (int x = 102; x < 145; ++x)
        EXPECT_EQ(parent.Pixel(x, 21), parent.Background(x, 21)) << x;  // never a second line
}

TEST(SkinStaticTest, AnEarlierTagIsKeptAndAParentWithoutTheProtocolErases)
{
    Parent parent(false);
    HWND hText = parent.Child("Static", WS_VISIBLE, {10, 10, 60, 22}, 1004);
    int marker = 0;
    SetProp(hText, kTransparentTag, &marker);
    CSkinStatic text;
    text.SubclassWindow(hText);
    EXPECT_EQ(GetProp(hText, kTransparentTag), &marker);
    parent.Paint();
    EXPECT_EQ(parent.Pixel(55, 20), RGB(1, 2, 3));  // the parent's erase painting
}

class SkinButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        button.SubclassWindow(parent.Child("Button", WS_VISIBLE | WS_TABSTOP, {200, 65, 246, 78}, IDCANCEL));
        LoadBitmap(strip, IDB_CANCEL_BUTTON);
    }
    // Whether the button shows frame `frame` (sampled at a few inner pixels).
    bool Shows(int frame)
    {
        parent.Paint();
        for (auto [x, y] : {std::pair{34, 10}, std::pair{10, 5}, std::pair{60, 15}})
            if (parent.Pixel(200 + x, 65 + y) != strip.GetPixel(frame * 69 + x, y))
                return false;
        return true;
    }

    Parent parent;
    CSkinButton button;
    CBitmap strip;
};

TEST_F(SkinButtonTest, TakesTheSizeOfOneFrameAndIsOwnerDrawn)
{
    RECT rect = button.GetClientRect();
    EXPECT_EQ(rect.Width(), 69);
    EXPECT_EQ(rect.Height(), 21);
    EXPECT_EQ(GetWindowStyle(button.m_hWnd) & 0xF, BS_OWNERDRAW);
    EXPECT_TRUE(Shows(0));
}

TEST_F(SkinButtonTest, FramesFollowHoverPressAndDisable)
{
    parent.Paint();
    DeliverMouse(parent.m_hWnd, WM_MOUSEMOVE, 210, 70);
    EXPECT_TRUE(button.m_bHover);
    EXPECT_TRUE(Shows(1));
    DeliverMouse(parent.m_hWnd, WM_MOUSEMOVE, 215, 71);  // no second leave request, same frame
    EXPECT_TRUE(Shows(1));
    DeliverMouse(parent.m_hWnd, WM_LBUTTONDOWN, 215, 71);
    EXPECT_TRUE(Shows(2));
    DeliverMouse(parent.m_hWnd, WM_LBUTTONUP, 215, 71);
    EXPECT_TRUE(Shows(1));
    DeliverMouse(parent.m_hWnd, WM_MOUSEMOVE, 20, 20);  // left
    EXPECT_FALSE(button.m_bHover);
    EXPECT_TRUE(Shows(0));
    DeliverMouse(parent.m_hWnd, WM_MOUSEMOVE, 210, 70);
    button.EnableWindow(false);
    EXPECT_TRUE(Shows(3));
}

TEST_F(SkinButtonTest, KeyColouredPixelsShowTheBackground)
{
    CDC dc;
    dc.SelectObject(&button.m_bmpSkin);
    dc.FillSolidRect({0, 0, 10, 21}, kSkinKeyColour);  // the left end of frame 0
    parent.Paint();
    EXPECT_EQ(parent.Pixel(203, 70), parent.Background(203, 70));
    EXPECT_EQ(parent.Pixel(234, 75), strip.GetPixel(34, 10));
}

TEST(TransparencyTest, RefreshSkipsHiddenUntaggedAndSkippingChildren)
{
    struct Counter : CWnd {
        LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
        {
            if (message == WM_ERASEBKGND)
                ++erases;
            if (message == WM_TRANSPARENT_SKIPREFRESH && skip)
                return 1;
            return CWnd::OnMessage(message, wParam, lParam);
        }
        int erases = 0;
        bool skip = false;
    };
    Parent parent;
    Counter tagged, hidden, skipping, untagged;
    for (auto [counter, style] : {std::pair{&tagged, WS_VISIBLE}, std::pair{&hidden, 0u}, std::pair{&skipping, WS_VISIBLE},
                                  std::pair{&untagged, WS_VISIBLE}}) {
        counter->SubclassWindow(parent.Child("Plain", style, {0, 0, 10, 10}, 1));
        if (counter != &untagged)
            SetProp(counter->m_hWnd, kTransparentTag, counter->m_hWnd);
    }
    skipping.skip = true;
    parent.Paint();
    for (Counter* c : {&tagged, &hidden, &skipping, &untagged})
        c->erases = 0;
    RefreshTransparentChildren(parent.m_hWnd);
    parent.Paint();
    EXPECT_EQ(tagged.erases, 1);
    EXPECT_EQ(hidden.erases, 0);
    EXPECT_EQ(skipping.erases, 0);
    EXPECT_EQ(untagged.erases, 0);
}

}  // namespace
