#pragma once
// The publisher's signatures: NAME.minisig beside a file it publishes, in minisign's prehashed
// form, so that `minisign -V` and the updater check them alike. The trusted comment names the
// file and the time of signing, and when asked the time after which the updater refuses it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "trust/Minisign.h"

class PublishSigner {
public:
    // Reads a minisign secret key file, asking `passphrase` only when it is encrypted. Throws
    // std::runtime_error with "<key file>: <reason>" when the key cannot be used.
    PublishSigner(const std::string& keyFile, const std::function<std::string()>& passphrase, std::uint64_t now,
                  std::optional<std::uint64_t> expiresAfter);

    // The .minisig text for the bytes of `file`, which is published under `name`.
    std::string SignatureOf(const std::filesystem::path& file, const std::string& name) const;

private:
    MinisignSecretKey m_key;
    std::uint64_t m_now;
    std::optional<std::uint64_t> m_expires;
};

// Seconds in "30d", "12h", "90m", "3600s" or "3600"; nothing for any other text, zero, or more
// than a reader could add to a time.
std::optional<std::uint64_t> ParseDuration(std::string_view text);
