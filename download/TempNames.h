#pragma once
// Names of downloaded files in the temporary directory. Every file lies directly in it: a
// manifest file as "<dir with '\' turned into '_'>_<file>.dtm" (or "<file>.dtm" without a
// directory), the package under its own name.

#include <string>

struct tagDownloadTask;

std::string FlattenDirName(const std::string& szDir);
std::string TempFilePath(const std::string& strTempDir, const tagDownloadTask& task, bool bManifestMode);
