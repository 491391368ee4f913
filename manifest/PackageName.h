#pragma once
// The package's name beside a manifest's, a rule of the format. Pure: any thread; no errors.

#include <string>

// The package that goes with a manifest: its name with every ".xml" made ".zip"
// (Game7.xml: Game7.zip).
std::string PackageName(const std::string& strManifestName);
