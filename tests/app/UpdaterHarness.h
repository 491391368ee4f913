#pragma once
// What the attack tests share: an installation directory that KesuUpdate.exe runs in as the lobby
// starts it, the real minisign tool to make keys and signatures, and manifest entries.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

// How a run of the program ended.
struct UpdaterRun {
    bool ended = false;  // false: it was still running at the limit and was killed
    // Standard error (and standard output, where nothing comes), the stand-in lobby's line
    // included ("lobby started: ARGUMENTS").
    std::string errors;

    // The message box with this text was shown (written as "提示: TEXT").
    bool Told(const std::string& text) const;
    // The lobby beside the updater was started with -KesuUpdate_old.exe.
    bool LobbyStarted() const;
};

// An installation of the lobby: a copy of the updater, its settings and a stand-in Maravel.exe
// that writes how it was started to the standard error it inherits. A run is read to the end
// of its output, so that whatever the updater started has ended too.
class Installation {
public:
    Installation();

    const fs::path& Path() const { return m_dir.Path(); }
    // pirvex.dll: the server, the temporary directory and the lines given (sections included).
    void Configure(int port, const std::string& extra = "", const std::string& tempDir = "tmp");
    void Write(const std::string& name, const std::string& contents) const { m_dir.Write(name, contents); }
    std::string Read(const std::string& name) const { return ReadWholeFile(Path() / name); }
    bool Has(const std::string& name) const;

    // Runs ./KesuUpdate.exe with the arguments and without a display; killed after `limit`.
    UpdaterRun Run(const std::vector<std::string>& arguments = {}, const std::vector<std::string>& environment = {},
                   std::chrono::seconds limit = std::chrono::seconds(60)) const;

private:
    TempDir m_dir;
};

// The message after a failed run, with the default web page.
inline const std::string kFailedRunText = "更新失败，请到https://www.kesu.example.com/download/下载最新版本";

// The refusal sentences, the file's name in place of %s.
std::string Sentence(const char* format, const std::string& name);
inline constexpr const char* kUnsigned = "%s 没有签名，已拒绝本次更新。";
inline constexpr const char* kBadSignature = "%s 的签名无效，已拒绝本次更新。";
inline constexpr const char* kUntrustedKey = "%s 不是用受信任的密钥签名的，已拒绝本次更新。";
inline constexpr const char* kOtherFile = "%s 的签名属于另一个文件，已拒绝本次更新。";
inline constexpr const char* kRolledBack = "%s 比本机已接受的版本更旧，已拒绝本次更新。";
inline constexpr const char* kExpired = "%s 的签名已过期，已拒绝本次更新。";
inline const std::string kBadConfiguredKey = "配置的公钥无效，已拒绝本次更新。";
inline std::string DownloadFailed(const std::string& name) { return "下载 " + name + " 文件失败"; }

// minisign keys, made and used by the minisign tool itself.
bool MinisignInstalled();
struct MinisignKey {
    std::string publicKey;  // the base64 line of the .pub file
    fs::path secretKey;     // unencrypted
};
MinisignKey MakeMinisignKey(const fs::path& directory, const std::string& name);
// Signs `file` into `signature`; an empty comment leaves minisign's own ("timestamp:NOW\tfile:NAME\thashed").
void MinisignSign(const MinisignKey& key, const fs::path& file, const fs::path& signature,
                  const std::string& trustedComment = "");
// "timestamp:T<TAB>file:NAME", with "<TAB>expires:E" when given.
std::string TrustedComment(std::uint64_t timestamp, const std::string& file,
                           std::optional<std::uint64_t> expires = std::nullopt);
std::uint64_t Now();

// A manifest line for a published file; `extra` goes among its attributes.
std::string ManifestEntry(const std::string& name, const std::string& contents, const std::string& extra = "");
std::string Md5Hex(const std::string& contents);
std::string Sha256Hex(const std::string& contents);
inline std::string Manifest(const std::string& entries)
{
    return "<manifest><filelist>" + entries + "</filelist></manifest>";
}
