#pragma once
// A push button drawn from a strip of four frames: normal, mouse over it, pressed, disabled.
// It draws over the parent's background and tracks the mouse for the hover frame.

#include "window/Framework.h"
#include "ui/TransparentHelper.h"

inline constexpr COLORREF kSkinKeyColour = RGB(255, 0, 255);

class CSkinButton : public CButton {
public:
    bool m_bHover = false;
    CBitmap m_bmpSkin;
    CTransparentHelper m_transparent;

protected:
    void PreSubclassWindow() override;
    void DrawItem(DRAWITEMSTRUCT* item) override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnMouseMove();
    LRESULT OnMouseLeave();
};
