#pragma once
// Names of downloaded files in the temporary directory. Every file lies directly in it: a
// manifest file as "<dir with '\' and '/' turned into '_'>_<file>.dtm" (or "<file>.dtm" without
// a directory), the package under its own name. Two tasks whose names would flatten alike get
// names of their own (see CDownloadMgr::AddTask).

#include <string>

struct tagDownloadTask;

std::string FlattenDirName(const std::string& szDir);
// The file name alone, as flattening gives it for a manifest file.
std::string FlatTempName(const tagDownloadTask& task);
std::string TempFilePath(const std::string& strTempDir, const tagDownloadTask& task, bool bManifestMode);
