#include "download/Globals.h"

// Defined in one place, in the order the program constructs them.
std::string g_strManifestName;
const std::string g_strDefaultManifest = "update.xml";
std::string g_strOldExePath;
std::string g_strOldExeName;
int g_nLobbyParam1 = -1;
int g_nLobbyParam2 = -1;
int g_bManifestMode = 1;
std::mutex g_csTaskLock;
