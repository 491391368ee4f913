#include "res/Dialog102.h"

#include "window/MessageBox.h"
#include "window/WindowStyles.h"
#include "res/Resources.h"

const DialogTemplate& UpdateDialogTemplate()
{
    static const DialogTemplate dialog{
        WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | DS_SETFONT | DS_CENTER,
        WS_EX_APPWINDOW,
        244,
        60,
        "",
        "宋体",
        9,
        400,
        false,
        {
            {IDCANCEL, "Button", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 188, 43, 46, 13, ""},
            {IDC_PROGRESS_FILE, "msctls_progress32", WS_CHILD | WS_BORDER | PBS_SMOOTH, 10, 19, 224, 9, ""},
            {IDC_PROGRESS_TOTAL, "msctls_progress32", WS_CHILD | WS_BORDER | PBS_SMOOTH, 10, 31, 224, 9, ""},
            {IDC_STATIC_STATUS, "Static", WS_CHILD | WS_GROUP | SS_LEFT, 68, 6, 162, 8, "准备下载..."},
            {IDC_STATIC_DETAIL, "Static", WS_CHILD | WS_GROUP | SS_LEFT, 12, 45, 166, 8, "..."},
        },
    };
    return dialog;
}
