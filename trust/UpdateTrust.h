#pragma once
// Whether a manifest or a package comes from its publisher: a minisign signature by one of the
// keys this installation trusts, made for this file's name, not older than what the installation
// accepted before, and not expired. Without a configured key every file is trusted as before.
//
// A signature is checked in two steps, so that a refusal comes before any download where it
// can: Vet checks everything the signature says by itself (its form, its key, its trusted
// comment); Accept checks it over the file and records the timestamp as accepted.
//
// A refusal is a Failure: one sentence for the player, and the particulars for the log (the
// file's name first), which nothing here writes: the caller logs them, beside the URL where it has one.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "digest/Blake2b.h"
#include "sentences/Failure.h"
#include "trust/Minisign.h"
#include "trust/TrustState.h"

// A signature that passed every check that does not need the file.
struct VettedSignature {
    std::string strFileName;
    MinisignSignature signature;
    std::uint64_t nTimestamp = 0;
};

class CUpdateTrust {
public:
    // The key texts as configured (none: nothing needs a signature) and the installation's record
    // of accepted timestamps. `now` gives the time in seconds since the epoch (for `expires:`).
    CUpdateTrust(const std::vector<std::string>& keyTexts, std::string strStatePath,
                 std::function<std::uint64_t()> now = {});

    bool Enabled() const { return m_bEnabled; }
    // The signature's text as the server gave it (nothing: the server has none) for the file of
    // that name.
    std::variant<VettedSignature, Failure> Vet(const std::string& strFileName,
                                               const std::optional<std::string>& signatureText) const;
    // The vetted signature over the file's bytes. Accepted: the timestamp is recorded.
    std::optional<Failure> Accept(const VettedSignature& vetted, std::string_view data);
    // The same for a file hashed as it arrived; a legacy signature reads the file at the path.
    std::optional<Failure> Accept(const VettedSignature& vetted, const Blake2b512Digest& digest,
                                  const std::string& strPath);

private:
    std::optional<Failure> Checked(const VettedSignature& vetted, SignatureCheck check);

    bool m_bEnabled = false;
    std::vector<MinisignPublicKey> m_keys;
    std::string m_strBadKey;  // a configured key that is not one: every file is refused
    std::string m_strStatePath;
    std::function<std::uint64_t()> m_now;
};

// The keys an installation trusts: those built into the program when there are any, else those
// of the settings' [Security] PublicKey, a comma-separated list.
std::vector<std::string> TrustedKeyTexts(const std::string& strPublicKeySetting);
