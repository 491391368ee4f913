#pragma once
// The lobby's command line: "<file> <number> <number>", with "-install" anywhere for a package
// update. Every line is accepted; missing parts keep their defaults.

#include <string>
#include <string_view>

struct CommandLine {
    std::string strManifestName;  // the file name with its last four characters replaced by ".xml"
    int nLobbyParam1 = -1;
    int nLobbyParam2 = -1;
    int bManifestMode = 1;  // 0 when the line holds "-install"
};

CommandLine ParseCommandLine(std::string_view line, const std::string& strDefaultManifest);

// The decimal number at the start of the text, as C's atoi reads it (blanks skipped, an optional
// sign, digits up to the first other character; 0 without digits), held to the range of int.
int ParseLeadingInt(std::string_view text);
