#include "ui/SkinProgressCtrl.h"

#include "window/WindowStyles.h"
#include "res/Resources.h"

namespace {

// The track's artwork: one column at each end, the 98 columns between stretched.
constexpr int kTrackHeight = 14;
constexpr int kTrackMiddle = 98;
constexpr int kTrackRightColumn = 99;

}  // namespace

CSkinProgressCtrl::CSkinProgressCtrl()
{
    LoadBitmap(m_bmpBar, IDB_PROGRESS_FILL);
    LoadBitmap(m_bmpTrack, IDB_PROGRESS_TRACK);
}

LRESULT CSkinProgressCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCALCSIZE:
        return OnNcCalcSize(wParam != 0, reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam));
    case WM_NCPAINT:
        return 0;  // no frame is ever drawn
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return OnEraseBkgnd(reinterpret_cast<CDC*>(wParam));
    default:
        return CProgressCtrl::OnMessage(message, wParam, lParam);
    }
}

LRESULT CSkinProgressCtrl::OnNcCalcSize(bool bCalcValidRects, NCCALCSIZE_PARAMS* params)
{
    if (!bCalcValidRects)
        return Default();
    // The client area is the whole window: the border takes no room.
    params->rgrc[2] = params->rgrc[0];
    return 0;
}

bool CSkinProgressCtrl::OnEraseBkgnd(CDC* dc)
{
    const RECT rc = GetClientRect();
    const int height = rc.Height();
    int oldMode = dc->SetStretchBltMode(HALFTONE);
    CDC track;
    track.SelectObject(&m_bmpTrack);
    dc->StretchBlt(rc.left, rc.top, 1, height, &track, 0, 0, 1, kTrackHeight);
    dc->StretchBlt(rc.left + 1, rc.top, rc.Width() - 2, height, &track, 1, 0, kTrackMiddle, kTrackHeight);
    dc->StretchBlt(rc.right - 1, rc.top, 1, height, &track, kTrackRightColumn, 0, 1, kTrackHeight);
    dc->SetStretchBltMode(oldMode);
    return true;
}

void CSkinProgressCtrl::OnPaint()
{
    std::unique_ptr<CDC> dc = BeginPaint(m_hWnd);
    int low = 0, high = 0, pos = 0;
    if (!GetProgressState(m_hWnd, low, high, pos))
        return;
    CDC bar;
    bar.SelectObject(&m_bmpBar);
    const RECT client = GetClientRect();
    const RECT inner{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
    int oldMode = dc->SetStretchBltMode(HALFTONE);
    RECT fill;
    if (GetWindowStyle(m_hWnd) & PBS_VERTICAL) {
        int yt = MulDiv(inner.Height(), high - pos, high - low);
        fill = {inner.left, yt, inner.right, inner.bottom};
    } else {
        // The edge is used as a client coordinate as it stands, without inner.left added.
        int xr = MulDiv(inner.Width(), pos - low, high - low);
        fill = {inner.left + 1, inner.top, xr, inner.bottom};
    }
    if (fill.Width() > 0 && fill.Height() > 0)
        dc->StretchBlt(fill.left, fill.top, fill.Width(), fill.Height(), &bar, 0, 0, m_bmpBar.Width(), m_bmpBar.Height());
    dc->SetStretchBltMode(oldMode);
}
