#include "app/AutoUpdateDlg.h"

#include "app/Lobby.h"
#include "window/MessageBox.h"
#include "res/Dialog102.h"
#include "sentences/Sentences.h"
#include "res/Resources.h"

namespace {

constexpr COLORREF kTextColour = RGB(255, 255, 255);
using sentence::kCaption;

// In whole KB, as the bars and texts count.
int Kilobytes(std::uint64_t bytes)
{
    return static_cast<int>(bytes / 1024);
}

}  // namespace

CAutoUpdateDlg::CAutoUpdateDlg()
{
    LoadBitmap(m_hIcon, IDR_MAINFRAME);
    LoadBitmap(m_bmpBackground, IDB_BACKGROUND);
    LoadBitmap(m_bmpSplash, IDB_SPLASH);
}

CAutoUpdateDlg::~CAutoUpdateDlg()
{
    ReleaseBackground();
}

bool CAutoUpdateDlg::Create(IUpdateCommands* pCommands)
{
    m_pCommands = pCommands;
    return CDialog::Create(UpdateDialogTemplate());
}

void CAutoUpdateDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, m_hWnd, IDC_PROGRESS_FILE, m_progressFile);
    DDX_Control(pDX, m_hWnd, IDC_PROGRESS_TOTAL, m_progressTotal);
    DDX_Control(pDX, m_hWnd, IDC_STATIC_STATUS, m_staticStatus);
    DDX_Control(pDX, m_hWnd, IDC_STATIC_DETAIL, m_staticDetail);
    DDX_Control(pDX, m_hWnd, IDCANCEL, m_btnCancel);
}

bool CAutoUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(&m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(&m_hIcon));
    m_staticStatus.SetTextColor(kTextColour);
    m_staticDetail.SetTextColor(kTextColour);
    if (m_pCommands)
        SetWindowText(kUpdaterWindowTitle);
    return true;
}

void CAutoUpdateDlg::ShowTotalSize(std::uint64_t nTotalSize)
{
    m_progressTotal.SetRange32(0, Kilobytes(nTotalSize));
}

void CAutoUpdateDlg::ShowFileStart(std::uint64_t nFileSize)
{
    m_progressFile.SetRange32(0, Kilobytes(nFileSize));
    m_progressFile.SetPos(0);
}

void CAutoUpdateDlg::ShowProgress(const UpdateProgress& progress)
{
    // With several files at once, the bar is the file's whose bytes arrived last: its range too.
    // The same range again changes nothing.
    m_progressFile.SetRange32(0, Kilobytes(progress.nFileSize));
    m_staticStatus.SetWindowText(sentence::Downloading(progress.lpszFile));
    m_staticDetail.SetWindowText(sentence::SizeAndDone(Kilobytes(progress.nFileSize), Kilobytes(progress.nFileDone)));
    m_progressFile.SetPos(Kilobytes(progress.nFileDone));
    m_progressTotal.SetPos(Kilobytes(progress.nTotalDone));
}

void CAutoUpdateDlg::ShowInstalling()
{
    m_btnCancel.EnableWindow(false);
}

void CAutoUpdateDlg::ShowMessage(const std::string& strText)
{
    MessageBox(m_hWnd, strText.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
}

void CAutoUpdateDlg::ShowFailure(const std::string& strCause, const std::string& strWhereToGetIt)
{
    MessageBox(m_hWnd, strCause.c_str(), kCaption, MB_OK | MB_ICONINFORMATION);
    MessageBox(m_hWnd, strWhereToGetIt.c_str(), kCaption, MB_OK | MB_ICONINFORMATION);
}

void CAutoUpdateDlg::Close()
{
    PostMessage(WM_CLOSE);
}

void CAutoUpdateDlg::OnCancel()
{
    if (m_pCommands && m_pCommands->Cancel()) {
        m_btnCancel.EnableWindow(false);
        return;
    }
    DestroyWindow();
}

void CAutoUpdateDlg::OnClose()
{
    if (m_pCommands)
        m_pCommands->WindowClosed();
    DestroyWindow();
}

LRESULT CAutoUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        OnLButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the skin paints the whole window
    case WM_SIZE:
        OnSize();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(&m_hIcon);
    case WM_TRANSPARENT_BK:
        return OnTransparentBk(wParam, lParam);
    case WM_CLOSE:
        OnClose();
        return 0;
    default:
        return CDialog::OnMessage(message, wParam, lParam);
    }
}

void CAutoUpdateDlg::ReleaseBackground()
{
    if (!m_pMemDC)
        return;
    m_pMemDC->SelectObject(m_hOldMemBitmap);
    m_pMemBitmap.reset();
    m_pMemDC.reset();
}

void CAutoUpdateDlg::BuildBackground()
{
    CDC scratch;
    CBitmap* previous = scratch.SelectObject(&m_bmpBackground);
    const RECT client = GetClientRect();
    const int width = client.Width(), height = client.Height();

    ReleaseBackground();
    m_pMemDC = std::make_unique<CDC>();
    m_pMemBitmap = std::make_unique<CBitmap>();
    m_pMemBitmap->CreateBitmap(width, height);
    m_hOldMemBitmap = m_pMemDC->SelectObject(m_pMemBitmap.get());

    m_pMemDC->BitBlt(0, 0, width, height, &scratch, 0, 0);
    scratch.SelectObject(previous);
    if (m_bSplash) {
        previous = scratch.SelectObject(&m_bmpSplash);
        m_pMemDC->BitBlt(0, 0, width, height, &scratch, 0, 0);
        scratch.SelectObject(previous);
    }
    RefreshTransparentChildren(m_hWnd);
}

void CAutoUpdateDlg::OnPaint()
{
    std::unique_ptr<CDC> dc = BeginPaint(m_hWnd);
    const RECT client = GetClientRect();
    if (IsIconic(m_hWnd)) {
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0);
        const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
        dc->DrawIcon((client.Width() - cx + 1) / 2, (client.Height() - cy + 1) / 2, m_hIcon);
        return;
    }
    if (m_pMemDC)
        dc->BitBlt(0, 0, client.Width(), client.Height(), m_pMemDC.get(), 0, 0);
}

void CAutoUpdateDlg::OnSize()
{
    Default();
    BuildBackground();
    Invalidate(false);
}

LRESULT CAutoUpdateDlg::OnTransparentBk(WPARAM wParam, LPARAM lParam)
{
    DrawParentBackground(reinterpret_cast<HWND>(lParam), m_pMemDC.get(), reinterpret_cast<CDC*>(wParam));
    return 1;
}

void CAutoUpdateDlg::OnLButtonDown(int x, int y)
{
    // Dragging the background moves the window, as its caption would.
    PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(x, y));
}

void CAutoUpdateDlg::ShowSplash()
{
    // The background is composed where it is painted: on the window thread.
    RunOnWindowThread([this] { ShowSplashHere(); });
}

void CAutoUpdateDlg::ShowSplashHere()
{
    SetWindowPos(0, 0, m_bmpBackground.Width(), m_bmpBackground.Height(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    ShowWindow(SW_SHOW);
    BringWindowToTop();
    BuildBackground();
    Invalidate(false);
    UpdateWindow();
}

void CAutoUpdateDlg::ShowPanel(std::uint64_t nTotalSize)
{
    RunOnWindowThread([this, nTotalSize] { ShowPanelHere(nTotalSize); });
}

void CAutoUpdateDlg::ShowPanelHere(std::uint64_t nTotalSize)
{
    m_bSplash = false;
    BuildBackground();
    Invalidate(false);
    for (CWnd* control : {static_cast<CWnd*>(&m_btnCancel), static_cast<CWnd*>(&m_staticStatus),
                          static_cast<CWnd*>(&m_staticDetail), static_cast<CWnd*>(&m_progressFile),
                          static_cast<CWnd*>(&m_progressTotal)})
        control->ShowWindow(SW_SHOW);
    m_progressTotal.SetRange32(0, Kilobytes(nTotalSize));
    const UINT frameChanged = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED;
    m_progressFile.SetWindowPos(0, 0, 0, 0, frameChanged);
    m_progressTotal.SetWindowPos(0, 0, 0, 0, frameChanged);
    BringWindowToTop();
    UpdateWindow();
}
