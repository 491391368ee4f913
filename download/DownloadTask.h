#pragma once

#include <string>

// One file to download. The name is a path relative both to the base URL and to the
// installation directory; it is split at its last '\' or '/'.
struct tagDownloadTask {
    int nID = 0;               // 1 for the first task a manager queues, then 2, 3, ...
    bool bDownloaded = false;  // stored completely in the temporary directory
    std::string szName;        // the name exactly as queued
    std::string szDir;         // before the last separator; empty without one
    std::string szFile;        // after the last separator; the whole name without one
};
