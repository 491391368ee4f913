#include "app/AutoUpdateDlg.h"

#include <cstdio>
#include <cstdlib>

#include "app/SourceSelection.h"
#include "app/Startup.h"
#include "download/Globals.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "res/Dialog102.h"
#include "res/Resources.h"

namespace {

constexpr COLORREF kTextColour = RGB(255, 255, 255);
constexpr const char* kWindowTitle = "KesuUpdate";
constexpr const char* kCaption = "提示";
constexpr const char* kDefaultWebUrl = "https://www.kesu.example.com/download/";
constexpr const char* kLobbyClass = "ZRMaravel";
constexpr UINT kLobbyMessage = WM_USER + 100;  // 1124

std::string Format(const char* format, auto... values)
{
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

CAutoUpdateDlg::CAutoUpdateDlg(bool bConsoleProgress)
{
    LoadBitmap(m_hIcon, IDR_MAINFRAME);
    LoadBitmap(m_bmpBackground, IDB_BACKGROUND);
    LoadBitmap(m_bmpSplash, IDB_SPLASH);
    if (bConsoleProgress)
        m_pConsoleProgress = std::make_unique<CConsoleProgress>();
}

CAutoUpdateDlg::~CAutoUpdateDlg()
{
    if (Downloading())
        m_downloadMgr.m_bCancel = true;
    m_downloadMgr.m_hThread.reset();
    ReleaseBackground();
}

bool CAutoUpdateDlg::Downloading() const
{
    int last = m_downloadMgr.m_nLastEvent;
    return m_downloadMgr.m_hThread && last != DOWNLOAD_EVENT_INSTALLING && last != DOWNLOAD_EVENT_ERROR;
}

bool CAutoUpdateDlg::Create(bool bStartUpdate)
{
    m_bStartUpdate = bStartUpdate;
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
    if (!m_bStartUpdate)
        return true;

    // One updater at a time: a running one comes to the front and this one ends unseen.
    if (std::uint64_t other = FindWindow("", kWindowTitle)) {
        GetScreen().ActivateForeignWindow(other);
        std::exit(0);
    }
    SetWindowText(kWindowTitle);

    const StartupValues values = LoadStartupValues(AfxGetApp() ? AfxGetApp()->m_lpCmdLine : "", GetModuleFileName());
    m_strInstallDir = values.strInstallDir;
    // One updater per installation, with a display or without (where there are no windows to
    // find): a second one leaves as the rule above makes it leave.
    if (!LockDirectoryForProcess(m_strInstallDir))
        std::exit(0);
    if (std::string problem = TempDirProblem(values); !problem.empty()) {
        BuildSetAsideNames(m_strInstallDir);
        ShowSplash();
        MessageBox(m_hWnd, problem.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
        OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
        return true;
    }
    InitializeDownloads(values, this, m_downloadMgr);
    m_pTrust = std::make_unique<CUpdateTrust>(TrustedKeyTexts(kSettingsFile), m_strInstallDir + kTrustStateFile);
    StartUpdate(values.strBaseURL);
    return true;
}

void CAutoUpdateDlg::StartUpdate(const std::string& strBaseURL)
{
    ShowSplash();
    ManifestTarget target{m_strInstallDir, m_nTotalSize, m_downloadMgr, m_hWnd, m_pTrust.get()};
    if (!QueueUpdate(target, strBaseURL)) {
        if (target.bUpToDate && m_pConsoleProgress)
            m_pConsoleProgress->UpToDate();
        OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
        return;
    }
    ShowDownloadPanel(m_nTotalSize);
    StartDownload(m_downloadMgr);
}

void CAutoUpdateDlg::OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    switch (nEvent) {
    case DOWNLOAD_EVENT_TOTAL:
        m_dwFileSize = dwParam2;
        m_progressFile.SetRange32(0, static_cast<int>(dwParam2 / 1024));
        m_progressFile.SetPos(0);
        break;
    case DOWNLOAD_EVENT_PROGRESS:
        m_staticStatus.SetWindowText(Format("正在下载 %s ", lpszText));
        m_staticDetail.SetWindowText(
            Format("大小 %d KB  已下载 %d KB", static_cast<int>(m_dwFileSize / 1024), static_cast<int>(dwParam1 / 1024)));
        m_progressFile.SetPos(static_cast<int>(dwParam1 / 1024));
        m_progressTotal.SetPos(static_cast<int>(dwParam2 / 1024));
        if (m_pConsoleProgress) {
            // The event's parameters hold 32 bits; the manager keeps the whole counts.
            const CDownloadMgr::Counts& counts = m_downloadMgr.m_counts;
            m_pConsoleProgress->Update(lpszText, counts.nFileDone, counts.nFileSize, counts.nTotalDone, m_nTotalSize);
        }
        break;
    case DOWNLOAD_EVENT_RESET:
        m_dwFileSize = 0;
        break;
    case DOWNLOAD_EVENT_INSTALLING:
        m_btnCancel.EnableWindow(false);
        break;
    case DOWNLOAD_EVENT_CLOSE:
        PostMessage(WM_CLOSE);
        break;
    case DOWNLOAD_EVENT_FINISHED:
        HandBackToLobby();
        PostMessage(WM_CLOSE);
        break;
    case DOWNLOAD_EVENT_ERROR:
        ShowFailureMessages(lpszText);
        PostMessage(WM_CLOSE);
        break;
    default:
        break;
    }
    if (m_pConsoleProgress && nEvent != DOWNLOAD_EVENT_PROGRESS && nEvent != DOWNLOAD_EVENT_TOTAL)
        m_pConsoleProgress->Finish();
}

void CAutoUpdateDlg::ShowFailureMessages(const char* lpszText)
{
    std::string webUrl = GetPrivateProfileString("DownUrl", "WebUrl", kDefaultWebUrl, kSettingsFile);
    std::string failure = "更新失败，请到" + webUrl + "下载最新版本";
    failure = GetPrivateProfileString("messages", "ErrorMsg", failure, kSettingsFile);
    MessageBox(m_hWnd, lpszText, kCaption, MB_OK | MB_ICONINFORMATION);
    MessageBox(m_hWnd, failure.c_str(), kCaption, MB_OK | MB_ICONINFORMATION);
}

void CAutoUpdateDlg::HandBackToLobby()
{
    // A named update was asked for by a running lobby: tell it. The default update restarts it.
    if (!g_strManifestName.empty() && g_strManifestName != g_strDefaultManifest) {
        if (std::uint64_t lobby = FindWindow(kLobbyClass, ""))
            GetScreen().PostForeignMessage(lobby, kLobbyMessage, static_cast<WPARAM>(g_nLobbyParam1),
                                           static_cast<LPARAM>(g_nLobbyParam2));
        return;
    }
    std::string updaterDir = InstallDirFromExePath(GetModuleFileName());
    if (updaterDir.size() > 1)
        updaterDir.pop_back();
    StartProgram(updaterDir + "/Maravel.exe", {"-" + g_strOldExeName});
}

void CAutoUpdateDlg::OnCancel()
{
    int last = m_downloadMgr.m_nLastEvent;
    if (last == DOWNLOAD_EVENT_INSTALLING || last == DOWNLOAD_EVENT_ERROR) {
        DestroyWindow();
        return;
    }
    m_downloadMgr.m_bCancel = true;
    m_btnCancel.EnableWindow(false);
}

void CAutoUpdateDlg::OnClose()
{
    // A window closed while files are still downloading stops the worker too; the process waits
    // for it before it ends.
    if (Downloading())
        m_downloadMgr.m_bCancel = true;
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
    SetWindowPos(0, 0, m_bmpBackground.Width(), m_bmpBackground.Height(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    ShowWindow(SW_SHOW);
    BringWindowToTop();
    BuildBackground();
    Invalidate(false);
    UpdateWindow();
}

void CAutoUpdateDlg::ShowDownloadPanel(std::uint64_t nTotalSize)
{
    m_bSplash = false;
    BuildBackground();
    Invalidate(false);
    for (CWnd* control : {static_cast<CWnd*>(&m_btnCancel), static_cast<CWnd*>(&m_staticStatus),
                          static_cast<CWnd*>(&m_staticDetail), static_cast<CWnd*>(&m_progressFile),
                          static_cast<CWnd*>(&m_progressTotal)})
        control->ShowWindow(SW_SHOW);
    m_progressTotal.SetRange32(0, static_cast<int>(nTotalSize / 1024));
    const UINT frameChanged = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED;
    m_progressFile.SetWindowPos(0, 0, 0, 0, frameChanged);
    m_progressTotal.SetWindowPos(0, 0, 0, 0, frameChanged);
    BringWindowToTop();
    UpdateWindow();
}
