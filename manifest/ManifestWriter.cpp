#include "manifest/ManifestWriter.h"

#include <cstdio>

namespace {

std::string XmlAttribute(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// " mode=\"755\"" for a file that any execute bit marks as a program; nothing for the others.
std::string ModeAttribute(unsigned mode)
{
    if (!(mode & 0111))
        return {};
    char text[32];
    std::snprintf(text, sizeof text, " mode=\"%o\"", mode & 0777);
    return text;
}

std::string PatchElement(const ListedPatch& patch)
{
    return "      <patch from=\"" + patch.from + "\" filename=\"" + XmlAttribute(patch.name) + "\" filesize=\"" +
           std::to_string(patch.size) + "\" md5=\"" + patch.md5 + "\" sha256=\"" + patch.sha256 + "\"/>\n";
}

// A file without patches is one self-closing element; one with patches holds them.
std::string FileElement(const ListedFile& file, const std::string& version)
{
    std::string element = "    <file filename=\"" + XmlAttribute(file.name) + "\" filesize=\"" +
                          std::to_string(file.size) + "\" fileversion=\"" + XmlAttribute(version) + "\" md5=\"" +
                          file.md5 + "\" sha256=\"" + file.sha256 + "\"" + ModeAttribute(file.mode);
    if (file.patches.empty())
        return element + "/>\n";
    element += ">\n";
    for (const ListedPatch& patch : file.patches)
        element += PatchElement(patch);
    return element + "    </file>\n";
}

}  // namespace

std::string WriteManifest(const std::vector<ListedFile>& files, const std::string& version)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest>\n  <filelist>\n";
    for (const ListedFile& file : files)
        text += FileElement(file, version);
    return text + "  </filelist>\n</manifest>\n";
}
