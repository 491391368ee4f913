#pragma once
// The names Windows cannot give a file, or reads as something else: the installations this
// updater serves are on Windows, so a package's entries, a manifest's files and the files a
// studio publishes are held to these rules on every system, before anything is written. Pure
// functions over UTF-8 text (and one small table of names); any thread may use them, each on its
// own objects. Nothing throws: a name Windows cannot hold comes back with why, for the log.
//
// Separators are '\' and '/'; every component is checked, folders as files.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// Why Windows cannot hold this relative name, for the log, or nothing when it can: a reserved
// device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, COM and LPT with ¹ ² ³; any letter case,
// with any extension, blanks before it: "nul.txt", "com1 .x"), a ':' (a drive, or a stream of
// another file), a component that ends in '.' or ' ' (which Windows drops), one of < > " | ? *
// or a control character, or a leading separator (absolute, a network share, "\\?\").
// "." and ".." are left to the checks of where a name leads.
std::optional<std::string> WindowsNameFault(std::string_view name);

// The name as Windows' file systems compare names: '/' between its components ("." and empty ones
// left out), ASCII letters in lower case ("Data\.\Town.dat" is "data/town.dat").
std::string CaseFoldedPath(std::string_view name);

// The names of one package or one manifest, compared as CaseFoldedPath does. ASCII letters alone
// are folded: Windows folds more (Greek, Cyrillic,
// fullwidth Latin), but the names of a game's files are ASCII or Chinese, which has no case.
class CCaseFoldedNames {
public:
    // Adds the name, and gives back a name added before that differs from it in letter case alone,
    // which Windows would hold as the same file. The same name again ("a/b" and "a\b" being the
    // same) is no such name: it is the caller's to handle as it always has.
    std::optional<std::string> Add(std::string_view name);

private:
    struct Seen {
        std::string canonical;  // '/' between components, "." and empty ones left out
        std::string name;       // as it was added
    };
    std::unordered_map<std::string, Seen> m_byFolded;
};
