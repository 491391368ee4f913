#include "platform/win32/FileFacts.h"

std::uint64_t NanosecondsOfFileTime(std::int64_t fileTime)
{
    const std::int64_t sinceEpoch = fileTime - kFileTimeEpochSeconds * kFileTimeTicksPerSecond;
    return sinceEpoch < 0 ? 0 : static_cast<std::uint64_t>(sinceEpoch) * 100;
}

mode_t ModeOfAttributes(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0777;
    return (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
}

DWORD AttributesWithMode(DWORD attributes, mode_t mode)
{
    const DWORD readOnly = FILE_ATTRIBUTE_READONLY;
    const DWORD kept = (attributes & ~readOnly) == 0 ? FILE_ATTRIBUTE_NORMAL : attributes & ~readOnly;
    return (mode & 0200) ? kept : (kept & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) | readOnly;
}
