#include "app/AutoUpdateApp.h"

#include "app/Lobby.h"
#include "app/Startup.h"
#include "platform/FileSystem.h"
#include "sentences/Sentences.h"

PlatformIdentity ProductIdentity()
{
    return {.className = "KesuUpdate",
            .messageAtom = "KESU_MESSAGE",
            .okText = sentence::kOk,
            .fontFamilies = "SimSun, AR PL UMing CN"};
}

bool CAutoUpdateApp::InitInstance()
{
    m_pszProfileName = kSettingsFile;
    // One updater at a time: a running one comes to the front and this one ends unseen.
    if (BringOtherUpdaterForward())
        return false;
    const StartupValues values = LoadStartupValues(m_lpCmdLine, GetModuleFileName(), m_hooks);
    m_pRun = std::make_unique<UpdateRun>(values.run, [values] { HandBackToLobby(values); });
    // One updater per installation, with a display or without (where there are no windows to
    // find): a second one leaves as the rule above makes it leave.
    if (!m_pRun->ClaimInstallation())
        return false;

    m_pUpdateDlg = std::make_unique<CAutoUpdateDlg>();
    m_pMainWnd = m_pUpdateDlg.get();
    m_pUpdateDlg->Create(m_pRun.get());
    m_pRun->AddView(*m_pUpdateDlg);
    if (m_bConsoleProgress) {
        m_pConsoleProgress = std::make_unique<CConsoleProgress>();
        m_pRun->AddView(*m_pConsoleProgress);
    }
    m_pRun->Start();
    return true;  // the loop runs even when the window has already asked to close
}

int CAutoUpdateApp::ExitInstance()
{
    m_pRun.reset();  // waits for the run's thread, which tells the views until it ends
    m_pUpdateDlg.reset();
    m_pConsoleProgress.reset();
    m_pMainWnd = nullptr;
    return CWinApp::ExitInstance();
}

int RunProgram(std::unique_ptr<IScreen> display, const std::string& commandLine, const TestHooks& hooks)
{
    const bool headless = !display;
    if (display)
        SetScreen(std::move(display));
    CAutoUpdateApp app(headless, hooks);
    app.m_lpCmdLine = commandLine;
    app.Run();
    return 0;  // the exit code never reports a failure
}
