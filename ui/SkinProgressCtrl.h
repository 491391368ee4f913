#pragma once
// A progress bar drawn from two bitmaps: a framed track stretched over the whole control, and a
// fill stretched over the part that the position reaches. It paints itself opaquely.

#include "window/Framework.h"

class CSkinProgressCtrl : public CProgressCtrl {
public:
    CSkinProgressCtrl();

    CBitmap m_bmpBar;
    CBitmap m_bmpTrack;

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT OnNcCalcSize(bool bCalcValidRects, NCCALCSIZE_PARAMS* params);
    void OnPaint();
    bool OnEraseBkgnd(CDC* dc);
};
