#pragma once
// Whether the tests can make symbolic links here: Linux makes them for anyone, Windows only for an
// administrator or in developer mode, and Wine not at all. A test of links skips where they
// cannot be made, saying so.

#include <filesystem>

// Tries one link in the directory (and removes it); true when it was made.
bool SymbolicLinksCanBeMade(const std::filesystem::path& directory);

inline constexpr const char* kNoSymbolicLinks =
    "this system makes no symbolic links (Wine never; Windows for an administrator or in developer mode)";
