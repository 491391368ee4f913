#include "download/HeldDownload.h"

#include <fstream>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace {

constexpr const char* kFormatLine = "KesuUpdate held download 1";

std::string NotePath(const std::string& strPath)
{
    return strPath + ".resume";
}

// A line break inside a value would end it early; such a value is never noted.
bool FitsOnOneLine(const std::string& value)
{
    return value.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::optional<HeldDownload> FindHeldDownload(const std::string& strPath, const std::string& strIdentity)
{
    std::ifstream note(PathFromUtf8(ToNativePath(NotePath(strPath))));
    std::string format, identity, validator;
    if (!std::getline(note, format) || format != kFormatLine || !std::getline(note, identity) ||
        identity != strIdentity || !std::getline(note, validator) || validator.empty())
        return std::nullopt;
    const std::optional<FileStatus> status = GetFileStatus(strPath);
    if (!status || status->kind != FileKind::Regular || status->facts.nSize == 0)
        return std::nullopt;
    return HeldDownload{status->facts.nSize, validator};
}

void NoteHeldDownload(const std::string& strPath, const std::string& strIdentity, const std::string& strValidator)
{
    if (strValidator.empty() || !FitsOnOneLine(strValidator) || !FitsOnOneLine(strIdentity)) {
        ForgetHeldDownload(strPath);
        return;
    }
    const std::string text = std::string(kFormatLine) + "\n" + strIdentity + "\n" + strValidator + "\n";
    try {
        CAtomicFile note(ToNativePath(NotePath(strPath)));
        note.Write(text.data(), text.size());
        note.Commit(false);
    } catch (const CFileException&) {
        ForgetHeldDownload(strPath);
    }
}

void ForgetHeldDownload(const std::string& strPath)
{
    DeleteFile(NotePath(strPath));
}
