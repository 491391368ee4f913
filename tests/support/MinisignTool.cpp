#include "tests/support/MinisignTool.h"

#include <stdexcept>

ToolRun RunMinisign(const std::filesystem::path& directory, const std::vector<std::string>& arguments,
                    const std::string& input)
{
    return RunTool(directory, "minisign", arguments, input);
}

MinisignKeyFiles MakeMinisignKeys(const std::filesystem::path& directory, const std::string& name,
                                  const std::optional<std::string>& passphrase)
{
    MinisignKeyFiles files{directory / (name + ".pub"), directory / (name + ".key")};
    std::vector<std::string> arguments{"-G", "-f", "-p", files.publicKey.string(), "-s", files.secretKey.string()};
    if (!passphrase)
        arguments.push_back("-W");
    // Asked twice, to confirm it.
    ToolRun run = RunMinisign(directory, arguments, passphrase ? *passphrase + "\n" + *passphrase + "\n" : "");
    if (run.status != 0)
        throw std::runtime_error("minisign -G failed: " + run.output);
    return files;
}
