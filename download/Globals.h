#pragma once
// Process-wide state of an update run. Written on the window thread during start-up, before the
// worker exists; only read afterwards (g_csTaskLock guards the task list).

#include <mutex>
#include <string>

extern std::string g_strManifestName;
extern const std::string g_strDefaultManifest;
extern std::string g_strOldExePath;
extern std::string g_strOldExeName;
extern int g_nLobbyParam1;
extern int g_nLobbyParam2;
extern int g_bManifestMode;  // 1: files from the manifest; 0: one zip package
extern std::mutex g_csTaskLock;
