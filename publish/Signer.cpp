#include "publish/Signer.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "digest/Blake2b.h"
#include "platform/Path.h"

namespace {

std::string ReadKeyFile(const std::string& keyFile)
{
    std::ifstream in(PathFromUtf8(keyFile), std::ios::binary);
    if (!in)
        throw std::runtime_error(keyFile + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Blake2b512Digest DigestOfFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error(Utf8OfPath(file) + ": cannot be read to sign it");
    CBlake2b512 hash;
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        hash.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw std::runtime_error(Utf8OfPath(file) + ": cannot be read to sign it");
    return hash.Final();
}

}  // namespace

PublishSigner::PublishSigner(const std::string& keyFile, const std::function<std::string()>& passphrase,
                             std::uint64_t now, std::optional<std::uint64_t> expiresAfter)
    : m_now(now)
{
    try {
        m_key = ReadMinisignSecretKey(ReadKeyFile(keyFile), [&] {
            if (!passphrase)
                throw MinisignKeyError("the key is encrypted and no passphrase was given");
            return passphrase();
        });
    } catch (const MinisignKeyError& error) {
        throw std::runtime_error(keyFile + ": " + error.what());
    }
    if (expiresAfter)
        m_expires = now + *expiresAfter;
}

std::string PublishSigner::SignatureOf(const std::filesystem::path& file, const std::string& name) const
{
    std::string comment = "timestamp:" + std::to_string(m_now) + "\tfile:" + name;
    if (m_expires)
        comment += "\texpires:" + std::to_string(*m_expires);
    return SignMinisign(m_key, DigestOfFile(file), comment);
}

std::optional<std::uint64_t> ParseDuration(std::string_view text)
{
    constexpr std::string_view kUnits = "smhd";
    constexpr std::uint64_t kUnitSeconds[] = {1, 60, 3600, 86400};
    std::uint64_t unit = 1;  // a plain number counts seconds
    if (std::size_t at = text.empty() ? std::string_view::npos : kUnits.find(text.back()); at != std::string_view::npos) {
        unit = kUnitSeconds[at];
        text.remove_suffix(1);
    }
    std::uint64_t count = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    // A century at most: beyond any useful validity, and safely added to any time.
    constexpr std::uint64_t kLongest = 100ull * 366 * 86400;
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || count == 0 ||
        count > kLongest / unit)
        return std::nullopt;
    return count * unit;
}
