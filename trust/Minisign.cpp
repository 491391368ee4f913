#include "trust/Minisign.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "digest/Blake2b.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kLegacyAlgorithm = "Ed";
constexpr std::string_view kPrehashedAlgorithm = "ED";
constexpr std::string_view kScrypt = "Sc";
constexpr std::string_view kNoDerivation{"\0\0", 2};  // what `minisign -G -W` writes
constexpr std::string_view kBlake2bChecksum = "B2";

constexpr std::size_t kPublicKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;
constexpr std::size_t kKeynumBytes = 8 + 64 + 32;  // key id, secret key, checksum
constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + 32 + 8 + 8 + kKeynumBytes;

using Bytes = std::vector<std::uint8_t>;

std::string_view TrimBlanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The lines of a text file written on any system: "\r\n" or "\n" between lines, and a last
// newline that ends the last line rather than starting an empty one.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

std::optional<Bytes> DecodeExactly(std::string_view text, std::size_t size)
{
    std::optional<Bytes> bytes = DecodeBase64(text);
    if (!bytes || bytes->size() != size)
        return std::nullopt;
    return bytes;
}

// Reads a decoded record field by field, in the order minisign lays them out.
class FieldReader {
public:
    explicit FieldReader(const Bytes& bytes) : m_bytes(bytes) {}

    std::string_view Tag()
    {
        return {reinterpret_cast<const char*>(Take(2)), 2};
    }
    template <std::size_t N>
    std::array<std::uint8_t, N> Array()
    {
        std::array<std::uint8_t, N> out{};
        std::memcpy(out.data(), Take(N), N);
        return out;
    }
    std::uint64_t LittleEndian64()
    {
        const std::uint8_t* p = Take(8);
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = value << 8 | p[i];
        return value;
    }

private:
    const std::uint8_t* Take(std::size_t n)
    {
        if (m_at + n > m_bytes.size())
            throw std::logic_error("minisign record read past its end");  // sizes are checked first
        const std::uint8_t* p = m_bytes.data() + m_at;
        m_at += n;
        return p;
    }

    const Bytes& m_bytes;
    std::size_t m_at = 0;
};

template <std::size_t N>
std::string_view AsText(const std::array<std::uint8_t, N>& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), N};
}

template <typename... Parts>
std::string Concatenate(const Parts&... parts)
{
    std::string out;
    (out.append(parts), ...);
    return out;
}

std::string Base64Of(std::string_view bytes)
{
    return EncodeBase64(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The key of the set that verifies both signatures over `message` (the file or its digest).
SignatureCheck CheckWithKeys(const MinisignSignature& signature, const std::vector<MinisignPublicKey>& keys,
                             std::string_view message)
{
    const std::string commented = Concatenate(AsText(signature.signature), signature.trustedComment);
    bool known = false;
    for (const MinisignPublicKey& key : keys) {
        if (key.keyId != signature.keyId)
            continue;
        known = true;
        if (VerifyEd25519(signature.signature, message, key.key) &&
            VerifyEd25519(signature.globalSignature, commented, key.key))
            return SignatureCheck::Valid;
    }
    return known ? SignatureCheck::Invalid : SignatureCheck::UnknownKey;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text)
{
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;  // empty, a sign, another character or too large
    return value;
}

// The value of the tab-separated field "name:value". A field given twice counts as absent: which
// of the two a reader believes must not be left to whoever wrote the comment.
std::optional<std::string_view> FieldValue(std::string_view text, std::string_view name)
{
    std::optional<std::string_view> found;
    for (;;) {
        const std::size_t tab = text.find('\t');
        const std::string_view field = text.substr(0, tab);
        if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == ':') {
            if (found)
                return std::nullopt;
            found = field.substr(name.size() + 1);
        }
        if (tab == std::string_view::npos)
            return found;
        text.remove_prefix(tab + 1);
    }
}

bool IsOneLine(std::string_view text)
{
    return text.find_first_of("\r\n") == std::string_view::npos;
}

// Undoes the scrypt encryption of the key id, secret key and checksum block.
void Decrypt(Bytes& keynum, std::string_view passphrase, const std::array<std::uint8_t, 32>& salt,
             std::uint64_t opsLimit, std::uint64_t memLimit)
{
    Bytes stream(keynum.size());
    if (!DeriveScrypt(stream.data(), stream.size(), passphrase, salt, opsLimit, memLimit))
        throw MinisignKeyError("the secret key asks for scrypt limits that cannot be met");
    for (std::size_t i = 0; i < keynum.size(); ++i)
        keynum[i] ^= stream[i];
}

}  // namespace

std::string KeyIdText(const MinisignKeyId& keyId)
{
    // minisign prints the number without leading zeros, so this does too: the text then matches
    // the comment of the key's .pub file.
    std::uint64_t number = 0;
    for (int i = 7; i >= 0; --i)
        number = number << 8 | keyId[static_cast<std::size_t>(i)];
    char text[17];
    std::snprintf(text, sizeof text, "%" PRIX64, number);
    return text;
}

std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.starts_with(kUntrustedPrefix)) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        text = TrimBlanks(text.substr(end + 1));
    }
    std::optional<Bytes> bytes = DecodeExactly(text, kPublicKeyBytes);
    if (!bytes)
        return std::nullopt;
    FieldReader fields(*bytes);
    if (fields.Tag() != kLegacyAlgorithm)  // public keys carry "Ed" whatever the signatures use
        return std::nullopt;
    MinisignPublicKey key;
    key.keyId = fields.Array<8>();
    key.key = fields.Array<32>();
    return key;
}

std::string MinisignPublicKeyText(const MinisignPublicKey& key)
{
    return Base64Of(Concatenate(kLegacyAlgorithm, AsText(key.keyId), AsText(key.key)));
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text)
{
    std::vector<std::string_view> lines = SplitLines(text);
    if (lines.size() != 4 || !lines[0].starts_with(kUntrustedPrefix) || !lines[2].starts_with(kTrustedPrefix))
        return std::nullopt;
    std::optional<Bytes> signatureBytes = DecodeExactly(lines[1], kSignatureBytes);
    std::optional<Bytes> globalBytes = DecodeExactly(lines[3], sizeof(Ed25519Signature));
    if (!signatureBytes || !globalBytes)
        return std::nullopt;
    FieldReader fields(*signatureBytes);
    const std::string_view algorithm = fields.Tag();
    if (algorithm != kPrehashedAlgorithm && algorithm != kLegacyAlgorithm)
        return std::nullopt;
    MinisignSignature signature;
    signature.prehashed = algorithm == kPrehashedAlgorithm;
    signature.keyId = fields.Array<8>();
    signature.signature = fields.Array<64>();
    signature.untrustedComment = lines[0].substr(kUntrustedPrefix.size());
    signature.trustedComment = lines[2].substr(kTrustedPrefix.size());
    std::copy(globalBytes->begin(), globalBytes->end(), signature.globalSignature.begin());
    return signature;
}

SignatureCheck VerifyMinisign(const MinisignSignature& signature, const std::vector<MinisignPublicKey>& keys,
                              std::string_view data)
{
    if (!signature.prehashed)
        return CheckWithKeys(signature, keys, data);
    CBlake2b512 hash;
    hash.Update(data.data(), data.size());
    return VerifyMinisignPrehashed(signature, keys, hash.Final());
}

SignatureCheck VerifyMinisignPrehashed(const MinisignSignature& signature, const std::vector<MinisignPublicKey>& keys,
                                       const Blake2b512Digest& digest)
{
    if (!signature.prehashed)
        return SignatureCheck::Invalid;
    return CheckWithKeys(signature, keys, AsText(digest));
}

TrustedComment ParseTrustedComment(std::string_view text)
{
    TrustedComment comment;
    if (auto value = FieldValue(text, "timestamp"))
        comment.timestamp = ParseDecimal(*value);
    if (auto value = FieldValue(text, "file"))
        comment.file = std::string(*value);
    if (auto value = FieldValue(text, "expires"))
        comment.expires = ParseDecimal(*value);
    return comment;
}

MinisignSecretKey ReadMinisignSecretKey(std::string_view text, const std::function<std::string()>& passphrase)
{
    std::vector<std::string_view> lines = SplitLines(TrimBlanks(text));
    std::optional<Bytes> bytes;
    if (lines.size() == 2 && lines[0].starts_with(kUntrustedPrefix))
        bytes = DecodeExactly(TrimBlanks(lines[1]), kSecretKeyBytes);
    if (!bytes)
        throw MinisignKeyError("not a minisign secret key");
    FieldReader fields(*bytes);
    const std::string_view signatureAlgorithm = fields.Tag(), derivation = fields.Tag(), checksumAlgorithm = fields.Tag();
    if (signatureAlgorithm != kLegacyAlgorithm || checksumAlgorithm != kBlake2bChecksum ||
        (derivation != kScrypt && derivation != kNoDerivation))
        throw MinisignKeyError("not a minisign secret key of a kind this program knows");
    const auto salt = fields.Array<32>();
    const std::uint64_t opsLimit = fields.LittleEndian64(), memLimit = fields.LittleEndian64();
    Bytes keynum(bytes->end() - kKeynumBytes, bytes->end());
    const bool encrypted = derivation == kScrypt;
    if (encrypted)
        Decrypt(keynum, passphrase(), salt, opsLimit, memLimit);

    FieldReader keyFields(keynum);
    MinisignSecretKey key;
    key.keyId = keyFields.Array<8>();
    key.secret = keyFields.Array<64>();
    const auto checksum = keyFields.Array<32>();
    const Blake2b256Digest expected = Blake2b256(Concatenate(kLegacyAlgorithm, AsText(key.keyId), AsText(key.secret)));
    const bool checksumMatches = EqualBytes(checksum.data(), expected.data(), checksum.size());
    if (encrypted && !checksumMatches)
        throw MinisignKeyError("wrong passphrase");
    // `minisign -G -W` leaves the checksum of an unencrypted key empty (all zero), while removing
    // the passphrase of an encrypted key with `minisign -C -W` keeps its checksum: both are read.
    const bool checksumEmpty = std::all_of(checksum.begin(), checksum.end(), [](std::uint8_t b) { return b == 0; });
    const Ed25519PublicKey publicHalf = PublicKeyOfSeed(key.secret);
    if (!(checksumMatches || checksumEmpty) || !std::equal(publicHalf.begin(), publicHalf.end(), key.secret.begin() + 32))
        throw MinisignKeyError("the secret key is damaged");
    return key;
}

std::string SignMinisign(const MinisignSecretKey& key, const Blake2b512Digest& digest, const std::string& trustedComment,
                         const std::string& untrustedComment)
{
    if (!IsOneLine(trustedComment) || !IsOneLine(untrustedComment))
        throw std::invalid_argument("a minisign comment is one line");
    const Ed25519Signature signature = SignEd25519(AsText(digest), key.secret);
    const Ed25519Signature global = SignEd25519(Concatenate(AsText(signature), trustedComment), key.secret);
    return Concatenate(kUntrustedPrefix, untrustedComment, "\n",
                       Base64Of(Concatenate(kPrehashedAlgorithm, AsText(key.keyId), AsText(signature))), "\n",
                       kTrustedPrefix, trustedComment, "\n", Base64Of(AsText(global)), "\n");
}
