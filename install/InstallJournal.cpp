#include "install/InstallJournal.h"

#include <cerrno>
#include <filesystem>

#include "digest/MD5Checksum.h"
#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "policy/Policy.h"

namespace {

constexpr std::string_view kHeader = "KesuUpdate installation journal 1\n";
constexpr std::string_view kDigestTag = "md5\t";

std::string Escape(std::string_view field)
{
    std::string escaped;
    for (char c : field) {
        switch (c) {
        case '%': escaped += "%25"; break;
        case '\t': escaped += "%09"; break;
        case '\r': escaped += "%0D"; break;
        case '\n': escaped += "%0A"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> Unescape(std::string_view field)
{
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            text += field[i];
            continue;
        }
        const std::string_view code = field.substr(i + 1, 2);
        if (code == "25") text += '%';
        else if (code == "09") text += '\t';
        else if (code == "0D") text += '\r';
        else if (code == "0A") text += '\n';
        else return std::nullopt;
        i += 2;
    }
    return text;
}

std::string Digest(std::string_view text)
{
    CMD5Checksum md5;
    md5.Update(text.data(), text.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::vector<std::string_view> Split(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
        if (tab == std::string_view::npos)
            return fields;
        at = tab + 1;
    }
}

std::optional<std::size_t> ParseIndex(std::string_view text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return static_cast<std::size_t>(std::stoul(std::string(text)));
}

// One step line into the journal; false when it is not one.
bool ParseStep(const std::vector<std::string_view>& fields, InstallJournal& journal)
{
    std::vector<std::string> values;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::optional<std::string> value = Unescape(fields[i]);
        // Every path stays inside the installation: a planted journal moves nothing elsewhere.
        if (!value || value->empty() || !IsContainedRelativePath(*value))
            return false;
        values.push_back(std::move(*value));
    }
    if (fields[0] == "staging" && values.size() == 1 && journal.staging.empty() && journal.moves.empty()) {
        journal.staging = values[0];
        return true;
    }
    if (fields[0] == "move" && values.size() == 2 && !journal.staging.empty()) {
        journal.moves.push_back({values[0], values[1]});
        return true;
    }
    if (fields[0] == "setaside" && values.size() == 2 && !journal.setAsideMove) {
        journal.setAsideMove = ParseIndex(values[0]);
        journal.setAside = values[1];
        return journal.setAsideMove && *journal.setAsideMove < journal.moves.size();
    }
    return false;
}

}  // namespace

std::string JournalText(const InstallJournal& journal)
{
    std::string text(kHeader);
    text += "staging\t" + Escape(journal.staging) + "\n";
    for (const JournalMove& move : journal.moves)
        text += "move\t" + Escape(move.source) + "\t" + Escape(move.destination) + "\n";
    if (journal.setAsideMove)
        text += "setaside\t" + std::to_string(*journal.setAsideMove) + "\t" + Escape(journal.setAside) + "\n";
    return text + std::string(kDigestTag) + Digest(text) + "\n";
}

std::optional<InstallJournal> ParseJournal(std::string_view text, std::string& why)
{
    // The digest is the last line: a journal cut short has none.
    const std::size_t digestLine = text.ends_with('\n') ? text.rfind('\n', text.size() - 2) + 1 : 0;
    if (!text.starts_with(kHeader) || digestLine <= kHeader.size() || !text.substr(digestLine).starts_with(kDigestTag)) {
        why = "it is not a whole journal of this program";
        return std::nullopt;
    }
    if (text.substr(digestLine + kDigestTag.size()) != Digest(text.substr(0, digestLine)) + "\n") {
        why = "its digest does not match its contents";
        return std::nullopt;
    }
    InstallJournal journal;
    std::string_view steps = text.substr(kHeader.size(), digestLine - kHeader.size());
    for (std::size_t number = 2; !steps.empty(); ++number) {
        const std::size_t end = steps.find('\n');
        if (!ParseStep(Split(steps.substr(0, end)), journal)) {
            why = "its line " + std::to_string(number) + " is no step of an installation";
            return std::nullopt;
        }
        steps.remove_prefix(end + 1);
    }
    if (journal.staging.empty()) {
        why = "it names no staging directory";
        return std::nullopt;
    }
    return journal;
}

std::string JournalPath(const std::string& installDir, const std::string& path)
{
    namespace fs = std::filesystem;
    const fs::path root = PathFromUtf8(ToNativePath(installDir)).lexically_normal();
    return GenericUtf8OfPath(PathFromUtf8(ToNativePath(path)).lexically_normal().lexically_relative(root));
}

std::string InstallationPath(const std::string& installDir, const std::string& journalPath)
{
    return PathInDirectory(installDir, journalPath);
}

bool WriteJournal(const std::string& path, const InstallJournal& journal)
{
    const std::string native = ToNativePath(path);
    try {
        const std::string text = JournalText(journal);
        CAtomicFile file(native);
        file.Write(text.data(), text.size());
        file.Commit(true);
    } catch (const CFileException& failure) {
        errno = failure.GetErrno();
        return false;
    }
    if (SyncDirectory(std::string(SplitAtLastSeparator(native).directory)))
        return true;
    const int error = errno;
    DeleteFile(native);
    errno = error;
    return false;
}

JournalOnDisk ReadJournal(const std::string& path)
{
    JournalOnDisk found;
    if (!PathNameExists(path))
        return found;
    found.state = JournalOnDisk::kDamaged;
    const std::optional<FileStatus> status = GetFileStatus(path);
    if (!status || status->kind != FileKind::Regular || status->facts.nSize > kJournalLimit) {
        found.why = "it is no file of a journal's size";
        return found;
    }
    std::string text(static_cast<std::size_t>(status->facts.nSize), '\0');
    try {
        CFile file(path, CFile::modeRead);
        text.resize(file.Read(text.data(), text.size()));
    } catch (const CFileException& failure) {
        found.why = std::string("it cannot be read: ") + failure.what();
        return found;
    }
    if (std::optional<InstallJournal> journal = ParseJournal(text, found.why)) {
        found.state = JournalOnDisk::kFound;
        found.journal = std::move(*journal);
    }
    return found;
}

bool RemoveJournal(const std::string& path)
{
    if (!DeleteFile(path) && errno != ENOENT)
        return false;
    SyncDirectory(std::string(SplitAtLastSeparator(ToNativePath(path)).directory));
    return true;
}
