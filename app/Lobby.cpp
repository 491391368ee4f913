#include "app/Lobby.h"

#include "platform/Process.h"
#include "window/Window.h"
#include "window/WindowScreen.h"

namespace {

constexpr const char* kLobbyClass = "ZRMaravel";
constexpr UINT kLobbyMessage = WM_USER + 100;  // 1124

}  // namespace

bool BringOtherUpdaterForward()
{
    const std::uint64_t other = FindWindow("", kUpdaterWindowTitle);
    if (other)
        GetScreen().ActivateForeignWindow(other);
    return other != 0;
}

void HandBackToLobby(const StartupValues& values)
{
    if (!values.run.strManifestName.empty() && values.run.strManifestName != kDefaultManifest) {
        if (std::uint64_t lobby = FindWindow(kLobbyClass, ""))
            GetScreen().PostForeignMessage(lobby, kLobbyMessage, static_cast<WPARAM>(values.nLobbyParam1),
                                           static_cast<LPARAM>(values.nLobbyParam2));
        return;
    }
    std::string updaterDir = values.run.strInstallDir;  // the executable's directory
    if (updaterDir.size() > 1)
        updaterDir.pop_back();
    StartProgram(updaterDir + "/Maravel.exe", {"-" + values.strOldExeName});
}
