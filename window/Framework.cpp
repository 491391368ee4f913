#include "window/Framework.h"

#include <algorithm>

#include "window/MessageBox.h"
#include "window/WindowStyles.h"
#include "window/DialogTemplate.h"

namespace {

CWinApp* g_pApp = nullptr;

// The template's face, which names a Windows font this system may not have, then the program's
// families to stand in for it.
CFont TemplateFont(const DialogTemplate& dialogTemplate)
{
    CFont font;
    if (!dialogTemplate.fontFace.empty())
        font.family = dialogTemplate.fontFace + ", " + font.family;
    font.pixelSize = MulDiv(dialogTemplate.pointSize, 96, 72);
    return font;
}

}  // namespace

CWnd::~CWnd()
{
    if (!m_hWnd || !IsWindow(m_hWnd))
        return;
    // A top-level window goes with its object; a control only stops calling it.
    if (::GetParent(m_hWnd))
        SetWindowProc(m_hWnd, nullptr);
    else
        ::DestroyWindow(m_hWnd);
}

bool CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd)
        return false;
    m_hWnd = hWnd;
    SetWindowProc(hWnd, this);
    PreSubclassWindow();
    return true;
}

LRESULT CWnd::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_hWnd)
        m_hWnd = hWnd;
    Current saved = m_current;
    m_current = {message, wParam, lParam};
    LRESULT result = 0;
    if (message == WM_REFLECT_DRAWITEM) {
        DrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        result = 1;
    } else {
        result = OnMessage(message, wParam, lParam);
    }
    m_current = saved;
    if (message == WM_DESTROY) {
        if (g_pApp && g_pApp->m_pMainWnd == this)
            PostQuitMessage(0);
        SetWindowProc(hWnd, nullptr);  // m_hWnd stays: the handle of a window that is gone
        PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::OnMessage(UINT, WPARAM, LPARAM)
{
    return Default();
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessage(m_hWnd, message, wParam, lParam);
}

bool CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

HWND CWnd::GetParent() const
{
    return ::GetParent(m_hWnd);
}

void CWnd::Invalidate(bool erase) const
{
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::InvalidateRect(const RECT* rect, bool erase) const
{
    ::InvalidateRect(m_hWnd, rect, erase);
}

bool CWnd::ShowWindow(int command) const
{
    return ::ShowWindow(m_hWnd, command);
}

bool CWnd::EnableWindow(bool enable) const
{
    return ::EnableWindow(m_hWnd, enable);
}

bool CWnd::SetWindowPos(int x, int y, int width, int height, UINT flags) const
{
    return ::SetWindowPos(m_hWnd, x, y, width, height, flags);
}

void CWnd::ModifyStyle(std::uint32_t remove, std::uint32_t add) const
{
    ::ModifyStyle(m_hWnd, remove, add);
}

RECT CWnd::GetClientRect() const
{
    return ::GetClientRect(m_hWnd);
}

RECT CWnd::GetWindowRect() const
{
    return ::GetWindowRect(m_hWnd);
}

void CWnd::SetWindowText(const std::string& text) const
{
    ::SetWindowText(m_hWnd, text);
}

std::string CWnd::GetWindowText() const
{
    return ::GetWindowText(m_hWnd);
}

void CWnd::BringWindowToTop() const
{
    ::BringWindowToTop(m_hWnd);
}

void CWnd::UpdateWindow() const
{
    ::UpdateWindow(m_hWnd);
}

bool CWnd::DestroyWindow()
{
    return m_hWnd && ::DestroyWindow(m_hWnd);
}

void DDX_Control(CDataExchange*, HWND hDlg, int id, CWnd& control)
{
    if (!control.m_hWnd)
        control.SubclassWindow(GetDlgItem(hDlg, id));
}

bool CDialog::Create(const DialogTemplate& dialogTemplate, HWND parent)
{
    m_font = TemplateFont(dialogTemplate);
    RECT size = MapDialogRect(0, 0, dialogTemplate.cx, dialogTemplate.cy);
    RECT rect = size;
    if (dialogTemplate.style & DS_CENTER) {
        RECT area = GetScreen().WorkArea();
        int left = area.left + (area.Width() - size.Width()) / 2, top = area.top + (area.Height() - size.Height()) / 2;
        rect = {left, top, left + size.Width(), top + size.Height()};
    }
    HWND hWnd = CreateWindowEx(dialogTemplate.exStyle, "#32770", dialogTemplate.caption,
                               dialogTemplate.style & ~WS_VISIBLE, rect, parent, 0);
    m_hWnd = hWnd;
    SetWindowProc(hWnd, this);
    for (const DialogItemTemplate& item : dialogTemplate.items) {
        HWND control = CreateWindowEx(0, item.className, item.text, item.style,
                                      MapDialogRect(item.x, item.y, item.cx, item.cy), hWnd, item.id);
        ::SendMessage(control, WM_SETFONT, reinterpret_cast<WPARAM>(&m_font), 0);
    }
    ::SendMessage(hWnd, WM_INITDIALOG, 0, 0);
    if (IsWindow(hWnd) && (dialogTemplate.style & WS_VISIBLE))
        ::ShowWindow(hWnd, SW_SHOW);
    return IsWindow(hWnd);
}

LRESULT CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if ((wParam & 0xFFFF) == IDCANCEL)
            OnCancel();
        else if ((wParam & 0xFFFF) == IDOK)
            OnOK();
        return 0;
    default:
        return CWnd::OnMessage(message, wParam, lParam);
    }
}

bool CDialog::OnInitDialog()
{
    CDataExchange dx;
    DoDataExchange(&dx);
    return true;
}

void CDialog::OnCancel()
{
    DestroyWindow();
}

CWinApp::CWinApp()
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::Run()
{
    if (InitInstance())
        RunMessageLoop();
    return ExitInstance();
}

RECT MapDialogRect(int x, int y, int cx, int cy)
{
    int left = MulDiv(x, kDialogBaseUnitX, 4), top = MulDiv(y, kDialogBaseUnitY, 8);
    return {left, top, left + MulDiv(cx, kDialogBaseUnitX, 4), top + MulDiv(cy, kDialogBaseUnitY, 8)};
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}
