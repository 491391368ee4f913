#pragma once
// The real minisign tool, run by the tests that hold this program's keys and signatures against
// it: what it writes must be read here, and what is written here it must accept.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RunTool.h"

// Runs `minisign` with the arguments in `directory`, `input` on its standard input (which is
// where it reads a password when it has no terminal).
ToolRun RunMinisign(const std::filesystem::path& directory, const std::vector<std::string>& arguments,
                    const std::string& input = "");

struct MinisignKeyFiles {
    std::filesystem::path publicKey;  // NAME.pub
    std::filesystem::path secretKey;  // NAME.key
};

// A new key pair NAME.pub and NAME.key in `directory`, encrypted with the passphrase when one is
// given, else written with -W. Throws when the tool fails.
MinisignKeyFiles MakeMinisignKeys(const std::filesystem::path& directory, const std::string& name,
                                  const std::optional<std::string>& passphrase = std::nullopt);
