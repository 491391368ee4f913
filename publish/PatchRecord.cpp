#include "publish/PatchRecord.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include "digest/MD5Checksum.h"
#include "platform/AtomicFile.h"
#include "platform/Path.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordName = "patches/record.tsv";
constexpr const char* kNotKept = "-";
constexpr const char* kHeading =
    "# The patches kesu-publish made: from MD5, to MD5, recipe, then the patch's name, size, MD5 and\n"
    "# SHA-256 (a name of - : not worth keeping). A run over the same versions reuses them.\n";

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

bool IsHex(const std::string& text, std::size_t length)
{
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Only a name the publisher gives, patches/<sha256>.zst: never a path that leads elsewhere.
bool IsPatchName(const std::string& name, const std::string& sha256)
{
    return name == "patches/" + sha256 + ".zst";
}

std::optional<std::uint64_t> Number(const std::string& text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// A line of the record, or nothing when it is not one.
std::optional<std::pair<PatchKey, MadePatch>> Parse(const std::string& line)
{
    const std::vector<std::string> f = Fields(line);
    if (f.size() != 7 || !CMD5Checksum::IsHexDigest(f[0]) || !CMD5Checksum::IsHexDigest(f[1]) || f[2].empty())
        return std::nullopt;
    const std::optional<std::uint64_t> size = Number(f[4]);
    if (!size)
        return std::nullopt;
    MadePatch made;
    made.patch.from = f[0];
    made.patch.size = *size;
    made.kept = f[3] != kNotKept;
    if (made.kept) {
        if (!CMD5Checksum::IsHexDigest(f[5]) || !IsHex(f[6], 64) || !IsPatchName(f[3], f[6]))
            return std::nullopt;
        made.patch.name = f[3];
        made.patch.md5 = f[5];
        made.patch.sha256 = f[6];
    }
    return std::pair{PatchKey{f[0], f[1], f[2]}, made};
}

std::string Line(const PatchKey& key, const MadePatch& made)
{
    const auto field = [&](const std::string& value) { return made.kept ? value : std::string(kNotKept); };
    return key.from + '\t' + key.to + '\t' + key.recipe + '\t' + field(made.patch.name) + '\t' +
           std::to_string(made.patch.size) + '\t' + field(made.patch.md5) + '\t' + field(made.patch.sha256) + '\n';
}

}  // namespace

PatchRecord::PatchRecord(fs::path treeDir) : m_treeDir(std::move(treeDir))
{
    Read();
}

void PatchRecord::Read()
{
    std::ifstream in(m_treeDir / kRecordName);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('#'))
            continue;
        if (auto entry = Parse(line))
            m_made.insert_or_assign(std::move(entry->first), std::move(entry->second));
    }
}

bool PatchRecord::IsInTree(const ListedPatch& patch) const
{
    std::error_code error;
    const fs::path path = m_treeDir / patch.name;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) == patch.size;
}

std::optional<MadePatch> PatchRecord::Find(const PatchKey& key) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_made.find(key);
    if (found == m_made.end() || (found->second.kept && !IsInTree(found->second.patch)))
        return std::nullopt;
    return found->second;
}

void PatchRecord::Add(const PatchKey& key, const MadePatch& made)
{
    std::lock_guard lock(m_mutex);
    m_made.insert_or_assign(key, made);
    m_bChanged = true;
}

void PatchRecord::Save()
{
    std::lock_guard lock(m_mutex);
    if (!m_bChanged)
        return;  // a run that made nothing leaves the record's file as it was
    std::string text = kHeading;
    for (const auto& [key, made] : m_made)
        text += Line(key, made);
    const fs::path path = m_treeDir / kRecordName;
    fs::create_directories(path.parent_path());
    CAtomicFile file(Utf8OfPath(path));
    file.Write(text.data(), text.size());
    file.Commit(false);
    m_bChanged = false;
}
