#pragma once
// A line of text drawn straight onto the parent's background, in one colour, without a box.

#include "window/Framework.h"
#include "ui/TransparentHelper.h"

class CSkinStatic : public CStatic {
public:
    void SetTextColor(COLORREF color) { m_crText = color; }

    CTransparentHelper m_transparent;
    COLORREF m_crText = 0;

protected:
    void PreSubclassWindow() override;
    void DrawItem(DRAWITEMSTRUCT* item) override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
