#pragma once
// Digests and signatures over libsodium, and SHA-256 over OpenSSL's libcrypto (which libcurl
// brings into the process anyway); the only file that includes their headers. Nothing here is
// written by hand: every primitive is one of theirs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519SecretKey = std::array<std::uint8_t, 64>;  // seed and public key, as libsodium keeps it
using Ed25519Signature = std::array<std::uint8_t, 64>;
using Blake2b512Digest = std::array<std::uint8_t, 64>;
using Sha256Digest = std::array<std::uint8_t, 32>;

// Detached Ed25519 signatures.
bool VerifyEd25519(const Ed25519Signature& signature, std::string_view message, const Ed25519PublicKey& key);
Ed25519Signature SignEd25519(std::string_view message, const Ed25519SecretKey& key);
// The public key that the secret key's seed (its first 32 bytes) gives, whatever its second half
// says: a key file whose halves disagree is damaged.
Ed25519PublicKey PublicKeyOfSeed(const Ed25519SecretKey& key);

// BLAKE2b with a 64-byte output and no key, fed in pieces.
class CBlake2b512 {
public:
    CBlake2b512();
    ~CBlake2b512();
    void Update(const void* pData, std::size_t nLength);
    Blake2b512Digest Final();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

// BLAKE2b with a 32-byte output and no key, of bytes in memory (minisign's key checksum). Not a
// shortened BLAKE2b-512: the output length is part of BLAKE2b's parameters.
using Blake2b256Digest = std::array<std::uint8_t, 32>;
Blake2b256Digest Blake2b256(std::string_view data);

// SHA-256, fed in pieces.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    void Update(const void* pData, std::size_t nLength);
    Sha256Digest Final();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

// Lower-case hexadecimal.
std::string ToHex(const std::uint8_t* pData, std::size_t nLength);

// Standard base64 with padding (what minisign writes); nothing for text that is not exactly that.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);
std::string EncodeBase64(const std::uint8_t* pData, std::size_t nLength);

// scrypt (salsa20/8, SHA-256) into nLength bytes; false when the limits are refused.
bool DeriveScrypt(std::uint8_t* pOut, std::size_t nLength, std::string_view passphrase,
                  const std::array<std::uint8_t, 32>& salt, std::uint64_t opsLimit, std::uint64_t memLimit);

// Compares in time that does not depend on where the bytes differ.
bool EqualBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t nLength);
