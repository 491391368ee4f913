// KesuUpdate.exe on Windows: brings the lobby's installation directory up to date from the update
// server, in its window on the desktop.

#include <string>

#include "app/AutoUpdateApp.h"
#include "app/TestHooks.h"
#include "window/win32/Win32Screen.h"
#include "app/win32/WideArguments.h"

// Windows gives the command line in UTF-16; the program's texts are UTF-8.
int wmain(int argc, wchar_t** argv)
{
    SetPlatformIdentity(ProductIdentity());
    return RunProgram(OpenWin32Screen(), JoinWideArguments(argc, argv), ThisBuildsTestHooks());
}
