#pragma once
// Where a run's files come from and go, and how they are fetched: what the owner of a run hands
// the download manager, and each file's fetch reads.

#include <string>
#include <vector>

#include "download/RetryPolicy.h"
#include "platform/Internet.h"

struct DownloadSetup {
    std::string strBaseURL;
    std::string strTempDir;
    std::string strInstallDir;
    bool bManifestMode = true;  // files from the manifest; false: one zip package
    // The run's HTTP session, which must outlive the manager; without one every download fails.
    CInternetSession* pSession = nullptr;
    // How many files are downloaded at once, each over a connection of its own (the first over
    // the session's, the others over sessions with its limits); 1: one after the other, in
    // queue order.
    unsigned nConnections = 1;
    // A file the manifest describes is asked for with its digest as a query ("town.dat?md5=..."):
    // a file keeps its name from one release to the next, and a cache on the way (a CDN, a proxy)
    // that keys on the whole URL then never hands out an older version. Static servers ignore it.
    bool bDigestQuery = true;
    RetryPolicy retries = {};
    // Further servers of the same files (base URLs like strBaseURL), in order: when a server
    // cannot be reached or fails a file after its tries, the next one takes over for the rest of
    // the run.
    std::vector<std::string> mirrors = {};
};
