#pragma once
// The application framework the program's classes derive from: window objects that handle the
// messages of a window (CWnd), dialogs made from a template with their controls bound to
// objects (CDialog, DDX_Control), the standard controls, and the application (CWinApp).
//
// A class handles messages by overriding WindowProc, dispatching what it knows to its handlers
// and handing the rest to its base class; CWnd::WindowProc ends in default processing.

#include <string>

#include "window/Gdi.h"
#include "window/Window.h"

struct DialogTemplate;

class CWnd : public IWindowProc {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Binds this object to an existing window: its messages come here from now on.
    bool SubclassWindow(HWND hWnd);
    HWND GetSafeHwnd() const { return m_hWnd; }

    LRESULT WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) final;

    // Shorthands for the window functions on m_hWnd.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    HWND GetParent() const;
    void Invalidate(bool erase = true) const;
    void InvalidateRect(const RECT* rect, bool erase = true) const;
    bool ShowWindow(int command) const;
    bool EnableWindow(bool enable) const;
    bool SetWindowPos(int x, int y, int width, int height, UINT flags) const;
    void ModifyStyle(std::uint32_t remove, std::uint32_t add) const;
    RECT GetClientRect() const;
    RECT GetWindowRect() const;
    void SetWindowText(const std::string& text) const;
    std::string GetWindowText() const;
    void BringWindowToTop() const;
    void UpdateWindow() const;
    bool DestroyWindow();

    // The window's handle; it stays after the window is gone, and the window functions then do
    // nothing with it.
    HWND m_hWnd = nullptr;

protected:
    // The object's own message handling; Default() for what it does not handle.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();
    virtual void PreSubclassWindow() {}
    // Owner-drawn controls draw here; the parent hands WM_DRAWITEM back to them.
    virtual void DrawItem(DRAWITEMSTRUCT* /*item*/) {}
    // After the window is gone.
    virtual void PostNcDestroy() {}

private:
    struct Current {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } m_current{};
};

class CButton : public CWnd {};
class CStatic : public CWnd {};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int lower, int upper) const { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
    int SetPos(int pos) const { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};

class CDataExchange {};

// Binds the dialog's control with the id to the object (once).
void DDX_Control(CDataExchange* pDX, HWND hDlg, int id, CWnd& control);

class CDialog : public CWnd {
public:
    // Creates the dialog modeless from the template, hidden unless the template says visible;
    // runs OnInitDialog before returning.
    bool Create(const DialogTemplate& dialogTemplate, HWND parent = nullptr);
    // The template's font, which the dialog gives each of its controls.
    const CFont& GetFont() const { return m_font; }

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    virtual void OnCancel();
    virtual void OnOK() {}

private:
    CFont m_font;
};

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();

    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }
    // InitInstance, then the message loop until the main window is gone, then ExitInstance.
    int Run();

    CWnd* m_pMainWnd = nullptr;
    std::string m_lpCmdLine;
    std::string m_pszProfileName;
};

// The one application object.
CWinApp* AfxGetApp();
