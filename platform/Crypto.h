#pragma once
// Signatures, key derivation and encodings over libsodium; with digest/'s BLAKE2b and SHA-256,
// the only files that include its headers. Nothing here is written by hand: every primitive is
// one of libsodium's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Starts libsodium, once, before the first use of any of its functions (here, and digest/'s
// BLAKE2b); throws std::runtime_error when it cannot start.
void EnsureSodium();

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519SecretKey = std::array<std::uint8_t, 64>;  // seed and public key, as libsodium keeps it
using Ed25519Signature = std::array<std::uint8_t, 64>;

// Detached Ed25519 signatures.
bool VerifyEd25519(const Ed25519Signature& signature, std::string_view message, const Ed25519PublicKey& key);
Ed25519Signature SignEd25519(std::string_view message, const Ed25519SecretKey& key);
// The public key that the secret key's seed (its first 32 bytes) gives, whatever its second half
// says: a key file whose halves disagree is damaged.
Ed25519PublicKey PublicKeyOfSeed(const Ed25519SecretKey& key);

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
