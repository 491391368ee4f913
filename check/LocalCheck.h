#pragma once
// Whether the installed copies of the manifest's files are the listed ones, by their MD5 digests.
// Several files are read at once, one a core; with a check cache, a file whose facts have not
// changed since it was last read is not read again.

#include <atomic>
#include <string>
#include <vector>

class CCheckCache;

struct LocalFile {
    std::string strName;    // as the manifest lists it: the cache's key
    std::string strPath;    // the installed copy
    std::string strDigest;  // as the manifest lists it
};

enum class LocalState {
    Same,
    Differs,     // missing, another digest, a directory, or not a file that can be read without waiting
    Unreadable,  // there, but reading it failed
};

struct LocalResult {
    LocalState state = LocalState::Differs;
    std::string strDigest;  // the installed copy's, when it was read or known; else empty
    std::string strError{};  // why it could not be read (Unreadable)
    int nErrno = 0;          // and its errno
};

// One result a file, in the order given. What was read goes to the cache for its next save. Once
// *pStop is set no further file is read, and the results of those not read mean nothing.
std::vector<LocalResult> CheckLocalFiles(const std::vector<LocalFile>& files, CCheckCache* pCache,
                                         const std::atomic<bool>* pStop = nullptr);
