#include "app/AutoUpdateApp.h"

#include "app/Startup.h"

PlatformIdentity ProductIdentity()
{
    return {.className = "KesuUpdate",
            .messageAtom = "KESU_MESSAGE",
            .okText = "确定",
            .fontFamilies = "SimSun, AR PL UMing CN"};
}

bool CAutoUpdateApp::InitInstance()
{
    m_pszProfileName = kSettingsFile;
    m_pUpdateDlg = new CAutoUpdateDlg(m_bConsoleProgress);
    m_pMainWnd = m_pUpdateDlg;
    m_pUpdateDlg->Create();
    return true;  // the loop runs even when the window has already asked to close
}

int CAutoUpdateApp::ExitInstance()
{
    delete m_pUpdateDlg;  // waits for the worker
    m_pUpdateDlg = nullptr;
    m_pMainWnd = nullptr;
    return CWinApp::ExitInstance();
}
