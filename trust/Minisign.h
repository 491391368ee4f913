#pragma once
// minisign's file formats: public keys, signatures (.minisig) and secret keys, as the minisign
// tool reads and writes them, and the checks of a signature against a set of public keys.
//
// A signature is either prehashed ("ED": Ed25519 over the BLAKE2b-512 digest of the file,
// minisign's default) or legacy ("Ed": Ed25519 over the file itself). Either way a second
// signature covers the first and the trusted comment, so that the comment cannot be changed.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "digest/Blake2b.h"
#include "platform/Crypto.h"

using MinisignKeyId = std::array<std::uint8_t, 8>;

// The key id as minisign prints it: the little-endian number in upper-case hexadecimal, without
// leading zeros (minisign 0.11 writes "minisign public key 70F27E687A6BEE1" in a .pub file).
std::string KeyIdText(const MinisignKeyId& keyId);

struct MinisignPublicKey {
    MinisignKeyId keyId{};
    Ed25519PublicKey key{};
};

// The base64 line that `minisign -G` prints (56 characters), with or without blanks around it,
// or the whole .pub file (an untrusted comment line, then that line). Nothing for anything else.
std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view text);
// The base64 line of the key.
std::string MinisignPublicKeyText(const MinisignPublicKey& key);

struct MinisignSignature {
    bool prehashed = true;  // "ED"; false for the legacy "Ed"
    MinisignKeyId keyId{};
    Ed25519Signature signature{};
    std::string untrustedComment;  // after "untrusted comment: "
    std::string trustedComment;    // after "trusted comment: "
    Ed25519Signature globalSignature{};
};

// A .minisig file: four lines (CRLF or LF, a final newline optional). Nothing when its shape,
// its base64 or its algorithm is not minisign's.
std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text);

enum class SignatureCheck {
    Valid,
    UnknownKey,  // no key of the set has the signature's key id
    Invalid,     // the file's or the comment's signature does not verify
};

// Checks the signature over the file's bytes: the key whose id it names, the file's signature
// (over BLAKE2b-512 of the data when prehashed), then the signature of the trusted comment.
SignatureCheck VerifyMinisign(const MinisignSignature& signature, const std::vector<MinisignPublicKey>& keys,
                              std::string_view data);
// The same when the caller has already hashed the file with CBlake2b512 (prehashed signatures
// only: a legacy signature is Invalid here, as its check needs the bytes).
SignatureCheck VerifyMinisignPrehashed(const MinisignSignature& signature, const std::vector<MinisignPublicKey>& keys,
                                       const Blake2b512Digest& digest);

// The fields of a trusted comment that this program uses: "timestamp:N", "file:NAME" and the
// optional "expires:N", tab-separated in any order (other fields, like minisign's "hashed", are
// passed over). A field that is present but malformed counts as absent.
struct TrustedComment {
    std::optional<std::uint64_t> timestamp;
    std::optional<std::string> file;
    std::optional<std::uint64_t> expires;
};
TrustedComment ParseTrustedComment(std::string_view text);

// Signing, for the publisher.
struct MinisignSecretKey {
    MinisignKeyId keyId{};
    Ed25519SecretKey secret{};
};

class MinisignKeyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A secret key file as `minisign -G` writes it: unencrypted (-W) or encrypted with scrypt, in
// which case `passphrase` is asked once. Throws MinisignKeyError with a one-line reason (not a
// minisign secret key, damaged, wrong passphrase).
MinisignSecretKey ReadMinisignSecretKey(std::string_view text, const std::function<std::string()>& passphrase);

// The .minisig text for data, prehashed ("ED"), as `minisign -S` writes it: the untrusted
// comment, the signature, the trusted comment and its signature, each line ending in '\n'.
std::string SignMinisign(const MinisignSecretKey& key, const Blake2b512Digest& digest, const std::string& trustedComment,
                         const std::string& untrustedComment = "signature from kesu-publish");
