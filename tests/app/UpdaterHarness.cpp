#include "tests/app/UpdaterHarness.h"

#include <ctime>
#include <stdexcept>
#include <sys/stat.h>

#include "digest/MD5Checksum.h"
#include "tests/support/MinisignTool.h"
#include "tests/support/UpdaterProcess.h"

bool UpdaterRun::Told(const std::string& text) const
{
    return errors.find("提示: " + text + "\n") != std::string::npos;
}

bool UpdaterRun::LobbyStarted() const
{
    return errors.find("lobby started: -KesuUpdate_old.exe\n") != std::string::npos;
}

Installation::Installation()
{
    fs::copy_file(KESU_EXE, Path() / "KesuUpdate.exe");
    Write("Maravel.exe", "#!/bin/sh\necho \"lobby started: $*\" >&2\n");
    ::chmod((Path() / "Maravel.exe").c_str(), 0755);
}

void Installation::Configure(int port, const std::string& extra, const std::string& tempDir)
{
    Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(port) + "\n[Setup]\nTempDir=" + tempDir + "\n" + extra);
}

bool Installation::Has(const std::string& name) const
{
    std::error_code ignored;
    return fs::symlink_status(Path() / name, ignored).type() != fs::file_type::not_found;
}

UpdaterRun Installation::Run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                             std::chrono::seconds limit) const
{
    // No display: the program writes its message boxes to standard error.
    UpdaterOutput run = RunUpdater(Path(), {.arguments = arguments, .environment = environment}, limit);
    return {run.ended, std::move(run.output)};
}

std::string Sentence(const char* format, const std::string& name)
{
    std::string text = format;
    if (const auto at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}

bool MinisignInstalled()
{
    return RunMinisign(fs::temp_directory_path(), {"-v"}).status == 0;
}

MinisignKey MakeMinisignKey(const fs::path& directory, const std::string& name)
{
    const fs::path pub = MakeMinisignKeys(directory, name).publicKey;
    // The .pub file: an untrusted comment, then the key's line.
    const std::string text = ReadWholeFile(pub);
    const auto start = text.find('\n') + 1;
    return {text.substr(start, text.find('\n', start) - start), directory / (name + ".key")};
}

void MinisignSign(const MinisignKey& key, const fs::path& file, const fs::path& signature, const std::string& trustedComment)
{
    std::vector<std::string> arguments{"-S", "-s", key.secretKey.string(), "-m", file.string(), "-x", signature.string()};
    if (!trustedComment.empty())
        arguments.insert(arguments.end(), {"-t", trustedComment});
    if (RunMinisign(fs::current_path(), arguments).status != 0)
        throw std::runtime_error("minisign could not sign " + file.string());
}

std::string TrustedComment(std::uint64_t timestamp, const std::string& file, std::optional<std::uint64_t> expires)
{
    std::string text = "timestamp:" + std::to_string(timestamp) + "\tfile:" + file;
    if (expires)
        text += "\texpires:" + std::to_string(*expires);
    return text;
}

std::uint64_t Now()
{
    return static_cast<std::uint64_t>(std::time(nullptr));
}

std::string Md5Hex(const std::string& contents)
{
    CMD5Checksum md5;
    md5.Update(contents.data(), contents.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Sha256Hex(const std::string& contents)
{
    TempDir scratch;
    scratch.Write("contents", contents);
    const ToolRun run = RunTool(scratch.Path(), "sha256sum", {"contents"});
    if (run.status != 0 || run.output.size() < 64)
        throw std::runtime_error("sha256sum gave no digest");
    return run.output.substr(0, 64);
}

std::string ManifestEntry(const std::string& name, const std::string& contents, const std::string& extra)
{
    return "<file filename=\"" + name + "\" filesize=\"" + std::to_string(contents.size()) +
           "\" fileversion=\"1\" md5=\"" + Md5Hex(contents) + "\"" + (extra.empty() ? "" : " " + extra) + "/>";
}
