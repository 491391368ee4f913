#pragma once
// The names Windows cannot give a file, the name it stores a file under, and the names it holds
// as one file: the installations this updater serves are on Windows, so a package's entries, a
// manifest's files and the files a studio publishes are held to these rules on every system,
// before anything is written, and a file is placed where Windows would place it. Pure functions
// over UTF-8 text (and one small table of names); any thread may use them, each on its own
// objects. Nothing throws: a name Windows cannot hold comes back with why, for the log.
//
// Separators are '\' and '/'; every component is checked, folders as files.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// Why Windows cannot hold this relative name, for the log, or nothing when it can: a reserved
// device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, COM and LPT with ¹ ² ³; any letter case,
// with any extension, blanks before it: "nul.txt", "com1 .x"), a ':' (a drive, or a stream of
// another file), a component of dots and blanks alone (of which Windows would leave nothing), one
// of < > " | ? * or a control character, or a leading separator (absolute, a network share,
// "\\?\"). "." and ".." are left to the checks of where a name leads. A component that ends in
// dots or blanks is no fault: Windows stores it without them (WindowsStoredName).
std::optional<std::string> WindowsNameFault(std::string_view name);

// The name as Windows stores it: each component without the dots and blanks it ends in
// ("maps\old .\readme." is "maps\old\readme"), the separators as they are. "." and ".." stay, and
// so does a component of dots and blanks alone, which WindowsNameFault refuses. A manifest's file
// and a package's entry are placed under this name on every system.
std::string WindowsStoredName(std::string_view name);

// The name as Windows' file systems compare names: as it is stored, '/' between its components
// ("." and empty ones left out), ASCII letters in lower case ("Data\.\Town.dat." is
// "data/town.dat").
std::string CaseFoldedPath(std::string_view name);

// Whether two names differ in ASCII letter case alone ("a/b" and "a\B" do; "a" and "a." do not).
bool DifferInLetterCaseAlone(std::string_view a, std::string_view b);

// The names of one package or one manifest, compared as CaseFoldedPath does. ASCII letters alone
// are folded: Windows folds more (Greek, Cyrillic, fullwidth Latin), but the names of a game's
// files are ASCII or Chinese, which has no case.
class CCaseFoldedNames {
public:
    // Adds the name of the caller's item `index`, and gives back the index of an item added
    // before under another spelling of the same file on Windows: in letter case, or in the dots
    // and blanks its components end in ("Data\a.txt", "data\a.txt ", "data.\A.txt"). Which two
    // are the same file and which contradict each other is the caller's to say. The same name
    // again ("a/b" and "a\b" being the same) is no other spelling: it is the caller's to handle
    // as it always has.
    std::optional<std::size_t> Add(std::string_view name, std::size_t index);

private:
    struct Seen {
        std::string canonical;  // '/' between components, "." and empty ones left out
        std::size_t index;      // the caller's
    };
    std::unordered_map<std::string, Seen> m_byFolded;
};
