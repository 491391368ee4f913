#include "manifest/PackageName.h"

std::string PackageName(const std::string& strManifestName)
{
    std::string name = strManifestName;
    for (auto at = name.find(".xml"); at != std::string::npos; at = name.find(".xml", at + 4))
        name.replace(at, 4, ".zip");
    return name;
}
