#include "install/InstallFiles.h"

#include <cerrno>
#include <type_traits>

#include "install/InstallStaging.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

namespace {

class SystemFiles final : public IInstallFiles {
public:
    bool Rename(const std::string& from, const std::string& to) override { return RenameOver(from, to); }
    bool Move(const std::string& from, const std::string& to) override { return MoveOver(from, to); }
    bool KeepSecondName(const std::string& existing, const std::string& newName) override
    {
        return ::KeepSecondName(existing, newName);
    }
    bool FlushFileSystem(const std::string& path) override { return SyncFileSystem(path); }
    int MakeDirectory(const std::string& path) override { return EnsureDirectory(path); }
};

}  // namespace

IInstallFiles& SystemInstallFiles()
{
    static SystemFiles files;
    return files;
}

CFaultyInstallFiles::CFaultyInstallFiles(Call call, long nth, Fault fault, int error)
    : m_call(call), m_nth(nth), m_fault(fault), m_error(error)
{
}

template <class Made>
auto CFaultyInstallFiles::Take(Call call, Made made)
{
    using Result = decltype(made());
    const bool chosen = call == m_call && ++m_count == m_nth;
    if (chosen && m_fault == Fault::kFail) {
        errno = m_error;
        if constexpr (std::is_same_v<Result, bool>)
            return false;
        else
            return m_error;
    }
    const Result result = made();
    const bool succeeded = std::is_same_v<Result, bool> ? static_cast<bool>(result) : result == 0;  // an errno: 0 is success
    if (chosen && succeeded)
        KillThisProcess();
    return result;
}

bool CFaultyInstallFiles::Rename(const std::string& from, const std::string& to)
{
    return Take(Call::Rename, [&] { return SystemInstallFiles().Rename(from, to); });
}

bool CFaultyInstallFiles::Move(const std::string& from, const std::string& to)
{
    return Take(Call::Move, [&] { return SystemInstallFiles().Move(from, to); });
}

bool CFaultyInstallFiles::KeepSecondName(const std::string& existing, const std::string& newName)
{
    return Take(Call::KeepSecondName, [&] { return SystemInstallFiles().KeepSecondName(existing, newName); });
}

bool CFaultyInstallFiles::FlushFileSystem(const std::string& path)
{
    return Take(Call::FlushFileSystem, [&] { return SystemInstallFiles().FlushFileSystem(path); });
}

int CFaultyInstallFiles::MakeDirectory(const std::string& path)
{
    return Take(Call::MakeDirectory, [&] { return SystemInstallFiles().MakeDirectory(path); });
}
