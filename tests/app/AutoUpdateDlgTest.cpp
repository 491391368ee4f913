// The update window's look on the offscreen screen.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AutoUpdateDlg.h"
#include "res/Resources.h"
#include "ui/TransparentHelper.h"

namespace {

class AutoUpdateDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadBitmap(panel, IDB_BACKGROUND);
        LoadBitmap(splash, IDB_SPLASH);
        LoadBitmap(button, IDB_CANCEL_BUTTON);
        ASSERT_TRUE(dlg.Create());
    }
    const CBitmap& Surface() const { return *GetWindowSurface(dlg.m_hWnd); }
    // Pixels of the window that differ from the bitmap, outside the rectangles given.
    int Differences(const CBitmap& expected, std::initializer_list<RECT> except = {}) const
    {
        int differences = 0;
        for (int y = 0; y < 91; ++y)
            for (int x = 0; x < 368; ++x) {
                bool skipped = std::any_of(except.begin(), except.end(), [&](const RECT& r) {
                    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                });
                differences += !skipped && Surface().GetPixel(x, y) != expected.GetPixel(x, y);
            }
        return differences;
    }
    static void SaveArtefact(const CBitmap& surface, const std::string& name)
    {
        std::filesystem::create_directories(KESU_ARTEFACT_DIR);
        surface.SavePng(std::string(KESU_ARTEFACT_DIR) + "/" + name);
    }

    CBitmap panel, splash, button;
    CAutoUpdateDlg dlg;
};

TEST_F(AutoUpdateDlgTest, BeforeTheFirstCompositionNothingIsPaintedAndTheBackgroundRequestAnswersOne)
{
    EXPECT_EQ(dlg.m_pMemDC, nullptr);
    CBitmap target;
    target.CreateBitmap(10, 10);
    CDC dc;
    dc.SelectObject(&target);
    EXPECT_EQ(SendMessage(dlg.m_hWnd, WM_TRANSPARENT_BK, reinterpret_cast<WPARAM>(&dc),
                          reinterpret_cast<LPARAM>(dlg.m_staticStatus.m_hWnd)),
              1);
    EXPECT_EQ(target.GetPixel(5, 5), RGB(0, 0, 0));
    ShowWindow(dlg.m_hWnd, SW_SHOW);
    dlg.m_pMemDC.reset();  // showing composed nothing; make sure
    InvalidateRect(dlg.m_hWnd, nullptr, false);
    UpdateWindow(dlg.m_hWnd);
    EXPECT_EQ(Surface().GetPixel(100, 50), RGB(0, 0, 0));
}

TEST_F(AutoUpdateDlgTest, SplashFirstThenTheDownloadPanelWithoutTraces)
{
    dlg.ShowSplash();
    RECT window = GetWindowRect(dlg.m_hWnd);
    EXPECT_EQ(window.Width(), 368);
    EXPECT_EQ(window.Height(), 91);
    EXPECT_EQ(Differences(splash), 0);
    for (CWnd* control : {static_cast<CWnd*>(&dlg.m_btnCancel), static_cast<CWnd*>(&dlg.m_progressFile),
                          static_cast<CWnd*>(&dlg.m_staticStatus)})
        EXPECT_FALSE(IsWindowVisible(control->m_hWnd));
    SaveArtefact(Surface(), "splash.png");

    dlg.ShowPanel(5 * 1024 * 1024);
    EXPECT_FALSE(dlg.m_bSplash);
    EXPECT_TRUE(IsWindowVisible(dlg.m_btnCancel.m_hWnd));
    EXPECT_EQ(SendMessage(dlg.m_progressTotal.m_hWnd, PBM_GETRANGE, 0), 5120);
    const RECT status{102, 9, 345, 21}, detail{18, 68, 267, 80}, cancel{282, 65, 351, 86}, file{15, 29, 351, 43},
        total{15, 47, 351, 61};
    // Everywhere but under the controls, the panel; the texts are drawn over the panel too.
    EXPECT_EQ(Differences(panel, {status, detail, cancel, file, total}), 0);
    EXPECT_EQ(Surface().GetPixel(340, 18), panel.GetPixel(340, 18));  // right of the status text
    EXPECT_EQ(Surface().GetPixel(282 + 34, 65 + 10), button.GetPixel(34, 10));
    EXPECT_EQ(Surface().GetPixel(15, 36), RGB(255, 255, 255));      // the track's outer frame
    EXPECT_EQ(Surface().GetPixel(16, 36), RGB(0xAA, 0x4D, 0x05));   // and its inner frame
    SaveArtefact(Surface(), "download-panel.png");
}

TEST_F(AutoUpdateDlgTest, ControlsSitWhereTheTemplateAndTheSkinPutThem)
{
    auto at = [&](const CWnd& control) {
        RECT screen = GetWindowRect(control.m_hWnd);
        POINT topLeft = ScreenToClient(dlg.m_hWnd, {screen.left, screen.top});
        return RECT{topLeft.x, topLeft.y, topLeft.x + screen.Width(), topLeft.y + screen.Height()};
    };
    auto same = [](const RECT& a, const RECT& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    EXPECT_TRUE(same(at(dlg.m_btnCancel), RECT{282, 65, 351, 86}));
    EXPECT_TRUE(same(at(dlg.m_progressFile), RECT{15, 29, 351, 43}));
    EXPECT_TRUE(same(at(dlg.m_progressTotal), RECT{15, 47, 351, 61}));
    EXPECT_TRUE(same(at(dlg.m_staticStatus), RECT{102, 9, 345, 21}));
    EXPECT_TRUE(same(at(dlg.m_staticDetail), RECT{18, 68, 267, 80}));
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "准备下载...");
    EXPECT_EQ(dlg.m_staticStatus.m_crText, RGB(255, 255, 255));
}

TEST_F(AutoUpdateDlgTest, ComposingAgainAndAgainKeepsOneBackground)
{
    dlg.ShowSplash();
    int bitmaps = CBitmap::LiveCount();
    for (int i = 0; i < 1000; ++i)
        dlg.BuildBackground();
    EXPECT_EQ(CBitmap::LiveCount(), bitmaps);
    ASSERT_NE(dlg.m_pMemDC, nullptr);
    EXPECT_EQ(dlg.m_pMemDC->GetSelectedBitmap(), dlg.m_pMemBitmap.get());
}

TEST_F(AutoUpdateDlgTest, MinimisedTheWindowShowsItsIconInTheMiddle)
{
    dlg.ShowSplash();
    DeliverIconic(dlg.m_hWnd, true);
    UpdateWindow(dlg.m_hWnd);
    // 368 x 91 with a 32-pixel icon: its corner at ((368 - 32 + 1) / 2, (91 - 32 + 1) / 2) = (168, 30).
    CBitmap icon;
    LoadBitmap(icon, IDR_MAINFRAME);
    EXPECT_NE(Surface().GetPixel(168 + 16, 30 + 16), splash.GetPixel(168 + 16, 30 + 16));
    EXPECT_EQ(Surface().GetPixel(166, 50), splash.GetPixel(166, 50));  // outside the icon the window stays
    EXPECT_EQ(Surface().GetPixel(201, 50), splash.GetPixel(201, 50));
    DeliverIconic(dlg.m_hWnd, false);
    UpdateWindow(dlg.m_hWnd);
    EXPECT_EQ(Differences(splash), 0);
}

// The offscreen screen, recording the moves it is asked for.
class MoveRecorder : public IScreen {
public:
    struct Move {
        HWND hWnd;
        int x, y;
    };
    std::vector<Move> moves;

    bool HasDisplay() const override { return m_inner->HasDisplay(); }
    void Show(HWND hWnd, const RECT& rect, bool visible) override { m_inner->Show(hWnd, rect, visible); }
    void SetTitle(HWND hWnd, const std::string& title) override { m_inner->SetTitle(hWnd, title); }
    void Present(HWND hWnd, const CBitmap& surface, const RECT& dirty) override { m_inner->Present(hWnd, surface, dirty); }
    void Destroy(HWND hWnd) override { m_inner->Destroy(hWnd); }
    RECT WorkArea() override { return m_inner->WorkArea(); }
    void BeginMove(HWND hWnd, int x, int y) override { moves.push_back({hWnd, x, y}); }
    void SetIcon(HWND hWnd, const CBitmap& icon) override { m_inner->SetIcon(hWnd, icon); }
    std::uint64_t FindForeignWindow(const std::string& className, const std::string& title) override
    {
        return m_inner->FindForeignWindow(className, title);
    }
    void ActivateForeignWindow(std::uint64_t window) override { m_inner->ActivateForeignWindow(window); }
    bool PostForeignMessage(std::uint64_t window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return m_inner->PostForeignMessage(window, message, wParam, lParam);
    }
    bool WaitForInput(int milliseconds) override { return m_inner->WaitForInput(milliseconds); }
    void Wake() override { m_inner->Wake(); }

private:
    std::unique_ptr<IScreen> m_inner = MakeOffscreenScreen();
};

TEST_F(AutoUpdateDlgTest, PressingTheBackgroundAsksToMoveTheWindowFromThatPoint)
{
    auto recorder = std::make_unique<MoveRecorder>();
    MoveRecorder& screen = *recorder;
    SetScreen(std::move(recorder));
    dlg.ShowSplash();
    dlg.ShowPanel(1024);
    DeliverMouse(dlg.m_hWnd, WM_LBUTTONDOWN, 40, 20);
    DeliverMouse(dlg.m_hWnd, WM_LBUTTONDOWN, 282 + 30, 65 + 10);  // on the cancel button: a press, no move
    DeliverMouse(dlg.m_hWnd, WM_LBUTTONUP, 0, 0);
    EXPECT_TRUE(PumpMessages());
    ASSERT_EQ(screen.moves.size(), 1u);
    EXPECT_EQ(screen.moves[0].hWnd, dlg.m_hWnd);
    EXPECT_EQ(screen.moves[0].x, 40);
    EXPECT_EQ(screen.moves[0].y, 20);
    SetScreen(nullptr);
}

}  // namespace
