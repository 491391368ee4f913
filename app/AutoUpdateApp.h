#pragma once

#include <memory>
#include <string>

#include "app/AutoUpdateDlg.h"
#include "app/ConsoleProgress.h"
#include "app/TestHooks.h"
#include "run/UpdateRun.h"
#include "window/Framework.h"
#include "window/PlatformIdentity.h"
#include "window/WindowScreen.h"

// This program's words for the platform: the class of its windows, the type of the messages it
// sends the lobby, which listens for that type, the OK of its message boxes, and the Song-style
// faces its Chinese text is drawn in.
PlatformIdentity ProductIdentity();

// The program's run from its command line, on the display given (without one, offscreen with its
// progress on standard error). The identity is set before the display is opened.
// The tests' hooks are the tests' build's alone (see app/TestHooks.h).
int RunProgram(std::unique_ptr<IScreen> display, const std::string& commandLine, const TestHooks& hooks = {});

// The application: one updater at a time, then the run with its window (and without a display,
// its progress on standard error), until the window is gone and the run has ended.
class CAutoUpdateApp : public CWinApp {
public:
    explicit CAutoUpdateApp(bool bConsoleProgress = false, TestHooks hooks = {})
        : m_bConsoleProgress(bConsoleProgress), m_hooks(hooks)
    {
    }

    // False, and nothing shown, when another updater is on the screen or holds the installation.
    bool InitInstance() override;
    int ExitInstance() override;

private:
    bool m_bConsoleProgress;
    TestHooks m_hooks;
    std::unique_ptr<UpdateRun> m_pRun;
    std::unique_ptr<CAutoUpdateDlg> m_pUpdateDlg;
    std::unique_ptr<CConsoleProgress> m_pConsoleProgress;
};
