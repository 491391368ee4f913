#pragma once

#include "app/AutoUpdateDlg.h"
#include "platform/Framework.h"
#include "platform/PlatformIdentity.h"

// This program's words for the platform: the class of its windows, the type of the messages it
// sends the lobby, which listens for that type, the OK of its message boxes, and the Song-style
// faces its Chinese text is drawn in.
PlatformIdentity ProductIdentity();

// The application: creates the update window, whose initialisation starts the run, and
// deletes it when the window is gone.
class CAutoUpdateApp : public CWinApp {
public:
    explicit CAutoUpdateApp(bool bConsoleProgress = false) : m_bConsoleProgress(bConsoleProgress) {}

    bool InitInstance() override;
    int ExitInstance() override;

    CAutoUpdateDlg* m_pUpdateDlg = nullptr;

private:
    bool m_bConsoleProgress;
};
