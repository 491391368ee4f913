#include "app/AutoUpdateApp.h"

#include "app/Startup.h"

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
