#include "tests/support/FileCallFaults.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <type_traits>

#include "platform/FileCalls.h"
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

// What the fault of a kind does; set before its entry is swapped, so that the swap's atomic
// store hands it to every thread that finds the replacement.
struct Plan {
    long nth = 0;
    int error = 0;
    std::atomic<long> calls{0};
};

Plan g_plans[static_cast<std::size_t>(FileCall::kMakeDirectory) + 2];

int SystemError(FileError error)
{
#ifdef _WIN32
    switch (error) {
    case FileError::kDiskFull: return ERROR_DISK_FULL;
    case FileError::kAccessDenied: return ERROR_ACCESS_DENIED;
    case FileError::kOtherDisk: return ERROR_NOT_SAME_DEVICE;
    case FileError::kNoHardLinks: return ERROR_INVALID_FUNCTION;
    case FileError::kDeviceError: return ERROR_IO_DEVICE;
    }
#else
    switch (error) {
    case FileError::kDiskFull: return ENOSPC;
    case FileError::kAccessDenied: return EACCES;
    case FileError::kOtherDisk: return EXDEV;
    case FileError::kNoHardLinks: return EPERM;
    case FileError::kDeviceError: return EIO;
    }
#endif
    return 0;
}

// The answer of a failed call: -1 and errno on POSIX; FALSE or INVALID_HANDLE_VALUE and the
// thread's last error on Windows.
template <class Result>
Result Failure(int error)
{
#ifdef _WIN32
    ::SetLastError(static_cast<DWORD>(error));
    if constexpr (std::is_pointer_v<Result>)
        return INVALID_HANDLE_VALUE;
    else
        return 0;
#else
    errno = error;
    return static_cast<Result>(-1);
#endif
}

template <FileCall Kind, class Call>
struct Faulty;

template <FileCall Kind, class Result, class... Args>
struct Faulty<Kind, Result (*)(Args...)> {
    static inline Result (*previous)(Args...) = nullptr;

    static Result Call(Args... args)
    {
        Plan& plan = g_plans[static_cast<std::size_t>(Kind)];
        if (++plan.calls == plan.nth)
            return Failure<Result>(plan.error);
        return previous(args...);
    }
};

template <FileCall Kind, class Call>
std::shared_ptr<void> Swap(std::atomic<Call>& entry)
{
    using Replacement = Faulty<Kind, Call>;
    Replacement::previous = CallOf(entry);
    return std::make_shared<CSwappedFileCall<Call>>(entry, &Replacement::Call);
}

std::shared_ptr<void> SwapEntry(FileCall call)
{
    FileCallTable& table = FileCalls();
    switch (call) {
    case FileCall::kOpen: return Swap<FileCall::kOpen>(table.open);
    case FileCall::kWrite: return Swap<FileCall::kWrite>(table.write);
    case FileCall::kFlush: return Swap<FileCall::kFlush>(table.flush);
    case FileCall::kRename: return Swap<FileCall::kRename>(table.rename);
    case FileCall::kLink: return Swap<FileCall::kLink>(table.link);
    case FileCall::kRemove: return Swap<FileCall::kRemove>(table.remove);
    case FileCall::kMakeDirectory: return Swap<FileCall::kMakeDirectory>(table.makeDirectory);
#ifndef _WIN32
    case FileCall::kFlushFileSystem: return Swap<FileCall::kFlushFileSystem>(table.flushFileSystem);
#endif
    }
    return nullptr;
}

}  // namespace

CFileCallFault::CFileCallFault(FileCall call, long nth, FileError error) : m_call(call), m_nth(nth)
{
    Plan& plan = g_plans[static_cast<std::size_t>(call)];
    plan.nth = nth;
    plan.error = SystemError(error);
    plan.calls = 0;
    m_swap = SwapEntry(call);
}

CFileCallFault::~CFileCallFault() = default;

long CFileCallFault::Calls() const
{
    return g_plans[static_cast<std::size_t>(m_call)].calls;
}
