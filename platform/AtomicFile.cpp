#include "platform/AtomicFile.h"

#include <atomic>

#include "platform/Path.h"
#include "platform/Process.h"

std::string SiblingTempPath(const std::string& nativePath)
{
    static std::atomic<unsigned> serial{0};
    const std::string dir(SplitAtLastSeparator(nativePath).directory);
    return dir + "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(++serial) + ".part";
}

void CAtomicFile::CommitAs(const std::string& nativeTarget, bool bDurable)
{
    m_strTarget = nativeTarget;
    Commit(bDurable);
}
