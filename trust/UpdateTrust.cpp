#include "trust/UpdateTrust.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "digest/Blake2b.h"
#include "platform/Path.h"
#include "sentences/Sentences.h"

namespace {

// Keys built into the program (the KESU_PUBLIC_KEYS build option), comma-separated.
#ifndef KESU_EMBEDDED_PUBLIC_KEYS
#define KESU_EMBEDDED_PUBLIC_KEYS ""
#endif
constexpr const char* kEmbeddedKeys = KESU_EMBEDDED_PUBLIC_KEYS;

Failure Refuse(std::string (*sentence)(const std::string&), const std::string& name, std::string detail)
{
    return {sentence(name), name + ": " + detail};
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::vector<std::string> SplitKeys(const std::string& list)
{
    std::vector<std::string> keys;
    std::istringstream parts(list);
    for (std::string part; std::getline(parts, part, ',');)
        if (!Trim(part).empty())
            keys.push_back(Trim(part));
    return keys;
}

// The second signature of a minisign file covers the file's signature and the trusted comment.
bool TrustedCommentVerifies(const MinisignSignature& signature, const MinisignPublicKey& key)
{
    std::string covered(signature.signature.begin(), signature.signature.end());
    covered += signature.trustedComment;
    return VerifyEd25519(signature.globalSignature, covered, key.key);
}

std::uint64_t SystemNow()
{
    return static_cast<std::uint64_t>(std::time(nullptr));
}

}  // namespace

std::vector<std::string> TrustedKeyTexts(const std::string& strPublicKeySetting)
{
    std::vector<std::string> embedded = SplitKeys(kEmbeddedKeys);
    if (!embedded.empty())
        return embedded;
    return SplitKeys(strPublicKeySetting);
}

CUpdateTrust::CUpdateTrust(const std::vector<std::string>& keyTexts, std::string strStatePath,
                           std::function<std::uint64_t()> now)
    : m_bEnabled(!keyTexts.empty()), m_strStatePath(std::move(strStatePath)), m_now(now ? std::move(now) : SystemNow)
{
    for (const std::string& text : keyTexts) {
        if (std::optional<MinisignPublicKey> key = ParseMinisignPublicKey(text))
            m_keys.push_back(*key);
        else if (m_strBadKey.empty())
            m_strBadKey = text;
    }
}

std::variant<VettedSignature, Failure> CUpdateTrust::Vet(const std::string& strFileName,
                                                         const std::optional<std::string>& signatureText) const
{
    if (!m_strBadKey.empty())
        return Failure{sentence::kBadPublicKey, "not a minisign public key: \"" + m_strBadKey + "\""};
    if (!signatureText)
        return Refuse(sentence::SignatureMissing, strFileName, "the server has no " + strFileName + ".minisig");
    std::optional<MinisignSignature> signature = ParseMinisignSignature(*signatureText);
    if (!signature)
        return Refuse(sentence::SignatureInvalid, strFileName, "the signature is not in minisign's format");

    const std::string keyId = KeyIdText(signature->keyId);
    bool known = false, verifies = false;
    for (const MinisignPublicKey& key : m_keys) {
        if (key.keyId != signature->keyId)
            continue;
        known = true;
        verifies = verifies || TrustedCommentVerifies(*signature, key);
    }
    if (!known)
        return Refuse(sentence::SignedByUntrustedKey, strFileName,
                      "signed by key " + keyId + ", which this installation does not trust");
    // The comment is believed only once its own signature holds; the file's comes in Accept.
    if (!verifies)
        return Refuse(sentence::SignatureInvalid, strFileName,
                      "the trusted comment's signature by key " + keyId + " does not verify");

    const TrustedComment comment = ParseTrustedComment(signature->trustedComment);
    if (!comment.file || *comment.file != strFileName)
        return Refuse(sentence::SignatureOfAnotherFile, strFileName,
                      "the signature was made for \"" + comment.file.value_or("") + "\"");
    if (!comment.timestamp)
        return Refuse(sentence::SignatureInvalid, strFileName, "the trusted comment carries no timestamp");
    const AcceptedTimestamps accepted = ReadAcceptedTimestamps(m_strStatePath);
    if (auto it = accepted.find(strFileName); it != accepted.end() && *comment.timestamp < it->second)
        return Refuse(sentence::OlderThanAccepted, strFileName,
                      "signed at " + std::to_string(*comment.timestamp) + ", older than " +
                          std::to_string(it->second) + ", accepted before");
    if (comment.expires && *comment.expires <= m_now())
        return Refuse(sentence::SignatureExpired, strFileName,
                      "expired at " + std::to_string(*comment.expires) + ", now " + std::to_string(m_now()));
    return VettedSignature{strFileName, *signature, *comment.timestamp};
}

std::optional<Failure> CUpdateTrust::Accept(const VettedSignature& vetted, std::string_view data)
{
    return Checked(vetted, VerifyMinisign(vetted.signature, m_keys, data));
}

std::optional<Failure> CUpdateTrust::Accept(const VettedSignature& vetted, const Blake2b512Digest& digest,
                                            const std::string& strPath)
{
    if (vetted.signature.prehashed)
        return Checked(vetted, VerifyMinisignPrehashed(vetted.signature, m_keys, digest));
    std::ifstream file(PathFromUtf8(strPath), std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return Refuse(sentence::SignatureInvalid, vetted.strFileName, "cannot read " + strPath);
    return Accept(vetted, data);
}

std::optional<Failure> CUpdateTrust::Checked(const VettedSignature& vetted, SignatureCheck check)
{
    if (check == SignatureCheck::UnknownKey)
        return Refuse(sentence::SignedByUntrustedKey, vetted.strFileName,
                      "signed by key " + KeyIdText(vetted.signature.keyId) + ", which this installation does not trust");
    if (check != SignatureCheck::Valid)
        return Refuse(sentence::SignatureInvalid, vetted.strFileName,
                      "the signature by key " + KeyIdText(vetted.signature.keyId) +
                          " does not verify over the file and its trusted comment");
    AcceptedTimestamps accepted = ReadAcceptedTimestamps(m_strStatePath);
    std::uint64_t& newest = accepted[vetted.strFileName];
    if (vetted.nTimestamp > newest) {
        newest = vetted.nTimestamp;
        if (!WriteAcceptedTimestamps(m_strStatePath, accepted))
            std::fprintf(stderr, "KesuUpdate.exe: cannot record the accepted signature in %s: %s\n",
                         m_strStatePath.c_str(), std::strerror(errno));
    }
    return std::nullopt;
}
