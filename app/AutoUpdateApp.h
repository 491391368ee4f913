#pragma once

#include "app/AutoUpdateDlg.h"
#include "platform/Framework.h"

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
